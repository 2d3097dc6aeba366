#!/usr/bin/env bash
# Configures and builds the native tree (tools, portable code and its sanitizer tests) and the
# cross tree (Sonavire.dll and the Windows tests).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SONAVIRE_BUILD:-$root/build}
jobs=${SONAVIRE_JOBS:-$(nproc)}
if [ ! -f "$build/native/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build/native" -j "$jobs"
# The tested Windows build: 64-bit, because this machine runs Windows programs under wine64 only.
if [ ! -f "$build/win/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build/win" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    -DSONAVIRE_STANDIN_SERVER="$build/native/tools/standin-service/sonavire-standin"
fi
cmake --build "$build/win" -j "$jobs"
# The shipped plug-in: 32-bit. Built without tests; its imports are checked to be system DLLs only.
if [ ! -f "$build/win32/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build/win32" -DCMAKE_BUILD_TYPE=MinSizeRel -DSONAVIRE_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
fi
cmake --build "$build/win32" -j "$jobs"
