#!/usr/bin/env bash
# Runs the README's test command (bash scripts/test.sh, as root) on Debian 13 ("trixie") in a
# chroot made with debootstrap from the Debian archive this machine's apt uses: a check before a
# release for a developer on Debian 12. Needs root; CI=true is passed through.
#   bash scripts/test-on-debian13.sh
# The chroot stays in $TOLLVANE_CHROOT (default /srv/chroot/tollvane-trixie) for the next run;
# remove that folder to start afresh. The project's committed HEAD is cloned into its
# /root/tollvane, where the builds are kept between runs too. Everything runs in a mount
# namespace of its own, so no mount is ever seen outside it, and every mount is undone at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# Outside /usr, /etc and /var, which the packaging test on this machine lists before and after.
chroot=${TOLLVANE_CHROOT:-/srv/chroot/tollvane-trixie}
project=$chroot/root/tollvane

if [[ ${1:-} != --inside ]]; then
    if [[ $(id -u) != 0 ]]; then
        echo "test-on-debian13: run as root (sudo bash scripts/test-on-debian13.sh)" >&2
        exit 1
    fi
    if ! command -v debootstrap >/dev/null; then
        apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y debootstrap
    fi
    exec unshare -m --propagation private "$0" --inside
fi

started=$SECONDS
say() { echo "test-on-debian13: $*"; }
if [[ ! -e $chroot/.tollvane-ready ]]; then
    # The same archive as this machine's own release (deb.debian.org serves every release).
    mirror=$(apt-get indextargets --format '$(REPO_URI)' 'Label: Debian' 'Identifier: Packages' |
        head -n 1)
    # Only what an unfinished debootstrap left is removed, never a folder of someone else's.
    if [[ -n $(ls -A "$chroot" 2>/dev/null) && ! -d $chroot/debootstrap ]]; then
        say "$chroot holds something else: name another folder in TOLLVANE_CHROOT" >&2
        exit 1
    fi
    say "making the chroot in $chroot from ${mirror:?no Debian archive among apt sources}"
    rm -rf --one-file-system "$chroot"
    mkdir -p "$chroot"
    debootstrap --variant=minbase trixie "$chroot" "$mirror"
    # Packages installed there start no services.
    printf '#!/bin/sh\nexit 101\n' >"$chroot/usr/sbin/policy-rc.d"
    chmod 755 "$chroot/usr/sbin/policy-rc.d"
    touch "$chroot/.tollvane-ready"
fi
cp /etc/resolv.conf "$chroot/etc/resolv.conf"

if [[ -d $project/.git ]]; then
    git -C "$project" -c safe.directory="$root" fetch -q "$root" HEAD
    git -C "$project" checkout -q --detach FETCH_HEAD
    git -C "$project" clean -fdq # untracked files go; the ignored builds stay
else
    git -c safe.directory="$root" clone -q "$root" "$project"
    git -C "$project" checkout -q --detach "$(git -C "$root" rev-parse HEAD)"
fi
say "testing $(git -C "$project" log -1 --format='%h %s' | cut -c1-100)"

unmount() {
    # Whatever the tests left running in the chroot goes first, by process id.
    for proc in /proc/[0-9]*; do
        if [[ $(readlink "$proc/root" 2>/dev/null) == "$chroot" ]]; then
            kill -KILL "${proc#/proc/}" 2>/dev/null || true
        fi
    done
    umount -R "$chroot" 2>/dev/null || umount -R -l "$chroot"
}
trap unmount EXIT
# The chroot's root is a mount point of its own, so that unshare inside can change its propagation.
mount --bind "$chroot" "$chroot"
mount -t proc proc "$chroot/proc"
mount --rbind /sys "$chroot/sys"
mount --rbind /dev "$chroot/dev" # /dev/fuse, /dev/pts, /dev/shm
mount -t tmpfs -o mode=755 tollvane-run "$chroot/run"
mount -t tmpfs -o mode=1777 tollvane-tmp "$chroot/tmp" # nothing stays from an earlier run

status=0
chroot "$chroot" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" ${CI:+CI="$CI"} \
    bash -c 'cd /root/tollvane && bash scripts/test.sh' || status=$?
minutes=$(((SECONDS - started) / 60)) seconds=$(((SECONDS - started) % 60))
if [[ $status == 0 ]]; then
    say "passed on Debian 13 in ${minutes}m${seconds}s"
else
    say "FAILED on Debian 13 (status $status) after ${minutes}m${seconds}s"
fi
exit $status
