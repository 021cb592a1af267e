#!/usr/bin/env bash
# Runs kvhost with a script against the add-in and compares its listing with the expected one
# (the lines that name paths left out): the COM add-in, registered for the current user by
# kvhost itself, or the Native API add-in, loaded from its file.
#   kvhost_test.sh WINE_RUN KVHOST com|native DLL SCRIPT EXPECTED
set -u
run=$1 kvhost=$2 shell=$3 dll=$4 script=$5 expected=$6
actual=$(mktemp "${TMPDIR:-/tmp}/kv-kvhost.XXXXXX")
trap 'rm -f "$actual" "$actual.txt"' EXIT
# kvhost with a script (a Unix path) against the shell's add-in; its listing into $actual.
run_kvhost() {
    if [ "$shell" = native ]; then
        "$run" "$kvhost" --native "$dll" "Z:$1" >"$actual"
    else
        "$run" "$kvhost" --register "$dll" --unregister "$dll" "Z:$1" >"$actual"
    fi
}
run_kvhost "$script"
status=$?
if [ "$shell" = native ]; then
    if ! grep -q "^loaded .*: classes \"KelvarinVK\", attach type " "$actual"; then
        echo "kvhost did not load the add-in:"
        cat "$actual"
        exit 1
    fi
elif ! grep -q "^register for the current user: .* -> S_OK$" "$actual" ||
    ! grep -q "^created AddIn.KelvarinVK from the current user's classes: " "$actual" ||
    ! grep -q "^unregister for the current user: .* -> S_OK$" "$actual"; then
    echo "kvhost did not register, create and unregister:"
    cat "$actual"
    exit 1
fi
if ! diff -u "$expected" <(grep -v -e "^register for" -e "^created " -e "^unregister for" \
    -e "^loaded " "$actual"); then
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
    run_kvhost "$actual.txt"
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
