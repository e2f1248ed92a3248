#!/usr/bin/env bash
# Runs every C++ test executable of a build directory, JOBS of them at a time
# (default: the processors this process may use). They share no files: each
# test makes its own temporary directories. The largest executables start
# first, as they run longest; the largest of all, which alone would outlast
# the rest, runs as JOBS shards of its tests. Each one's output is printed
# whole, in order; fails if any fails.
set -euo pipefail
dir=$1
jobs=${JOBS:-$(nproc)}
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

mapfile -t tests < <(ls -S "$dir"/tests/cpp/*_tests 2>/dev/null)
runs=()
for t in "${tests[@]}"; do
  name=$(basename "$t")
  shards=1
  [ "$t" = "${tests[0]}" ] && shards=$jobs
  for ((shard = 0; shard < shards; shard++)); do
    while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
    run=$name.$shard
    runs+=("$t $shard $shards")
    { status=0
      GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard "$t" --gtest_brief=1 >"$logs/$run.out" 2>&1 || status=$?
      echo $status >"$logs/$run.status"; } &
  done
done
wait

status=0
for entry in "${runs[@]}"; do
  read -r t shard shards <<<"$entry"
  run=$(basename "$t").$shard
  if ((shards > 1)); then echo "== $t (shard $((shard + 1)) of $shards)"; else echo "== $t"; fi
  cat "$logs/$run.out"
  [ "$(cat "$logs/$run.status")" = 0 ] || status=1
done
exit $status
