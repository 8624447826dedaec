#!/bin/sh
# Installs what building and testing the Windows extractor needs, when it is missing
# (Debian 12; apt-get as root): the mingw-w64 i686 cross compiler, Wine (32-bit), a virtual
# X server, the tools for the screenshot and a Japanese locale. Where this machine cannot
# run 32-bit programs (scripts/windows-arch.sh), the x86_64 cross compiler and 64-bit Wine
# instead of 32-bit Wine.
set -eu
cd "$(dirname "$0")/.."

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

case "$(scripts/windows-arch.sh)" in
    win32) wine_pkgs="wine wine32:i386" ;;
    win64) wine_pkgs="wine wine64 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64" ;;
esac
need=""
for pkg in g++-mingw-w64-i686 binutils-mingw-w64-i686 $wine_pkgs xvfb xauth \
    x11-apps imagemagick googletest cmake make python3; do
    have_pkg "$pkg" || need="$need $pkg"
done
# The dialog's test under the Japanese code page runs a program of Wine in this locale; the
# test is skipped without it.
if ! locale -a 2>/dev/null | grep -Eqi '^ja_JP\.utf-?8$' && [ "$(id -u)" -eq 0 ] &&
    [ -f /usr/share/i18n/locales/ja_JP ]; then
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 ||
        echo "setup-windows: no ja_JP.UTF-8 locale: the code page 932 test will be skipped" >&2
fi
[ -z "$need" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "setup-windows: missing packages:$need (run as root to install them)" >&2
    exit 1
fi
echo "setup-windows: installing$need"
export DEBIAN_FRONTEND=noninteractive
case "$need" in
    *:i386*)
        case " $(dpkg --print-foreign-architectures | tr '\n' ' ') " in
            *" i386 "*) ;;
            *) dpkg --add-architecture i386 ;;
        esac ;;
esac
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends $need >/dev/null
