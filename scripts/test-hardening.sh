#!/bin/sh
# The hardening runs, after the native suite: every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, each fuzz target for FUZZ_SECONDS (default 60), and memcheck
# over the end-to-end tests. Fails on any finding.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-fuzz.sh

echo "== sanitizer suite (preset asan)"
cmake --preset asan >/dev/null
cmake --build --preset asan >/dev/null
ctest --preset asan

echo "== fuzzing (preset fuzz, ${FUZZ_SECONDS:-60} s per target)"
scripts/fuzz.sh

echo "== memcheck"
scripts/valgrind.sh
