#!/bin/sh
# Installs the pinned Flash player (tools/player/package-lock.json, integrity checked by npm ci)
# into DEST/node_modules; the build lays its files beside the program as ruffle/.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
dest=${1:?usage: install-player.sh DEST}
if ! command -v npm >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends npm
fi
mkdir -p "$dest"
# Reinstalls only when the pinned version changed since the last run.
if ! cmp -s "$here/player/package-lock.json" "$dest/package-lock.json" ||
   [ ! -f "$dest/node_modules/@ruffle-rs/ruffle/ruffle.js" ]; then
  cp "$here/player/package.json" "$here/player/package-lock.json" "$dest/"
  (cd "$dest" && npm ci --no-audit --no-fund --silent)
fi
