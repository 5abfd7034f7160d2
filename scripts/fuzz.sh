#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each on a scratch copy of its
# committed seeds, two at a time.
#   scripts/fuzz.sh                 every target for 60 s
#   scripts/fuzz.sh 600 fuzz_smf    one target for ten minutes
# New inputs found are left in build-fuzz/work/<target>/; a crash leaves
# its input in build-fuzz/crash-<target>-* and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --clang
secs=${1:-60}
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORKA_FUZZ=ON -DBUILD_TESTING=OFF \
  -DORKA_BENCH=OFF -DORKA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzz_all

run_one() { # name seeds seconds
  local name=$1 seeds=$2 secs=$3 work=build-fuzz/work/$1 log=build-fuzz/$1.log
  mkdir -p "$work"
  if ! build-fuzz/"$name" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix=build-fuzz/crash-"$name"- "$work" "$seeds" >"$log" 2>&1; then
    echo "$name: FAILED"; tail -n 40 "$log"; return 1
  fi
  local runs cov
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  echo "$name: $runs runs in $secs s, $(( runs / secs )) per s, $cov"
}

pids=() status=0
while read -r name seeds; do
  if (($#)) && [[ " $* " != *" $name "* ]]; then continue; fi
  run_one "$name" "$seeds" "$secs" &
  pids+=($!)
  if ((${#pids[@]} >= 2)); then wait "${pids[0]}" || status=1; pids=("${pids[@]:1}"); fi
done <build-fuzz/fuzz_targets.txt
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
