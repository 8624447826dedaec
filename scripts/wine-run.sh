#!/bin/sh
# Runs a Windows program under Wine in the project's own prefix (build/wine unless
# SFX_WINEPREFIX names another), creating the prefix on first use. Used by CTest as the
# emulator of the Windows build and by the Windows test and screenshot scripts.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${SFX_WINEPREFIX:-$root/build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win32
# No prompts for the .NET and HTML runtimes, which nothing here needs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    # One creation at a time when tests start in parallel.
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            wineboot --init >/dev/null 2>&1 || true
            wineserver -w
        fi
    ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
