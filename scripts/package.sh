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
# Then writes build/packages/SHA256SUMS. Two runs on one commit give the same bytes
# (scripts/test-reproducible.sh): every date in the packages is SOURCE_DATE_EPOCH, by default
# the commit's time.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh package
# CPack gives the .deb's own members the modes of the files it writes.
umask 022
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) ||
        { echo "package: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

rm -rf build/packages
log=build/package.log
# CPack talks on both outputs: its words are shown only when it fails.
pack() { cpack --preset "$1" >$log 2>&1 || { cat $log >&2; exit 1; }; }

# CPack's .tar.gz and .zip take the builder's owner and permissions and the order in which
# the file system lists a folder: each is made again from what it holds, sorted by name,
# owned by root, permissions u=rwX,go=rX, every time SOURCE_DATE_EPOCH (the .deb has all
# that from CPack already).
repack() {
    archive=$PWD/$1
    stage=$(mktemp -d)
    (
        cd "$stage"
        cmake -E tar xf "$archive"
        chmod -R u=rwX,go=rX .
        find . -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
        rm "$archive"
        case $archive in
            *.tar.gz)
                tar --format=gnu --sort=name --owner=root:0 --group=root:0 \
                    --mtime="@$SOURCE_DATE_EPOCH" -cf - -- * | gzip -9n >"$archive" ;;
            *.zip)
                find . -type f | sed 's|^\./||' | LC_ALL=C sort |
                    TZ=UTC0 zip -X -D -9 -q "$archive" -@ ;;
        esac
    )
    rm -rf "$stage"
}

cmake --preset programs >/dev/null
cmake --build --preset programs >/dev/null
pack linux
repack build/packages/sfx-extractor-*-Linux.tar.gz

cmake --preset windows-programs >/dev/null
cmake --build --preset windows-programs >/dev/null
scripts/check-extractor.sh build/windows-programs/bin/extractor.exe
pack windows
repack build/packages/sfx-extractor-*-win32.zip

rm -rf build/packages/_CPack_Packages
(cd build/packages && sha256sum -- *.deb *.tar.gz *.zip >SHA256SUMS)
ls -l build/packages
