#!/usr/bin/env bash
# Prepares an application directory for the demo on the embedded database (no server needed):
#   odbcinst.ini  maps the driver name "SQL Server" to the SQLite ODBC driver (select it with
#                 ODBCSYSINI=APP_DIR)
#   config.ini    points the service at APP_DIR/demo.db, terminal 1 (written when missing or
#                 still holding the built-in defaults, so a configured server is kept)
#   printers.ini  folder printers "Caja" and "Cocina" writing receipts and PNG previews under
#                 APP_DIR/receipts; the demo printer "Barra" is missing on purpose, so its jobs
#                 fail over to "Caja"; "Terraza" starts out failing (its folder is a file), so
#                 it fails over to "Caja" after a minute and comes back after
#                 "APP_DIR/demo-job --mend" (written when missing)
#   demo.db       the queue tables with three sample receipts (created when missing)
#   demo-job      the command that adds a sample receipt while the service runs
#
#   bash scripts/demo-setup.sh APP_DIR [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
app=${1:?usage: demo-setup.sh APP_DIR [BUILD_DIR]}
build=${2:-${BUILD_DIR:-$top/build}}
driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so

mkdir -p "$app/receipts/caja" "$app/receipts/cocina"
app=$(cd "$app" && pwd)
cp -f "$build/demo-job" "$app/demo-job"

printf '[SQL Server]\nDriver=%s\n' "$driver" >"$app/odbcinst.ini"

config="$app/config.ini"
if [ ! -e "$config" ] || { grep -qi '^ *NameDB *= *master *$' "$config" &&
                            grep -qi '^ *ServerDB *= *(local) *$' "$config"; }; then
  cat >"$config" <<INI
[Kestrola]
ServicioActivo=1
ServerDB=(local)
NameDB=$app/demo.db
UserDB=
PwdDB=
Terminal=1
INI
fi

if [ ! -e "$app/printers.ini" ]; then
  cat >"$app/printers.ini" <<'INI'
[Printers]
Caja=dir:receipts/caja
Cocina=dir:receipts/cocina
Terraza=dir:receipts/terraza
INI
  "$app/demo-job" --fail --app "$app" >/dev/null
fi

if [ ! -e "$app/demo.db" ] && grep -q "demo.db" "$config"; then
  ODBCSYSINI="$app" "$app/demo-job" --init --app "$app"
fi
