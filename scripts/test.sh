#!/bin/sh
# Runs every test: the native unit and end-to-end tests, then the hardening runs
# (sanitizers, fuzzing, memcheck; see scripts/test-hardening.sh).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --preset native
scripts/test-hardening.sh
