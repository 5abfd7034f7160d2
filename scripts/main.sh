#!/usr/bin/env bash
# The main job: sets up a fresh Debian machine (missing packages through
# apt-get), builds everything, installs it into ./install (no root needed
# for that), renders the demo piece to ./demo.wav and says where things are.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup.sh
cmake -S . -B build-main -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$root/install" >/dev/null
cmake --build build-main
cmake --install build-main >/dev/null
# The installed plug-in and renderer find the engine under install/lib on
# their own; no variable is needed.
env -u PROGRAMFILES "$root/install/bin/glimra-check" >/dev/null
env -u PROGRAMFILES "$root/install/bin/glimra-render" --gm \
  "$root/install/share/glimra/demo.mid" -o "$root/demo.wav"
echo
echo "Installed in $root/install:"
echo "  plug-in   $root/install/lib/vst/Glimra-Synth.so"
echo "  engine    $root/install/lib/Glimra/Synth/ (liborka.so, data/)"
echo "  tools     $root/install/bin/glimra-render, glimra-check"
echo "The demo is $root/demo.wav"
