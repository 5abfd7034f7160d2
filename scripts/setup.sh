#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when some are missing.
#   scripts/setup.sh            native build and tests
#   scripts/setup.sh --windows  also the Windows cross-build and wine
#   scripts/setup.sh --clang    also clang with its sanitizer and fuzzer runtimes
set -euo pipefail
pkgs=(g++ cmake ninja-build googletest libgtest-dev libbenchmark-dev libcli11-dev libsndfile1-dev
  libinstpatch-dev timgm6mb-soundfont pkg-config dpkg-dev)
case "${1:-}" in
  --windows) pkgs+=(g++-mingw-w64-x86-64 wine64 wine) ;;
  --clang) pkgs+=(clang libclang-rt-14-dev) ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
