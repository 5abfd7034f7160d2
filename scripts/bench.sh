#!/usr/bin/env bash
# Runs every benchmark program of bench/.
#
#   scripts/bench.sh                 each program once, briefly (CI: they
#                                    build and run; no timing is judged)
#   scripts/bench.sh --full [NAME]   five repetitions, medians, the load
#                                    average and the processor around them;
#                                    NAME limits it to one program
#
# The programs come from the build folder ($ORKA_BENCH_BUILD, default
# build/, configured as scripts/test.sh does when it is missing).  With
# $ORKA_BENCH_LOCK set, every program runs under flock on that file, so
# that people sharing a machine never benchmark at the same time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ORKA_BENCH_BUILD:-build}
full=0
only=
for a in "$@"; do
  case $a in
    --full) full=1 ;;
    bench_*) only=$a ;;
    *) echo "usage: $0 [--full] [bench_NAME]" >&2; exit 2 ;;
  esac
done
programs=(bench_support bench_tone bench_effects bench_synth bench_vst bench_conf bench_setup)
[ -n "$only" ] && programs=("$only")

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DORKA_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PWD/$build/stage" >/dev/null
fi
cmake --build "$build" --target "${programs[@]}"

run() {
  if [ -n "${ORKA_BENCH_LOCK:-}" ]; then
    flock "$ORKA_BENCH_LOCK" "$@"
  else
    "$@"
  fi
}

if [ "$full" = 1 ]; then
  echo "processor: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores"
  for p in "${programs[@]}"; do
    echo "== $p ($(uptime | sed 's/.*load average/load average/'))"
    run "$build/bench/$p" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
      2>/dev/null | grep -E '_median|^Benchmark|^---'
  done
  echo "== done ($(uptime | sed 's/.*load average/load average/'))"
else
  for p in "${programs[@]}"; do
    echo "== $p"
    extra=()
    [ "$p" = bench_vst ] && extra=(--blocks=300)
    # A benchmark that cannot run reports an error but exits with 0.
    out=$(run "$build/bench/$p" --benchmark_min_time=0.01 "${extra[@]}" 2>&1) || { echo "$out"; exit 1; }
    if grep -q 'ERROR OCCURRED' <<<"$out"; then
      echo "$out"
      exit 1
    fi
  done
  echo "== every benchmark ran"
fi
