#!/usr/bin/env bash
# The tests that need no display (warnings as errors, sanitizers), the
# package with lintian and its composed catalogue, on Debian 13, in a root of
# its own made with mmdebstrap from the mirror this machine's apt uses. The
# root is kept between runs (VARNEL_DEBIAN13_ROOT, /var/cache/varnel/debian13
# by default) and made again when it is missing or broken; each run gets a clean copy of
# the tree.
#
#   tests/debian13.sh SOURCE_DIR
#
# The root gets a /dev of its own and shares no mount with the machine: it
# runs in a mount and process namespace of its own, so whatever it mounts goes
# when it ends, and nothing in it can reach a process outside it.
set -euo pipefail
src=$(cd "$1" && pwd)
root=${VARNEL_DEBIAN13_ROOT:-/var/cache/varnel/debian13}
step=start
# Each step says how long it took.
begin() {
    [ "$step" = start ] || echo "debian13: $step took $((SECONDS - t0)) s"
    step=$1
    t0=$SECONDS
}
fail() { echo "debian13: $*" >&2; exit 1; }
trap 'status=$?; [ $status -eq 0 ] || echo "debian13: FAILED at $step (status $status)" >&2' EXIT
if [ "$(id -u)" -ne 0 ]; then
    fail "making and entering a root needs root: run it with sudo (or make the root with" \
        "mmdebstrap's unshare mode and point VARNEL_DEBIAN13_ROOT at it)"
fi
. "$src/scripts/lib.sh"
ensure_packages mmdebstrap

# COMMAND runs inside the root, in namespaces of its own.
inside() {
    unshare --mount --pid --fork --kill-child -- bash -euc '
        r=$1 command=$2
        # The root is a mount point, as on a running system.
        mount --bind "$r" "$r"
        mount -t proc proc "$r/proc"
        mount -t tmpfs -o mode=755,nosuid dev "$r/dev"
        for node in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "tty 5 0"; do
            set -- $node
            mknod -m 666 "$r/dev/$1" c "$2" "$3"
        done
        mkdir "$r/dev/pts" "$r/dev/shm"
        mount -t devpts -o newinstance,ptmxmode=0666 devpts "$r/dev/pts"
        mount -t tmpfs -o mode=1777,nosuid,nodev shm "$r/dev/shm"
        ln -s pts/ptmx "$r/dev/ptmx"
        ln -s /proc/self/fd "$r/dev/fd"
        cp /etc/resolv.conf "$r/etc/resolv.conf"
        exec chroot "$r" /usr/bin/env -i HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -euc "$command"
    ' inside "$root" "$1"
}

begin "the root"
# What the steps need of the machine, said as such: a root that cannot be
# entered here is not a broken root.
namespaces=$(unshare --mount --pid --fork --kill-child -- true 2>&1) ||
    fail "this machine gives no mount and process namespaces (unshare: $namespaces)"
if [ ! -f "$root/.varnel-ready" ] || ! inside 'dpkg --audit && apt-get check -q >/dev/null'; then
    mirror=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' 'Identifier: Packages' |
        awk '$2 !~ /-/ {print $1; exit}')
    [ -n "$mirror" ] || fail "apt names no Debian mirror"
    echo "debian13: making the root in $root from $mirror"
    # Never into a file system mounted below it (a run ended half-way).
    rm -rf --one-file-system "$root" "$root.new"
    mkdir -p "$(dirname "$root")"
    # What the build, the tests without a display and the package need. What
    # mmdebstrap mounts in the new root (proc, sys, devpts) goes with its
    # namespace, however it ends.
    packages=$(printf '%s,' "${RUN_PACKAGES[@]}" "${CHECK_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}")
    unshare --mount --pid --fork --kill-child -- \
        mmdebstrap --mode=root --variant=apt --include="${packages%,}" \
        trixie "$root.new" "deb $mirror trixie main" "deb $mirror trixie-updates main"
    touch "$root.new/.varnel-ready"
    mv "$root.new" "$root"
fi

begin "the copy of the tree"
rm -rf --one-file-system "$root/work"
mkdir -p "$root/work/varnel"
(cd "$src" && tar --exclude=./build --exclude=./.git -cf - .) | tar -xf - -C "$root/work/varnel"

begin "the tests without a display"
inside 'cd /work/varnel && ./scripts/test --no-desktop'
begin "the package"
inside 'cd /work/varnel && ./scripts/package'
begin "lintian"
inside 'cd /work/varnel && lintian --fail-on error,warning build/package/varnel_*.deb'
begin "the catalogue"
inside 'cd /work/varnel && bash tests/catalogue.sh build/package/varnel_*.deb'
begin done
echo "ok: debian13: the tests without a display, the package, lintian and the catalogue pass on" \
    "Debian 13"
