#!/usr/bin/env bash
# Makes the pictures in docs/ from the real program: a fresh Wine prefix of its own, a copy
# of the staged program folder with the real browser helper registered, a few rules, some
# dozens of pop-ups closed by the helper inside IEHOST.EXE, then SHOTS.EXE opens each page,
# the tray menu, the rule editor and the History Log's menu on an entry, and reads the
# screen. Run through with-display.sh
# (make screenshots) in a fresh prefix: $1 is the build folder, $2 the output folder.
set -euo pipefail
build="$1"; out="$2"
here="$(cd "$(dirname "$0")" && pwd)"
work="$build/screenshots"
rm -rf "$work"; mkdir -p "$work/pictures"
cp -r "$build/Quellor" "$work/Quellor"
rm -f "$work/Quellor/quellor.rul" "$work/Quellor/quellor.log"
shots="$build/win/tools/screenshots/SHOTS.EXE"

cd "$work/Quellor"
wine regsvr32 /s QUELLOR.DLL </dev/null >/dev/null 2>&1 ||
  { echo "Registering QUELLOR.DLL failed" >&2; exit 1; }
wine "$shots" rules quellor.rul </dev/null
wine QUELLOR.EXE </dev/null >/dev/null 2>&1 &
quellor=$!
sleep 4

# A morning's browsing: most pop-ups closed, a few let through by rules, CTRL or the user.
session="$work/session.txt"
{
  for site in www.news.example www.games.example www.shop.example www.food.example; do
    echo "visit http://$site/"
    for page in casino prize survey deal sale bingo; do
      echo "popup http://ads.example.com/$page.html"
    done
    echo "popup http://popups.example.net/win.html"
    echo "popup http://track.example.biz/c.html"
    echo "popup http://$site/join.html"
    echo "wait 1500"
  done
  echo "visit http://www.news.example/"
  echo "popup http://www.news.example/gallery/1.html"
  echo "popup http://www.news.example/weather.html ctrl"
  echo "popup http://www.news.example/story.html user"
  echo "visit http://www.mybank.example/"
  echo "popup http://www.mybank.example/statement.html"
  echo "wait 1000"
} >"$session"
wine "$build/win/tools/iehost/IEHOST.EXE" --script "$(winepath -w "$session")" \
  --out "$(winepath -w "$work/session.out")" </dev/null ||
  { echo "IEHOST.EXE ended with status $?" >&2; exit 1; }
echo "Pop-ups closed by the helper: $(grep -c -- '-> killed' "$work/session.out")"

wine "$shots" capture "$(winepath -w "$work/pictures")" </dev/null
kill "$quellor" 2>/dev/null || true

mkdir -p "$out"
for picture in "$work"/pictures/*.ppm; do
  name="$(basename "$picture" .ppm)"
  python3 "$here/../tools/screenshots/topng.py" "$picture" "$out/$name.png"
  echo "Wrote $out/$name.png"
done
