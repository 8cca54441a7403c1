#!/usr/bin/env bash
# Runs the print-queue service: installs what is missing, builds, prepares an application
# directory and starts the window there.
#
#   bash scripts/run.sh            application directory: build/app
#   APP_DIR=/some/dir bash scripts/run.sh
#
# The application directory is set up for the demo on the embedded database (see
# scripts/demo-setup.sh): a SQLite queue with sample receipts and folder printers, so the
# service prints at once with no server. A config.ini that names another database is kept.
# Receipts land in APP_DIR/receipts as .bin (ESC/POS) and .png (preview); each new preview is
# announced on the terminal. APP_DIR/demo-job adds a receipt while the service runs;
# APP_DIR/demo-job --mend / --fail repairs or breaks the demo printer Terraza.
#
# Without a display (no DISPLAY or WAYLAND_DISPLAY) the window runs on Qt's offscreen platform
# and today's activity log is echoed to the terminal as it grows. Ctrl+C ends the service.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
app=${APP_DIR:-$build/app}

bash "$top/scripts/install-deps.sh"
BUILD_DIR="$build" bash "$top/scripts/build.sh"

# The application directory: the program and its button images side by side (copies, since the
# program finds its directory through /proc/self/exe, which resolves links).
mkdir -p "$app"
cp -f "$build/kestrola" "$app/kestrola"
cp -f "$top"/assets/start.jpg "$top"/assets/start_down.jpg \
      "$top"/assets/stop.jpg "$top"/assets/stop_down.jpg "$app/"
bash "$top/scripts/demo-setup.sh" "$app" "$build"
app=$(cd "$app" && pwd)
# The driver name "SQL Server" resolves through the application directory's odbcinst.ini.
export ODBCSYSINI="$app"
echo "Application directory: $app"
echo "Receipts are written to $app/receipts; add one with: $app/demo-job [--printer 1|2|3|4]"
echo "The printer Terraza (4) fails: after a minute its jobs go to Caja. Mend it with"
echo "$app/demo-job --mend (break it again with --fail) and watch the log bring it back."

# Announces every new receipt preview.
watch_receipts() {
  declare -A seen=()
  local f
  while kill -0 "$1" 2>/dev/null; do
    for f in "$app"/receipts/*/*.png; do
      [ -e "$f" ] || continue
      if [ -z "${seen[$f]:-}" ]; then
        seen[$f]=1
        echo "Receipt preview: $f"
      fi
    done
    sleep 0.5
  done
}

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$app/kestrola" &
  service=$!
  watch_receipts "$service" &
  trap 'kill "$service" 2>/dev/null || true' INT TERM
  status=0
  wait "$service" || status=$?
  exit "$status"
fi

echo "No display: running on the offscreen platform; today's log follows (Ctrl+C to stop)."
export QT_QPA_PLATFORM=offscreen
"$app/kestrola" 2> >(grep -v -e 'propagateSizeHints' -e 'XDG_RUNTIME_DIR' >&2) &
service=$!
trap 'kill "$service" 2>/dev/null || true' EXIT INT TERM

# Follow today's log; at midnight move on to the new day's file.
follow() {
  local day file tailer
  while kill -0 "$service" 2>/dev/null; do
    day=$(date +%Y%m%d)
    file="$app/log_$day.log"
    while [ ! -e "$file" ] && kill -0 "$service" 2>/dev/null; do sleep 0.2; done
    tail -n +1 -F --pid="$service" "$file" 2>/dev/null &
    tailer=$!
    while [ "$(date +%Y%m%d)" = "$day" ] && kill -0 "$service" 2>/dev/null; do sleep 1; done
    kill "$tailer" 2>/dev/null || true
    wait "$tailer" 2>/dev/null || true
  done
}
follow &
follower=$!
watch_receipts "$service" &
watcher=$!
trap 'kill "$service" "$follower" "$watcher" 2>/dev/null || true' EXIT INT TERM

status=0
wait "$service" || status=$?
sleep 0.3
exit "$status"
