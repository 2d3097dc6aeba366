#!/usr/bin/env bash
# Lays out the project's C++ files with the root's .clang-format (`make format`), or, with
# --check, lists the files that differ from that layout and fails (the test native.format).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tools/*.cpp' 'tools/*.h')
if [ "${1:-}" = --check ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --style=file "$f" | cmp -s - "$f"; then
      echo "not laid out as .clang-format says: $f (run make format)"
      bad=1
    fi
  done
  exit "$bad"
fi
clang-format --style=file -i "${files[@]}"
