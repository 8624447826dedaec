#!/bin/sh
# Installs what is missing (Debian; apt-get as root) for one job:
#   scripts/setup.sh [build | test | package]
#   build    the compilers and CMake: enough for the presets native and programs
#   test     build, plus what the native tests use (GoogleTest, mandoc, groff, man, col,
#            zsh); the default
#   package  build, plus what scripts/package.sh uses (dpkg-dev, the mingw-w64 compilers)
set -eu

build="cmake make g++"
test="$build libgtest-dev mandoc groff-base man-db bsdextrautils zsh"
package="$build dpkg-dev file g++-mingw-w64-i686 binutils-mingw-w64-i686"
case "${1:-test}" in
    build) wanted=$build ;;
    test) wanted=$test ;;
    package) wanted=$package ;;
    *) echo "setup: unknown job '$1' (build, test or package)" >&2; exit 64 ;;
esac

need=""
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in $wanted; do
    have_pkg "$pkg" || need="$need $pkg"
done

if [ -n "$need" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing packages:$need (run as root to install them)" >&2
        exit 1
    fi
    echo "setup: installing$need"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends $need
fi
