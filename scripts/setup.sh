#!/bin/sh
# Installs what building and testing needs, when it is missing (Debian; apt-get as root).
set -eu

need=""
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake make g++ libgtest-dev; do
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
