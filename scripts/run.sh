#!/usr/bin/env bash
# Runs the print-queue service: installs what is missing, builds, prepares an application
# directory and starts the window there. The first start writes config.ini with its defaults.
#
#   bash scripts/run.sh            application directory: build/app
#   APP_DIR=/some/dir bash scripts/run.sh
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
echo "Application directory: $app"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$app/kestrola"
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
trap 'kill "$service" "$follower" 2>/dev/null || true' EXIT INT TERM

status=0
wait "$service" || status=$?
sleep 0.3
exit "$status"
