#!/usr/bin/env bash
# Runs one group of kvhost_check_test under Wine: creates its registry database and, for the
# groups that log in, a Firebird server of its own on 127.0.0.1 whose SYSDBA has the password
# "masterkey", so that another one is refused. The Windows side reaches both through the test
# bridge (the Linux client reaches the server by "127.0.0.1/port:/path").
#   kvhost_check_test.sh WINE_RUN DRIVER BRIDGE_DIR GROUP ARGS...
# ARGS are the driver's arguments up to the database, which this script adds.
set -euo pipefail
run=$1 driver=$2 bridge=$3 group=$4
shift 4
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-check.XXXXXX")
server=
cleanup() {
    if [ -n "$server" ]; then
        # The server's own shutdown on SIGTERM now and then never ends: SIGKILL after 5 s.
        kill "$server" 2>/dev/null || true
        (sleep 5 && kill -9 "$server") >/dev/null 2>&1 &
        local watchdog=$!
        wait "$server" 2>/dev/null || true
        kill "$watchdog" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
unset ISC_USER ISC_PASSWORD
# Firebird's locks and the tables it shares between processes, for this run alone: its default
# directory, /tmp/firebird, is the whole machine's.
export FIREBIRD_LOCK=$work/firebird-lock
mkdir -p "$FIREBIRD_LOCK"

"$(dirname "$0")/create_registry.sh" "$work/registry.fdb" <<'ROWS'
(101, 1, 1, 'Аспирин', 'табл.', 'Байер')
(102, 2, 2, 'Валидол', 'табл.', 'Фарм')
(103, 3, 3, 'Анальгин', 'табл.', 'Фармстандарт')
ROWS

accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

address=-
if [ "$group" = database ] || [ "$group" = healthy ]; then
    home=/usr/lib/x86_64-linux-gnu/firebird/3.0
    root=$work/root
    mkdir -p "$root/intl" "$work/lock"
    # The character sets must be real copies: through symlinks WIN1251 is "not defined".
    cp "$home/firebird.msg" "$home/plugins.conf" "$root/"
    cp "$home/intl/libfbintl.so" "$home/intl/fbintl.conf" "$root/intl/"
    ln -s "$home/plugins" "$root/plugins"
    : >"$root/databases.conf"
    port=
    for _ in $(seq 50); do
        candidate=$((20000 + RANDOM % 40000))
        accepts "$candidate" || { port=$candidate; break; }
    done
    [ -n "$port" ] || { echo "no free port"; exit 1; }
    cat >"$root/firebird.conf" <<CONF
RemoteServicePort = $port
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $root/security3.fdb
AuthServer = Srp
UserManager = Srp
ServerMode = Super
CONF
    printf "create database '%s' user 'SYSDBA';\ncreate user SYSDBA password 'masterkey';\ncommit;\nexit;\n" \
        "$root/security3.fdb" >"$work/security.sql"
    FIREBIRD=$root FIREBIRD_LOCK=$work/lock isql-fb -q -b -i "$work/security.sql" \
        >"$work/security.log" 2>&1 || { cat "$work/security.log"; exit 1; }
    FIREBIRD=$root FIREBIRD_LOCK=$work/lock /usr/sbin/firebird >"$work/server.log" 2>&1 &
    server=$!
    for _ in $(seq 200); do
        accepts "$port" && break
        kill -0 "$server" 2>/dev/null || break
        sleep 0.1
    done
    accepts "$port" || { echo "the Firebird server did not start:"; cat "$work/server.log"; exit 1; }
    address=127.0.0.1/$port:$work/registry.fdb
fi

WINEDLLPATH=$bridge/bridge "$run" "$driver" "$group" "$@" "Z:${work//\//\\}\\registry.fdb" "$address"
