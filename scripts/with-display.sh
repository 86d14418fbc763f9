#!/usr/bin/env bash
# Runs a command with an X display and a running wineserver for the build's prefix.
# Wine's services keep output pipes open, so the server is started detached first.
set -euo pipefail
prefix="$1"; shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ -z "${DISPLAY:-}" ] && [ -z "${QUELLOR_IN_XVFB:-}" ]; then
  echo "No X display: using a virtual one (Xvfb)." >&2
  exec env QUELLOR_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$prefix" "$@"
fi
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
status=0
"$@" || status=$?
wineserver -k </dev/null >/dev/null 2>&1 || true
exit $status
