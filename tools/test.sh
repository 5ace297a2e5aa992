#!/bin/sh
# Installs what is needed, builds the dev preset (ASan + UBSan) and runs every test; run as
# root, it runs the end-to-end first run once more as an ordinary user.
set -eu
cd "$(dirname "$0")/.."
./tools/install-deps.sh
./tools/check-format.sh
cmake --preset dev
# The independent .mdb reader (npm) that checks what our writer produces.
./tools/mdbwriter/install-npm-checkers.sh build/dev/npm-checkers
./tools/install-player.sh build/dev/player
cmake --build --preset dev
# Real windows run under Xvfb; the gui tests pick the xcb platform when DISPLAY is set.
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset dev "$@"
# The end-to-end first run again as an ordinary user, Chromium's sandbox on.
./tools/test-unprivileged.sh
