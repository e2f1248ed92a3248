#!/usr/bin/env bash
# Runs every C++ test executable of a build directory; fails if any fails.
set -euo pipefail
dir=$1
status=0
shopt -s nullglob
for t in "$dir"/tests/cpp/*_tests; do
  echo "== $t"
  "$t" --gtest_brief=1 || status=1
done
exit $status
