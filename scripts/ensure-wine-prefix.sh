#!/usr/bin/env bash
# Creates the Wine prefix once. A lock keeps parallel test runs from initialising it twice.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${SONAVIRE_WINEPREFIX:=$here/../build/wineprefix}"
export WINEPREFIX="$SONAVIRE_WINEPREFIX"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: creating prefix $WINEPREFIX" >&2
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
fi
# Windows that no window manager handles: under Xvfb there is none, and Wine would otherwise wait
# two seconds for one each time a top-level window is destroyed.
if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
fi
