#!/bin/sh
# Installs what the hardening runs need, when it is missing (Debian; apt-get as root):
# clang 14 with its sanitizer and libFuzzer runtimes, and valgrind.
set -eu

need=""
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in clang-14 libclang-rt-14-dev llvm-14 valgrind; do
    have_pkg "$pkg" || need="$need $pkg"
done

if [ -n "$need" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup-fuzz: missing packages:$need (run as root to install them)" >&2
        exit 1
    fi
    echo "setup-fuzz: installing$need"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends $need
fi
