#!/bin/sh
# The Debian package built from the project's CMake, checked by lintian, installed with
# dpkg -i into this machine and removed again: the programs in /usr/bin, the station user, a
# station run by that user from the installed programs, the systemd unit verified (or its
# keys checked where systemd-analyze cannot run).
#
# usage: package_test.sh BUILD_DIR      (as root; exit 77 = skipped)
set -eu
build=$(cd "$1" && pwd)
if [ "$(id -u)" != 0 ]; then echo "skipped: needs root for dpkg -i"; exit 77; fi
if dpkg-query -W -f='${Status}' velkantor 2>/dev/null | grep -q installed; then
    echo "skipped: a velkantor package is installed here already; it is left alone"
    exit 77
fi
work=$(mktemp -d)
state_existed=no
[ -e /var/lib/velkantor ] && state_existed=yes
user_existed=no
getent passwd velkantor >/dev/null && user_existed=yes
installed=no
cleanup() {
    if [ "$installed" = yes ]; then dpkg -P velkantor >/dev/null 2>&1 || true; fi
    rm -rf /var/lib/velkantor/package-test
    if [ "$state_existed" = no ]; then rm -rf /var/lib/velkantor; fi
    # The package keeps its user on purge; the test leaves the machine as it found it.
    if [ "$user_existed" = no ] && getent passwd velkantor >/dev/null; then
        deluser --system velkantor >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/velkantor_*.deb)

# Debian's own checks: no error and no hardening tag (of any level: bind-now and fortified
# functions are only "info" to lintian); the rest is printed for the reader.
command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps)"
lintian --display-info --fail-on none "$deb" >"$work/lintian.log" 2>&1 || true
grep -v "running with root privileges" "$work/lintian.log" || true
! grep -q "^E: " "$work/lintian.log" || fail "lintian errors"
! grep -q "hardening-" "$work/lintian.log" || fail "lintian: the programs are not hardened"
# The changelog's last entry is this package's version: a new version needs its entry.
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/velkantor/changelog.Debian.gz |
    gunzip | head -1 | grep -qF "velkantor ($version)" ||
    fail "changelog.Debian.gz does not start with version $version"
# The sound of the alarm is played by aplay.
dpkg-deb -f "$deb" Recommends | grep -qw alsa-utils || fail "alsa-utils not recommended"
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
installed=yes

# The installed program is the one built.
[ "$(/usr/bin/velkantor --version)" = "$("$build/velkantor" --version)" ] || fail "--version"
[ -x /usr/bin/velkantor-sim ] || fail "velkantor-sim not in /usr/bin"

# The station user: a system account in dialout, owning the stations' folder.
uid=$(id -u velkantor) || fail "no user velkantor"
[ "$uid" -lt 1000 ] || fail "velkantor is not a system user ($uid)"
id -nG velkantor | tr ' ' '\n' | grep -qx dialout || fail "velkantor is not in dialout"
[ "$(stat -c %U /var/lib/velkantor)" = velkantor ] || fail "/var/lib/velkantor not owned by velkantor"

# A simulated station run by the station user from the installed programs (the simulator is
# found beside the program in /usr/bin).
runuser -u velkantor -- /usr/bin/velkantor --headless --simulate \
    --station /var/lib/velkantor/package-test --for 3 >"$work/run.log" 2>&1 ||
    { cat "$work/run.log"; fail "the station did not run as velkantor"; }
grep -q "STOP" "$work/run.log" || { cat "$work/run.log"; fail "no STOP in the run"; }

unit=/usr/lib/systemd/system/velkantor@.service
[ -f "$unit" ] || fail "no unit $unit"
if command -v systemd-analyze >/dev/null && systemd-analyze verify "$unit" >"$work/verify.log" 2>&1; then
    echo "systemd-analyze verify: ok"
elif command -v systemd-analyze >/dev/null && [ -s "$work/verify.log" ] &&
    ! grep -qi "bus\|connect\|not booted" "$work/verify.log"; then
    cat "$work/verify.log"
    fail "systemd-analyze verify"
else
    echo "systemd-analyze cannot run here; checking the unit's keys"
fi
# The keys that make the service what it is, verified or not.
for key in \
    "ExecStart=/usr/bin/velkantor --headless --station /var/lib/velkantor/%i" \
    "User=velkantor" "SupplementaryGroups=dialout" "Restart=on-failure" \
    "NoNewPrivileges=yes" "PrivateTmp=yes" "ProtectSystem=strict" \
    "ReadWritePaths=/var/lib/velkantor" "Environment=VELKANTOR_WRITABLE_PATHS=/var/lib/velkantor" \
    "CapabilityBoundingSet=" "WantedBy=multi-user.target" \
    "WorkingDirectory=-/var/lib/velkantor/%i" "DeviceAllow=char-ttyAMA rw" \
    "RestartPreventExitStatus=1 2 5"; do
    grep -qxF "$key" "$unit" || fail "the unit lacks $key"
done
grep -q -- "--set-pc-clock" "$unit" && ! grep -q "^ExecStart=.*--set-pc-clock" "$unit" ||
    fail "--set-pc-clock must stay off (and be documented in the unit)"

dpkg -r velkantor >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "dpkg -r"; }
[ ! -e /usr/bin/velkantor ] && [ ! -e "$unit" ] || fail "files left after dpkg -r"
[ -d /var/lib/velkantor ] || fail "dpkg -r removed the stations' folder"
# A purge keeps the user that owns the station folders: installed again, the package finds
# it, and the station left behind is written by the same uid.
dpkg -P velkantor >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg -P"; }
installed=no
[ "$(id -u velkantor 2>/dev/null)" = "$uid" ] || fail "dpkg -P removed the station user"
dpkg -i "$deb" >"$work/dpkg2.log" 2>&1 || { cat "$work/dpkg2.log"; fail "dpkg -i again"; }
installed=yes
[ "$(id -u velkantor)" = "$uid" ] || fail "the reinstall made the user again with another uid"
runuser -u velkantor -- /usr/bin/velkantor --headless --simulate \
    --station /var/lib/velkantor/package-test --for 2 >"$work/run2.log" 2>&1 ||
    { cat "$work/run2.log"; fail "the station left behind cannot be run after a reinstall"; }
echo "package: built, installed, run, verified, purged and reinstalled"
