#!/bin/sh
# Installs what is needed, builds the release preset and starts the program in its own
# working folder (build/release/demo). Without a display it runs under Xvfb.
set -eu
cd "$(dirname "$0")/.."
./tools/install-deps.sh
cmake --preset release
./tools/install-player.sh build/release/player
cmake --build --preset release
workdir=build/release/demo
mkdir -p "$workdir"
cp build/release/src/vellumark "$workdir/vellumark"
cp build/release/src/vellumark-jet-reader "$workdir/vellumark-jet-reader"
# The Flash player lies beside the program.
rm -rf "$workdir/ruffle" && cp -r build/release/src/ruffle "$workdir/ruffle"
if [ -f tools/demo.sh ]; then
  exec ./tools/demo.sh "$workdir"
fi
if [ -n "${DISPLAY:-}" ]; then
  exec "$workdir/vellumark"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$workdir/vellumark"
