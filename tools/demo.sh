#!/bin/sh
# The program against the demo forum: lays out the portable program folder $1 (run.sh has put
# the program there), starts the demo forum on 127.0.0.1 in the background and the program
# under the user's display or, without one, under Xvfb. The forum stops with the program.
#
# VM_BUILD_DIR   build folder with up.exe and mdbwriter (default: the folder above $1)
# VM_DEMO_PORT   preferred port of the forum (default 18360; another one when it is taken)
# VM_DEMO_RATE   download speed limit of the forum in bytes a second (default 2000000, 0: none)
set -eu
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || { echo "usage: tools/demo.sh PROGRAM_FOLDER" >&2; exit 2; }
work=$(cd "$1" && pwd)
build=${VM_BUILD_DIR:-$(dirname "$work")}
engine=$build/src/engine/up.exe
mdbwriter=$build/tools/mdbwriter/mdbwriter
for file in "$work/vellumark" "$engine" "$mdbwriter"; do
  [ -x "$file" ] || { echo "demo.sh: $file is missing; build first (tools/run.sh)" >&2; exit 1; }
done

data=$build/demo-forum
mkdir -p "$data" "$work/set"
# Copied aside and renamed, so an engine that still runs keeps its own file.
cp "$engine" "$work/up.exe.new" && mv -f "$work/up.exe.new" "$work/up.exe"

portfile=$data/port
rm -f "$portfile"
python3 tools/demo/forum.py --data "$data" --mdbwriter "$mdbwriter" --engine "$engine" \
  --program "$work/vellumark" --port "${VM_DEMO_PORT:-18360}" --port-file "$portfile" \
  --rate "${VM_DEMO_RATE:-2000000}" >"$data/forum.log" 2>&1 &
forum=$!
trap 'kill $forum 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM

echo "Preparing the demo forum (the first start generates its catalogue)..."
tries=0
while [ ! -s "$portfile" ]; do
  if ! kill -0 $forum 2>/dev/null; then
    echo "demo.sh: the demo forum did not start:" >&2
    cat "$data/forum.log" >&2
    exit 1
  fi
  tries=$((tries + 1))
  [ $tries -le 600 ] || { echo "demo.sh: the demo forum did not answer" >&2; exit 1; }
  sleep 0.2
done
address=http://127.0.0.1:$(cat "$portfile")
python3 tools/demo/layout.py "$work" "$data" "$address"
echo "Demo forum on $address (log: $data/forum.log); program folder $work"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$work/vellumark" || true
else
  echo "No display: the program runs under Xvfb (end it with Ctrl+C)."
  xvfb-run -a -s "-screen 0 1280x1024x24" "$work/vellumark" || true
fi
