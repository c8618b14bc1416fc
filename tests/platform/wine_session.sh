#!/usr/bin/env bash
# Starts or stops the Wine session the Windows tests share: a prefix of its
# own under the build folder, initialised once, and a wineserver kept alive
# between programs (a cold start costs a second or two, a warm one ~0.1 s).
#   wine_session.sh start|stop   (WINEPREFIX set by the caller)
set -euo pipefail
: "${WINEPREFIX:?}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
case "$1" in
start)
  start=$(date +%s%N)
  mkdir -p "$WINEPREFIX"
  # Detached from our pipes (ctest waits for them to close); a server that
  # already runs for this prefix is fine.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    WINEARCH=win64 wine wineboot -i </dev/null >/dev/null 2>&1
  fi
  # Wine's background services start with the first program of a session
  # and inherit its output; start them here, away from the tests' pipes.
  wine cmd /c exit </dev/null >/dev/null 2>&1
  echo "wine session ready in $((($(date +%s%N) - start) / 1000000)) ms ($WINEPREFIX)"
  ;;
stop)
  wineserver -k || true
  ;;
esac
