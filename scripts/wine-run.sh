#!/usr/bin/env bash
# Runs a Windows executable under Wine in the build tree's own prefix (made once, reused).
# SONAVIRE_WINEPREFIX names the prefix; scripts/ensure-wine-prefix.sh creates it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${SONAVIRE_WINEPREFIX:=$here/../build/wineprefix}"
export WINEPREFIX="$SONAVIRE_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs: the prefix has neither, and nothing here needs them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$here/ensure-wine-prefix.sh"
fi
# wine64 directly: this machine's kernel runs no 32-bit Linux programs, so Wine's 32-bit loader
# cannot start; 64-bit Windows programs run under wine64.
exec /usr/lib/wine/wine64 "$@"
