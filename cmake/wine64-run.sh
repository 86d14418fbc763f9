#!/bin/sh
# Runs a Windows program, 64-bit or 32-bit, under the tests' own 64-bit Wine prefix (see
# scripts/wine-prefix.sh; scripts/with-display.sh names it when it starts its server).
: "${QUELLOR_WINEPREFIX64:=$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix64}"
export WINEPREFIX="$QUELLOR_WINEPREFIX64" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
scripts_dir=$(dirname "$0")/../scripts; . "$scripts_dir/wine-path.sh"
exec wine "$@"
