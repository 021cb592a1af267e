#!/usr/bin/env bash
# Creates a small WIN1251 registry with isql-fb, then runs the Windows test program under Wine
# with the test bridge in WINEDLLPATH:
#   registry_wine_test.sh WINE_RUN PROGRAM BRIDGE_DIR GROUP
set -euo pipefail
run=$1 program=$2 bridge=$3 group=$4
dir=$(mktemp -d "${TMPDIR:-/tmp}/kvwinereg.XXXXXX")
trap 'rm -rf "$dir"' EXIT
schema=$(cd "$(dirname "$0")" && pwd)/../../support/registry_schema.sql
iconv -f UTF-8 -t CP1251 >"$dir/create.sql" <<SQL
set names win1251;
create database '$dir/registry.fdb' user 'SYSDBA' default character set win1251;
$(cat "$schema")
insert into tbl_reestr_names values (101, 1, 1, 'Аспирин', 'табл.', 'Байер');
insert into tbl_reestr_names values (102, 2, 2, 'Валидол', 'табл.', 'Фарм');
insert into tbl_reestr_names values (103, 0, 3, 'Аспирин', 'исключён', 'Нет');
commit;
exit;
SQL
isql-fb -q -b -i "$dir/create.sql" >"$dir/create.log" 2>&1 || { cat "$dir/create.log"; exit 1; }
WINEDLLPATH=$bridge "$run" "$program" "$group" "$dir/registry.fdb"
