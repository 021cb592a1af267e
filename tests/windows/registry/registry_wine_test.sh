#!/usr/bin/env bash
# Creates a small registry database, then runs the Windows test program under Wine
# with the test bridge in WINEDLLPATH:
#   registry_wine_test.sh WINE_RUN PROGRAM BRIDGE_DIR GROUP
set -euo pipefail
run=$1 program=$2 bridge=$3 group=$4
dir=$(mktemp -d "${TMPDIR:-/tmp}/kvwinereg.XXXXXX")
trap 'rm -rf "$dir"' EXIT
# Firebird's locks and the tables it shares between processes, for this run alone: its default
# directory, /tmp/firebird, is the whole machine's.
export FIREBIRD_LOCK=$dir/firebird-lock
mkdir -p "$FIREBIRD_LOCK"
"$(dirname "$0")/../create_registry.sh" "$dir/registry.fdb" <<'ROWS'
(101, 1, 1, 'Аспирин', 'табл.', 'Байер')
(102, 2, 2, 'Валидол', 'табл.', 'Фарм')
(103, 0, 3, 'Аспирин', 'исключён', 'Нет')
ROWS
WINEDLLPATH=$bridge "$run" "$program" "$group" "$dir/registry.fdb"
