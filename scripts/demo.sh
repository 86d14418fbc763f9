#!/usr/bin/env bash
# Starts Quellor and reports a few closed pop-up windows to it, as the browser helper
# would, so that its tray icon flashes. Run through scripts/with-display.sh (make demo).
set -euo pipefail
build="$1"
wine "$build/Quellor/QUELLOR.EXE" </dev/null >/dev/null 2>&1 &
quellor=$!
echo "Quellor started; its icon is in the tray of Wine's desktop window."
echo "Reporting 5 closed pop-up windows, 3 seconds apart: watch the tray icon flash."
wine "$build/win/tools/popupkill/POPUPKILL.EXE" --wait 20000 --count 5 --interval 3000 \
  --url "http://ads.example.com/demo-popup.html" --source "http://www.example.com/" </dev/null ||
  echo "POPUPKILL.EXE ended with status $?" >&2
if [ -n "${QUELLOR_IN_XVFB:-}" ]; then
  # Nobody can see a virtual display: end here rather than wait for Exit.
  echo "Done (virtual display, so nothing to see: run it with a desktop session)."
  kill "$quellor" 2>/dev/null || true
  exit 0
fi
echo "Done. Open the History Log page from the tray icon to see the kills;"
echo "choose Exit in the tray menu to end the demo."
wait "$quellor" || true
