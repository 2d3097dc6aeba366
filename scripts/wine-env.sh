# Sourced by the scripts that run Windows programs: wine_env ARCH sets, for ARCH win64 or win32,
#   WINEARCH, WINEPREFIX (SONAVIRE_WINEPREFIX for win64, SONAVIRE_WINEPREFIX32 for win32; both
#   default to a prefix in the build tree), WINEDEBUG, WINEDLLOVERRIDES,
#   wine_loader (wine64 for 64-bit programs, Wine's 32-bit loader for 32-bit ones) and
#   wine_server (the wineserver of that prefix's kind).
wine_env() {
  local here build
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  build=${SONAVIRE_BUILD:-$here/../build}
  export WINEARCH=$1
  case "$1" in
    win64)
      export WINEPREFIX="${SONAVIRE_WINEPREFIX:-$build/wineprefix}"
      wine_loader=/usr/lib/wine/wine64 ;;
    win32)
      export WINEPREFIX="${SONAVIRE_WINEPREFIX32:-$build/wineprefix32}"
      wine_loader=/usr/lib/wine/wine ;;
    *) echo "wine_env: unknown arch $1" >&2; return 1 ;;
  esac
  wine_server=/usr/lib/wine/wineserver
  export WINEDEBUG="${WINEDEBUG:--all}"
  # No Mono or Gecko installer dialogs: the prefix has neither, and nothing here needs them.
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
}

# wine_server_afresh ARCH WHO: waits (at most 30 s) until ARCH's prefix has no Wine server, so the
# next Wine program starts one of its own, under that program's CPU placement; WHO names the
# caller in the message when one stays (a persistent server).
wine_server_afresh() {
  ( wine_env "$1" && timeout 30 "$wine_server" -w ) ||
    echo "$2: the prefix's Wine server stays (a persistent one?): this run shares it" >&2
}
