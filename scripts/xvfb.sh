# Sourced by the scripts that show windows: start_xvfb FIRST LAST starts Xvfb on the first free
# display number in FIRST..LAST when no display is set, exports DISPLAY and sets xvfb_pid (empty
# when a display was already there). The caller kills "$xvfb_pid" when it is done.
start_xvfb() {
  xvfb_pid=
  [ -n "${DISPLAY:-}" ] && return 0
  local n display=
  for n in $(seq "$1" "$2"); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || { echo "no free display number in $1..$2" >&2; return 1; }
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$display"
  # Xvfb is ready once its socket exists; wait for it with a deadline.
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
}
