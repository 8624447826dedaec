#!/bin/sh
# Checks that the same source gives the same bytes: clones the commit twice, into folders at
# different paths, makes the packages in each with scripts/package.sh (one after the other, so
# at different times, and under different umasks), and compares every program and package by
# SHA-256. On a difference it names the file and, where diffoscope is installed, shows where
# the two differ.
#   scripts/test-reproducible.sh                the commit checked out (HEAD)
#   scripts/test-reproducible.sh --uncommitted  HEAD with the changes to tracked files, as a
#                                               commit made for the test (untracked files are
#                                               left out)
# SOURCE_DATE_EPOCH is unset for both builds: each takes the commit's time, as a release does.
set -eu
cd "$(dirname "$0")/.."
fail() { echo "test-reproducible: $*" >&2; exit 1; }

commit=$(git rev-parse --verify HEAD)
case "${1:-}" in
    "") ;;
    --uncommitted)
        commit=$(git stash create) || fail "could not record the uncommitted changes"
        [ -n "$commit" ] || commit=$(git rev-parse --verify HEAD) ;;
    *) fail "unknown argument '$1' (usage: scripts/test-reproducible.sh [--uncommitted])" ;;
esac
scripts/setup.sh package
unset SOURCE_DATE_EPOCH

work=$(mktemp -d "${TMPDIR:-/tmp}/sfx-reproducible.XXXXXX")
# Kept when the builds differ, to look into.
trap 'rm -rf "$work"' EXIT
first=$work/first/sfx-extractor
second=$work/second/a/longer/path/sfx-extractor-$commit

# What is compared: the programs as built, and the packages with their SHA256SUMS.
outputs() {
    cd "$1"
    ls build/programs/bin/unsfx build/programs/bin/sfx-pack \
        build/windows-programs/bin/extractor.exe build/windows-programs/bin/unsfx.exe \
        build/windows-programs/bin/sfx-pack.exe build/packages/*
}

# A clone that borrows this repository's objects (so that it also has a commit made by
# --uncommitted), checked out and built under the umask $2.
build() {
    (
        umask "$2"
        git clone --quiet --shared --no-checkout . "$1"
        git -C "$1" -c advice.detachedHead=false checkout --quiet "$commit"
        cd "$1" && scripts/package.sh >"$1.log" 2>&1
    ) || { cat "$1.log" >&2 2>/dev/null; fail "scripts/package.sh failed in $1"; }
}

started=$(date +%s)
build "$first" 022
build "$second" 002
echo "test-reproducible: built $commit twice in $(($(date +%s) - started)) s"

files=$(outputs "$first")
[ "$files" = "$(outputs "$second")" ] || fail "the two builds made different files"
differ=""
for file in $files; do
    one=$(sha256sum <"$first/$file" | cut -d' ' -f1)
    two=$(sha256sum <"$second/$file" | cut -d' ' -f1)
    if [ "$one" = "$two" ]; then
        echo "test-reproducible: same $one $file"
        continue
    fi
    echo "test-reproducible: DIFFERS $file ($one, $two)" >&2
    differ="$differ $file"
    if command -v diffoscope >/dev/null; then
        diffoscope --max-report-size 200000 "$first/$file" "$second/$file" >&2 || true
    fi
done
if [ -n "$differ" ]; then
    trap - EXIT
    fail "two builds of $commit differ in:$differ (the builds are kept in $work)"
fi
echo "test-reproducible: two builds of $commit in different folders gave the same $(echo $files | wc -w) files"
