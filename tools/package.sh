#!/bin/sh
# Builds the release preset and the Debian package build/release/vellumark_<version>_amd64.deb
# (installs the build's packages first, like run.sh). Install it with
#   apt-get install ./build/release/vellumark_*.deb
set -eu
cd "$(dirname "$0")/.."
./tools/install-deps.sh
cmake --preset release
cmake --build --preset release
cd build/release
rm -f vellumark_*.deb
cpack -G DEB
deb=$(ls vellumark_*.deb)
echo "build/release/$deb"
