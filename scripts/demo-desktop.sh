#!/usr/bin/env bash
# The desktop link in the demo: starts sim-kelvarin.exe with the sample price list, runs a
# 1C-like session through kvhost against the registered DLL (find a position, send a packet,
# count the order, create an order file, check presence) and prints the transcript with what
# the simulator received and answered.   scripts/demo-desktop.sh BUILD_TREE [com|native]
# (native: the 1C:Enterprise 8 add-in through kvhost --native)
set -uo pipefail
tree=$(cd "$1" && pwd)
if [ "${2:-com}" = native ]; then
    addin=(--native "Z:$tree/native/KelvarinVK8.dll")
else
    addin=(--register "Z:$tree/host/KelvarinVK.dll")
fi
root=$(cd "$(dirname "$0")/.." && pwd)
run=$root/scripts/wine-run.sh
sim_dir=$root/tools/kelvarin-sim
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-demo-desktop.XXXXXX")
log=$work/sim.log

# The simulator runs until the end of this script. Its window comes back into field 2 soon
# after a packet answer; the session's second part starts well after that.
"$run" "$tree/tools/kelvarin-sim/sim-kelvarin.exe" --prices "Z:$sim_dir/sample-prices.txt" \
    --restore-ms 20 --log "Z:$log" >"$work/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 150); do
    grep -q '^READY' "$log" 2>/dev/null && break
    sleep 0.1
done
if ! grep -q '^READY' "$log" 2>/dev/null; then
    echo "the desktop-application simulator did not start:"
    cat "$work/sim.out"
    exit 1
fi
echo "=== desktop-application simulator: $(grep '^READY' "$log")"
status=0
for part in search order; do
    echo "=== kvhost, $part: tools/kelvarin-sim/demo-$part.txt"
    "$run" "$tree/tools/kvhost/kvhost.exe" "${addin[@]}" "Z:$sim_dir/demo-$part.txt" || status=1
done
echo "=== what the simulator received and answered"
cat "$log"
exit $status
