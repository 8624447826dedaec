#!/bin/sh
# Builds the fuzz preset and runs each fuzz target for a bounded time; fails on any finding
# (crash, sanitizer report, leak, broken check, an input that runs over FUZZ_TIMEOUT).
#   FUZZ_SECONDS  seconds per target (default 60)
#   FUZZ_TARGETS  the targets to run (default: all)
#   FUZZ_TIMEOUT  seconds one input may take (default 10)
# The growing corpora stay in build/fuzz/corpus/TARGET; findings go to build/fuzz/findings/.
set -eu
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"container_fuzzer lzw_decoder_fuzzer extract_fuzzer extract_payload_fuzzer"}
timeout=${FUZZ_TIMEOUT:-10}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
build=build/fuzz
mkdir -p "$build/findings"

failed=""
for target in $targets; do
    case $target in
        container_fuzzer|extract_fuzzer) seeds=container; maxlen=4096 ;;
        lzw_decoder_fuzzer) seeds=lzw; maxlen=32768 ;;
        extract_payload_fuzzer) seeds=payload; maxlen=32768 ;;
        *) echo "fuzz: unknown target $target" >&2; exit 64 ;;
    esac
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
