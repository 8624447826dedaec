# Sourced by the scripts that run the Windows builds under Wine (from the project's root):
# picks the preset and prefix for this machine (scripts/windows-arch.sh), exports Wine's
# settings, stops Wine's server when the script exits, and creates the prefix on first use.
WINEARCH="$(scripts/windows-arch.sh --why)"
if [ "$WINEARCH" = win64 ]; then
    preset=windows64 WINEPREFIX="$PWD/build/wine64"
else
    preset=windows WINEPREFIX="$PWD/build/wine"
fi
export WINEPREFIX WINEDEBUG=-all WINEARCH
# Nothing of Wine's stays behind after the run.
stop_wine() { wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
scripts/wine-run.sh cmd /c exit >/dev/null 2>&1 || true
