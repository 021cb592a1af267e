#!/usr/bin/env bash
# The desktop link's cost over real processes under Wine: FindPosition round trips through the
# registered DLL against a bare program's round trips, and CheckKelvarin against a bare process
# enumeration, against one sim-kelvarin.exe. Builds the mingw64 preset, registers the DLL in
# its prefix and prints the ratios.   scripts/bench-desktop.sh [ROUND_TRIPS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
calls=${1:-20000}
cmake --preset mingw64 >/dev/null
cmake --build --preset mingw64 --target KelvarinVK kelvarin_sim desktop_bench >/dev/null
tree=$PWD/build/mingw64
scripts/wine-run.sh regsvr32 /s "Z:$tree/host/KelvarinVK.dll"
scripts/wine-run.sh "$tree/tests/windows/desktop_bench.exe" bench "Z:$tree/host/KelvarinVK.dll" \
    "Z:$tree/tools/kelvarin-sim/sim-kelvarin.exe" "Z:$PWD/tools/kelvarin-sim/sample-prices.txt" \
    "$calls"
