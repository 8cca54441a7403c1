#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root (dpkg -x) and starts the installed
# program once on the offscreen platform: it must come up and write its config.ini and log.
set -euo pipefail
build=$1 scratch=$2
rm -rf "$scratch" && mkdir -p "$scratch"
(cd "$build" && cpack -G DEB -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/kestrola_*_amd64.deb)
echo "package: $(basename "$deb")"
dpkg-deb -f "$deb" Depends Recommends
dpkg-deb -c "$deb" | awk '{print $6}' | sort
dpkg -x "$deb" "$scratch/root"
app="$scratch/root/opt/kestrola"
for f in kestrola start.jpg start_down.jpg stop.jpg stop_down.jpg kestrola.png; do
  test -f "$app/$f" || { echo "missing $f"; exit 1; }
done
test -f "$scratch/root/usr/share/applications/kestrola.desktop"
test -f "$scratch/root/etc/xdg/autostart/kestrola.desktop"
# Nothing the first start creates by itself is shipped.
if ls "$app"/config.ini "$app"/log_*.log 2>/dev/null; then echo "shipped runtime files"; exit 1; fi
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6
dpkg-deb -f "$deb" Depends | grep -q libodbc
dpkg-deb -f "$deb" Depends | grep -q libcups2
dpkg-deb -f "$deb" Recommends | grep -q libsqliteodbc

# Start it once, in a throwaway copy (a user would run it from /opt/kestrola). The copy runs
# under a name of its own beside the packaged one, so that a service running on this machine
# (which counts as another copy of a program of the same name) does not end it.
cp "$app/kestrola" "$app/kpkg$$"
QT_QPA_PLATFORM=offscreen "$app/kpkg$$" >"$scratch/stdout" 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  [ -f "$app/config.ini" ] && ls "$app"/log_*.log >/dev/null 2>&1 && break
  sleep 0.1
done
alive=0; kill -0 "$pid" 2>/dev/null && alive=1
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
[ "$alive" = 1 ] || { echo "the installed program did not stay up"; cat "$scratch/stdout"; exit 1; }
test -f "$app/config.ini" || { echo "no config.ini written"; exit 1; }
grep -q '^\[Kestrola\]' "$app/config.ini"
echo "installed program started and wrote config.ini"
