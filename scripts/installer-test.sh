#!/usr/bin/env bash
# installer-test.sh TEST_EXE SETUP_EXE PLAYER32 PLAYER64 HELPER
# Runs the installer's tests in fresh Wine prefixes: a 64-bit one (where the installer puts both
# plug-ins) and a 32-bit one, each made here and removed afterwards. The installer is a 32-bit
# program, so this runs only where 32-bit Windows programs do. SONAVIRE_STANDIN names the stand-in
# service the installed plug-in is pointed at. Folders setup must refuse are made here, in the
# prefix's Unix tree (a Unix symbolic link is a reparse point to Wine).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
test_exe=$1 setup=$2 player32=$3 player64=$4 helper=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/sonavire-install.XXXXXX")
trap 'for p in "$work"/prefix-*; do WINEPREFIX=$p /usr/lib/wine/wineserver -k 2>/dev/null; done; rm -rf "$work"' EXIT
status=0
for arch in win64 win32; do
  prefix=$work/prefix-$arch
  echo "== the installer in a fresh $arch prefix"
  if [ "$arch" = win64 ]; then export SONAVIRE_WINEPREFIX=$prefix; else export SONAVIRE_WINEPREFIX32=$prefix; fi
  if ! "$here/ensure-wine-prefix.sh" "$arch" >/dev/null 2>&1; then echo "cannot make a $arch prefix"; status=1; continue; fi
  win() { WINEPREFIX=$prefix /usr/lib/wine/wine winepath -w "$1" 2>/dev/null; }
  # Folders setup must refuse: one that is a link (to a folder that must stay empty), and, where
  # this runs as root, one under a folder another user owns.
  mkdir -p "$prefix/drive_c/link-target"
  ln -s "$prefix/drive_c/link-target" "$prefix/drive_c/Program Files/SonavireLink"
  export SONAVIRE_LINKED_FOLDER='C:\Program Files\SonavireLink' SONAVIRE_FOREIGN_FOLDER=
  if [ "$(id -u)" = 0 ] && mkdir -p "$prefix/drive_c/SonavireForeign" && chown nobody "$prefix/drive_c/SonavireForeign"; then
    SONAVIRE_FOREIGN_FOLDER='C:\SonavireForeign\Sonavire'
  fi
  # A link in the user's cache folder, which deleting the user's state must not follow.
  cache=$(ls -d "$prefix"/drive_c/users/*/AppData/Local | grep -v /Public/ | head -n 1)/Sonavire/Cache
  mkdir -p "$cache" "$prefix/drive_c/kept-target" && touch "$prefix/drive_c/kept-target/kept.txt"
  ln -s "$prefix/drive_c/kept-target" "$cache/linked"
  export SONAVIRE_KEPT_FILE='C:\kept-target\kept.txt'
  SONAVIRE_SETUP=$(win "$setup") SONAVIRE_HELPER=$(win "$helper") SONAVIRE_PLAYER32=$(win "$player32") SONAVIRE_PLAYER64=$(win "$player64") \
  SONAVIRE_PREFIX_ARCH=$arch WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    /usr/lib/wine/wine "$test_exe" || status=1
done
exit $status
