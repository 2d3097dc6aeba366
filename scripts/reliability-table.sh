#!/usr/bin/env bash
# Prints the reliability table (Markdown) from the figures scripts/reliability.sh wrote:
# OUT/ARCH/ROW.txt ("figure<TAB>name<TAB>value" lines, with exit and seconds added by the script)
# and OUT/generated-inputs.txt. A row crashed when its process did not exit 0 or did not report
# that it completed.
#   scripts/reliability-table.sh OUT
set -uo pipefail
out=${1:?usage: reliability-table.sh OUT}

declare -A f
load() {
  f=()
  local tag name value
  while IFS=$'\t' read -r tag name value; do
    [ "$tag" = figure ] && f[$name]=${value%$'\r'}
  done <"$1"
}
get() { echo "${f[$1]:--}"; }
crashes() {
  if [ "${f[exit]:-}" = 0 ] && [ "${f[completed]:-}" = yes ]; then echo 0; else echo "1 (exit ${f[exit]:-?})"; fi
}

echo "| Row | Width | What the user sees, or what happened | Time to it (median / max) | Crashes | Growth: handles; private MiB; heap KiB in use (first half / second half) | Longest UI stall | Run |"
echo "|---|---|---|---|---|---|---|---|"
for dir in "$out"/win64 "$out"/win32; do
  [ -d "$dir" ] || continue
  arch=$(basename "$dir")
  for row in faults-healthy faults-down faults-refusing faults-never-answering faults-slow faults-500 faults-404 \
             faults-truncated faults-malformed faults-doctype-bomb faults-50mb faults-nul faults-invalid-utf8 \
             faults-10000-lines unload storm teardown-fetch teardown-save teardown-sign-in teardown-page own-server; do
    file=$dir/$row.txt
    [ -f "$file" ] || continue
    load "$file"
    seen= time=- growth=- stall=$(get stall_max_ms)
    [ "$stall" != - ] && stall="$stall ms"
    case $row in
      faults-*)
        seen="$(get status)"
        [ "$(get bright_line)" != - ] && seen+="; bright line: \"$(get bright_line)\""
        case $row in
          faults-never-answering|faults-slow)
            f[last_status]=${f[last_status]:-(no message)}
            seen+="; $(get rounds) tracks opened 25 ms apart, the first of each half timed; the last track's status: \"$(get last_status)\", $(get stuck) stuck" ;;
          *) seen+="; $(get rounds) rounds, $(get stuck) stuck" ;;
        esac
        time="$(get time_median_ms) / $(get time_max_ms) ms"
        growth="$(get handles_growth_halves); $(get private_growth_halves_mib); $(get heap_growth_halves_kib)" ;;
      unload)
        seen="unloaded after $(get unloaded) of $(get rounds) rounds (longest $(get longest_unload_ms) ms); in flight at release: fetch $(get fetch_in_flight), save $(get save_in_flight), languages $(get languages_in_flight)"
        growth="$(get handles_growth_halves); $(get private_growth_halves_mib); $(get heap_growth_halves_kib)" ;;
      storm)
        seen="$(get changes) track changes at $(get rate_per_s)/s; lyrics of a past track shown $(get shown_stale) times, of the current one $(get shown_current); newest shown: $(get newest_shown) ($(get newest_shown_after_ms) ms after the last change); $(get lookups_served) lookups served; quiet at the end: $(get quiet)"
        growth="$(get handles_growth); $(get private_growth_mib); $(get heap_growth_kib)" ;;
      teardown-*)
        seen="destroyed mid-way in $(get destroyed_mid_way) of $(get rounds) rounds ($(get requests_reached_service) requests reached the service); DLL unloaded after $(get unloaded); dialogs left open $(get dialogs_left_open)" ;;
      own-server)
        seen="a server set up as the README says: its control API answered \"$(get control_api)\"; the plug-in in the stand-in player showed $(get lines_shown) lines from it, the first \"$(get first_line)\"" ;;
    esac
    echo "| $row | $arch | $seen | $time | $(crashes) | $growth | $stall | $(get seconds) s |"
  done
done

if [ -f "$out/generated-inputs.txt" ]; then
  echo
  echo "| Generated-input run (native, AddressSanitizer + UndefinedBehaviorSanitizer) | Inputs | Crashes | Wrong answers |"
  echo "|---|---|---|---|"
  sed -n -E 's/^([a-z -]+): ([0-9]+) generated inputs \([^)]*\), ([0-9]+) crashes, ([0-9]+) (wrong answers|disagreements).*/| \1 | \2 | \3 | \4 |/p' \
    "$out/generated-inputs.txt"
  grep -q $'^figure\texit\t0$' "$out/generated-inputs.txt" || echo "| (the run failed: see generated-inputs.err) | | | |"
fi
