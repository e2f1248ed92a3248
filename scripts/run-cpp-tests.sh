#!/usr/bin/env bash
# Runs every C++ test executable of a build directory, JOBS of them at a time
# (default: the processors this process may use). They share no files: each
# test makes its own temporary directories. The largest executables start
# first, as they run longest. Each one's output is printed whole, in order;
# fails if any fails.
set -euo pipefail
dir=$1
jobs=${JOBS:-$(nproc)}
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

mapfile -t tests < <(ls -S "$dir"/tests/cpp/*_tests 2>/dev/null)
for t in "${tests[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  name=$(basename "$t")
  { status=0; "$t" --gtest_brief=1 >"$logs/$name.out" 2>&1 || status=$?; echo $status >"$logs/$name.status"; } &
done
wait

status=0
for t in "${tests[@]}"; do
  name=$(basename "$t")
  echo "== $t"
  cat "$logs/$name.out"
  [ "$(cat "$logs/$name.status")" = 0 ] || status=1
done
exit $status
