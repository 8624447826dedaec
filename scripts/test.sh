#!/bin/sh
# Runs every test: the native unit and end-to-end tests, then the Windows extractor's tests
# under Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --preset native
scripts/test-windows.sh
