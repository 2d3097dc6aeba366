#!/usr/bin/env bash
# Tells whether this machine runs 32-bit Windows programs, by trying: first a tiny static 32-bit
# Linux program (some kernels run none), then a tiny 32-bit Windows program under Wine's 32-bit
# loader in the 32-bit prefix (made here when missing). Each try has a deadline. Exit 0 when both
# ran; otherwise prints the reason on one line and exits 1.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d /tmp/sonavire-probe.XXXXXX)
trap 'rm -rf "$work"' EXIT

printf '.globl _start\n_start: movl $1, %%eax\n movl $3, %%ebx\n int $0x80\n' >"$work/exit3.s"
if ! as --32 "$work/exit3.s" -o "$work/exit3.o" 2>/dev/null || ! ld -m elf_i386 "$work/exit3.o" -o "$work/exit3" 2>/dev/null; then
  echo "no 32-bit assembler and linker to build the probe"; exit 1
fi
timeout 10 "$work/exit3" >/dev/null 2>&1
if [ $? -ne 3 ]; then echo "this machine runs no 32-bit programs"; exit 1; fi

printf 'int main(void) { return 7; }\n' >"$work/probe.c"
if ! i686-w64-mingw32-gcc-posix "$work/probe.c" -o "$work/probe.exe" 2>/dev/null; then
  echo "no 32-bit Windows compiler"; exit 1
fi
if ! timeout 300 "$here/ensure-wine-prefix.sh" win32 >/dev/null 2>&1; then
  echo "Wine's 32-bit prefix could not be made"; exit 1
fi
timeout 60 "$here/wine-run.sh" --arch win32 "$work/probe.exe" >/dev/null 2>&1
if [ $? -ne 7 ]; then echo "Wine's 32-bit loader does not run Windows programs here"; exit 1; fi
exit 0
