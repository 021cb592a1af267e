#!/usr/bin/env bash
# Creates a WIN1251 registry database with isql-fb: the registry table of
# tests/support/registry_schema.sql and the rows given on standard input, one
# "(code, trade_name_id, fabr_name_id, 'trade name', 'form', 'producer')" per line, in UTF-8.
#   create_registry.sh DATABASE < ROWS
set -euo pipefail
database=$1
schema=$(cd "$(dirname "$0")" && pwd)/../support/registry_schema.sql
script=$(mktemp "${TMPDIR:-/tmp}/kv-registry.XXXXXX")
trap 'rm -f "$script" "$script.log"' EXIT
{
    echo "set names win1251;"
    echo "create database '$database' user 'SYSDBA' default character set win1251;"
    cat "$schema"
    sed -n 's/^\(([^)]*)\)$/insert into tbl_reestr_names values \1;/p'
    echo "commit;"
    echo "exit;"
} | iconv -f UTF-8 -t CP1251 >"$script"
isql-fb -q -b -i "$script" >"$script.log" 2>&1 || {
    cat "$script.log"
    exit 1
}
