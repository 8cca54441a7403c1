#!/usr/bin/env bash
# Stops the private PostgreSQL server started by pg-start.sh and removes its cluster folder.
#
#   pg-stop.sh STATE_DIR
set -euo pipefail
state=${1:?usage: pg-stop.sh STATE_DIR}
[ -f "$state/datadir" ] || exit 0
data=$(cat "$state/datadir")
pgbin=${PGBIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
if [ -d "$data/data" ]; then
  as_owner() { "$@"; }
  owner=$(stat -c %U "$data/data")
  if [ "$(id -u)" -eq 0 ] && [ "$owner" != root ]; then as_owner() { runuser -u "$owner" -- "$@"; }; fi
  as_owner "$pgbin/pg_ctl" -D "$data/data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
fi
case "$data" in /tmp/kestrola-pg.*) rm -rf "$data" ;; esac
rm -f "$state/datadir" "$state/port"
