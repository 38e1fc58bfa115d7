#!/usr/bin/env bash
# Fails, naming the lines, when a C or C++ source of the tree is not as clang-format-14 writes it
# (.clang-format). To reformat: the same command with -i in place of --dry-run -Werror.
set -euo pipefail
cd "$(dirname "$0")/.."
find lib sim tools bench tests examples fuzz -type f \( -name '*.c' -o -name '*.h' -o -name '*.cpp' \) \
    -print0 | xargs -0 clang-format-14 --dry-run -Werror
