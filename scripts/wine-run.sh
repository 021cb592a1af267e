#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's private Wine prefix:
#   scripts/wine-run.sh [--prefix] PROGRAM [ARGS...]
# PROGRAM is a path to an .exe or the name of a Wine program (regsvr32, reg). The prefix is
# <build tree>/wineprefix (a 64-bit Windows, which runs 32-bit programs too), or with
# KV_WINEARCH=win32 <build tree>/wineprefix32 (a 32-bit Windows), where the build tree is the
# nearest directory holding CMakeCache.txt above the program (or above the current directory);
# KV_WINEPREFIX overrides it. The prefix is created quietly and without a display, and made
# again when the Wine it was made with has changed (a prefix made before 32-bit Wine was
# installed cannot start 32-bit programs). The program runs with the Russian locale (ANSI
# code page 1251); its output goes to a file first, because a pipe can stay open in Wine's
# background processes, and is then printed with Unix line ends. Its exit code is ours.
# KV_WINE_FRESH=1 stops the prefix's Wine session before and after the program, so that it
# starts a session of its own with the caller's display (GUI tests under Xvfb).
# A 32-bit program, or any program in a 32-bit Windows, on a machine that cannot run 32-bit
# programs (scripts/runs-32bit.sh) is not started: exit code 77, and the reason.
set -uo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 [--prefix] PROGRAM [ARGS...]" >&2
    exit 2
fi
# --prefix: only print the prefix that PROGRAM would run in.
print_prefix=
if [ "$1" = --prefix ]; then
    print_prefix=1
    shift
fi

find_build_tree() {
    local dir=$1
    while [ -n "$dir" ] && [ "$dir" != "/" ]; do
        [ -f "$dir/CMakeCache.txt" ] && { echo "$dir"; return 0; }
        dir=$(dirname "$dir")
    done
    return 1
}

program=$1
shift
arch=${KV_WINEARCH:-win64}
case $arch in
    win64) prefix_name=wineprefix ;;
    win32) prefix_name=wineprefix32 ;;
    *)
        echo "wine-run.sh: KV_WINEARCH is win64 or win32, not $arch" >&2
        exit 2
        ;;
esac
if [ -n "${KV_WINEPREFIX:-}" ]; then
    prefix=$KV_WINEPREFIX
else
    start=$PWD
    [ -e "$program" ] && start=$(cd "$(dirname "$program")" && pwd)
    tree=$(find_build_tree "$start") || tree=$(find_build_tree "$PWD") || {
        echo "wine-run.sh: no build tree above $start; set KV_WINEPREFIX" >&2
        exit 2
    }
    prefix=$tree/$prefix_name
fi

if [ -n "$print_prefix" ]; then
    echo "$prefix"
    exit 0
fi

# The machine type of a PE file: 014c i386, 8664 x86_64; empty for anything else.
pe_machine() {
    local offset
    [ "$(head -c 2 "$1" 2>/dev/null)" = MZ ] || return 0
    offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}
why=$("$(dirname "$0")/runs-32bit.sh" --why)
case $? in
    0) runs_32bit=yes ;;
    1) runs_32bit=no ;;
    *)
        echo "wine-run.sh: $why" >&2
        exit 2
        ;;
esac
needs_32bit=
[ "$arch" = win32 ] && needs_32bit="a 32-bit Windows prefix"
[ -f "$program" ] && [ "$(pe_machine "$program")" = 014c ] && needs_32bit="$program is a 32-bit program"
if [ -n "$needs_32bit" ] && [ $runs_32bit = no ]; then
    echo "wine-run.sh: not started: $needs_32bit, and this machine cannot run 32-bit programs ($why)" >&2
    exit 77
fi

# Debian's wine command starts the 32-bit loader whenever 32-bit Wine is installed, also for a
# 64-bit Windows and a 64-bit program, which fails where 32-bit programs cannot run. So each
# kind of prefix is started through its own loader; the 64-bit one hands 32-bit programs of a
# 64-bit Windows (WoW64) to the 32-bit loader itself.
case $arch in
    win64) loader=/usr/lib/wine/wine64 ;;
    win32) loader=/usr/lib/wine/wine ;;
esac
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINELOADER=$loader
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# What a prefix is made with: its architecture, the Wine packages of both halves and whether
# 32-bit programs ran (a 64-bit Windows made without them lacks its 32-bit half).
made_with=$(
    echo "$arch"
    echo "32-bit programs: $runs_32bit"
    dpkg-query -W -f='${Package}:${Architecture} ${Version}\n' wine64 wine32:i386 2>/dev/null
)
ready() { [ "$(cat "$WINEPREFIX/.kv-ready" 2>/dev/null)" = "$made_with" ]; }

# One creator at a time; the others wait for the finished prefix.
create_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")" || return 1
    (
        flock 9
        ready && exit 0
        # Only a prefix of ours is made again: it holds our stamp or our creation log.
        if [ -n "$(ls -A "$WINEPREFIX" 2>/dev/null)" ] && [ ! -e "$WINEPREFIX/.kv-ready" ] &&
            [ ! -e "$WINEPREFIX/.kv-create.log" ]; then
            echo "wine-run.sh: $WINEPREFIX is not a prefix made by this script" >&2
            exit 1
        fi
        wineserver -k 2>/dev/null
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX" || exit 1
        log=$WINEPREFIX/.kv-create.log
        {
            env -u DISPLAY "$loader" wineboot -i &&
                env -u DISPLAY "$loader" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
                    /v Debugger /d '' /f &&
                env -u DISPLAY "$loader" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
                    /v Auto /d 0 /f &&
                wineserver -w
        } >"$log" 2>&1 </dev/null || exit 1
        printf '%s\n' "$made_with" >"$WINEPREFIX/.kv-ready"
    ) 9>"$WINEPREFIX.lock"
}
if ! ready; then
    create_prefix || {
        echo "wine-run.sh: could not create the Wine prefix $WINEPREFIX (see $WINEPREFIX/.kv-create.log)" >&2
        exit 2
    }
fi

out=$(mktemp "${TMPDIR:-/tmp}/kv-wine-out.XXXXXX") || exit 2
child=
cleanup() {
    [ -n "$child" ] && kill "$child" 2>/dev/null
    rm -f "$out"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# A session started without a display cannot show windows later: GUI runs get their own.
[ -n "${KV_WINE_FRESH:-}" ] && wineserver -k 2>/dev/null
# Now and then, starting just as the previous session's server shuts down, Wine cannot start
# the program at all ("ShellExecuteEx" fails before it runs): then it is started once more.
for attempt in 1 2; do
    LC_ALL=ru_RU.UTF-8 "$loader" "$program" "$@" >"$out" 2>&1 </dev/null &
    child=$!
    wait "$child"
    status=$?
    child=
    [ "$status" -ne 0 ] && [ "$attempt" -eq 1 ] && grep -q ShellExecuteEx "$out" || break
    sleep 1
done
[ -n "${KV_WINE_FRESH:-}" ] && wineserver -k 2>/dev/null
tr -d '\r' <"$out"
exit $status
