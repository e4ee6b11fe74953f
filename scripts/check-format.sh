#!/usr/bin/env bash
# Fails when a C++ source is not formatted with the project's .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.h' '*.cpp' 2>/dev/null || true)
[ -z "$files" ] && exit 0
echo "$files" | xargs clang-format --dry-run --Werror
