#!/usr/bin/env bash
# Starts Quellor, registers the real browser helper of the staged program folder and plays
# a short browsing session through the stand-in browser IEHOST.EXE, so that pop-up windows
# are really closed: the tray icon flashes for each. Run through scripts/with-display.sh
# (make demo).
set -euo pipefail
build="$1"
here="$(cd "$(dirname "$0")" && pwd)"
cd "$build/Quellor"
wine QUELLOR.EXE </dev/null >/dev/null 2>&1 &
quellor=$!
wine regsvr32 /s QUELLOR.DLL </dev/null >/dev/null 2>&1 ||
  { echo "Registering QUELLOR.DLL failed" >&2; exit 1; }
echo "Quellor started; its icon is in the tray of Wine's desktop window."
sleep 3
echo "Browsing through IEHOST.EXE with the real browser helper (lines show its decisions):"
wine "$build/win/tools/iehost/IEHOST.EXE" --script "$(winepath -w "$here/demo-session.txt")" </dev/null ||
  echo "IEHOST.EXE ended with status $?" >&2
if [ -n "${QUELLOR_IN_XVFB:-}" ]; then
  # Nobody can see a virtual display: end here rather than wait for Exit.
  echo "Done (virtual display, so nothing to see: run it with a desktop session)."
  kill "$quellor" 2>/dev/null || true
  exit 0
fi
echo "Done. Open the History Log page from the tray icon to see the closed pop-ups;"
echo "choose Exit in the tray menu to end the demo."
wait "$quellor" || true
