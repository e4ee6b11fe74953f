#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test suite: 64-bit,
# 32-bit (under qemu-i386) and 64-bit with sanitizers. Exits non-zero on the
# first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/check-format.sh

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(native x86 asan)

for preset in "${presets[@]}"; do
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== ${preset}: test"
  ctest --preset "$preset"
done
