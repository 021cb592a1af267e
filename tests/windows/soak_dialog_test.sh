#!/usr/bin/env bash
# The dialog soak under Xvfb: creates a registry database, then runs soak_test's `dialog` group
# under Wine with the Firebird test bridge; the program closes its dialogs itself.
#   soak_dialog_test.sh WINE_RUN PROGRAM BRIDGE_BUILD_DIR DLL
set -u
run=$1 program=$2 bridge=$3 dll=$4

if [ -z "${KV_SOAK_DISPLAY:-}" ]; then
    exec env KV_SOAK_DISPLAY=1 timeout -k 5 170 \
        xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kv-dialog-soak.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Firebird's locks and the tables it shares between processes, for this run alone: its default
# directory, /tmp/firebird, is the whole machine's.
export FIREBIRD_LOCK=$work/firebird-lock
mkdir -p "$FIREBIRD_LOCK"
"$(dirname "$0")/create_registry.sh" "$work/registry.fdb" <<'ROWS' || exit 1
(101, 1, 1, 'Аспирин', 'табл. 500мг', 'Байер')
(102, 1, 1, 'Аспирин Кардио', 'табл. 100мг', 'Байер')
(103, 1, 1, 'Анальгин', 'табл. 500мг', 'Фармстандарт')
(201, 0, 1, 'Аспирин', 'исключён', 'Нет')
ROWS
# No window manager here: Wine draws the dialog's caption itself, as in select_dialog_test.sh.
"$run" reg add 'HKCU\Software\Wine\AppDefaults\soak_test.exe\X11 Driver' \
    /v Managed /d N /f >/dev/null 2>&1
# A Wine session of its own, on this display (see select_dialog_test.sh).
WINEDLLPATH=$bridge/bridge KV_WINE_FRESH=1 "$run" "$program" dialog "$dll" \
    "Z:$work/registry.fdb" "Z:$bridge/gds32.dll"
