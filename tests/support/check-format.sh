#!/usr/bin/env bash
# Every C++ source of the project is clang-format clean.
set -euo pipefail
cd "$MORVEL_SOURCE_DIR"
find framework server client archiver database tests bench \
    \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null |
    xargs -0 -r clang-format --dry-run -Werror
echo "format: clean"
