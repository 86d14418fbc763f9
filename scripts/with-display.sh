#!/usr/bin/env bash
# Runs a command with an X display and a running wineserver for the build's prefix, and
# for the tests' 64-bit prefix beside it (PREFIX64) when that has been made.
# Wine's services keep output pipes open, so each server is started detached first.
set -euo pipefail
prefix="$1"; shift
scripts_dir=$(dirname "$0"); source "$scripts_dir/wine-path.sh"
# Wine writes the prefix's kind in its registry.
arch=win32
grep -q '^#arch=win64' "$prefix/system.reg" 2>/dev/null && arch=win64
export WINEPREFIX="$prefix" WINEARCH=$arch WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ -z "${DISPLAY:-}" ] && [ -z "${QUELLOR_IN_XVFB:-}" ]; then
  echo "No X display: using a virtual one (Xvfb)." >&2
  exec env QUELLOR_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$prefix" "$@"
fi
# serve PREFIX ARCH start|stop
serve() {
  if [ "$3" = start ]; then
    WINEPREFIX="$1" WINEARCH="$2" wineserver -p </dev/null >/dev/null 2>&1 || true
    WINEPREFIX="$1" WINEARCH="$2" wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  else
    WINEPREFIX="$1" WINEARCH="$2" wineserver -k </dev/null >/dev/null 2>&1 || true
  fi
}
prefix64=""
if [ "$arch" = win64 ]; then
  # The 64-bit programs' wrapper (cmake/wine64-run.sh) runs them in this one.
  export QUELLOR_WINEPREFIX64="$prefix"
elif [ -f "${prefix}64/system.reg" ]; then
  prefix64="${prefix}64"
  export QUELLOR_WINEPREFIX64="$prefix64"
fi
serve "$prefix" $arch start
[ -z "$prefix64" ] || serve "$prefix64" win64 start
status=0
"$@" || status=$?
[ -z "$prefix64" ] || serve "$prefix64" win64 stop
serve "$prefix" $arch stop
exit $status
