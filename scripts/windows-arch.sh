#!/bin/sh
# Prints the Wine architecture the Windows tests run under: win32 where this machine runs
# 32-bit programs (the extractor's own i686 build is tested), win64 where its kernel cannot
# (the same code is tested in its x86_64 build under 64-bit Wine). SFX_WINEARCH=win32|win64
# overrides the choice. With --why, a line saying which and why goes to standard error.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"

why=""
if [ -n "${SFX_WINEARCH:-}" ]; then
    arch="$SFX_WINEARCH"
    why="SFX_WINEARCH=$SFX_WINEARCH"
else
    # The smallest i386 Linux program: exit(0) through int 0x80. It runs where the kernel
    # runs 32-bit programs and fails with "Exec format error" where it does not.
    probe="$root/build/run32-probe"
    mkdir -p "$root/build"
    printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0''\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10''\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\61\333\315\200' >"$probe.$$"
    chmod +x "$probe.$$"
    if "$probe.$$" 2>/dev/null; then
        arch=win32
        why="this machine runs 32-bit programs"
    else
        arch=win64
        why="this machine cannot run 32-bit programs"
    fi
    rm -f "$probe.$$"
fi

case "$arch" in
    win32) mode="32-bit mode: the i686 build is tested under 32-bit Wine" ;;
    win64) mode="64-bit mode: the i686 extractor.exe is built and checked but not run; the x86_64 build is tested under 64-bit Wine" ;;
    *) echo "windows-arch: SFX_WINEARCH must be win32 or win64, not $arch" >&2; exit 2 ;;
esac
[ "${1:-}" = --why ] && echo "windows: $mode ($why)" >&2
echo "$arch"
