#!/usr/bin/env bash
# Plays the user of the name-matching dialog under Xvfb: creates a registry database, runs
# select_dialog_gui under Wine with the Firebird test bridge, waits for the states it announces
# and types, clicks and closes with xdotool. Screenshots stay in ARTEFACTS.
#   select_dialog_test.sh WINE_RUN PROGRAM BRIDGE_BUILD_DIR ARTEFACTS
# Every wait has a limit, so a dialog that never comes or never closes fails the test.
set -u
run=$1 program=$2 bridge=$3 artefacts=$4

if [ -z "${KV_DIALOG_DISPLAY:-}" ]; then
    exec env KV_DIALOG_DISPLAY=1 timeout -k 5 280 \
        xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

# Cyrillic breaks xdotool under other locales.
export LC_ALL=C.UTF-8
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-dialog.XXXXXX")
child=
cleanup() {
    [ -n "$child" ] && kill "$child" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$artefacts"
status=$work/status
queries=$work/queries
touch "$status" "$queries"
# Firebird's locks and the tables it shares between processes, for this run alone: its default
# directory, /tmp/firebird, is the whole machine's.
export FIREBIRD_LOCK=$work/firebird-lock
mkdir -p "$FIREBIRD_LOCK"

# Thirty vitamins make the full list longer than the dialog shows: a vertical scrollbar, and
# the columns must still fit beside it.
{
    cat <<'ROWS'
(101, 1, 1, 'Аспирин', 'табл. 500мг', 'Байер')
(102, 1, 1, 'Аспирин Кардио', 'табл. 100мг', 'Байер')
(103, 1, 1, 'Анальгин', 'табл. 500мг', 'Фармстандарт')
(104, 1, 1, 'Парацетамол', 'табл. 200мг', 'Фармстандарт')
(105, 1, 1, 'Д''Ивуар', 'капли', 'Галантерея')
(106, 1, 1, 'Nurofen', 'tabs 200mg', 'Reckitt')
(107, 1, 1, 'Ибупрофен', 'гель 5%', 'Хемофарм')
(201, 0, 1, 'Аспирин', 'исключён', 'Нет')
ROWS
    for i in $(seq 30); do echo "($((300 + i)), 1, 1, 'Витамин C', 'драже $i', 'Витамины')"; done
} | "$(dirname "$0")/create_registry.sh" "$work/registry.fdb" || exit 1

# Wine draws the dialog's own caption with its close box: there is no window manager here.
"$run" reg add 'HKCU\Software\Wine\AppDefaults\select_dialog_gui.exe\X11 Driver' \
    /v Managed /d N /f >/dev/null 2>&1

# The program gets a Wine session of its own (KV_WINE_FRESH): one that a program without a
# display or with another display started, and that some process keeps alive, cannot show our
# windows or take our keys.
export WINEDLLPATH=$bridge/bridge KV_BRIDGE_LOG=$queries KV_BRIDGE_FAIL=$work/fail
KV_WINE_FRESH=1 "$run" "$program" dialog "Z:$status" "Z:$work/registry.fdb" \
    "Z:$bridge/gds32.dll" >"$work/output" 2>&1 &
child=$!

# The first failure ends the test: the rounds build on one another, and the reason is clearest
# at once. It says what the program and the display showed at that moment.
fail() {
    echo "driver: $*"
    if kill -0 "$child" 2>/dev/null; then
        echo "driver: the program still runs; its windows on this display:" \
            "$(xdotool search --class "$(basename "$program")" 2>/dev/null | wc -l)"
        kill "$child" 2>/dev/null
    else
        echo "driver: the program has ended"
    fi
    wait "$child" 2>/dev/null
    child=
    echo "driver: status file:"
    cat "$status"
    echo "driver: program output:"
    cat "$work/output"
    exit 1
}

# Waits until a line of the status file matches the extended regular expression, the program
# has ended, or $2 seconds (default 20) have passed; expect waits 10 s by default.
wait_for() {
    local limit=$(((${2:-20}) * 10))
    for _ in $(seq "$limit"); do
        grep -qE "$1" "$status" && return 0
        kill -0 "$child" 2>/dev/null || { grep -qE "$1" "$status"; return; }
        sleep 0.1
    done
    return 1
}
expect() { wait_for "$1" "${2:-10}" || fail "no state matching: $1"; }
# The end of round $1: first the dialog goes, which answers the user's last action, then the
# call returns with the values that $2 matches. Each is a state of its own, so that a failure
# tells a click that was not answered from a call that did not return.
expect_end() {
    expect "^CLOSED round=$1\$"
    expect "^RESULT round=$1 $2"
}

# Coordinates from the round's GEOMETRY line: "point NAME" gives "x y".
geometry=
point() { echo "$geometry" | sed -n "s/.* $1=\([0-9]*\),\([0-9]*\).*/\1 \2/p"; }
click() { xdotool mousemove $(point "$1") click 1; }
queries() { wc -l <"$queries"; }

# A round starts when its dialog is up, on this display, and the list shows every row it
# found.
start_round() {
    local round=$1 settled=$2
    wait_for "^GEOMETRY round=$round " 30 || fail "round $round: no dialog"
    geometry=$(grep "^GEOMETRY round=$round " "$status" | tail -1)
    for _ in $(seq 50); do
        xdotool search --onlyvisible --class "$(basename "$program")" >/dev/null 2>&1 && break
        sleep 0.1
    done
    xdotool search --onlyvisible --class "$(basename "$program")" >/dev/null 2>&1 ||
        fail "round $round: the dialog is up but not on this display"
    expect "^STATE round=$round .*$settled"
}

# Types text into the focused window as keyboard input of Unicode characters, through the
# program's "type" mode: xdotool types a letter that the X keyboard map lacks by remapping a
# spare key for that keystroke, and a Wine session that misses the new map never gets Cyrillic
# at all. $2: milliseconds between characters.
type_unicode() {
    local text=$1 codes="" i
    for ((i = 0; i < ${#text}; i++)); do codes=$codes$(printf '%04X,' "'${text:i:1}"); done
    "$run" "$program" type "${codes%,}" "${2:-0}" >/dev/null 2>&1 ||
        fail "could not type \"$text\""
}

# Types into the dialog one character at a time until the filter box of round $1 shows $2
# followed by $3, each character checked as it arrives.
type_checked() {
    local round=$1 shown=$2 rest=$3 c
    while [ -n "$rest" ]; do
        c=${rest:0:1}
        rest=${rest:1}
        shown=$shown$c
        type_unicode "$c"
        wait_for "^STATE round=$round filter=\[$shown\] " 5 ||
            fail "round $round: \"$c\" never reached the filter box" \
                "(it shows: $(grep "^STATE round=$round " "$status" | tail -1))"
    done
}

# A screenshot of the dialog, kept, and checked to be more than one colour.
screenshot() {
    local file=$artefacts/$1 crop
    crop=$(echo "$geometry" | sed -n 's/.* window=\([0-9x+]*\).*/\1/p')
    /usr/bin/import -window root -crop "$crop" +repage "$file" 2>/dev/null || fail "no screenshot $1"
    local colours
    colours=$(/usr/bin/convert "$file" -format '%k' info: 2>/dev/null || echo 0)
    [ "${colours:-0}" -ge 16 ] || fail "screenshot $1 is blank ($colours colours)"
    echo "driver: screenshot $file, $colours colours"
}

all_rows='rows=37 .*first=\[Nurofen tabs 200mg\] .*last=\[Парацетамол табл. 200мг\]'

# Round 1: the filter typed in Cyrillic; a double click confirms the row.
if start_round 1 'rows=2 .*first=\[Аспирин Кардио табл. 100мг\] .*last=\[Аспирин табл. 500мг\]'; then
    screenshot select_dialog.png
    click filter
    xdotool key End
    type_checked 1 "Аспирин" " кардио 100"
    expect '^STATE round=1 filter=\[Аспирин кардио 100\] rows=1 .*code=102'
    xdotool mousemove $(point row0) click --repeat 2 --delay 80 1
    expect_end 1 'value=102 TradeName=\[102\] Producer=\[102\] errors=\[\]'
fi

# Round 2: ten keystrokes 100 ms apart into the list, one query after the pause: a capital
# Cyrillic letter and punctuation are dropped, Latin capitals kept; Enter confirms.
if start_round 2 "$all_rows"; then
    screenshot select_dialog_all_rows.png
    click row0
    before=$(queries)
    type_unicode 'Ж!NuRoFeN?' 100
    expect '^STATE round=2 filter=\[NuRoFeN\] rows=1 .*first=\[Nurofen tabs 200mg\]'
    [ "$(queries)" -eq $((before + 1)) ] || fail "round 2: $(($(queries) - before)) queries for one burst"
    xdotool key Return
    expect_end 2 'value=106 TradeName=\[106\] Producer=\[106\]'
fi

# Round 3: Enter in the filter refreshes at once and only once; Esc in the list empties the
# filter and lists every row after the pause; the cancel button stores nothing.
if start_round 3 'rows=2 .*last=\[Аспирин табл. 500мг\]'; then
    click filter
    xdotool key End
    type_checked 3 "Аспирин" " к"
    before=$(queries)
    xdotool key Return
    expect '^STATE round=3 filter=\[Аспирин к\] rows=1 ' 2
    sleep 1
    [ "$(queries)" -eq $((before + 1)) ] || fail "round 3: $(($(queries) - before)) queries after Enter"
    click row0
    xdotool key Escape
    expect '^STATE round=3 filter=\[\] rows=1 '
    expect "^STATE round=3 filter=\[\] $all_rows"
    click close
    expect_end 3 'value=0 TradeName=\[kept\] Producer=\[kept too\]'
fi

# Round 4: the close box.
if start_round 4 'rows=2 .*last=\[Аспирин табл. 500мг\]'; then
    click closebox
    expect_end 4 'value=0 TradeName=\[kept\]'
fi

# Round 5: Alt+F4.
if start_round 5 'rows=2 .*last=\[Аспирин табл. 500мг\]'; then
    click row1
    xdotool key alt+F4
    expect_end 5 'value=0 TradeName=\[kept\]'
fi

# Round 6: the database fails during a refresh: an error box, an empty list, the confirm button
# as it was; once it answers again the dialog goes on and the confirm button stores a row.
if start_round 6 'rows=2 .*last=\[Аспирин табл. 500мг\]'; then
    touch "$work/fail"
    click row0
    xdotool type x
    expect '^STATE round=6 filter=\[Аспиринx\] rows=0 .*apply=1 errbox=1 error=\[Error reading data from the connection.\]'
    screenshot select_dialog_error.png
    xdotool key Return
    expect '^STATE round=6 filter=\[Аспиринx\] rows=0 sel=-1 apply=1 errbox=0$'
    rm -f "$work/fail"
    xdotool key Escape
    # The button confirms the current row: the first one, once the list is back.
    expect "^STATE round=6 filter=\[\] rows=37 sel=0 apply=1 errbox=0 first=\[Nurofen tabs 200mg\] "
    click apply
    expect_end 6 'value=106 TradeName=\[106\] Producer=\[106\]'
fi

# Round 7: nothing found: the confirm button is disabled, Enter and a double click do nothing;
# the cancel button still closes.
if start_round 7 'rows=0 sel=-1 apply=0 errbox=0$'; then
    click list
    xdotool key Return
    xdotool mousemove $(point list) click --repeat 2 --delay 80 1
    sleep 0.7
    grep -qE '^(CLOSED|RESULT) round=7' "$status" && fail "round 7: the dialog closed on an empty list"
    # Latin typed into the filter, after erasing it, finds a row and enables the button again.
    click filter
    xdotool key End $(printf 'BackSpace %.0s' $(seq 10))
    expect '^STATE round=7 filter=\[\] '
    xdotool type --delay 50 nurofen
    expect '^STATE round=7 filter=\[nurofen\] rows=1 sel=0 apply=1 .*first=\[Nurofen tabs 200mg\]'
    click close
    expect_end 7 'value=0 TradeName=\[kept\]'
fi

for _ in $(seq 200); do
    kill -0 "$child" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$child" 2>/dev/null && fail "the program did not end"
wait "$child"
code=$?
child=
echo "driver: queries prepared in all: $(queries)"
if [ $code -ne 0 ]; then
    echo "driver: the program ended with $code; status file:"
    cat "$status"
    grep -v '^KV-TEST-PASSED' "$work/output"
    exit 1
fi
cat "$work/output"
