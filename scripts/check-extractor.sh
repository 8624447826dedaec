#!/bin/sh
# Checks that the extractor is what it must be: a 32-bit (i386) Windows GUI program that
# imports only DLLs that ship with Windows, carries its asInvoker manifest and stays within
# its size budget, and that its version resource gives the project's version. For the
# extractor and unsfx.exe beside it, compares every imported function with the functions
# Windows XP provides (scripts/windows-functions.txt) and prints the oldest Windows version
# each program starts on.
set -eu
exe="${1:-build/windows/bin/extractor.exe}"
unsfx="${2:-$(dirname "$exe")/unsfx.exe}"
budget=65536  # 64 KiB
objdump=i686-w64-mingw32-objdump
functions="$(dirname "$0")/windows-functions.txt"

fail() { echo "check-extractor: $*" >&2; exit 1; }

# The oldest Windows version that runs `program`: the newest version among its imported
# functions, and at least the version its header asks for. Fails on an import the list
# does not know, and on a program that needs more than Windows XP.
minimum_windows() {
    program=$1
    $objdump -p "$program" | awk -v list="$functions" -v program="$program" '
        BEGIN {
            while ((getline line < list) > 0) {
                if (line ~ /^#/ || split(line, f, " ") != 3) continue
                since[f[1] " " f[2]] = f[3]
            }
            need = "5.1"
            names["5.1"] = "Windows XP"; names["6.0"] = "Windows Vista"
            names["6.1"] = "Windows 7"; names["6.2"] = "Windows 8"
            names["6.3"] = "Windows 8.1"; names["10.0"] = "Windows 10"
        }
        function newer(a, b,   x, y) {
            split(a, x, "."); split(b, y, ".")
            return x[1] + 0 > y[1] + 0 || (x[1] + 0 == y[1] + 0 && x[2] + 0 > y[2] + 0)
        }
        /^MajorSubsystemVersion/ { major = $2 }
        /^MinorSubsystemVersion/ {
            if (newer(major "." $2, need)) { need = major "." $2; why = "its header" }
        }
        /DLL Name:/ { dll = tolower($3); next }
        /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {
            key = dll " " $3
            if (!(key in since)) { unknown = unknown " " key; next }
            if (newer(since[key], need)) { need = since[key]; why = key }
        }
        END {
            if (unknown != "") {
                print "check-extractor: " program ": imports not in the list of Windows " \
                      "functions:" unknown > "/dev/stderr"
                exit 1
            }
            name = (need in names) ? names[need] : "Windows " need
            print name " (" need ") and later" (why != "" ? " (for " why ")" : "")
            if (newer(need, "5.1")) exit 2
        }'
}

[ -f "$exe" ] || fail "$exe: missing"
headers="$($objdump -p "$exe")"
echo "$headers" | grep -q "file format pei-i386" || fail "$exe: not a PE32 (i386) executable"
echo "$headers" | grep -Eq "^Subsystem[[:space:]]+00000002" || fail "$exe: not a GUI program"
imports="$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)"
for dll in $imports; do
    case "$dll" in
        kernel32.dll|user32.dll|gdi32.dll|shell32.dll|ole32.dll|comctl32.dll|advapi32.dll|msvcrt.dll) ;;
        *) fail "$exe: imports $dll, which Windows does not ship" ;;
    esac
done
size=$(wc -c <"$exe")
[ "$size" -le "$budget" ] || fail "$exe: $size bytes, over the budget of $budget"
grep -q 'requestedExecutionLevel level="asInvoker"' "$exe" || fail "$exe: no asInvoker manifest"
# The version the build generated beside the program, in the resource's two forms.
version=$(sed -n 's/^#define SFX_VERSION "\(.*\)"$/\1/p' "$(dirname "$exe")/../generated/sfx_version.h")
[ -n "$version" ] || fail "$exe: no generated sfx_version.h beside it"
resources="$(i686-w64-mingw32-windres -i "$exe" -O rc)"
echo "$resources" | grep -q "VALUE \"ProductVersion\", \"$version\"" ||
    fail "$exe: ProductVersion is not $version"
echo "$resources" | grep -q "FILEVERSION $(echo "$version" | sed 's/\./, /g'), 0" ||
    fail "$exe: FILEVERSION is not $version"
echo "check-extractor: $exe: version $version, PE32 GUI, $size bytes (budget $budget), imports:" $imports

for program in "$exe" "$unsfx"; do
    $objdump -p "$program" | grep -q "file format pei-i386" ||
        fail "$program: not a PE32 (i386) executable"
    status=0
    need=$(minimum_windows "$program") || status=$?
    [ "$status" -ne 1 ] || exit 1
    echo "check-extractor: $program: starts on $need"
    [ "$status" -eq 0 ] || fail "$program: needs more than Windows XP"
done
