#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Safe to run again:
# packages that are already installed are skipped, and apt is only called when something is missing.
set -euo pipefail

if [ "$(id -u)" != 0 ]; then
  echo "setup: run as root (apt-get install)" >&2
  exit 1
fi

packages=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 fonts-wine fonts-dejavu-core
  xvfb xauth x11-utils
  libcpp-httplib-dev libsqlite3-dev libsodium-dev
  googletest libgtest-dev
  imagemagick
  nsis
  nginx-light wrk openssl libgnutls30 libgnutls30:i386
  ccache clang-format
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    apt-get install -y -q "${missing[@]}"
  fi
fi

# The plug-in must build with the posix thread model (std::thread, std::mutex).
if [ -x /usr/bin/i686-w64-mingw32-g++-posix ] && [ -x /usr/bin/x86_64-w64-mingw32-g++-posix ]; then :; else
  echo "setup: the posix MinGW-w64 compilers are missing" >&2
  exit 1
fi
