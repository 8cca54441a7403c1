#!/usr/bin/env bash
# Runs the demo in a fresh application directory for a few seconds and checks that it printed
# the sample receipts: two on "Caja" (its own and the one failed over from the missing
# "Barra") and one on "Cocina", each as ESC/POS and PNG preview, with the queue emptied.
#
#   bash scripts/demo-check.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: demo-check.sh BUILD_DIR}
app=$(mktemp -d "${TMPDIR:-/tmp}/kestrola-demo.XXXXXX")
service=
cleanup() {
  if [ -n "$service" ]; then kill "$service" 2>/dev/null || true; fi
  rm -rf "$app"
}
trap cleanup EXIT

# A program name of its own (with this shell's process number, so that two runs side by side
# differ too), so that other copies of the service running meanwhile do not count as this
# one's instances.
exe="$app/kdemo$$"
cp "$build/kestrola" "$exe"
cp "$top"/assets/start.jpg "$top"/assets/start_down.jpg "$top"/assets/stop.jpg \
   "$top"/assets/stop_down.jpg "$app/"
bash "$top/scripts/demo-setup.sh" "$app" "$build" >/dev/null

ODBCSYSINI="$app" QT_QPA_PLATFORM=offscreen CUPS_SERVER=/nonexistent/cups.sock \
  "$exe" 2>/dev/null &
service=$!

count() { find "$app/receipts/$1" -name "*.$2" | wc -l; }
for _ in $(seq 1 60); do
  if [ "$(count caja png)" -ge 2 ] && [ "$(count cocina png)" -ge 1 ]; then break; fi
  sleep 0.5
done
# One more job added while the service runs.
"$app/demo-job" --printer 2 >/dev/null
for _ in $(seq 1 20); do
  if [ "$(count cocina png)" -ge 2 ]; then break; fi
  sleep 0.5
done

status=0
[ "$(count caja bin)" -eq 2 ] && [ "$(count caja png)" -eq 2 ] || { echo "caja: expected 2 receipts"; status=1; }
[ "$(count cocina bin)" -eq 2 ] && [ "$(count cocina png)" -eq 2 ] || { echo "cocina: expected 2 receipts"; status=1; }
if grep -qs "Error" "$app"/log_*.log; then
  echo "the log reports errors:"; cat "$app"/log_*.log; status=1
fi
[ "$status" -eq 0 ] && echo "demo printed its receipts"
exit "$status"
