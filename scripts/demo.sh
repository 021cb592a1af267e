#!/usr/bin/env bash
# The demo: builds the Windows x86_64 DLL and kvhost, then, under Wine, registers the DLL for
# the current user, creates the add-in through its ProgID, writes and reads properties, calls
# methods and shows the host's error-log entries (tools/kvhost/demo.txt); then the other parts
# of the demo that exist (scripts/demo-*.sh), each given the build tree.
# KV_BUILD_DIR chooses another build tree than build/mingw64.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh

build=${KV_BUILD_DIR:-$root/build/mingw64}
echo "=== building the mingw64 preset into $build"
cmake --preset mingw64 -B "$build" >/dev/null
cmake --build "$build" -j2 --target KelvarinVK kvhost >/dev/null

run=$root/scripts/wine-run.sh
dll="Z:$build/host/KelvarinVK.dll"
echo "=== kvhost: register for the current user, create AddIn.KelvarinVK, run tools/kvhost/demo.txt"
"$run" "$build/tools/kvhost/kvhost.exe" --register "$dll" "Z:$root/tools/kvhost/demo.txt"

for part in scripts/demo-*.sh; do
    [ -x "$part" ] || continue
    echo "=== $part"
    cmake --build "$build" -j2 >/dev/null
    "$part" "$build"
done
