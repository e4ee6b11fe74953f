#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine: the test runner of the win64
# build (CMAKE_CROSSCOMPILING_EMULATOR). Its exit status is the program's.
#
# WINEPREFIX names the Wine prefix to use; scripts/test.sh points it at a
# temporary folder for each run. Without it a prefix under the system's
# temporary folder is used, one per user. A new prefix is set up once, under
# a lock, so that test programs started side by side do not race for it.
set -euo pipefail

wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ]; then
  echo "wine-run.sh: $wine not found (Debian package wine64; see scripts/setup.sh)" >&2
  exit 127
fi

export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/korvel-wine-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: nothing here needs them, and Wine would offer to install them.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
export WINEARCH=win64

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot --init >/dev/null 2>&1
      # wineboot returns before the registry reaches the disk.
      /usr/lib/wine/wineserver64 -w 2>/dev/null || /usr/lib/wine/wineserver -w
    fi
  ) 9>"$WINEPREFIX/.korvel-setup.lock"
fi

# Keep one Wine server alive between programs: by default it exits three seconds
# after its last program, and a program that connects while it is going away
# fails with "Connection reset by peer". This starts one that stays for a minute
# after the last program, unless one is running already (then it exits with 2).
/usr/lib/wine/wineserver -p60 2>/dev/null || true

exec "$wine" "$@"
