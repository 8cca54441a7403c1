#!/usr/bin/env bash
# Starts a private CUPS scheduler for the tests in the folder given as $1 (default
# build/cups-test): loopback only, its own spool and configuration, a free port. Writes
# $1/cups.env with CUPS_SERVER=127.0.0.1:PORT for the tests. Never touches the machine's
# own CUPS. Stop it with scripts/cups-stop.sh with the same folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
C=$(mkdir -p "${1:-$top/build/cups-test}" && cd "${1:-$top/build/cups-test}" && pwd)

if [ -f "$C/cupsd.pid" ]; then bash "$top/scripts/cups-stop.sh" "$C" || true; fi
rm -rf "$C"/etc "$C"/spool "$C"/cache "$C"/run "$C"/log "$C"/cups.env
cupsd_bin=$(command -v cupsd || echo /usr/sbin/cupsd)
if [ ! -x "$cupsd_bin" ]; then echo "cups-start: cupsd is not installed" >&2; exit 1; fi
if [ "$(id -u)" -ne 0 ]; then echo "cups-start: cupsd needs to run as root" >&2; exit 1; fi

mkdir -p "$C"/etc "$C"/spool/tmp "$C"/cache "$C"/run "$C"/log
chown root:lp "$C"/spool "$C"/spool/tmp "$C"/cache "$C"/run 2>/dev/null || true
chmod 0710 "$C"/spool
chmod 1770 "$C"/spool/tmp
chmod 0775 "$C"/cache "$C"/run
for f in raw.types raw.convs; do
  if [ -f "/etc/cups/$f" ]; then cp "/etc/cups/$f" "$C/etc/"; fi
done
cat > "$C/etc/cups-files.conf" <<CONF
ServerRoot $C/etc
RequestRoot $C/spool
TempDir $C/spool/tmp
CacheDir $C/cache
StateDir $C/run
ErrorLog $C/log/error_log
AccessLog $C/log/access_log
PageLog $C/log/page_log
Printcap $C/run/printcap
ServerBin /usr/lib/cups
DataDir /usr/share/cups
FileDevice No
User lp
Group lp
SystemGroup root lpadmin
CONF

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

for attempt in 1 2 3 4 5 6 7 8; do
  port=$((20000 + (RANDOM % 20000)))
  port_free "$port" || continue
  cat > "$C/etc/cupsd.conf" <<CONF
LogLevel warn
Listen 127.0.0.1:$port
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
ErrorPolicy abort-job
<Location />
  Order allow,deny
  Allow from 127.0.0.1
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
  setsid "$cupsd_bin" -f -c "$C/etc/cupsd.conf" -s "$C/etc/cups-files.conf" \
    </dev/null >"$C/log/cupsd.out" 2>&1 &
  echo $! > "$C/cupsd.pid"
  for i in $(seq 1 400); do
    # lpstat -r exits 0 whether or not the scheduler answers: read what it says.
    if [ "$(LC_ALL=C lpstat -h "127.0.0.1:$port" -r 2>/dev/null)" = "scheduler is running" ]; then
      echo "CUPS_SERVER=127.0.0.1:$port" > "$C/cups.env"
      echo "cups-start: private cupsd on 127.0.0.1:$port ($C)"
      exit 0
    fi
    kill -0 "$(cat "$C/cupsd.pid")" 2>/dev/null || break
    sleep 0.05
  done
  bash "$top/scripts/cups-stop.sh" "$C" || true
done
echo "cups-start: cupsd did not start; see $C/log" >&2
cat "$C/log/cupsd.out" "$C/log/error_log" 2>/dev/null | tail -20 >&2 || true
exit 1
