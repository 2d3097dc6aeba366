#!/usr/bin/env bash
# Builds the installer for users, Sonavire-<version>-setup.exe, from release builds of both widths
# (build/release64, then build/release32, which carries the 64-bit DLL too), into build/dist.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SONAVIRE_BUILD:-$root/build}
jobs=${SONAVIRE_JOBS:-$(nproc)}
version=$(head -n 1 "$root/VERSION")
for width in 64:mingw-x86_64 32:mingw-i686; do
  dir=$build/release${width%%:*}
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=MinSizeRel -DSONAVIRE_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/${width#*:}.cmake" -DSONAVIRE_DLL64="$build/release64/src/dll/Sonavire.dll"
  fi
  cmake --build "$dir" -j "$jobs"
done
mkdir -p "$build/dist"
cp "$build/release32/Sonavire-$version-setup.exe" "$build/dist/"
echo "dist: $build/dist/Sonavire-$version-setup.exe"
