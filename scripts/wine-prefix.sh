#!/usr/bin/env bash
# Creates one of the build's own Wine prefixes once: virtual desktop (so hidden windows
# do not wait for a window manager and the tray shows), no audio device, no Mono/Gecko.
# The second argument is its kind: win32 (the default) or win64, which runs 64-bit and
# 32-bit programs and keeps a 64-bit and a 32-bit view of the registry.
set -euo pipefail
prefix="$1"
arch="${2:-win32}"
export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The marker names the prefix's make-up: a prefix made before a change (the fonts, say)
# is made anew.
ready="$prefix/.quellor-ready-2"
[ -f "$ready" ] && exit 0
scripts_dir=$(dirname "$0"); source "$scripts_dir/wine-path.sh"
# Wine runs 32-bit programs through a 32-bit Linux loader: say so plainly where there is none.
if [ "$arch" = win32 ] && [ -n "${QUELLOR_NO_32BIT:-}" ]; then
  echo "This machine cannot run 32-bit Linux programs, which Wine needs for 32-bit Windows" >&2
  echo "programs such as QUELLOR.EXE: the Wine prefix cannot be made here." >&2
  exit 1
fi
rm -rf "$prefix"
echo "Creating Wine prefix $prefix ($arch) ..."
wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
# Debian's Wine does not look in its own font folder: without these, "MS Sans Serif" and
# the caption buttons' "Marlett" fall back to other fonts, texts are cut and the buttons
# show letters.
cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "" /f >/dev/null 2>&1
wineserver -w
touch "$ready"
