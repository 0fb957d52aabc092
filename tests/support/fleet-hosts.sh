# Sourced by the fleet's test and its timing: hosts, each a Debian 12 system of its own (the one
# tests/system/real-distribution makes with debootstrap, kept in $cache, with Python and sudo for
# Ansible added once), with the built norvo-update package ($debs) and the update tool's fixture
# packages at 1.0, one overlay over a common copy per host; and the example playbook with its role
# as they stand, the fixture update as its images. The caller sets top, debs, cache and fail, and
# may set hosts (default "1 2 3 4 5") and batches (default [1, 2, "100%"]).
# shellcheck shell=bash disable=SC2154
work=$(mktemp -d /tmp/kiv-fleet.XXXXXX)
cleanup() {
    findmnt -rn -o TARGET | grep "^$work/" | sort -r | xargs -r -n1 umount -l 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
[ -s "$cache/bookworm.tar" ] || fail "no Debian system in $cache: run real-distribution first"

# The hosts' common system: Python and sudo for Ansible added once (kept in CACHE), then the built
# package and the fixtures.
base="$work/base"
mkdir "$base"
if [ ! -s "$cache/fleet.tar" ]; then
    tar -C "$base" -xf "$cache/bookworm.tar"
    cp /etc/resolv.conf "$base/etc/"
    chroot "$base" sh -c 'apt-get -qq update && DEBIAN_FRONTEND=noninteractive apt-get -qq -y \
        --no-install-recommends install python3 sudo >/dev/null && apt-get clean' >"$work/base.log" 2>&1 \
        || fail "Python and sudo could not be installed: $(tail -5 "$work/base.log")"
    rm -rf "$base"/var/lib/apt/lists/*_dists_*
    tar -C "$base" -cf "$cache/fleet.tar" .
else
    tar -C "$base" -xf "$cache/fleet.tar"
fi
"$top/tests/tools/make-update-fixtures" "$work/fixtures" >/dev/null
cp "$debs"/norvo-update_*.deb "$work"/fixtures/installed/*.deb "$work"/fixtures/agent/*.deb "$base/tmp/"
chroot "$base" sh -c 'dpkg -i /tmp/*.deb >/dev/null && apt-mark auto kiv-b >/dev/null && rm /tmp/*.deb' \
    || fail "the packages could not be installed on the hosts' system"

# The controller: the example playbook and its role as they stand, the update's images beside them.
play="$work/play"
cp -r "$top/contrib/ansible" "$play"
mkdir -p "$play/images/tampered"
xorriso -as mkisofs -quiet -r -J -V UPDATE -o "$play/images/update-1.7.4.iso" "$work/fixtures/fleet" 2>/dev/null
(cd "$play/images" && md5sum update-1.7.4.iso >update-1.7.4.iso.md5)
cp "$play"/images/update-1.7.4.iso* "$play/images/tampered/"
printf 'tampered' | dd of="$play/images/tampered/update-1.7.4.iso" bs=1 seek=40000 conv=notrunc status=none

export ANSIBLE_NOCOLOR=1 ANSIBLE_HOST_KEY_CHECKING=0 ANSIBLE_FORKS=5
hosts=${hosts:-1 2 3 4 5}
# fleet: fresh hosts, each its own overlay over the common system.
fleet() {
    local host
    for host in $hosts; do
        findmnt -rn -o TARGET | { grep "^$work/host$host/" || true; } | sort -r | xargs -r -n1 umount -l
        rm -rf "$work/host$host"
        mkdir -p "$work/host$host/upper" "$work/host$host/work" "$work/host$host/root"
        mount -t overlay -o "lowerdir=$base,upperdir=$work/host$host/upper,workdir=$work/host$host/work" \
            "fleet-host$host" "$work/host$host/root"
        mount -t proc proc "$work/host$host/root/proc"
        mount --rbind /dev "$work/host$host/root/dev"
        mount -t tmpfs run "$work/host$host/root/run"
    done
}
# inventory [HOST VARIABLES]...: the example inventory with the five hosts instead of its own,
# the words after a host's number added to its line.
inventory() {
    local host
    {
        echo "[workstations]"
        for host in $hosts; do
            echo "host$host ansible_host=$work/host$host/root ansible_connection=community.general.chroot $(
                printf '%s\n' "$@" | sed -n "s/^$host //p")"
        done
    } >"$play/inventory.ini"
}
# run NAME [OPTION]...: the example playbook with batches of 1, 2 and the rest, its output in
# $work/NAME.
run() {
    local name=$1
    shift
    (cd "$play" && ansible-playbook -i inventory.ini "$@" -e "{\"norvo_update_batches\": ${batches:-[1, 2, \"100%\"]}}" update.yml) \
        >"$work/$name" 2>&1 || true
}
in_host() { chroot "$work/host$1/root" "${@:2}"; }
# shellcheck disable=SC2016
state() { in_host "$1" dpkg-query -W -f '${Package} ${Version} ${db:Status-Abbrev}\n'; in_host "$1" apt-mark showauto; }
