#!/usr/bin/env bash
# Builds the Debian package glimra-synth_<version>_amd64.deb and proves it:
# unpacked with dpkg -x into a scratch root (not installed), its renderer
# renders a short file with the packaged plug-in, engine and instrument.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING=OFF -DORKA_BENCH=OFF -DORKA_WERROR=ON >/dev/null
cmake --build build-pkg
rm -f build-pkg/glimra-synth_*.deb
(cd build-pkg && cpack -G DEB >/dev/null)
deb=$(ls build-pkg/glimra-synth_*_amd64.deb)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
for f in usr/lib/vst/Glimra-Synth.so usr/lib/Glimra/Synth/liborka.so \
  usr/lib/Glimra/Synth/data/midisyn.conf usr/bin/glimra-render usr/bin/glimra-check \
  usr/bin/glimra-import usr/share/glimra/demo.mid; do
  [[ -e "$root/$f" ]] || { echo "package lacks /$f"; exit 1; }
done
out=$(env -u PROGRAMFILES "$root/usr/bin/glimra-render" tests/data/short.mid "$root/short.wav")
echo "$out"
[[ -s "$root/short.wav" && "$out" != *"peak -999"* ]] || { echo "the unpacked package renders nothing"; exit 1; }
echo "package: $deb ($(du -h "$deb" | cut -f1)), depends: $(dpkg-deb -f "$deb" Depends)"
