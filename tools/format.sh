#!/usr/bin/env bash
# Applies the house clang-format to every C++ file git tracks; with --check, changes nothing and
# fails when a file is not formatted.
#   tools/format.sh            format in place
#   tools/format.sh --check    what CI runs
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
    clang-format --dry-run --Werror "${files[@]}"
else
    clang-format -i "${files[@]}"
fi
