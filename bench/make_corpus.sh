#!/bin/sh
# Builds the benchmark corpus from files on this machine: a tar archive of about 24 MiB of
# text (C and C++ headers, documentation, scripts) and 24 MiB of programs and libraries.
# Usage: bench/make_corpus.sh OUT.tar   (does nothing when OUT.tar already exists)
set -eu
out=$1
[ -s "$out" ] && exit 0
mkdir -p "$(dirname "$out")"
list=$out.list
: >"$list"

# Appends regular files from the given roots, in name order, until `budget` bytes are taken.
take() {
    budget=$1
    shift
    find "$@" -type f -size -8M 2>/dev/null | LC_ALL=C sort | while IFS= read -r file; do
        [ -r "$file" ] || continue
        size=$(stat -c %s "$file")
        [ "$budget" -gt 0 ] || break
        printf '%s\n' "$file"
        budget=$((budget - size))
    done >>"$list"
}

mib=1048576
take $((18 * mib)) /usr/include
take $((6 * mib)) /usr/share/perl /usr/share/doc/*/README* /usr/share/doc/*/copyright
take $((12 * mib)) /usr/bin
libs=/usr/lib/$(uname -m)-linux-gnu
[ -d "$libs" ] || libs=/usr/lib
take $((12 * mib)) "$libs"
# Compressed files say nothing about a compressor; leave them out.
grep -v -E '\.(gz|xz|bz2|zst|zip|jar|png|jpg)$' "$list" >"$list.kept" || true
tar --create --file="$out.tmp" --no-recursion --sort=name --mtime=2000-01-01 \
    --owner=0 --group=0 --numeric-owner --files-from="$list.kept" 2>/dev/null || true
rm -f "$list" "$list.kept"
size=$(stat -c %s "$out.tmp")
if [ "$size" -lt $((40 * 1000 * 1000)) ]; then
    echo "make_corpus: only $size bytes of files found; at least 40 MB are needed" >&2
    rm -f "$out.tmp"
    exit 1
fi
mv "$out.tmp" "$out"
