#!/bin/sh
# Runs every test: the native unit and end-to-end tests, the packages (made, then the .deb
# installed into this system and removed again: needs root), the same bytes from two builds
# of the commit in other folders, the Windows extractor's tests under Wine, then the
# hardening runs (sanitizers, fuzzing, memcheck).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh all
scripts/build.sh
ctest --preset native
scripts/package.sh
scripts/test-packages.sh
scripts/test-reproducible.sh
scripts/test-windows.sh
scripts/test-hardening.sh
