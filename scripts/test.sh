#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything with warnings as errors
# and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DORKA_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$PWD/build/stage" >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j2
