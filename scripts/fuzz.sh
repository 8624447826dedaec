#!/bin/sh
# Builds the fuzz preset and runs each fuzz target for a bounded time; fails on any finding
# (crash, sanitizer report, leak, broken check, an input that runs over FUZZ_TIMEOUT).
#   FUZZ_SECONDS  seconds per target (default 60)
#   FUZZ_TARGETS  the targets to run (default: all, as fuzz/targets lists them)
#   FUZZ_TIMEOUT  seconds one input may take (default 10)
# The growing corpora stay in build/fuzz/corpus/TARGET; findings go to build/fuzz/findings/.
set -eu
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-$(awk '/^[a-z]/ { print $1 }' fuzz/targets)}
timeout=${FUZZ_TIMEOUT:-10}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
build=build/fuzz
mkdir -p "$build/findings"

failed=""
for target in $targets; do
    row=$(awk -v t="$target" '$1 == t { print $2, $3 }' fuzz/targets)
    [ -n "$row" ] || { echo "fuzz: unknown target $target" >&2; exit 64; }
    seeds=${row% *} maxlen=${row#* }
    corpus=$build/corpus/$target
    log=$build/findings/$target.log
    mkdir -p "$corpus"
    status=0
    "$build/bin/$target" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 \
        -max_len="$maxlen" -dict=fuzz/container.dict -print_final_stats=1 \
        -artifact_prefix="$build/findings/$target-" \
        "$corpus" "$build/fuzz-seeds/$seeds" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ "$status" -ne 0 ]; then
        echo "fuzz: $target FAILED (exit $status); see $log"
        grep -E 'ERROR|broken promise|SUMMARY|Test unit written' "$log" | head -20 || true
        failed="$failed $target"
    else
        echo "fuzz: $target: ${runs:-?} runs in ${seconds}s, no finding"
    fi
done
if [ -n "$failed" ]; then
    echo "fuzz: findings in:$failed" >&2
    exit 1
fi
