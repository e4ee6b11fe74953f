#!/usr/bin/env bash
# Installs what is missing, builds the plug-in and vel-host (native preset) and starts vel-host
# on its bundled example: the plug-in runs against example status documents that vel-host serves
# itself, so no network is needed. Extra arguments go to vel-host (see --help), for example
# scripts/run.sh --port 9000 or scripts/run.sh --data-store my-store.json.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target vel-host

port=8089
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[$i]}" in
    --port) port="${args[$((i + 1))]:-$port}" ;;
    --port=*) port="${args[$i]#--port=}" ;;
  esac
done

echo
echo "vel-host starts on http://127.0.0.1:${port}/ - open that address in a browser."
echo "  status:  curl http://127.0.0.1:${port}/vel-service-status/v1/zum-status"
echo "  ticker:  curl http://127.0.0.1:${port}/vel-service-status/v1/ticker-messages"
echo "Ctrl-C stops it."
echo
exec build/native/vel-host "$@"
