#!/bin/sh
# Installs what the benchmarks need, when it is missing (Debian; apt-get as root): Google
# Benchmark, the peer cipher libraries, compress/uncompress, GNU time and perf.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh

need=""
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake make g++ pkg-config libbenchmark-dev libssl-dev libgcrypt20-dev \
        libbotan-2-dev ncompress time linux-perf; do
    have_pkg "$pkg" || need="$need $pkg"
done

if [ -n "$need" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup-bench: missing packages:$need (run as root to install them)" >&2
        exit 1
    fi
    echo "setup-bench: installing$need"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends $need
fi
