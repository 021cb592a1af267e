#!/usr/bin/env bash
# Drives notice_test under Xvfb: waits for each message box the program announces, finds it
# with xdotool, checks its title and closes it with the keyboard, as a user would.
#   notice_test.sh WINE_RUN PROGRAM
# Every wait has a limit, so a box that never comes or never goes fails the test instead of
# hanging it.
set -u
run=$1
program=$2

if [ -z "${KV_NOTICE_DISPLAY:-}" ]; then
    exec env KV_NOTICE_DISPLAY=1 timeout -k 5 110 \
        xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

# Cyrillic breaks xdotool under other locales.
export LC_ALL=C.UTF-8
status_file=$(mktemp "${TMPDIR:-/tmp}/kv-notice.XXXXXX")
output=$(mktemp "${TMPDIR:-/tmp}/kv-notice-out.XXXXXX")
trap 'rm -f "$status_file" "$output"' EXIT
class=$(basename "$program")

KV_WINE_FRESH=1 "$run" "$program" notices "Z:$status_file" >"$output" 2>&1 &
child=$!

# Waits until the status file holds a line, the program has ended, or 40 s have passed.
wait_for() {
    for _ in $(seq 400); do
        grep -qx "$1" "$status_file" && return 0
        kill -0 "$child" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

failed=0
for round in 1 2; do
    if ! wait_for "READY $round"; then
        echo "driver: no message box in round $round"
        failed=1
        break
    fi
    box=
    for id in $(xdotool search --class "$class" 2>/dev/null); do
        name=$(xdotool getwindowname "$id" 2>/dev/null)
        [ "$name" = "Default IME" ] && continue
        # The box is titled with the application's name: the program's own.
        if [ "$name" = "${class%.exe}" ]; then
            box=$id
            break
        fi
    done
    if [ -z "$box" ]; then
        echo "driver: no window of class $class titled ${class%.exe} in round $round"
        failed=1
        break
    fi
    echo "driver: round $round closes window $box"
    xdotool windowfocus --sync "$box" key --clearmodifiers Return
    if ! wait_for "CLOSED $round"; then
        echo "driver: the box of round $round did not close"
        failed=1
        break
    fi
done

wait "$child"
status=$?
cat "$output"
[ $failed -eq 0 ] && [ $status -eq 0 ] && echo "driver: both notices seen and closed"
exit $((failed || status))
