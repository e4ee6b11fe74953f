#!/usr/bin/env bash
# Installs what is missing, builds the native preset and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target tep-be-vel-service-status

library=build/native/tep-be-vel-service-status.so
echo "Built ${library}"
echo "Exported functions:"
nm -D --defined-only "$library" | awk '$2 == "T" { print "  " $3 }'
