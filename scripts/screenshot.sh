#!/bin/sh
# Makes docs/dialog.png: the extraction dialog of the packed sample letter, in Wine's virtual
# desktop on a virtual X display (so that Wine draws the frame and the caption too). Where
# this machine cannot run 32-bit programs, the x86_64 build's dialog under 64-bit Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh windows
[ -x build/native/bin/sfx-pack ] || scripts/build.sh >/dev/null
. scripts/wine-session.sh
cmake --preset $preset >/dev/null
cmake --build --preset $preset --target extractor >/dev/null

work=build/screenshot
rm -rf "$work" && mkdir -p "$work" docs
build/native/bin/sfx-pack --stub build/$preset/bin/extractor.exe --input samples/letter.txt \
    -o "$work/Letter.for.Ali.exe" --password 'open sesame' --compress \
    --riddle 'What Ali Baba said' --description 'A letter for you, sealed with the words that open the cave.'

# Shown from a folder of Wine's drive C:.
mkdir -p "$WINEPREFIX/drive_c/Letters"
cp "$work/Letter.for.Ali.exe" "$WINEPREFIX/drive_c/Letters/"
packed='C:\Letters\Letter.for.Ali.exe'

# The desktop alone is one colour; the dialog is there once the screen has many.
xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" sh -c '
    scripts/wine-run.sh explorer /desktop=shot,640x300 "$1" >/dev/null 2>&1 &
    for i in $(seq 60); do
        sleep 0.5
        colours=$(import -window root -crop 640x300+0+0 png:- | identify -format %k -)
        [ "$colours" -gt 20 ] && break
    done
    sleep 1
    import -window root png:- | convert - -crop 640x300+0+0 +repage -trim +repage \
        -bordercolor "#3a6ea5" -border 12 "$2"
    wineserver -k' sh "$packed" docs/dialog.png
echo "screenshot: docs/dialog.png"
