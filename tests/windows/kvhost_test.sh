#!/usr/bin/env bash
# Runs kvhost with a script against the DLL, registered for the current user by kvhost itself,
# and compares its listing with the expected one (the lines that name paths left out).
#   kvhost_test.sh WINE_RUN KVHOST DLL SCRIPT EXPECTED
set -u
run=$1 kvhost=$2 dll=$3 script=$4 expected=$5
actual=$(mktemp "${TMPDIR:-/tmp}/kv-kvhost.XXXXXX")
trap 'rm -f "$actual" "$actual.txt"' EXIT
"$run" "$kvhost" --register "$dll" --unregister "$dll" "Z:$script" >"$actual"
status=$?
if ! grep -q "^register for the current user: .* -> S_OK$" "$actual" ||
    ! grep -q "^created AddIn.KelvarinVK from the current user's classes: " "$actual" ||
    ! grep -q "^unregister for the current user: .* -> S_OK$" "$actual"; then
    echo "kvhost did not register, create and unregister:"
    cat "$actual"
    exit 1
fi
if ! diff -u "$expected" <(grep -v -e "^register for" -e "^created " -e "^unregister for" "$actual"); then
    exit 1
fi
# The unknown names and the script error make the exit code 1.
if [ "$status" -ne 1 ]; then
    echo "exit code $status, expected 1"
    exit 1
fi
# Each of these alone: a refused write, a call that logs an error, an unknown name; and a
# script that runs cleanly.
while IFS='|' read -r want statements; do
    printf '%b\n' "$statements" >"$actual.txt"
    "$run" "$kvhost" --register "$dll" --unregister "$dll" "Z:$actual.txt" >"$actual"
    status=$?
    if [ "$status" -ne "$want" ]; then
        echo "exit code $status for \"$statements\", expected $want:"
        cat "$actual"
        exit 1
    fi
done <<'CASES'
1|Timeout\nAmount = "abc"\nTimeout
1|AddPositionInPacket(null)
1|Timeout = 5\nNoSuchProperty
0|Timeout = 5\nTimeout\nClearPacket()\nAmount = "7"
CASES
echo "KV-TEST-PASSED kvhost"
