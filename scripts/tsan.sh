#!/usr/bin/env bash
# The threaded tests under ThreadSanitizer (g++): an audio thread rendering
# while others set parameters, save and restore the state and drive the
# editor; two instances saved and played in parallel; closing with a
# request for the window pending; the log, the registry and the shared
# generator used from several threads.  Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build-tsan -G Ninja -DORKA_WERROR=ON -DORKA_TSAN=ON -DORKA_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-tsan --target test_support test_vst_unit test_vst_host
export TSAN_OPTIONS="halt_on_error=1 abort_on_error=0 exitcode=66 second_deadlock_stack=1"
cd build-tsan
start=$(date +%s)
tests/test_support --gtest_filter='LogThreads.*:Random.Threads*:Alloc.Threads*'
tests/test_vst_unit --gtest_filter='VstThreads.*:VstEditor.*'
tests/test_vst_host --gtest_filter='PluginThreads.*'
echo "tsan: threaded tests ran in $(( $(date +%s) - start )) s, no report"
