#!/bin/sh
# Runs a Windows program under Wine: in the prefix WINEPREFIX names, else in the project's own
# (build/wine), creating the prefix on first use. With WINEARCH=win64 (the x86_64 build, where
# this machine cannot run 32-bit programs) 64-bit Wine runs it, in build/wine64 by default.
# Used by CTest as the emulator of the Windows builds, by the Windows test and screenshot
# scripts, and by hand:
#   scripts/wine-run.sh Report.exe
# A program with windows needs an X display; without one (DISPLAY unset) the script stops
# with a message rather than let Wine end the program silently.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH="${WINEARCH:-win32}"
if [ "$WINEARCH" = win64 ]; then
    export WINEPREFIX="${WINEPREFIX:-$root/build/wine64}"
    # Debian's wine starts 32-bit Wine whenever it is installed, even where it cannot run.
    wine=/usr/lib/wine/wine64
    export WINELOADER="$wine"
else
    export WINEPREFIX="${WINEPREFIX:-$root/build/wine}"
    wine=wine
fi
# No prompts for the .NET and HTML runtimes, which nothing here needs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# True when the file is a Windows program of the GUI subsystem: its PE header (at the offset
# that bytes 60 to 63 give) has the subsystem 2 at byte 92.
opens_windows() {
    [ -f "$1" ] && [ "$(head -c 2 "$1")" = MZ ] || return 1
    header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    [ -n "$header" ] && [ "$(od -An -tu2 -j$((header + 92)) -N2 "$1" | tr -d ' ')" = 2 ]
}
if [ $# -gt 0 ] && [ -z "${DISPLAY:-}" ] && opens_windows "$1"; then
    echo "wine-run: $1 shows windows, and there is no display (DISPLAY is not set)." >&2
    echo "wine-run: run it in a desktop session, or on a virtual one: xvfb-run -a $0 $*" >&2
    exit 1
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    # One creation at a time when tests start in parallel.
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            "$wine" wineboot --init >/dev/null 2>&1 || true
            wineserver -w
        fi
    ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
