#!/usr/bin/env bash
# Long fuzzing campaigns, one target after the other, at the lowest priority and with one
# fuzzer process at a time, so that the machine stays usable (and timing tests stay true).
#
#   scripts/fuzz-campaign.sh [--runs N | --time SECONDS] [--max-len BYTES] [--into DIR]
#                            [TARGET...]
#
# Each target (all of them when none is named: the directories of tests/fuzz/corpus) starts
# from its committed seeds and grows its corpus in build/fuzz/campaign/<target>/corpus, which
# later campaigns go on from. --runs stops after N executions (10,000,000 by default), --time
# after that many seconds. --max-len bounds the inputs (4096 bytes otherwise), for targets
# whose checks cost more than linear time in the input. --into DIR merges what the campaign
# found into DIR/<target>, only the inputs that add coverage to what DIR/<target> already
# holds: --into tests/fuzz/corpus feeds the committed corpora, any other directory keeps them
# apart. Findings are kept in build/fuzz/campaign/<target>/findings. A table of executions,
# time and findings per target is appended to build/fuzz/campaign/summary.txt. Fails when any
# target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

runs=10000000
seconds=""
max_len=()
into=""
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; seconds=""; shift 2 ;;
        --time) seconds=$2; runs=""; shift 2 ;;
        --max-len) max_len=(-max_len="$2"); shift 2 ;;
        --into) into=$2; shift 2 ;;
        -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
        -*) echo "fuzz-campaign.sh: unknown option $1" >&2; exit 2 ;;
        *) targets+=("$1"); shift ;;
    esac
done
if [ ${#targets[@]} -eq 0 ]; then
    for corpus in tests/fuzz/corpus/*/; do targets+=("$(basename "$corpus")"); done
fi

nice -n 19 cmake --preset fuzz >/dev/null
nice -n 19 cmake --build --preset fuzz

bin=$root/build/fuzz/tests/fuzz
campaign=$root/build/fuzz/campaign
mkdir -p "$campaign"
summary=$campaign/summary.txt
[ -f "$summary" ] || printf '%-20s %12s %9s  %s\n' target executions seconds findings >"$summary"

status=0
for target in "${targets[@]}"; do
    [ -x "$bin/$target" ] || { echo "no fuzz target $target" >&2; exit 2; }
    dir=$campaign/$target
    mkdir -p "$dir/corpus" "$dir/findings"
    limit=(-runs="$runs")
    [ -n "$seconds" ] && limit=(-max_total_time="$seconds")
    echo "=== $target: ${runs:+$runs executions}${seconds:+$seconds seconds} ${max_len[*]}"
    start=$(date +%s)
    # -jobs=1 runs the fuzzer in one child process that logs to fuzz-0.log in the current
    # directory; an input that hangs for 10 s or needs 2 GB is a finding too.
    set +e
    (cd "$dir" && rm -f fuzz-0.log &&
        nice -n 19 "$bin/$target" -jobs=1 -workers=1 "${limit[@]}" "${max_len[@]}" -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/findings/" \
            "$dir/corpus" "$root/tests/fuzz/corpus/$target" >"$dir/run.log" 2>&1)
    code=$?
    set -e
    elapsed=$(($(date +%s) - start))
    log=$dir/fuzz-0.log
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    found=$(find "$dir/findings" -type f -newermt "@$start" | wc -l)
    [ "$code" -ne 0 ] && [ "$found" -eq 0 ] && found="exit $code"
    printf '%-20s %12s %9s  %s\n' "$target" "${executions:-?}" "$elapsed" "$found" |
        tee -a "$summary"
    if [ "$found" != 0 ]; then
        status=1
        grep -m1 -E 'FUZZ CHECK FAILED|ERROR:|runtime error' "$log" || true
    fi
    if [ -n "$into" ]; then
        mkdir -p "$into/$target"
        nice -n 19 "$bin/$target" -merge=1 "$into/$target" "$dir/corpus" >"$dir/merge.log" 2>&1
        echo "    merged into $into/$target: $(ls "$into/$target" | wc -l) inputs"
    fi
done
exit $status
