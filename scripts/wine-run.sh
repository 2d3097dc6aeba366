#!/usr/bin/env bash
# wine-run.sh [--arch win64|win32] PROGRAM [ARGS...]
# Runs a Windows executable under Wine in the build tree's prefix of that width (made once,
# reused): 64-bit programs under wine64 in a 64-bit prefix, 32-bit ones under Wine's 32-bit loader
# in a 32-bit prefix of their own. win64 when no arch is given.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
arch=win64
if [ "${1:-}" = --arch ]; then arch=$2; shift 2; fi
. "$here/wine-env.sh"
wine_env "$arch"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$here/ensure-wine-prefix.sh" "$arch"
fi
exec "$wine_loader" "$@"
