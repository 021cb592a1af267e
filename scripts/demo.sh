#!/usr/bin/env bash
# The demo, as a pharmacy gets it: builds the shipped 32-bit DLL with the 32-bit kvhost and
# simulator, then, under Wine in a 64-bit Windows (WoW64, as 1C runs there), registers the DLL
# for the current user, creates the add-in through its ProgID, writes and reads properties,
# calls methods and shows the host's error-log entries (tools/kvhost/demo.txt); then the other
# parts of the demo (scripts/demo-*.sh), each given the build tree.
#   scripts/demo.sh [--x64] [--native]
# --x64: the x86_64 build instead (for 64-bit hosts); --native: the same demo against the
# 1C:Enterprise 8 add-in KelvarinVK8.dll, loaded from its file by kvhost --native, unregistered.
# On a machine that cannot run 32-bit programs (scripts/runs-32bit.sh) it runs the x86_64 build
# and says so first.
# KV_BUILD_DIR chooses another build tree than build/mingw32 (or build/mingw64).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
preset=mingw32 what="the 32-bit DLL, kvhost and simulator, run under WoW64"
native=
x64=
for arg in "$@"; do
    case $arg in
        --x64) x64=1 ;;
        --native) native=1 ;;
        *)
            echo "usage: $0 [--x64] [--native]" >&2
            exit 2
            ;;
    esac
done
if [ -n "$x64" ]; then
    preset=mingw64 what="the x86_64 build"
elif why=$(scripts/runs-32bit.sh --why); then
    :
else
    [ $? -eq 1 ] || { echo "demo.sh: $why" >&2; exit 2; }
    echo "=== this machine cannot run 32-bit programs ($why):"
    echo "    the demo runs the x86_64 build instead of the shipped 32-bit one"
    preset=mingw64 what="the x86_64 build, because this machine cannot run the 32-bit one"
fi
scripts/install-deps.sh

build=${KV_BUILD_DIR:-$root/build/$preset}
echo "=== building the $preset preset into $build: $what"
cmake --preset "$preset" -B "$build" >/dev/null
cmake --build "$build" -j2 --target KelvarinVK KelvarinVK8 kvhost kelvarin_sim >/dev/null

run=$root/scripts/wine-run.sh
# demo.txt shows two refused values on purpose: kvhost's exit code 1 says so.
status=0
if [ -n "$native" ]; then
    shell=native
    echo "=== kvhost --native: load KelvarinVK8.dll, run tools/kvhost/demo.txt"
    "$run" "$build/tools/kvhost/kvhost.exe" --native "Z:$build/native/KelvarinVK8.dll" \
        "Z:$root/tools/kvhost/demo.txt" || status=$?
else
    shell=com
    echo "=== kvhost: register for the current user, create AddIn.KelvarinVK, run tools/kvhost/demo.txt"
    "$run" "$build/tools/kvhost/kvhost.exe" --register "Z:$build/host/KelvarinVK.dll" \
        "Z:$root/tools/kvhost/demo.txt" || status=$?
fi
if [ $status -ne 1 ]; then
    echo "kvhost ended with $status; the demo's two refused values make it 1" >&2
    exit 1
fi

for part in scripts/demo-*.sh; do
    [ -x "$part" ] || continue
    echo "=== $part"
    "$part" "$build" "$shell"
done
