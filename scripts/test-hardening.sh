#!/bin/sh
# The hardening runs, after the native suite: every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, the tests of the threaded parts under ThreadSanitizer, each
# fuzz target for FUZZ_SECONDS (default 60), and memcheck over the end-to-end tests. Fails
# on any finding.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh hardening
start=$(date +%s)
took() { echo "== $1 took $(($(date +%s) - start)) s"; start=$(date +%s); }

echo "== sanitizer suite (preset asan)"
cmake --preset asan >/dev/null
cmake --build --preset asan >/dev/null
ctest --preset asan
took "sanitizer suite"

echo "== thread sanitizer (preset tsan)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan >/dev/null
ctest --preset tsan
took "thread sanitizer"

echo "== fuzzing (preset fuzz, ${FUZZ_SECONDS:-60} s per target)"
scripts/fuzz.sh
took "fuzzing"

echo "== memcheck"
scripts/valgrind.sh
took "memcheck"
