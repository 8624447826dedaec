#!/bin/sh
# Checks that the extractor is what it must be: a 32-bit (i386) Windows GUI program that
# imports only DLLs that ship with Windows and stays within its size budget, and that its
# version resource gives the project's version. For the extractor and unsfx.exe beside it:
# compares every imported function with the functions Windows XP provides
# (scripts/windows-functions.txt) and prints the oldest Windows version each program starts
# on; checks the hardened image (ASLR with its relocations, no execution from data, no SEH
# handlers and none registered by the code, terminal-server aware), the manifest (well-formed,
# asInvoker, the supported Windows versions, the extractor's common controls) and that the
# DLL search is restricted through a run-time lookup, never an import that XP lacks.
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
# The version the build generated beside the program, in the resource's two forms.
version=$(sed -n 's/^#define SFX_VERSION "\(.*\)"$/\1/p' "$(dirname "$exe")/../generated/sfx_version.h")
[ -n "$version" ] || fail "$exe: no generated sfx_version.h beside it"
resources="$(i686-w64-mingw32-windres -i "$exe" -O rc)"
echo "$resources" | grep -q "VALUE \"ProductVersion\", \"$version\"" ||
    fail "$exe: ProductVersion is not $version"
echo "$resources" | grep -q "FILEVERSION $(echo "$version" | sed 's/\./, /g'), 0" ||
    fail "$exe: FILEVERSION is not $version"
echo "check-extractor: $exe: version $version, PE32 GUI, $size bytes (budget $budget), imports:" $imports

# The image flags: DYNAMIC_BASE 0x40 (with a .reloc section, without which Windows loads
# the image at its preferred base), NX_COMPAT 0x100, NO_SEH 0x400, TERMINAL_SERVER_AWARE
# 0x8000. NO_SEH holds only when no code of the program registers a handler through the
# exception list at fs:[0], nor imports the runtime's frame-based handlers.
check_image() {
    program=$1
    flags=$($objdump -p "$program" | sed -n 's/^DllCharacteristics[[:space:]]*//p')
    for flag in 40:DYNAMIC_BASE 100:NX_COMPAT 400:NO_SEH 8000:TERMINAL_SERVER_AWARE; do
        [ $((0x$flags & 0x${flag%%:*})) -ne 0 ] || fail "$program: no ${flag#*:} (0x$flags)"
    done
    $objdump -h "$program" | grep -q ' \.reloc ' || fail "$program: relocations stripped"
    if $objdump -d "$program" | grep -Eq '%fs:(0x0)?,|,%fs:(0x0)?$'; then
        fail "$program: registers a structured exception handler (fs:[0])"
    fi
    if $objdump -p "$program" | grep -Eq '[[:space:]](_except_handler[0-9]*|__C_specific_handler)$'
    then
        fail "$program: imports a structured exception handler"
    fi
}

# The manifest, taken from the program's resources: well-formed XML (a malformed one keeps
# the program from starting), asInvoker, Windows Vista to 10/11 supported and, with "gui",
# the common controls 6 that the system's side-by-side store provides.
check_manifest() {
    python3 - "$1" "$2" <<'PYTHON'
import re, sys, xml.etree.ElementTree as tree
program, kind = sys.argv[1], sys.argv[2]
data = open(program, "rb").read()
found = re.findall(rb"<\?xml.*?</assembly>", data, re.S)
if len(found) != 1:
    sys.exit(f"check-extractor: {program}: {len(found)} manifests, not one")
try:
    root = tree.fromstring(found[0])
except tree.ParseError as error:
    sys.exit(f"check-extractor: {program}: the manifest is no well-formed XML: {error}")
v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
compatibility = "{urn:schemas-microsoft-com:compatibility.v1}"
problems = []
levels = [e.get("level") for e in root.iter(v3 + "requestedExecutionLevel")]
if levels != ["asInvoker"]:
    problems.append(f"execution level {levels}, not asInvoker")
supported = {e.get("Id").lower() for e in root.iter(compatibility + "supportedOS")}
for name, guid in [("Vista", "e2011457-1546-43c5-a5fe-008deee3d3f0"),
                   ("7", "35138b9a-5d96-4fbd-8e2d-a2440225f93a"),
                   ("8", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38"),
                   ("8.1", "1f676c76-80e1-4239-95bb-83d0f6d0da78"),
                   ("10 and 11", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")]:
    if "{" + guid + "}" not in supported:
        problems.append(f"Windows {name} not among the supported versions")
controls = [e.attrib for e in root.iter(v1 + "assemblyIdentity")
            if e.get("name") == "Microsoft.Windows.Common-Controls"]
wanted = {"type": "win32", "version": "6.0.0.0", "publicKeyToken": "6595b64144ccf1df"}
if kind == "gui" and not any(all(c.get(k) == v for k, v in wanted.items()) for c in controls):
    problems.append("no dependency on the common controls 6.0.0.0")
for problem in problems:
    print(f"check-extractor: {program}: manifest: {problem}", file=sys.stderr)
sys.exit(1 if problems else 0)
PYTHON
}

# SetDefaultDllDirectories, missing from XP, is looked up by name (GetProcAddress), never
# imported; SetDllDirectoryW, which XP has, is the fallback.
check_dll_search() {
    program=$1
    imports="$($objdump -p "$program")"
    echo "$imports" | grep -Eq '[[:space:]]SetDefaultDllDirectories$' &&
        fail "$program: imports SetDefaultDllDirectories, which Windows XP lacks"
    for function in GetProcAddress SetDllDirectoryW; do
        echo "$imports" | grep -Eq "[[:space:]]$function\$" || fail "$program: no $function import"
    done
    grep -aq SetDefaultDllDirectories "$program" ||
        fail "$program: does not look up SetDefaultDllDirectories"
}

for program in "$exe" "$unsfx"; do
    $objdump -p "$program" | grep -q "file format pei-i386" ||
        fail "$program: not a PE32 (i386) executable"
    check_image "$program"
    kind=console
    [ "$program" = "$exe" ] && kind=gui
    check_manifest "$program" "$kind" || exit 1
    check_dll_search "$program"
    status=0
    need=$(minimum_windows "$program") || status=$?
    [ "$status" -ne 1 ] || exit 1
    echo "check-extractor: $program: starts on $need; hardened image, $kind manifest, DLLs from the system"
    [ "$status" -eq 0 ] || fail "$program: needs more than Windows XP"
done
