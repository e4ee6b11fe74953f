#!/usr/bin/env bash
# Builds one libFuzzer program (the `fuzz` preset, clang 14) and runs it for a given time.
#
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
#   scripts/fuzz.sh --list
#
# TARGET is a fuzz target's name, e.g. `json` for encoding/fuzz/json_fuzz.cpp. The run starts
# from the checked-in seeds (<subsystem>/fuzz/corpus/TARGET/) and keeps what it finds in
# fuzz/out/TARGET/corpus/; a crashing input lands in fuzz/out/TARGET/ and the run stops with a
# non-zero status. The output is also written to fuzz/out/TARGET/fuzz.log; libFuzzer's last
# status line there gives coverage ("cov:", "ft:") and executions per second.
# Runs at low priority (nice 15); run at most two at a time on a shared machine.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--list" ]; then
  for source in */fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    echo "$name  ($source)"
  done
  exit 0
fi
if [ $# -lt 2 ]; then
  echo "usage: $0 TARGET SECONDS [libFuzzer options...] | $0 --list" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2

sources=(*/fuzz/"${target}"_fuzz.cpp)
if [ ! -f "${sources[0]}" ]; then
  echo "no fuzz target '${target}' (see $0 --list)" >&2
  exit 2
fi
fuzz_dir=$(dirname "${sources[0]}")

# Two runs started together build one after the other.
mkdir -p build
(
  flock 9
  if [ ! -f build/fuzz/build.ninja ]; then
    cmake --preset fuzz >/dev/null
  fi
  nice -n 10 cmake --build --preset fuzz -j2 --target "${target}_fuzz"
) 9>build/.fuzz-build.lock

out="fuzz/out/${target}"
mkdir -p "$out/corpus"
options=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1
         -artifact_prefix="$out/")
if [ -f "$fuzz_dir/${target}.dict" ]; then
  options+=(-dict="$fuzz_dir/${target}.dict")
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# New inputs go to the first corpus folder; the checked-in seeds are only read.
nice -n 15 "build/fuzz/${target}_fuzz" "${options[@]}" "$@" "$out/corpus" \
  "$fuzz_dir/corpus/${target}" 2>&1 | tee "$out/fuzz.log"
exit "${PIPESTATUS[0]}"
