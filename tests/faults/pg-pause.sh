#!/usr/bin/env bash
# Stops or starts again the PostgreSQL server of a state folder made by scripts/pg-start.sh,
# keeping its cluster, so that a test can take the database away for a while.
#
#   pg-pause.sh STATE_DIR stop|start
set -euo pipefail
state=${1:?usage: pg-pause.sh STATE_DIR stop|start}
action=${2:?usage: pg-pause.sh STATE_DIR stop|start}
data=$(cat "$state/datadir")
port=$(cat "$state/port")
pgbin=${PGBIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
as_owner() { "$@"; }
owner=$(stat -c %U "$data/data")
if [ "$(id -u)" -eq 0 ] && [ "$owner" != root ]; then as_owner() { runuser -u "$owner" -- "$@"; }; fi
case "$action" in
  stop) as_owner "$pgbin/pg_ctl" -D "$data/data" -m fast -w -t 60 stop >/dev/null ;;
  start)
    as_owner "$pgbin/pg_ctl" -D "$data/data" -l "$data/server.log" -w -t 60 \
      -o "-c listen_addresses=127.0.0.1 -p $port -c unix_socket_directories=$data -c fsync=off" \
      start >/dev/null ;;
  *) echo "pg-pause: unknown action $action" >&2; exit 2 ;;
esac
