#!/usr/bin/env bash
# What the .deb carries, checked on an installation into a scratch root:
# the user guide with every picture it shows, copyright, changelog and the
# manual pages; a menu
# entry that starts the program in the home folder; a purge that leaves no
# settings file behind.
set -euo pipefail
build=$1 src=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
doc=$root/usr/share/doc/w-rq3510
for f in user-guide.md copyright changelog.gz; do
  [ -f "$doc/$f" ] || fail "$doc/$f missing"
done
gzip -t "$doc/changelog.gz" || fail "changelog.gz is no gzip file"
for m in w_rq3510 rqsim; do
  gzip -t "$root/usr/share/man/man1/$m.1.gz" || fail "manual page of $m missing"
done
# The gateway, where it was built: the program in the path, its manual page,
# an example configuration and the service unit, installed but not enabled.
if [ -x "$build/bin/rqgw" ]; then
  [ -x "$root/usr/bin/rqgw" ] || fail "/usr/bin/rqgw missing"
  gzip -t "$root/usr/share/man/man1/rqgw.1.gz" || fail "manual page of rqgw missing"
  [ -f "$doc/examples/rqgw-example.ini" ] || fail "example configuration of rqgw missing"
  [ -f "$root/usr/lib/systemd/system/rqgw@.service" ] || fail "rqgw@.service missing"
  [ ! -e "$root/etc/systemd/system/multi-user.target.wants/rqgw@.service" ] || fail "rqgw@.service enabled"
  "$root/usr/bin/rqgw" --check-config "$doc/examples/rqgw-example.ini" >/dev/null || fail "the example configuration is not valid"
fi
pictures=$(grep -o '(img/[^)]*)' "$doc/user-guide.md" | tr -d '()' | sort -u)
[ -n "$pictures" ] || fail "the user guide shows no pictures"
for p in $pictures; do
  [ -f "$doc/$p" ] || fail "picture $p of the user guide missing"
done

# The menu entry, started from / as a session may do, runs the program in the
# user's home folder (a stand-in program prints where it runs).
desktop=$root/usr/share/applications/w_rq3510.desktop
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
mkdir -p "$root/home/user" "$root/path"
printf '#!/bin/sh\npwd\n' >"$root/path/w_rq3510"
chmod +x "$root/path/w_rq3510"
where=$(cd / && HOME=$root/home/user PATH=$root/path:/usr/bin:/bin eval "$exec_line")
[ "$where" = "$root/home/user" ] || fail "the menu entry starts the program in '$where'"

# A purge removes the settings file and stale save files that runs by root
# left beside the program, and the folder they kept.
purged=$root/purged/usr/lib/w_rq3510
mkdir -p "$purged"
touch "$purged/W_rq3510.ini" "$purged/W_rq3510.ini.123.tmp"
DPKG_ROOT=$root/purged sh "$src/packaging/postrm" purge
[ ! -e "$purged" ] || fail "purge left $(ls -A "$purged")"
DPKG_ROOT=$root/purged sh "$src/packaging/postrm" purge # nothing there: still fine
echo "package layout ok"
