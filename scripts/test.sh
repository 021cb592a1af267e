#!/usr/bin/env bash
# Builds every configuration and runs every test: native, native under ASan+UBSan, the
# Windows x86_64 build under wine64, and the shipped Windows i686 build under 32-bit Wine, in a
# 64-bit Windows (WoW64) and in a 32-bit one; the fuzz targets; the release package; and a part
# of the tree as on a machine that cannot run 32-bit programs. Where this machine cannot run
# them (scripts/runs-32bit.sh), the i686 build is still built and its binaries checked, and its
# Windows tests are reported as skipped. The last lines say, per tier, how many tests passed,
# failed and were skipped, and why a tier was skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh

if runs_32bit=$(scripts/runs-32bit.sh --why); then
    echo "=== this machine runs 32-bit programs"
else
    [ $? -eq 1 ] || { echo "test.sh: $runs_32bit" >&2; exit 2; }
    echo "=== this machine cannot run 32-bit programs ($runs_32bit): the i686 build is built" \
        "and its binaries checked, its Windows tests are skipped"
fi

status=0
summary=()
# tally PRESET JUNIT SECONDS: one summary line per tier of a CTest run. The Windows tests are
# named after their Wine prefix: windows.* (a 64-bit Windows) and win32.* (a 32-bit one).
tally() {
    local preset=$1 results=$2 seconds=$3
    [ -f "$results" ] || {
        summary+=("$(printf '%-32s no results (%s s)' "$preset" "$seconds")")
        return
    }
    while IFS= read -r line; do
        summary+=("$line")
    done < <(awk -v preset="$preset" -v seconds="$seconds" '
        function tier_of(name) {
            if (preset !~ /^mingw/) return preset
            if (name ~ /^win32\./) return preset ", 32-bit Windows"
            return preset (preset == "mingw32" ? ", 64-bit Windows (WoW64)" : "")
        }
        /<testcase / {
            match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7)
            match($0, /status="[^"]*"/); state = substr($0, RSTART + 8, RLENGTH - 9)
            tier = tier_of(name)
            if (!(tier in seen)) { seen[tier] = 1; order[++tiers] = tier }
            if (state == "run") passed[tier]++
            else if (state == "disabled") skipped[tier]++
            else if (state != "notrun") failed[tier]++
            next
        }
        # A test that was not run is skipped only when it said so by its exit code; CTest also
        # does not run a test whose program is missing or whose fixture failed: failures.
        state == "notrun" && /<skipped message=/ {
            if (/message="SKIP_RETURN_CODE=/) skipped[tier]++
            else failed[tier]++
        }
        state == "notrun" && /SKIPPED: / && !(tier in reason) {
            reason[tier] = $0; sub(/.*SKIPPED: /, "", reason[tier])
        }
        END {
            for (i = 1; i <= tiers; i++) {
                t = order[i]
                line = sprintf("%-32s %4d passed, %d failed, %d skipped", t, passed[t],
                               failed[t], skipped[t])
                if (skipped[t] > 0) line = line ": " (t in reason ? reason[t] : "no reason given")
                print line "   (" seconds " s for " preset ")"
            }
        }' "$results")
}
# step NAME COMMAND...: a step that is not a CTest run, timed, passed, skipped (exit code 77,
# as CTest's) or failed.
step() {
    local name=$1 start=$SECONDS code=0
    shift
    "$@" || code=$?
    case $code in
        0) summary+=("$(printf '%-32s passed (%s s)' "$name" $((SECONDS - start)))") ;;
        77) summary+=("$(printf '%-32s skipped (%s s)' "$name" $((SECONDS - start)))") ;;
        *)
            summary+=("$(printf '%-32s FAILED (%s s)' "$name" $((SECONDS - start)))")
            status=1
            ;;
    esac
}

for preset in native asan mingw64 mingw32; do
    echo "=== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
for preset in native asan mingw64 mingw32; do
    echo "=== $preset: tests"
    results=$root/build/$preset/test-results.xml
    rm -f "$results"
    start=$SECONDS
    ctest --preset "$preset" --output-junit "$results" || status=1
    tally "$preset" "$results" $((SECONDS - start))
done
echo "=== fuzz: every target over its corpus, then a short run of each"
step fuzz scripts/fuzz-smoke.sh
echo "=== package: built twice from two clones and compared, then unpacked and run"
package() { scripts/package.sh --check && scripts/test-package.sh; }
step package package
echo "=== installers: their tables, then installed, upgraded, repaired and removed under Wine"
step installers scripts/test-installer.sh

# As on a machine that cannot run 32-bit programs, in a Wine prefix of its own: the demo runs
# the x86_64 build, the i686 build's Windows tests are skipped and its binaries checked, the
# package runs with its x64 DLL, and the installers' tables are checked, their installs skipped.
echo "=== as on a machine that cannot run 32-bit programs: the demo, the i686 tests, the package"
without_32bit() {
    local prefix skipped
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/kv-no32.XXXXXX")
    local results=$root/build/mingw32/test-results-no32.xml
    rm -f "$results"
    tests/without-32bit.sh env KV_WINEPREFIX="$prefix" KV_X64_BUILD="$root/build/mingw64" bash -c '
        set -e
        scripts/demo.sh
        ctest --preset mingw32 --output-junit "$1" >"$1.log" || { cat "$1.log"; exit 1; }
        tail -n 3 "$1.log"
        scripts/test-package.sh
        # The installers: their tables checked, their installs skipped (77).
        status=0
        scripts/test-installer.sh || status=$?
        [ $status -eq 77 ]
    ' without-32bit "$results"
    local ran=$?
    WINEPREFIX=$prefix wineserver -k 2>/dev/null
    rm -rf "$prefix"
    [ $ran -eq 0 ] || return 1
    # Every i686 Windows test was skipped for that reason, and the static checks still ran.
    skipped=$(grep -c 'skipped message="SKIP_RETURN_CODE=77"' "$results")
    grep -q 'name="windows.binaries"[^>]*status="run"' "$results" || {
        echo "the i686 binaries were not checked"
        return 1
    }
    [ "$skipped" -gt 0 ] && [ "$(grep -c 'SKIPPED: this machine cannot run 32-bit programs' "$results")" -eq "$skipped" ] || {
        echo "not every skipped i686 test names the reason"
        return 1
    }
}
step "without 32-bit programs" without_32bit

echo "=== summary: per tier, tests passed, failed and skipped"
[ -n "${runs_32bit%yes}" ] && echo "this machine cannot run 32-bit programs: $runs_32bit"
printf '%s\n' "${summary[@]}"
exit $status
