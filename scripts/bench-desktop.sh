#!/usr/bin/env bash
# The desktop link's cost over real processes under Wine, for the 32-bit and the 64-bit build:
# FindPosition round trips through the registered DLL against a bare program's round trips
# (and the same bare program taking the turn mutex, which shows what the mutex itself costs
# here), FindPosition with the request trace on against the same with it off (the cost per
# request of the trace), CheckKelvarin against a bare process enumeration, and what two copies
# of the component at once get through against one. Builds both presets (only mingw64 where this
# machine cannot run 32-bit programs), registers each DLL in its build tree's prefix and prints
# the figures.   scripts/bench-desktop.sh [ROUND_TRIPS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh
calls=${1:-20000}
run=$root/scripts/wine-run.sh
prices="Z:$root/tools/kelvarin-sim/sample-prices.txt"
presets=(mingw32 mingw64)
if ! why=$(scripts/runs-32bit.sh --why); then
    echo "=== mingw32 left out: this machine cannot run 32-bit programs ($why)"
    presets=(mingw64)
fi
for preset in "${presets[@]}"; do
    tree=$root/build/$preset
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target KelvarinVK kelvarin_sim desktop_bench copies_test \
        >/dev/null
    echo "=== $preset"
    (cd "$tree" && "$run" regsvr32 /s "Z:$tree/host/KelvarinVK.dll")
    sim="Z:$tree/tools/kelvarin-sim/sim-kelvarin.exe"
    "$run" "$tree/tests/windows/desktop_bench.exe" bench "Z:$tree/host/KelvarinVK.dll" "$sim" \
        "$prices" "$calls" | grep -v '^ok \|^KV-TEST'
    "$run" "$tree/tests/windows/copies_test.exe" throughput "Z:$tree/host/KelvarinVK.dll" \
        "$sim" "$prices" $((calls / 4)) | grep -E 'throughput|FAILED|CHECK|=='
done
