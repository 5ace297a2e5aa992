#!/bin/sh
# Fails when a C++ file differs from what clang-format makes of it.
set -eu
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench -name '*.cpp' -o -name '*.h')
[ -z "$files" ] && exit 0
clang-format --dry-run -Werror $files
