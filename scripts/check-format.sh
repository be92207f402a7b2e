#!/usr/bin/env bash
# Checks that C++ files follow .clang-format, changing nothing.
#   scripts/check-format.sh [FILE...]       the given files
#   scripts/check-format.sh --base REF      the .h/.cpp files changed since REF (default: main)
#   scripts/check-format.sh --all           every tracked .h/.cpp file
set -euo pipefail
cd "$(dirname "$0")/.."
base=main
if [[ ${1:-} == --all ]]; then
    mapfile -t files < <(git ls-files -- '*.h' '*.cpp')
    set -- "${files[@]}"
elif [[ ${1:-} == --base ]]; then
    base=${2:?--base needs a git ref}
    shift 2
fi
if (($# == 0)); then
    mapfile -t files < <(git diff --name-only --diff-filter=d "$base" -- '*.h' '*.cpp')
else
    files=("$@")
fi
if ((${#files[@]} == 0)); then
    echo "check-format: no C++ files to check"
    exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
echo "check-format: ${#files[@]} files follow .clang-format"
