#!/usr/bin/env bash
# Builds the Debian package from the built tree with scripts/package and
# checks it with dpkg-deb: its files, conffiles and dependencies, the paths
# written into it, the systemd unit, the maintainer scripts and the
# /usr/sbin/ferrox command. Exits 77 (skipped) where dpkg-deb is missing.
set -euo pipefail
source_dir=$1
build_dir=$2
command -v dpkg-deb >/dev/null || { echo "dpkg-deb is not installed: the package is not built"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

deb=$(FERROX_BUILD_DIR=$build_dir "$source_dir/scripts/package" --no-build "$work/out")
[ -f "$deb" ] || fail "scripts/package made no package"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#; s#/$##' >"$work/contents"
for f in /opt/ferrox/bin/ferrox /opt/ferrox/bin/ferrox-mq /opt/ferrox/config/ferrox.cfg /opt/ferrox/log \
         /opt/ferrox/data /opt/ferrox/share/man/man8/ferrox.8.gz /opt/ferrox/share/man/man5/ferrox.cfg.5.gz \
         /opt/ferrox/share/doc/ferrox/README.md /usr/lib/systemd/system/ferrox.service /usr/sbin/ferrox \
         /usr/share/man/man8/ferrox.8.gz; do
    grep -qx "$f" "$work/contents" || fail "the package lacks $f"
done
grep -q '^/opt/ferrox/lib/libKORVADataPacket\.so\.' "$work/contents" || fail "the package lacks libKORVADataPacket"
grep -q '^/opt/ferrox/lib/libSundry5\.so\.' "$work/contents" || fail "the package lacks libSundry5"
# Nothing outside its prefix but what systemd, root's PATH and man look at,
# and the plain installation's copy of the unit stays out.
if grep -v -e '^/opt' -e '^/usr/lib/systemd' -e '^/usr/sbin' -e '^/usr/share/man' -e '^/usr$' -e '^/usr/lib$' \
        -e '^/usr/share$' -e '^/$' "$work/contents"; then
    fail "the package installs files elsewhere"
fi
! grep -q '^/opt/ferrox/share/ferrox' "$work/contents" || fail "the package carries the plain installation's unit"

depends=$(dpkg-deb -f "$deb" Depends)
for d in adduser libqt5core5a libqt5network5 libqt5xml5 libluajit-5.1-2 libsystemd0; do
    grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done

mkdir "$work/root" "$work/control"
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
# Every file of config/ is a conffile, and every conffile is in the package.
(cd "$work/root" && find opt/ferrox/config -type f | sed 's#^#/#' | sort) >"$work/config-files"
sort "$work/control/conffiles" | diff -u "$work/config-files" - || fail "conffiles differ from config/"
cfg=$work/root/opt/ferrox/config/ferrox.cfg
grep -q '"/opt/ferrox/data/plant_input.txt"' "$cfg" || fail "ferrox.cfg does not name /opt/ferrox/data"
! grep -q -e '_CPack_Packages' -e "$build_dir" "$cfg" || fail "ferrox.cfg names the staging or build directory"

unit=$work/root/usr/lib/systemd/system/ferrox.service
for line in Type=notify ExecStart=/opt/ferrox/bin/ferrox "ExecReload=/opt/ferrox/bin/ferrox -reload" User=ferrox Restart=on-failure WatchdogSec=10s \
            MemoryDenyWriteExecute=no Environment=FERROX_SERVICE_RUN=1 Environment=FERROX_CONTROL_DIR=/run/ferrox; do
    grep -qx "$line" "$unit" || fail "the unit lacks $line"
done
if command -v systemd-analyze >/dev/null; then
    level=$(systemd-analyze security --offline=true "$unit" 2>&1 | sed -n 's/.*Overall exposure level for ferrox.service: \([0-9.]*\).*/\1/p')
    [ -n "$level" ] || fail "systemd-analyze security rated nothing"
    awk -v l="$level" 'BEGIN { exit !(l < 5.0) }' || fail "exposure level $level is not below 5.0"
    # Verified with its paths pointing into the unpacked tree.
    sed "s#/opt/ferrox#$work/root/opt/ferrox#g" "$unit" >"$work/ferrox.service"
    out=$(MANPATH=$work/root/opt/ferrox/share/man systemd-analyze verify --man=no "$work/ferrox.service" 2>&1) \
        || fail "systemd-analyze verify: $out"
    [ -z "$out" ] || fail "systemd-analyze verify: $out"
else
    echo "systemd-analyze is not installed: the unit's hardening is not rated"
fi
if command -v man >/dev/null; then
    for page in man8/ferrox.8.gz man5/ferrox.cfg.5.gz; do
        warnings=$(MANWIDTH=80 man --warnings=all -E UTF-8 -l "$work/root/opt/ferrox/share/man/$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "$page: $warnings"
    done
fi

# Maintainer scripts: valid shell; postinst, with every command it calls
# stubbed, makes the user and gives it log/ and data/.
for s in postinst prerm postrm; do sh -n "$work/control/$s" || fail "$s is not valid shell"; done
mkdir "$work/stubs"
for c in getent adduser chown chmod systemctl; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n[ %s != getent ]\n' "$c" "$work/calls" "$c" >"$work/stubs/$c"
    chmod +x "$work/stubs/$c"
done
# Where systemd does not run (an image being built) the unit is still enabled.
sed "s#/opt/ferrox#$work/fresh#g" "$work/control/postinst" >"$work/postinst-fresh"
PATH=$work/stubs:$PATH sh "$work/postinst-fresh" configure "" || fail "postinst failed"
grep -qx "adduser --system --group --home $work/fresh --no-create-home --gecos Ferrox data gateway ferrox" \
    "$work/calls" || fail "postinst made no user: $(cat "$work/calls")"
for d in log data; do
    grep -qx "chown ferrox:ferrox $work/fresh/$d" "$work/calls" || fail "postinst gave $d/ to nobody"
done
grep -qx 'systemctl enable ferrox.service' "$work/calls" || fail "postinst did not enable the unit offline"
# Directories the service owns keep what the operator set on an upgrade.
mkdir -p "$work/owned/log" "$work/owned/data"
sed "s#/opt/ferrox#$work/owned#g; s#^user=ferrox#user=$(id -un)#" "$work/control/postinst" >"$work/postinst-owned"
: >"$work/calls"
PATH=$work/stubs:$PATH sh "$work/postinst-owned" configure 0.1.0 || fail "postinst failed on an upgrade"
! grep -q '^chown\|^chmod' "$work/calls" || fail "postinst reset the directories: $(cat "$work/calls")"
# Installed again after a remove (which stopped the enabled service): it runs again.
mkdir -p "$work/systemd"
sed "s#/run/systemd/system#$work/systemd#" "$work/control/postinst" >"$work/postinst-systemd"
: >"$work/calls"
PATH=$work/stubs:$PATH sh "$work/postinst-systemd" configure 0.1.0 || fail "postinst failed on an upgrade"
grep -qx 'systemctl restart ferrox.service' "$work/calls" || fail "postinst left the enabled service stopped: $(cat "$work/calls")"

# /usr/sbin/ferrox aims the program at the unit's control socket unless told otherwise.
mkdir -p "$work/prefix/bin"
printf '#!/bin/sh\necho "$FERROX_CONTROL_DIR $FERROX_SERVICE_USER $*"\n' >"$work/prefix/bin/ferrox"
chmod +x "$work/prefix/bin/ferrox"
sed "s#/opt/ferrox#$work/prefix#g" "$work/root/usr/sbin/ferrox" >"$work/wrapper"
[ "$(env -u FERROX_CONTROL_DIR -u FERROX_SERVICE_USER sh "$work/wrapper" -s)" = "/run/ferrox ferrox -s" ] \
    || fail "the wrapper does not aim at /run/ferrox/unixferrox.ferrox"
[ "$(FERROX_CONTROL_DIR=/elsewhere FERROX_SERVICE_USER=me sh "$work/wrapper" -t)" = "/elsewhere me -t" ] \
    || fail "the wrapper overrides the caller's settings"
# While the unit runs (the stubbed systemctl says so), no foreground run beside it.
sed "s#/opt/ferrox#$work/prefix#g; s#/run/systemd/system#$work/systemd#" "$work/root/usr/sbin/ferrox" >"$work/wrapper-unit"
! PATH=$work/stubs:$PATH sh "$work/wrapper-unit" -e 2>/dev/null || fail "the wrapper ran -e beside the running unit"
PATH=$work/stubs:$PATH sh "$work/wrapper-unit" -s >/dev/null || fail "the wrapper refused -s beside the running unit"
echo "Debian package OK: $(basename "$deb")"
