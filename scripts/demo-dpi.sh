# Sourced by scripts/demo.sh after the video theatre: the first song of the playlist at 150% and
# 200% (144 and 192 dpi), and one move of the player to a 200% screen mid-song. Wine shows every
# process at the prefix's system DPI (the LogPixels value under "HKCU\Control Panel\Desktop"), so
# each run sets it first and the demo prefix gets its default back at the end, also when a run
# fails. The player's --size is its size at 96 dpi: small enough that at 200% the whole window
# still fits the 1280 x 1024 screen the pictures are taken from. Pictures go to $work (converted
# with the others), the player's records to $output/dpi-record.txt.
# Uses demo.sh's $wine, $player, $playlist, $work and $output.
demo_dpi() {
  local first=$work/dpi-playlist.txt record=$output/dpi-record.txt
  grep -v '^#' "$playlist" | head -1 >"$first"
  local playlist_path
  playlist_path=$("$wine" winepath -w "$first" 2>/dev/null)
  dpi_snapshot() { echo "snapshot=$("$wine" winepath -w "$work/$1.bmp" 2>/dev/null)"; }
  : >"$record"
  (
    trap '"$wine" reg delete "HKCU\\Control Panel\\Desktop" /v LogPixels /f >/dev/null 2>&1 || true' EXIT
    for run in "144 dpi-150-night-train" "192 dpi-200-night-train"; do
      set -- $run
      echo "demo: the first song at $1 dpi"
      "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
      "$wine" "$player" --playlist "$playlist_path" --play --dpi "$1" --size 600x460 --log - \
        --at 15 "$(dpi_snapshot "$2")" --quit-after 16 >>"$record"
    done
    "$wine" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
    # Per-monitor aware at 96 dpi, then moved to a 200% screen: WM_DPICHANGED to the player's window.
    echo "demo: the first song at 96 dpi, moved to a 200% screen after 8 s"
    "$wine" "$player" --playlist "$playlist_path" --play --dpi 96 --size 600x460 --log - \
      --at 8 dpi=192 --at 15 "$(dpi_snapshot dpi-moved-to-200)" --quit-after 16 >>"$record"
  )
  grep -E 'player[.](dpi|snapshot)' "$record" | sed 's/^/demo: dpi: /'
}
