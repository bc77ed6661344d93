#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time from the seeds in fuzz/corpus.
# Usage: scripts/fuzz.sh [SECONDS per target, default 60] [extra libFuzzer flags...]
# New inputs go to build/fuzz/corpus, never into the repository's seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/setup.sh --sanitizers
scripts/build.sh fuzz
# A small quarantine keeps a long run well inside libFuzzer's memory limit.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=16
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in fuzz_module_model fuzz_texts fuzz_reply_path; do
    corpus=build/fuzz/corpus/$target
    mkdir -p "$corpus"
    echo "== $target, $seconds s"
    # Crash reproducers land in build/fuzz/ as crash-*; each one becomes a regression test.
    if ! build/fuzz/fuzz/$target -max_total_time="$seconds" -max_len=256 -print_final_stats=1 \
        -artifact_prefix=build/fuzz/$target- "$@" "$corpus" "fuzz/corpus/$target" \
        2> >(grep -E 'INITED|DONE|stat::number_of_executed_units|ERROR|SUMMARY|==[0-9]+==' >&2); then
        echo "fuzz: $target failed" >&2
        status=1
    fi
done
exit $status
