#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test suite: 64-bit,
# 32-bit (under qemu-i386), 64-bit with sanitizers (including one replay of
# every fuzz target's checked-in corpus), the tests that run threads under
# ThreadSanitizer, 64-bit Windows (under Wine) and the 32-bit Windows DLL
# (built and inspected: this machine cannot run 32-bit Windows code). Exits
# non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/check-format.sh

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(native x86 asan tsan win64 win32)

# The Windows test programs run in a Wine prefix of their own, made for this
# run and removed with its Wine server when the script ends.
wine_prefix=""
cleanup() {
  if [ -n "$wine_prefix" ]; then
    WINEPREFIX="$wine_prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$wine_prefix"
  fi
}
trap cleanup EXIT

for preset in "${presets[@]}"; do
  started=$SECONDS
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== ${preset}: test"
  if [ "$preset" = win64 ] && [ -z "$wine_prefix" ]; then
    wine_prefix=$(mktemp -d "${TMPDIR:-/tmp}/korvel-wine.XXXXXX")
    export WINEPREFIX="$wine_prefix"
  fi
  ctest --preset "$preset"
  echo "=== ${preset}: done in $((SECONDS - started)) s"
done
