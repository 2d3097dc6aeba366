#!/usr/bin/env bash
# ensure-wine-prefix.sh [win64|win32]
# Creates the Wine prefix of that width once (see wine-env.sh for where it is). A lock keeps
# parallel test runs from initialising it twice.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/wine-env.sh"
wine_env "${1:-win64}"
export WINEDEBUG=-all
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: creating $WINEARCH prefix $WINEPREFIX" >&2
  "$wine_loader" wineboot -i >/dev/null 2>&1 || true
  "$wine_server" -w || true
fi
# Windows that no window manager handles: under Xvfb there is none, and Wine would otherwise wait
# two seconds for one each time a top-level window is destroyed.
if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  "$wine_loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
  "$wine_server" -w || true
fi
[ -f "$WINEPREFIX/system.reg" ]
