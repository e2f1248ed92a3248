#!/usr/bin/env bash
# Replays the seed corpus of every fuzz target through that target's plain
# build in a build directory; fails if any input breaks a property.
set -euo pipefail
dir=$1
root="$(cd "$(dirname "$0")/.." && pwd)"
status=0
shopt -s nullglob
for corpus in "$root"/fuzz/corpus/*/; do
  name=$(basename "$corpus")
  "$dir/fuzz/fuzz_$name" "$corpus" || status=1
done
exit $status
