#!/usr/bin/env bash
# Every C++ source of the project is clang-format clean.
set -euo pipefail
cd "$MORVEL_SOURCE_DIR"
dirs=()
for d in framework server client archiver database tests bench; do
    [ -d "$d" ] && dirs+=("$d")
done
find "${dirs[@]}" \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 -r clang-format --dry-run -Werror
echo "format: clean"
