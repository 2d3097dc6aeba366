#!/usr/bin/env bash
# stall-profile.sh [--split] [win64|win32]
# Where the player's thread spends each scenario's longest gap: runs stall-bench with --profile
# (the player's thread sampled about every millisecond) against the stand-in, under the display in
# $DISPLAY, and names the sampled stacks with addr2line. Per scenario it prints the bench's line,
# how many samples fell in the gap, and the stacks, innermost function first, most frequent first.
# A gap with few samples for its length is one where the whole process waited (the sampler's own
# thread did not run either): the machine, not the player's thread, held it.
# --split: the player on CPU 0 and the service on CPU 1, as scripts/stall-runs.sh --split.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
. "$here/wine-env.sh"
service_cpu=() player_cpu=()
if [ "${1:-}" = --split ]; then service_cpu=(taskset -c 1) player_cpu=(taskset -c 0); shift; fi
arch=${1:-win64}
build=${SONAVIRE_BUILD:-$root/build}
case $arch in
  win64) tree=$build/win; triplet=x86_64-linux-gnu; pe=x86_64-windows; tools=x86_64-w64-mingw32 ;;
  win32) tree=$build/win32; triplet=i386-linux-gnu; pe=i386-windows; tools=i686-w64-mingw32 ;;
  *) echo "usage: $0 [--split] [win64|win32]" >&2; exit 2 ;;
esac
bench=$tree/tools/stall-bench/stall-bench.exe
raw=$(mktemp)
trap 'rm -f "$raw"' EXIT
wine_server_afresh "$arch" stall-profile
"${service_cpu[@]}" "$here/with-standin.sh" "$build/native/tools/standin-service/sonavire-server" -- \
  "${player_cpu[@]}" "$here/wine-run.sh" --arch "$arch" "$bench" --profile >"$raw" 2>/dev/null

python3 - "$raw" "$bench" "/usr/lib/$triplet/wine/$pe" "$tools" <<'PY'
import collections, os, re, subprocess, sys
raw, bench, wine_dir, tools = sys.argv[1:]

def module_file(name):
    if name.lower() == os.path.basename(bench).lower():
        return bench
    path = os.path.join(wine_dir, name.lower())
    return path if os.path.exists(path) else None

def exports(path):
    # Wine's system-call stubs carry no line information: they are named by their export.
    out = subprocess.run([tools + "-objdump", "-p", path], capture_output=True, text=True).stdout
    rvas = [int(r, 16) for r in re.findall(r"^\s+\[\s*\d+\] \+base\[\s*\d+\]\s+([0-9a-fA-F]+) Export RVA", out, re.M)]
    table = re.search(r"\[Ordinal/Name Pointer\] Table(.*?)\n\n", out, re.S)
    named = {}
    for ordinal, function in re.findall(r"\[\s*(\d+)\] (\w+)", table.group(1) if table else ""):
        if int(ordinal) < len(rvas):
            named[rvas[int(ordinal)]] = function
    return sorted(named.items())

def image_base(path):
    out = subprocess.run([tools + "-objdump", "-p", path], capture_output=True, text=True).stdout
    found = re.search(r"^ImageBase\s+([0-9a-fA-F]+)", out, re.M)
    return int(found.group(1), 16) if found else 0

scenarios = []  # (line, [frames of each sample])
for line in open(raw, errors="replace"):
    line = line.rstrip("\n")
    if line.startswith("stall "):
        scenarios.append((line, []))
    elif line.startswith("  stack ") and scenarios:
        scenarios[-1][1].append(line.split()[2:])

wanted = collections.defaultdict(set)
for _, samples in scenarios:
    for frames in samples:
        for frame in frames:
            module, _, offset = frame.rpartition("+0x")
            if module_file(module):
                wanted[module].add(int(offset, 16))

names = {}
for module, offsets in wanted.items():
    path = module_file(module)
    base = image_base(path)
    ordered = sorted(offsets)
    # A return address points after its call: name the call's own byte.
    query = "\n".join(hex(base + o - 1) for o in ordered)
    out = subprocess.run([tools + "-addr2line", "-f", "-C", "-e", path], input=query, capture_output=True,
                         text=True).stdout.splitlines()
    exported = None
    for i, offset in enumerate(ordered):
        function = out[2 * i] if 2 * i < len(out) else "??"
        function = re.sub(r"\(.*", "", function)
        if function == "??":
            exported = exported if exported is not None else exports(path)
            below = [f for rva, f in exported if rva <= offset]
            function = below[-1] if below else "%s+0x%x" % (module, offset)
        names[(module, offset)] = function

def name(frame):
    module, _, offset = frame.rpartition("+0x")
    return names.get((module, int(offset, 16)), frame) if module_file(module) else None

for line, samples in scenarios:
    print(line)
    print("  %d samples in the gap" % len(samples))
    stacks = collections.Counter()
    for frames in samples:
        shown = []
        for frame in frames:
            function = name(frame)
            if function and (not shown or shown[-1] != function):
                shown.append(function)
        stacks[" < ".join(shown[:12])] += 1
    for stack, count in stacks.most_common(8):
        print("  %3d  %s" % (count, stack))
PY
