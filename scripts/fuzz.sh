#!/usr/bin/env bash
# Builds the fuzz targets with clang-19, libFuzzer and the address and
# undefined-behaviour sanitizers, then runs each for the given number of
# seconds, at most FUZZ_JOBS (default 4) at a time, starting from the seed
# corpus in fuzz/corpus/<target>/. New inputs go to build-fuzz/corpus/, and
# crashes, timeouts and slow inputs to build-fuzz/artifacts/<target>/.
# Prints the executions per second of each target and every artifact.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
jobs=${FUZZ_JOBS:-4}
build=build-fuzz

scripts/deps.sh
# Debian 12's clang-19 builds this code base against libstdc++ 12; older
# clang cannot use its std::expected. libFuzzer comes with the runtime.
missing=()
command -v clang++-19 >/dev/null || missing+=(clang-19)
dpkg -s libclang-rt-19-dev >/dev/null 2>&1 || missing+=(libclang-rt-19-dev)
if ((${#missing[@]})); then
  echo "installing ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

.venv/bin/cmake -S . -B "$build" -G Ninja -DCMAKE_MAKE_PROGRAM="$PWD/.venv/bin/ninja" \
  -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVIK_FUZZ=ON -DMORVIK_SANITIZE=ON -DMORVIK_TESTS=OFF >/dev/null
.venv/bin/cmake --build "$build" -j "$jobs"

run_one() {
  local name=$1 seconds=$2 build=$3
  mkdir -p "$build/corpus/$name" "$build/artifacts/$name" "$build/logs"
  # The first directory receives new inputs; the seeds stay as they are.
  "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -report_slow_units=2 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name/" "$build/corpus/$name" "fuzz/corpus/$name" \
    >"$build/logs/$name.log" 2>&1
}
export -f run_one

names=$(ls fuzz/corpus)
status=0
printf '%s\n' $names | xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$build" || status=1

stat() { grep -o "stat::$1: *[0-9]*" "$2" | grep -o '[0-9]*$' || echo "?"; }
printf '%-20s %12s %8s %8s %8s  %s\n' target executions "exec/s" "rss MB" "corpus" artifacts
for name in $names; do
  log="$build/logs/$name.log"
  units=$(ls "$build/corpus/$name" | wc -l)
  found=$(ls "$build/artifacts/$name")
  printf '%-20s %12s %8s %8s %8s  %s\n' "$name" "$(stat number_of_executed_units "$log")" \
    "$(stat average_exec_per_sec "$log")" "$(stat peak_rss_mb "$log")" "$units" "${found:-none}"
  [ -z "$found" ] || status=1
done
exit $status
