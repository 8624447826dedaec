#!/bin/sh
# Builds the Windows extractor and its tests (mingw-w64 i686) and runs them under Wine: the
# engine's unit tests, the start-up logic's tests and the end-to-end tests of the dialog on a
# virtual X display; then checks the executable itself. Where this machine cannot run 32-bit
# programs (scripts/windows-arch.sh), the i686 extractor is built and checked but not run, and
# the same tests run on the x86_64 build under 64-bit Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh windows
# The host's sfx-pack packs one of the end-to-end tests' files.
[ -x build/native/bin/sfx-pack ] || scripts/build.sh >/dev/null

. scripts/wine-session.sh

cmake --preset windows >/dev/null
if [ "$preset" = windows ]; then
    cmake --build --preset windows
else
    cmake --build --preset windows --target extractor unsfx
    cmake --preset windows64 >/dev/null
    cmake --build --preset windows64
fi
scripts/check-extractor.sh build/windows/bin/extractor.exe
# On the virtual display, Wine's server and desktop are started first and kept up for the
# whole run by an idle program; then the tests run.
rm -f "build/$preset/wine-ready"
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" sh -c '
    scripts/wine-run.sh "build/$1/bin/extractor_driver.exe" --idle "build/$1/wine-ready" \
        </dev/null >/dev/null 2>&1 &
    for i in $(seq 120); do [ -f "build/$1/wine-ready" ] && break; sleep 0.5; done
    status=0
    ctest --preset "$1" || status=$?
    wineserver -k
    exit $status' sh "$preset"
