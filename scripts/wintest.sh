#!/usr/bin/env bash
# Cross-builds for 64-bit Windows with mingw-w64 and runs the unit tests
# under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --windows
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-glimra}"
[[ -d "$WINEPREFIX" ]] || wineboot -i >/dev/null 2>&1 || true
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DORKA_WERROR=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win
ctest --test-dir build-win --output-on-failure
