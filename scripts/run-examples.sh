#!/usr/bin/env bash
# Runs the example kvhost scripts of an unpacked or installed package with its own kvhost.exe,
# from its folder, each against its own simulator started as the script's header says, and
# requires exit code 0 and every answer that a "# ожидается: X" comment names:
#   scripts/run-examples.sh [--kvhost EXE] [--simulator EXE] [--script SCRIPT]... FOLDER CREATED
#                           [KVHOST_ARG...]
# FOLDER is the package's folder (a Unix path); CREATED is a shell pattern for kvhost's first
# line that says where the add-in came from ("created AddIn.KelvarinVK through COM", "loaded
# Z:*KelvarinVK8_Win32.dll: *", say); KVHOST_ARGs go before the script on kvhost's command line
# (--native DLL, say). --script names a script relative to FOLDER (default: every
# tools/kvhost/examples/*.txt); --kvhost and --simulator name other programs than the
# package's (64-bit ones, say). The programs run in the Wine prefix that KV_WINEPREFIX names
# (scripts/wine-run.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kvhost=./kvhost.exe simulator=./sim-kelvarin.exe examples=()
while [ $# -gt 0 ]; do
    case $1 in
        --kvhost) kvhost=$2; shift 2 ;;
        --simulator) simulator=$2; shift 2 ;;
        --script) examples+=("$2"); shift 2 ;;
        *) break ;;
    esac
done
if [ $# -lt 2 ]; then
    echo "usage: $0 [--kvhost EXE] [--simulator EXE] [--script SCRIPT]... FOLDER CREATED" \
        "[KVHOST_ARG...]" >&2
    exit 2
fi
folder=$1 created_pattern=$2
shift 2
kvhost_args=("$@")
cd "$folder" || exit 2
[ ${#examples[@]} -gt 0 ] || examples=(tools/kvhost/examples/*.txt)
[ -e "${examples[0]}" ] || { echo "FAILED: no example kvhost scripts in $folder"; exit 1; }
run=$root/scripts/wine-run.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-examples.XXXXXX")
sim=
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# The answers of one kvhost listing against the script's expectations.
check_answers() {
    SCRIPT=$1 awk '
        BEGIN { script = ENVIRON["SCRIPT"] }
        function close_statement() {
            if (want != "") { print script ": no answer to " statement; bad++ }
            want = ""
        }
        /^> / {
            close_statement()
            statement = substr($0, 3)
            if (match($0, /# ожидается: /)) {
                want = substr($0, RSTART + RLENGTH)
                sub(/ +$/, "", want)
            }
            next
        }
        want != "" && /^  [^ ]+ = .*   \[(GetPropVal|CallAsFunc)\(/ {
            got = $0
            sub(/^  [^ ]+ = /, "", got)
            sub(/   \[(GetPropVal|CallAsFunc)\([0-9]+\) -> [A-Za-z0-9_]+\]$/, "", got)
            checked++
            if (got != want) {
                print script ": " statement
                print "    kvhost answered: " got
                print "    the script says: " want
                bad++
            }
            want = ""
        }
        END {
            close_statement()
            print script ": " checked + 0 " answers as the script says, " bad + 0 " not"
            exit bad > 0
        }' "$2"
}

for example in "${examples[@]}"; do
    script=${example//\//\\}
    echo "=== $kvhost ${kvhost_args[*]}${kvhost_args[*]:+ }$script"
    # The simulator as the script's header starts it, with a log that says when it is ready.
    if grep -q '^# *sim-kelvarin\.exe' "$example"; then
        sim_line=$(sed -n 's/\r$//; s/^# *sim-kelvarin\.exe\( .*\)\{0,1\}$/\1/p' "$example" | head -1)
        read -ra sim_args <<<"$sim_line"
        echo "    with sim-kelvarin.exe ${sim_args[*]}"
        rm -f "$work/sim.log"
        "$run" "$simulator" "${sim_args[@]}" --log "Z:$work/sim.log" >"$work/sim.out" 2>&1 &
        sim=$!
        for _ in $(seq 150); do
            grep -q '^READY' "$work/sim.log" 2>/dev/null && break
            sleep 0.1
        done
        grep -q '^READY' "$work/sim.log" 2>/dev/null || {
            fail "the simulator did not start for $script"
            cat "$work/sim.out"
        }
    fi
    "$run" "$kvhost" "${kvhost_args[@]}" "$script" >"$work/kvhost.out"
    status=$?
    [ $status -eq 0 ] || fail "$kvhost exit code $status for $script"
    created=$(grep -m1 '^created \|^loaded ' "$work/kvhost.out")
    # The pattern's * matches; its backslashes are Windows paths', not escapes.
    [[ $created == ${created_pattern//\\/\\\\} ]] ||
        fail "$script: the add-in did not come from where it should: $created"
    check_answers "$script" "$work/kvhost.out" || {
        fail "$script: answers differ from the script"
        cat "$work/kvhost.out"
    }
    if [ -n "$sim" ]; then
        kill "$sim" 2>/dev/null
        wait "$sim" 2>/dev/null
        sim=
    fi
done
[ $failures -eq 0 ] || exit 1
