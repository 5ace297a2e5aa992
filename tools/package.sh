#!/bin/sh
# Builds the release preset and the Debian package build/release/vellumark_<version>_amd64.deb
# (installs the build's packages first, like run.sh). Install it with
#   apt-get install ./build/release/vellumark_*.deb
set -eu
cd "$(dirname "$0")/.."
./tools/install-deps.sh
cmake --preset release
# The Flash player the viewer plays videos with; the build lays it beside the program as ruffle/.
./tools/install-player.sh build/release/player
cmake --build --preset release
cd build/release
rm -f vellumark_*.deb
cpack -G DEB
deb=$(ls vellumark_*.deb)
echo "build/release/$deb"
