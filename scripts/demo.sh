#!/bin/sh
# The main job on the bundled sample: pack a letter into a self-extracting file with a
# password, then extract it again with unsfx and compare.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
bin=build/native/bin
work=build/demo
rm -rf "$work" && mkdir -p "$work"

# Any file serves as the stub here; the Windows build uses extractor.exe.
printf 'MZ demo stub\n' >"$work/stub"
echo "== packing samples/letter.txt (compressed, password 'open sesame')"
$bin/sfx-pack --stub "$work/stub" --input samples/letter.txt -o "$work/letter.exe" \
    --password 'open sesame' --compress --riddle 'What Ali Baba said' \
    --description 'A letter for you'
ls -l "$work/letter.exe"

echo "== extracting with a wrong password (refused, nothing written)"
status=0
$bin/unsfx extract "$work/letter.exe" -o "$work/letter.txt" -p 'open barley' || status=$?
echo "exit status $status"

echo "== extracting with the right password"
$bin/unsfx extract "$work/letter.exe" -o "$work/letter.txt" -p 'open sesame'
cmp samples/letter.txt "$work/letter.txt"
echo "== $work/letter.txt matches samples/letter.txt byte for byte:"
cat "$work/letter.txt"
