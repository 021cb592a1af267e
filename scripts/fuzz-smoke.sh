#!/usr/bin/env bash
# The fuzz step of the test command: builds the fuzz targets (preset fuzz), runs every target
# over its seed corpus, then fuzzes each for a few seconds. Any crash, sanitizer report, broken
# check, hang or leak fails the step; the input that caused it is kept in
# build/fuzz/findings/<target>/ and named on the way out.
#   KV_FUZZ_SECONDS   seconds of fuzzing per target (8)
#   KV_FUZZ_PARALLEL  targets fuzzed at once (2)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${KV_FUZZ_SECONDS:-8}
parallel=${KV_FUZZ_PARALLEL:-2}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

bin=build/fuzz/tests/fuzz
work=build/fuzz/smoke
rm -rf "$work"
mkdir -p "$work" build/fuzz/findings
targets=()
for corpus in tests/fuzz/corpus/*/; do targets+=("$(basename "$corpus")"); done

# One target: its corpus once, then fresh inputs for $seconds into a scratch directory (the
# committed corpus is only read). Prints one line of outcome.
run() {
    local target=$1 log="$work/$1.log" findings="build/fuzz/findings/$1/"
    mkdir -p "$work/$target" "$findings"
    local options=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$findings")
    if ! "$bin/$target" "${options[@]}" -runs=0 "tests/fuzz/corpus/$target" >"$log" 2>&1 ||
        ! "$bin/$target" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
            "$work/$target" "tests/fuzz/corpus/$target" >>"$log" 2>&1; then
        echo "FAILED $target: $(grep -m1 -E 'FUZZ CHECK FAILED|ERROR:|runtime error' "$log" || true)"
        grep -E '^(artifact_prefix|Test unit written to)' "$log" | sed 's/^/    /' || true
        echo "    log: $log"
        return 1
    fi
    echo "ok $target: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") runs"
}

status=0
pids=()
for target in "${targets[@]}"; do
    run "$target" &
    pids+=($!)
    if [ ${#pids[@]} -ge "$parallel" ]; then
        wait "${pids[0]}" || status=1
        pids=("${pids[@]:1}")
    fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
