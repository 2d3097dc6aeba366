# Sourced by scripts/demo.sh after the playlist: demo_theatre plays one song from the community
# site's video theatre. The stand-in player runs with the stand-in browser, so the browse pane
# shows the theatre page from the stand-in service; the page opens "Blue Harbour - Night Train",
# plays, pauses, hides and shows the lyrics and jumps to the chorus, and the lyrics pane follows
# the page's clock through window.external and getCurrentTime. Pictures go to $work (converted
# with the others), the player's record to $output/theatre-record.txt.
# Uses demo.sh's $wine, $player, $work and $output.
demo_theatre() {
  local at name
  local -a actions=(
    --at 3 "page=theatreOpen('Blue Harbour', 'Night Train', 'sv-theatre', ''); theatrePlay()"
    --at 26 "page=theatrePause()"
    --at 27 "page=theatreShowLyrics(false)"
    --at 28.5 "page=theatreShowLyrics(true); theatreSeek(46); theatrePlay()"
    --quit-after 31
  )
  # Seconds after the player starts (the video starts at 3 s), and the picture's name.
  for at in "17:theatre-night-train-first-line" "25.5:theatre-night-train-third-line" \
            "26.6:theatre-night-train-paused" "27.8:theatre-lyrics-hidden" "30.3:theatre-chorus-after-seek"; do
    name=${at#*:}
    actions+=(--at "${at%%:*}" "snapshot=$("$wine" winepath -w "$work/$name.bmp" 2>/dev/null)")
  done
  echo "demo: the video theatre: the page in the browse pane plays Blue Harbour - Night Train"
  "$wine" "$player" --standin-browser --log - "${actions[@]}" >"$output/theatre-record.txt"
  grep -E 'player[.](page|snapshot)' "$output/theatre-record.txt" | sed 's/^/demo: theatre: /'
}
