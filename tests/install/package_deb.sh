#!/usr/bin/env bash
# Builds the Debian package and checks it the way a shop meets it: its files, owners and modes,
# its control files and maintainer scripts, lintian, and then install, start, upgrade, remove
# and purge in a throw-away root (a copy-on-write overlay of this machine in a private mount
# namespace, so the machine itself is never touched). Needs root for that last part; without
# it, or without overlay mounts, that part is skipped with a note.
set -euo pipefail
build=$1 scratch=$2 source=$3
rm -rf "$scratch" && mkdir -p "$scratch"
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/kestrola_*_amd64.deb)
echo "package: $(basename "$deb")"

# --- Files, owners and modes -------------------------------------------------------------
dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' | sed 's#^\(\S*\) \(\S*\) \./#\1 \2 /#' |
  sort -k3 >"$scratch/contents"
cat "$scratch/contents"
expected_files="/etc/default/kestrola
/etc/xdg/autostart/kestrola.desktop
/lib/systemd/system/kestrola-logs.service
/lib/systemd/system/kestrola-logs.timer
/lib/systemd/system/kestrola.service
/usr/bin/kestrola
/usr/lib/kestrola/kestrola
/usr/lib/kestrola/kestrola-clean-logs
/usr/lib/kestrola/kestrola.png
/usr/lib/kestrola/start.jpg
/usr/lib/kestrola/start_down.jpg
/usr/lib/kestrola/stop.jpg
/usr/lib/kestrola/stop_down.jpg
/usr/share/applications/kestrola.desktop
/usr/share/doc/kestrola/changelog.gz
/usr/share/doc/kestrola/copyright
/usr/share/man/man1/kestrola.1.gz"
actual_files=$(awk '$1 !~ /^d/ {print $3}' "$scratch/contents")
[ "$actual_files" = "$expected_files" ] ||
  fail "file list differs:$(diff <(echo "$expected_files") <(echo "$actual_files"))"
# Everything belongs to root and nothing is writable by group or others.
awk '$2 != "root/root" {print "not root-owned: " $0; bad=1} END {exit bad}' "$scratch/contents" ||
  fail "owners"
awk 'substr($1,6,1) == "w" || substr($1,9,1) == "w" {print "writable: " $0; bad=1} END {exit bad}' \
  "$scratch/contents" || fail "modes"
for exe in /usr/bin/kestrola /usr/lib/kestrola/kestrola /usr/lib/kestrola/kestrola-clean-logs; do
  grep -q "^-rwxr-xr-x root/root $exe\$" "$scratch/contents" || fail "$exe is not 0755"
done
grep -q '^-rw-r--r-- root/root /usr/lib/kestrola/stop.jpg$' "$scratch/contents" || fail "images"
# Nothing the program writes by itself is shipped.
grep -Eq 'config\.ini|log_|kestrola\.lock' "$scratch/contents" && fail "shipped runtime files"

# --- Control files -----------------------------------------------------------------------
mkdir "$scratch/control"
dpkg-deb -e "$deb" "$scratch/control"
ls -l "$scratch/control"
for script in postinst prerm postrm; do
  [ -x "$scratch/control/$script" ] || fail "$script missing or not executable"
  sh -n "$scratch/control/$script" || fail "$script: syntax"
done
[ "$(sort "$scratch/control/conffiles")" = "/etc/default/kestrola
/etc/xdg/autostart/kestrola.desktop" ] || fail "conffiles: $(cat "$scratch/control/conffiles")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in libqt6widgets6 libodbc libcups2 qt6-qpa-plugins adduser; do
  grep -q "$dep" <<<"$depends" || fail "Depends lacks $dep"
done
dpkg-deb -f "$deb" Recommends | grep -q libsqliteodbc || fail "Recommends"
# --- lintian: no errors ------------------------------------------------------------------
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$scratch/lintian" 2>&1 || true
  cat "$scratch/lintian"
  grep -q '^E: ' "$scratch/lintian" && fail "lintian reports errors"
else
  echo "lintian not installed: skipped"
fi

# --- The log removal script --------------------------------------------------------------
clean=$source/packaging/kestrola-clean-logs
logs=$scratch/logs && mkdir "$logs"
old=$(date -d "today - 91 days" +log_%Y%m%d.log)
keep=$(date -d "today - 90 days" +log_%Y%m%d.log)
today=$(date +log_%Y%m%d.log)
touch "$logs/$old" "$logs/$keep" "$logs/$today" "$logs/config.ini" "$scratch/outside"
ln -s "$scratch/outside" "$logs/log_19990101.log"
KESTROLA_LOG_DAYS=0 "$clean" "$logs"
[ -e "$logs/$old" ] || fail "KESTROLA_LOG_DAYS=0 must keep every log"
KESTROLA_LOG_DAYS=abc "$clean" "$logs" 2>/dev/null && fail "a bad number of days must fail"
"$clean" "$logs"
[ ! -e "$logs/$old" ] || fail "a log of 91 days ago was kept"
[ -e "$logs/$keep" ] && [ -e "$logs/$today" ] && [ -e "$logs/config.ini" ] || fail "removed too much"
[ -L "$logs/log_19990101.log" ] && [ -e "$scratch/outside" ] || fail "a link was followed or removed"
KESTROLA_LOG_DAYS=5 "$clean" "$logs"
[ ! -e "$logs/$keep" ] && [ -e "$logs/$today" ] || fail "KESTROLA_LOG_DAYS=5"
echo "log removal: ok"

# --- Install, upgrade, remove, purge in a throw-away root --------------------------------
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
  echo "not root: install/upgrade/remove/purge not exercised"
  exit 0
fi
# The upgrade: the same package as the next version.
mkdir "$scratch/next"
dpkg-deb -R "$deb" "$scratch/next/tree"
version=$(dpkg-deb -f "$deb" Version)
sed -i "s/^Version: .*/Version: $version.1/" "$scratch/next/tree/DEBIAN/control"
dpkg-deb -b --root-owner-group "$scratch/next/tree" "$scratch/next/next.deb" >/dev/null

cat >"$scratch/inside.sh" <<'INSIDE'
set -euo pipefail
root=$1 deb=$2 next=$3
fail() { echo "FAIL (throw-away root): $*"; exit 1; }
in_root() { chroot "$root" "$@"; }
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount -t tmpfs tmpfs "$root/run"
mount -t tmpfs tmpfs "$root/tmp"
mkdir -p "$root/work-deb" && mount --bind "$(dirname "$deb")" "$root/work-deb"
mkdir -p "$root/work-next" && mount --bind "$(dirname "$next")" "$root/work-next"
# Start from a machine without the package, its accounts and its folders.
in_root dpkg --purge kestrola >/dev/null 2>&1 || true
in_root sh -c 'deluser --system _kestrola; delgroup --system kestrola' >/dev/null 2>&1 || true
rm -rf "$root/var/lib/kestrola" "$root/opt/kestrola"
# An installation of the old layout, whose settings must move over.
mkdir -p "$root/opt/kestrola"
printf '[Kestrola]\r\nPwdDB=old-secret\r\nServicioActivo=0\r\n' >"$root/opt/kestrola/config.ini"
printf 'old line\r\n' >"$root/opt/kestrola/log_20260101.log"

echo "== install"
in_root dpkg -i "/work-deb/$(basename "$deb")" || fail "install"
in_root getent group kestrola >/dev/null || fail "no group kestrola"
in_root getent passwd _kestrola | grep -q ':/var/lib/kestrola:' || fail "no user _kestrola"
[ "$(in_root stat -c '%a %U %G' /var/lib/kestrola)" = "3770 root kestrola" ] ||
  fail "data folder: $(in_root stat -c '%a %U %G' /var/lib/kestrola)"
grep -q old-secret "$root/var/lib/kestrola/config.ini" || fail "config.ini not moved over"
[ -f "$root/var/lib/kestrola/log_20260101.log" ] || fail "old log not moved over"
[ ! -e "$root/opt/kestrola" ] || fail "/opt/kestrola left behind"
[ "$(stat -c '%a %U' "$root/usr/lib/kestrola/kestrola")" = "755 root" ] || fail "program mode"

echo "== start as the service account, headless"
chroot --userspec=_kestrola:kestrola "$root" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
  HOME=/var/lib/kestrola /usr/lib/kestrola/kestrola --app-dir /var/lib/kestrola \
  >"$root/tmp/out" 2>"$root/tmp/err" &
pid=$!
for _ in $(seq 100); do grep -q Terminal= "$root/var/lib/kestrola/config.ini" && break; sleep 0.1; done
sleep 0.5
kill -0 $pid 2>/dev/null || { cat "$root/tmp/err"; fail "the service did not stay up"; }
kill $pid; wait $pid 2>/dev/null || true
grep -q 'Terminal' "$root/var/lib/kestrola/config.ini" || fail "no config"
grep -q offscreen "$root/tmp/err" || fail "no word about the offscreen platform"
grep -q '^Terminal=1' "$root/var/lib/kestrola/config.ini" || fail "config.ini not completed"
in_root sh -c "stat -c '%a %U %G %n' /var/lib/kestrola/*"
[ "$(in_root stat -c '%G' /var/lib/kestrola/config.ini)" = kestrola ] || fail "config group"
[ "$(in_root stat -c '%a' /var/lib/kestrola/config.ini)" = 660 ] || fail "config mode"
# The wrapper command on PATH uses the same shared folder.
in_root sh -c 'grep -q "KESTROLA_HOME:=/var/lib/kestrola" /usr/bin/kestrola' || fail "wrapper"
in_root kestrola --version | grep -q '^kestrola ' || fail "kestrola --version"
# A user outside the group cannot read the password.
in_root runuser -u nobody -- cat /var/lib/kestrola/config.ini >/dev/null 2>&1 &&
  fail "nobody reads config.ini"

echo "== upgrade keeps edits under /etc"
sed -i 's/^KESTROLA_LOG_DAYS=.*/KESTROLA_LOG_DAYS=30/' "$root/etc/default/kestrola"
echo "# edited" >>"$root/etc/xdg/autostart/kestrola.desktop"
in_root dpkg -i --force-confold "/work-next/$(basename "$next")" || fail "upgrade"
grep -q '^KESTROLA_LOG_DAYS=30' "$root/etc/default/kestrola" || fail "upgrade lost an edit"
grep -q '# edited' "$root/etc/xdg/autostart/kestrola.desktop" || fail "autostart edit lost"
grep -q '^Terminal=1' "$root/var/lib/kestrola/config.ini" || fail "upgrade lost config.ini"

echo "== remove keeps settings, logs and accounts"
in_root dpkg --remove kestrola || fail "remove"
[ ! -e "$root/usr/lib/kestrola/kestrola" ] || fail "program left after remove"
[ -f "$root/var/lib/kestrola/config.ini" ] || fail "remove took config.ini"
[ -f "$root/etc/default/kestrola" ] || fail "remove took a conffile"
in_root getent group kestrola >/dev/null || fail "remove took the group"
in_root dpkg -s kestrola | grep -q '^Status: deinstall ok config-files' || fail "state after remove"

echo "== purge after remove"
in_root dpkg --purge kestrola || fail "purge"
[ ! -e "$root/var/lib/kestrola" ] || fail "purge left /var/lib/kestrola"
[ ! -e "$root/etc/default/kestrola" ] || fail "purge left /etc/default/kestrola"
in_root getent group kestrola >/dev/null && fail "purge left the group"
in_root getent passwd _kestrola >/dev/null && fail "purge left the user"
in_root dpkg -s kestrola >/dev/null 2>&1 && fail "the package is still known"

echo "== a group of the shop's own survives a purge"
in_root addgroup --system kestrola >/dev/null
in_root dpkg -i "/work-deb/$(basename "$deb")" >/dev/null || fail "reinstall"
in_root dpkg --purge kestrola >/dev/null || fail "purge (installed)"
in_root getent group kestrola >/dev/null || fail "purge removed a group it did not create"
echo "throw-away root: ok"
INSIDE

mkdir -p "$scratch/ov/upper" "$scratch/ov/work" "$scratch/ov/root"
if ! unshare -m --propagation private sh -c \
  "mount -t overlay overlay -o lowerdir=/,upperdir=$scratch/ov/upper,workdir=$scratch/ov/work \
   $scratch/ov/root" 2>/dev/null; then
  echo "overlay mounts not allowed here: install/upgrade/remove/purge not exercised"
  exit 0
fi
unshare -m --propagation private bash -c "
  mount -t overlay overlay -o lowerdir=/,upperdir=$scratch/ov/upper,workdir=$scratch/ov/work \
    $scratch/ov/root && bash $scratch/inside.sh $scratch/ov/root $deb $scratch/next/next.deb"
