#!/usr/bin/env bash
# The generated-input runs of make reliability, natively under AddressSanitizer and
# UndefinedBehaviorSanitizer: the plug-in's portable code (reply pieces, timing decoder, timed-text
# writer, query encoder) for SECONDS each, then the server's request parser for as many inputs as
# it reads in about that time. One line per target: inputs run, crashes, wrong answers.
#   scripts/generated-inputs.sh [SECONDS]   (30)
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SONAVIRE_BUILD:-$root/build}
seconds=${1:-30}
tools=$build/native/tools
status=0
"$tools/generated-inputs/sonavire-generated-inputs" --seconds "$seconds" || status=1
# The parser reads about 7,000 inputs a second under the sanitizers.
"$tools/standin-service/request-parser-fuzz" --count $((seconds * 7000)) --batch 5000 || status=1
exit $status
