#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything and says what was built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
echo
echo "Built in $(pwd)/build:"
find build -maxdepth 3 -type f \( -name '*.so' -o -name '*.a' -o -perm -u+x \) \
  ! -path '*/CMakeFiles/*' ! -name '*.sh' | sort | sed 's/^/  /'
