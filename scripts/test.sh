#!/bin/sh
# Runs every test: the native unit and end-to-end tests, the Windows extractor's tests
# under Wine, the packages (made, then the .deb installed and removed again: needs root),
# then the hardening runs (sanitizers, fuzzing, memcheck).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --preset native
scripts/test-windows.sh
scripts/package.sh
scripts/test-packages.sh
scripts/test-hardening.sh
