#!/bin/sh
# Runs the end-to-end first-run test once more as an ordinary user, with Chromium's sandbox on
# (only root turns it off). Called by tools/test.sh after the dev build; needs root to create
# the user (VM_TEST_USER, default vmtest) and to run as it. The test, the engine, the catalogue
# writer and the demo forum are copied into a folder that user can read: the build tree may
# lie below a folder only root can enter.
set -eu
cd "$(dirname "$0")/.."
build=${VM_BUILD_DIR:-build/dev}
user=${VM_TEST_USER:-vmtest}
if [ "$(id -u)" -ne 0 ]; then
  echo "test-unprivileged.sh: already an ordinary user; the suite itself ran unprivileged"
  exit 0
fi
id -u "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$user"
home=$(getent passwd "$user" | cut -d: -f6)

test=$build/tests/e2e-from-src/e2e_test
[ -x "$test" ] || test=$build/tests/e2e/e2e_test
for file in "$test" "$build/src/engine/up.exe" "$build/tools/mdbwriter/mdbwriter"; do
  [ -x "$file" ] || { echo "test-unprivileged.sh: $file is missing; build first" >&2; exit 1; }
done

stage=$(mktemp -d /tmp/vm-unprivileged.XXXXXX)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/demo" "$stage/data" "$stage/shots"
cp "$test" "$build/src/engine/up.exe" "$build/tools/mdbwriter/mdbwriter" "$stage/"
cp tools/demo/*.py "$stage/demo/"
# The forum's generated catalogues from the first run, if there was one: saves generating them.
forumdata=$(dirname "$test")/demo-forum
[ -d "$forumdata" ] && cp -R "$forumdata/." "$stage/data/"
chown -R "$user" "$stage"
chmod 755 "$stage"

echo "End-to-end first run as $user (uid $(id -u "$user")):"
runuser -u "$user" -- env -i PATH="/usr/local/bin:/usr/bin:/bin" HOME="$home" USER="$user" \
  LANG="${LANG:-C.UTF-8}" \
  ASAN_OPTIONS="detect_leaks=0:abort_on_error=0" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  VM_OPENER=/bin/true DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus \
  VM_E2E_UP_EXE="$stage/up.exe" VM_E2E_MDBWRITER="$stage/mdbwriter" \
  VM_E2E_FORUM_PY="$stage/demo/forum.py" VM_E2E_LAYOUT_PY="$stage/demo/layout.py" \
  VM_E2E_DATA_DIR="$stage/data" VM_SCREENSHOT_DIR="$stage/shots" \
  xvfb-run -a -s "-screen 0 1280x1024x24" "$stage/e2e_test"
