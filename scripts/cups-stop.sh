#!/usr/bin/env bash
# Stops the private CUPS scheduler started by scripts/cups-start.sh in the folder $1.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
C=${1:-$top/build/cups-test}
[ -f "$C/cupsd.pid" ] || exit 0
pid=$(cat "$C/cupsd.pid")
if kill -0 "$pid" 2>/dev/null; then
  kill -TERM "$pid" 2>/dev/null || true
  for i in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill -KILL "$pid" 2>/dev/null || true
fi
rm -f "$C/cupsd.pid" "$C/cups.env"
