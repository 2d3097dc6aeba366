#!/usr/bin/env bash
# Configures and builds the three trees: native (tools, portable code and its sanitizer tests),
# win (64-bit Windows: Sonavire.dll and the Windows tests) and win32 (32-bit Windows, the plug-in
# users install, with the same tests).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SONAVIRE_BUILD:-$root/build}
jobs=${SONAVIRE_JOBS:-$(nproc)}
if [ ! -f "$build/native/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build/native" -j "$jobs"
standin="$build/native/tools/standin-service/sonavire-server"
for tree in win:mingw-x86_64 win32:mingw-i686; do
  dir=$build/${tree%%:*}
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    # The 32-bit tree also builds the installer, which carries the 64-bit tree's DLL.
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/${tree#*:}.cmake" -DSONAVIRE_STANDIN_SERVER="$standin" \
      -DSONAVIRE_DLL64="$build/win/src/dll/Sonavire.dll"
  elif ! grep -qxF "SONAVIRE_STANDIN_SERVER:UNINITIALIZED=$standin" "$dir/CMakeCache.txt"; then
    # A tree configured before the server was renamed (or moved) learns its path again.
    cmake -S "$root" -B "$dir" -DSONAVIRE_STANDIN_SERVER="$standin"
  fi
  cmake --build "$dir" -j "$jobs"
done
