#!/bin/sh
# Makes the packages in build/packages, from builds of the programs alone:
#   sfx-extractor_VERSION_ARCH.deb and sfx-extractor-VERSION-Linux.tar.gz (preset programs):
#     unsfx, sfx-pack, their manual pages and completions, the README and the licence;
#   sfx-extractor-VERSION-win32.zip (preset windows-programs, mingw-w64): extractor.exe,
#     unsfx.exe and sfx-pack.exe with the README and the licence.
# Installs what is missing first (as root). The same as, by hand:
#   cmake --preset programs && cmake --build --preset programs && cpack --preset linux
#   cmake --preset windows-programs && cmake --build --preset windows-programs &&
#       cpack --preset windows
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh package

rm -rf build/packages
log=build/package.log
# CPack talks on both outputs: its words are shown only when it fails.
pack() { cpack --preset "$1" >$log 2>&1 || { cat $log >&2; exit 1; }; }

cmake --preset programs >/dev/null
cmake --build --preset programs >/dev/null
pack linux

cmake --preset windows-programs >/dev/null
cmake --build --preset windows-programs >/dev/null
scripts/check-extractor.sh build/windows-programs/bin/extractor.exe
pack windows

rm -rf build/packages/_CPack_Packages
ls -l build/packages
