#!/bin/sh
# Installs the independent .mdb checkers the jet tests use into DEST: the npm reader
# mdb-reader, and fruit.mdb, the real Access 2000 file the npm package "mdb" ships.
set -eu
dest=${1:?usage: install-npm-checkers.sh DEST}
if ! command -v npm >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends npm
fi
mkdir -p "$dest"
cd "$dest"
[ -f package.json ] || echo '{"private": true}' > package.json
[ -d node_modules/mdb-reader ] || npm install --no-audit --no-fund --silent mdb-reader@3.2.0
if [ ! -f fruit.mdb ]; then
  tarball=$(npm pack --silent mdb@0.1.0)
  tar xzf "$tarball" package/test/fruit.mdb
  mv package/test/fruit.mdb fruit.mdb
  rm -rf package "$tarball"
fi
