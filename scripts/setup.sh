#!/bin/sh
# Installs what is missing (Debian 12; apt-get as root) for what is named:
#   scripts/setup.sh [SET...]       (default: base)
#   build      the compilers and CMake: enough for the presets native and programs
#   base       build, plus what the native tests use (GoogleTest, man-page tools, zsh, the
#              ACL and extended-attribute tools)
#   package    build, plus what scripts/package.sh and scripts/test-packages.sh use (dpkg-dev,
#              lintian, the mingw-w64 compilers)
#   windows    package, plus Wine, a virtual X server and a Japanese locale for the Windows
#              tests (32-bit Wine, or 64-bit Wine and its compiler: scripts/windows-arch.sh)
#   hardening  clang 14 with its sanitizer and libFuzzer runtimes, and valgrind
#   bench      base, plus Google Benchmark, the peer libraries, ncompress, GNU time, perf
#   all        everything scripts/test.sh needs
# The sets' packages are listed in scripts/packages.
set -eu
cd "$(dirname "$0")/.."

# Prints the packages of one set, following "@set" references.
packages_of() {
    line=$(grep -E "^$1[[:space:]]" scripts/packages) ||
        { echo "setup: unknown set '$1' (see scripts/packages)" >&2; exit 64; }
    for word in ${line#"$1"}; do
        case $word in
            @*) packages_of "${word#@}" ;;
            *) echo "$word" ;;
        esac
    done
    if [ "$1" = windows ]; then packages_of "windows-$(scripts/windows-arch.sh)"; fi
}

wanted=""
for set in "${@:-base}"; do
    wanted="$wanted $(packages_of "$set")" || exit $?
done

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
need=""
for pkg in $(echo "$wanted" | tr ' ' '\n' | sort -u); do
    have_pkg "$pkg" || need="$need $pkg"
done

if [ -n "$need" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing packages:$need (run as root to install them)" >&2
        exit 1
    fi
    echo "setup: installing$need"
    export DEBIAN_FRONTEND=noninteractive
    case "$need" in
        *:i386*) dpkg --print-foreign-architectures | grep -qx i386 ||
                     dpkg --add-architecture i386 ;;
    esac
    apt-get update -q >/dev/null
    apt-get install -y -q --no-install-recommends $need >/dev/null
fi

# The dialog's test under the Japanese code page runs a program of Wine in this locale. The
# sets' packages come one a line, so look for the word "wine" as a whole line.
if printf '%s\n' $wanted | grep -qx wine && ! locale -a 2>/dev/null | grep -Eqi '^ja_JP\.utf-?8$'; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: the locale ja_JP.UTF-8 is missing (run as root to make it)" >&2
        exit 1
    fi
    if [ ! -f /usr/share/i18n/locales/ja_JP ] || [ ! -f /usr/share/i18n/charmaps/UTF-8.gz ]; then
        # The locale sources belong to the package "locales"; a trimmed system may have dropped
        # them. Put them back.
        echo "setup: reinstalling locales for the locale sources"
        apt-get install -y -q --reinstall --no-install-recommends locales >/dev/null
    fi
    echo "setup: making the locale ja_JP.UTF-8"
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 ||
        { echo "setup: could not make the locale ja_JP.UTF-8 (localedef failed)" >&2; exit 1; }
    locale -a 2>/dev/null | grep -Eqi '^ja_JP\.utf-?8$' ||
        { echo "setup: localedef ran but ja_JP.UTF-8 is not in 'locale -a'" >&2; exit 1; }
fi
