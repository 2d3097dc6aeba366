# Sourced by scripts/demo.sh after the video theatre: the first song of the playlist at 150% and
# 200% (144 and 192 dpi), and one move of the player to a 200% screen mid-song. Wine shows every
# process at the prefix's system DPI (the LogPixels value under "HKCU\Control Panel\Desktop"), so
# each run sets it first and the demo prefix gets its default back at the end, also when a run
# fails. The player's --size is its size at 96 dpi and grows with the DPI: at 200% it needs more
# than the demo's screen, so these runs get a larger display and a Wine session of their own on it
# (a session takes its screen from the display it started on). Pictures go to $work (converted
# with the others), the player's records to $output/dpi-record.txt.
# Uses demo.sh's $wine, $wine_server, $player, $playlist, $work and $output.
demo_dpi() {
  local first=$work/dpi-playlist.txt record=$output/dpi-record.txt main_display=$DISPLAY n big= big_pid=
  grep -v '^#' "$playlist" | head -1 >"$first"
  for n in $(seq 181 220); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { big=":$n"; break; }
  done
  [ -n "$big" ] || { echo "demo: no free display for the DPI pictures" >&2; return 1; }
  Xvfb "$big" -screen 0 2560x1600x24 -nolisten tcp >/dev/null 2>&1 &
  big_pid=$!
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${big#:}" ] && break; sleep 0.05; done
  "$wine_server" -k 2>/dev/null || true
  "$wine_server" -w 2>/dev/null || true
  export DISPLAY=$big
  : >"$record"
  (
    trap '"$wine" reg delete "HKCU\\Control Panel\\Desktop" /v LogPixels /f >/dev/null 2>&1 || true' EXIT
    playlist_path=$("$wine" winepath -w "$first" 2>/dev/null)
    dpi_snapshot() { echo "snapshot=$("$wine" winepath -w "$work/$1.bmp" 2>/dev/null)"; }
    failed=0
    for run in "144 dpi-150-night-train" "192 dpi-200-night-train"; do
      set -- $run
      echo "demo: the first song at $1 dpi"
      "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
      "$wine" "$player" --playlist "$playlist_path" --play --dpi "$1" --log - \
        --at 15 "$(dpi_snapshot "$2")" --quit-after 16 >>"$record" || failed=1
    done
    "$wine" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
    # Per-monitor aware at 96 dpi, then moved to a 200% screen: WM_DPICHANGED to the player's window.
    echo "demo: the first song at 96 dpi, moved to a 200% screen after 8 s"
    "$wine" "$player" --playlist "$playlist_path" --play --dpi 96 --log - \
      --at 8 dpi=192 --at 15 "$(dpi_snapshot dpi-moved-to-200)" --quit-after 16 >>"$record" || failed=1
    exit "$failed"
  )
  local status=$?
  "$wine_server" -k 2>/dev/null || true
  "$wine_server" -w 2>/dev/null || true
  kill "$big_pid" 2>/dev/null || true
  export DISPLAY=$main_display
  grep -E 'player[.](dpi|snapshot)' "$record" | sed 's/^/demo: dpi: /'
  [ "$status" = 0 ] || echo "demo: a player run at another DPI failed (see $record)" >&2
  return "$status"
}
