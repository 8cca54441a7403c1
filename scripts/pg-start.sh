#!/usr/bin/env bash
# Starts a private PostgreSQL server for the database tests and benchmarks.
#
#   pg-start.sh STATE_DIR [PORT]     (PORT defaults to 55432)
#
# The cluster lives in a fresh temporary folder under /tmp and listens on 127.0.0.1:PORT only.
# Superuser "kestrola" with password "kestrola" (password login over TCP, scram-sha-256); a
# second role "queue_user" whose password "S3cret;pw}x" needs brace quoting in ODBC strings.
# STATE_DIR receives:
#   datadir                 path of the temporary cluster folder (read by pg-stop.sh)
#   port                    the port the server listens on: PORT, or the next free one above
#   odbc-postgres/odbcinst.ini   maps the driver name "SQL Server" to psqlODBC
#   odbc-sqlite/odbcinst.ini     maps the driver name "SQL Server" to the SQLite ODBC driver
# Select one of them with ODBCSYSINI=STATE_DIR/odbc-postgres (or odbc-sqlite).
#
# PostgreSQL refuses to run as root: when started by root, the server runs as the "postgres"
# system user (or "nobody" when there is none), which owns the temporary folder.
set -euo pipefail
state=${1:?usage: pg-start.sh STATE_DIR [PORT]}
port=${2:-55432}
here=$(cd "$(dirname "$0")" && pwd)
pgbin=${PGBIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
[ -x "$pgbin/initdb" ] || { echo "pg-start: PostgreSQL server binaries not found" >&2; exit 1; }

mkdir -p "$state"
state=$(cd "$state" && pwd)
# A server left behind by an interrupted run is stopped first.
if [ -f "$state/datadir" ]; then bash "$here/pg-stop.sh" "$state" || true; fi

odbcdir=/usr/lib/x86_64-linux-gnu/odbc
mkdir -p "$state/odbc-postgres" "$state/odbc-sqlite"
printf '[SQL Server]\nDescription=PostgreSQL Unicode driver under the name "SQL Server"\nDriver=%s\n' \
  "$odbcdir/psqlodbcw.so" >"$state/odbc-postgres/odbcinst.ini"
printf '[SQL Server]\nDescription=SQLite 3 driver under the name "SQL Server"\nDriver=%s\n' \
  "$odbcdir/libsqlite3odbc.so" >"$state/odbc-sqlite/odbcinst.ini"

data=$(mktemp -d /tmp/kestrola-pg.XXXXXX)
cleanup_on_error() { rm -rf "$data"; }
trap cleanup_on_error ERR

as_owner() { "$@"; }
if [ "$(id -u)" -eq 0 ]; then
  owner=postgres
  getent passwd "$owner" >/dev/null || owner=nobody
  chown "$owner" "$data"
  as_owner() { runuser -u "$owner" -- "$@"; }
fi

printf 'kestrola\n' >"$data/pwfile"
chmod 600 "$data/pwfile"
[ "$(id -u)" -eq 0 ] && chown "$owner" "$data/pwfile"
as_owner "$pgbin/initdb" -D "$data/data" -U kestrola --pwfile="$data/pwfile" \
  --auth-local=trust --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$data/initdb.log" 2>&1
# Another build tree may run its own server at the same time: the first free port from PORT
# upwards is taken, and written to STATE_DIR/port for the clients.
started=
for attempt in $(seq 0 49); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then port=$((port + 1)); continue; fi
  if as_owner "$pgbin/pg_ctl" -D "$data/data" -l "$data/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -p $port -c unix_socket_directories=$data -c fsync=off" \
    start >/dev/null; then
    started=yes
    break
  fi
  port=$((port + 1))
done
[ -n "$started" ] || { echo "pg-start: no free port for PostgreSQL" >&2; cleanup_on_error; exit 1; }
echo "$data" >"$state/datadir"
echo "$port" >"$state/port"
trap - ERR

as_owner "$pgbin/psql" -q -h "$data" -p "$port" -U kestrola -d postgres -v ON_ERROR_STOP=1 \
  -c "CREATE ROLE queue_user LOGIN PASSWORD 'S3cret;pw}x'" >/dev/null
echo "pg-start: PostgreSQL on 127.0.0.1:$port, cluster in $data"
