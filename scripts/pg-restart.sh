#!/usr/bin/env bash
# Restarts the private PostgreSQL server of pg-start.sh (fast shutdown: open sessions are
# terminated), as a test of how clients survive a server restart.
#
#   pg-restart.sh STATE_DIR
set -euo pipefail
state=${1:?usage: pg-restart.sh STATE_DIR}
data=$(cat "$state/datadir")
pgbin=${PGBIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
as_owner() { "$@"; }
owner=$(stat -c %U "$data/data")
if [ "$(id -u)" -eq 0 ] && [ "$owner" != root ]; then as_owner() { runuser -u "$owner" -- "$@"; }; fi
as_owner "$pgbin/pg_ctl" -D "$data/data" -l "$data/server.log" -m fast -w -t 60 restart >/dev/null
