#!/bin/sh
# Installs the Debian packages listed in tools/packages.txt (needs root or sudo).
set -eu
here=$(dirname "$0")
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
packages=$(grep -v '^#' "$here/packages.txt" | tr '\n' ' ')
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends $missing
fi
