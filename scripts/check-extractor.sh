#!/bin/sh
# Checks that the extractor is what it must be: a 32-bit (i386) Windows GUI program that
# imports only DLLs that ship with Windows, carries its asInvoker manifest and stays within
# its size budget, and that its version resource gives the project's version.
set -eu
exe="${1:-build/windows/bin/extractor.exe}"
budget=98304  # 96 KiB
objdump=i686-w64-mingw32-objdump

headers="$($objdump -p "$exe")"
fail() { echo "check-extractor: $exe: $*" >&2; exit 1; }

echo "$headers" | grep -q "file format pei-i386" || fail "not a PE32 (i386) executable"
echo "$headers" | grep -Eq "^Subsystem[[:space:]]+00000002" || fail "not a GUI program"
imports="$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)"
for dll in $imports; do
    case "$dll" in
        kernel32.dll|user32.dll|gdi32.dll|shell32.dll|ole32.dll|comctl32.dll|advapi32.dll|msvcrt.dll) ;;
        *) fail "imports $dll, which Windows does not ship" ;;
    esac
done
size=$(wc -c <"$exe")
[ "$size" -le "$budget" ] || fail "$size bytes, over the budget of $budget"
grep -q 'requestedExecutionLevel level="asInvoker"' "$exe" || fail "no asInvoker manifest"
# The version the build generated beside the program, in the resource's two forms.
version=$(sed -n 's/^#define SFX_VERSION "\(.*\)"$/\1/p' "$(dirname "$exe")/../generated/sfx_version.h")
[ -n "$version" ] || fail "no generated sfx_version.h beside it"
resources="$(i686-w64-mingw32-windres -i "$exe" -O rc)"
echo "$resources" | grep -q "VALUE \"ProductVersion\", \"$version\"" ||
    fail "ProductVersion is not $version"
echo "$resources" | grep -q "FILEVERSION $(echo "$version" | sed 's/\./, /g'), 0" ||
    fail "FILEVERSION is not $version"
echo "check-extractor: $exe: version $version, PE32 GUI, $size bytes (budget $budget), imports:" $imports
