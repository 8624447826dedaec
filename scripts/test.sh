#!/bin/sh
# Runs every test: the native unit and end-to-end tests.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --preset native
