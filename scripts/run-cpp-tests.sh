#!/usr/bin/env bash
# Runs every C++ test executable of a build directory as gtest shards, one
# more at a time than JOBS (default: the processors this process may use):
# some tests wait out a lock's retry period with their processor idle. Each
# executable runs as that many shards, so that no single one's run sets the
# wall time; the largest start first, as they run longest. They share no
# files: each test makes its own temporary directories. Each shard's output is
# printed whole, in order; fails if any fails.
set -euo pipefail
dir=$1
slots=$((${JOBS:-$(nproc)} + 1))
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

mapfile -t tests < <(ls -S "$dir"/tests/cpp/*_tests 2>/dev/null)
runs=()
for t in "${tests[@]}"; do
  name=$(basename "$t")
  for ((shard = 0; shard < slots; shard++)); do
    while (($(jobs -rp | wc -l) >= slots)); do wait -n || true; done
    run=$name.$shard
    runs+=("$t $shard")
    { status=0
      GTEST_TOTAL_SHARDS=$slots GTEST_SHARD_INDEX=$shard "$t" --gtest_brief=1 >"$logs/$run.out" 2>&1 || status=$?
      echo $status >"$logs/$run.status"; } &
  done
done
wait

status=0
for entry in "${runs[@]}"; do
  read -r t shard <<<"$entry"
  run=$(basename "$t").$shard
  echo "== $t (shard $((shard + 1)) of $slots)"
  cat "$logs/$run.out"
  [ "$(cat "$logs/$run.status")" = 0 ] || status=1
done
exit $status
