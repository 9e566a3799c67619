#!/usr/bin/env bash
# Runs a command the way a new user meets this project: as root, in a fresh
# clone of this repository's current commit, on a Debian that holds nothing
# but debootstrap's minimal base. It proves the README's set-up commands on
# each release, for example
#
#     bash tools/fresh-root.sh bookworm 'bash tools/run.sh'
#     bash tools/fresh-root.sh trixie 'bash tools/test.sh'
#
# The base system of each release is made once with debootstrap
# (--variant=minbase) and kept as a tarball in the cache folder, outside the
# clone; every run unpacks a fresh copy of it, clones the commit into
# /root/trayvo2010 with a copy of the project's shared documents beside it
# (/root/shared, as CI lays them), and runs COMMAND there with CI=true and no
# standard input. Only committed work takes part.
#
# The command gets what a fresh machine gives it: /proc, /sys, a /dev of its
# own (pseudo-terminals, shared memory, /dev/kvm where the host has it), /run,
# a /tmp, the host's name servers and network. It runs in private mount, PID,
# UTS and IPC namespaces, so that however it ends, the kernel takes its mounts
# and processes away with it; the copy is deleted afterwards unless
# TRAYVO_FRESH_ROOT_KEEP=1. Every line of output carries the seconds since the
# command started, and the run closes with what the command installed.
#
# Usage: fresh-root.sh RELEASE COMMAND
# Needs root, debootstrap, git, unshare and Debian's mirror (TRAYVO_DEBIAN_MIRROR
# chooses another); apt in the root reads the release, its updates and its
# security fixes, as on an installed machine. The cache is
# TRAYVO_FRESH_ROOT_CACHE, by default /var/cache/trayvo-fresh-root: about
# 200 MiB a release, and each run's copy while it lasts (about 5 GiB for the
# test command). A run killed outright leaves its copy in runs/.
set -euo pipefail

mirror=${TRAYVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security_mirror=${TRAYVO_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
cache=${TRAYVO_FRESH_ROOT_CACHE:-/var/cache/trayvo-fresh-root}
clone_dir=/root/trayvo2010 # inside the root; the shared documents go beside it

die() {
    printf 'fresh-root: %s\n' "$*" >&2
    exit 1
}
say() { printf 'fresh-root: %s\n' "$*"; }

# --- Inside the namespaces: the machine, then the command ----------------------

if [ -n "${TRAYVO_FRESH_ROOT_INSIDE:-}" ]; then
    root=$1 command=$2

    # The root a mount of its own, as / is on a machine: unshare --mount
    # inside, for one, changes the propagation of / and needs it to be one.
    mount --bind "$root" "$root"
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --make-rslave "$root/sys"

    # A /dev of its own, with the host's devices a machine has bound into it:
    # what the command creates there stays there.
    mount -t tmpfs -o mode=0755,nosuid,size=64m dev "$root/dev"
    for node in null zero full random urandom tty kvm fuse net/tun; do
        [ -c "/dev/$node" ] || continue
        mkdir -p "$(dirname "$root/dev/$node")"
        touch "$root/dev/$node"
        mount --bind "/dev/$node" "$root/dev/$node"
    done
    ln -s /proc/self/fd "$root/dev/fd"
    ln -s /proc/self/fd/0 "$root/dev/stdin"
    ln -s /proc/self/fd/1 "$root/dev/stdout"
    ln -s /proc/self/fd/2 "$root/dev/stderr"
    mkdir "$root/dev/pts" "$root/dev/shm"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$root/dev/pts"
    ln -s pts/ptmx "$root/dev/ptmx"
    mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"

    mount -t tmpfs -o mode=0755,nosuid,nodev run "$root/run"
    mkdir -m 1777 "$root/run/lock"
    mount -t tmpfs -o mode=1777,nosuid,nodev tmp "$root/tmp"
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"

    # What dpkg says is installed, and what /usr takes on disk, in KiB.
    footprint() {
        chroot "$root" sh -c \
            "dpkg-query -W -f='\${Installed-Size}\n' | awk '{ s += \$1; n++ } END { print n, s }'; du -skx /usr | cut -f1" |
            tr '\n' ' '
    }
    read -r packages_before installed_before usr_before <<<"$(footprint)"
    say "the base holds $packages_before packages: $((installed_before / 1024)) MiB by dpkg's Installed-Size; /usr $((usr_before / 1024)) MiB"

    status=0
    chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 CI=true \
        /bin/bash -c "cd $clone_dir && $command" </dev/null || status=$?

    read -r packages_after installed_after usr_after <<<"$(footprint)"
    say "the command exited with status $status"
    say "installed $((packages_after - packages_before)) packages: $(((installed_after - installed_before) / 1024)) MiB by dpkg's Installed-Size; /usr grew from $((usr_before / 1024)) to $((usr_after / 1024)) MiB"
    exit $status
fi

# --- Outside: the base system, the copy and the clone --------------------------

[ $# -eq 2 ] || die "usage: $0 RELEASE COMMAND (for example: $0 trixie 'bash tools/test.sh')"
release=$1 command=$2
[[ $release =~ ^[a-z]+$ ]] || die "the release is a Debian code name such as bookworm or trixie, not '$release'"
[ "$(id -u)" -eq 0 ] || die "needs root: it runs debootstrap and chroot and mounts file systems"
for tool in debootstrap git unshare chroot tar flock; do
    command -v "$tool" >/dev/null || die "$tool is missing"
done

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
commit=$(git -C "$repo" rev-parse HEAD)
[ -z "$(git -C "$repo" status --porcelain --untracked-files=no)" ] ||
    say "uncommitted changes in $repo take no part: the run uses commit ${commit:0:12}"

mkdir -p "$cache/runs"
base=$cache/debian-$release-minbase.tar

# A fresh install of Debian reads its release's updates and security fixes
# too; debootstrap names only the release itself.
write_sources() { # root
    cat >"$1/etc/apt/sources.list" <<EOF
deb $mirror $release main
deb $mirror $release-updates main
deb $security_mirror $release-security main
EOF
    printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$1/etc/hosts"
}

make_base() {
    local new=$cache/base-$release
    rm -rf --one-file-system "$new"
    say "making a $release base system with debootstrap from $mirror"
    # In a mount namespace of its own: debootstrap mounts /proc and /sys into
    # the new system, and a failure half-way must not leave them mounted.
    if ! unshare --mount debootstrap --variant=minbase "$release" "$new" "$mirror" \
        >"$cache/debootstrap-$release.log" 2>&1; then
        tail -n 30 "$cache/debootstrap-$release.log" >&2
        die "debootstrap could not make $release (log: $cache/debootstrap-$release.log)"
    fi
    write_sources "$new"
    tar --numeric-owner -C "$new" -cf "$base.tmp" .
    mv "$base.tmp" "$base"
    rm -rf --one-file-system "$new"
    say "base system kept in $base ($(du -m "$base" | cut -f1) MiB)"
}

(
    flock -w 1800 9 || die "another run keeps $cache/$release.lock"
    [ -f "$base" ] || make_base
) 9>"$cache/$release.lock"

run=$(mktemp -d "$cache/runs/$release.XXXXXX")
root=$run/root
cleanup() {
    if [ "${TRAYVO_FRESH_ROOT_KEEP:-0}" = 1 ]; then
        say "the root is kept in $root"
    else
        # The namespaces, and with them every mount into the root, are gone
        # by now; --one-file-system guards against one that is not.
        rm -rf --one-file-system "$run"
    fi
}
trap cleanup EXIT

mkdir "$root"
tar --numeric-owner -C "$root" -xf "$base"
git clone -q --no-hardlinks --no-checkout "$repo" "$root$clone_dir"
git -C "$root$clone_dir" checkout -q --detach "$commit"
if [ -d "$repo/../shared" ]; then
    cp -r "$repo/../shared" "$root$clone_dir/../shared"
    chmod -R a-w "$root$clone_dir/../shared"
else
    say "no $repo/../shared to lay beside the clone"
fi

say "$release, commit ${commit:0:12}, in $root: $command"
started=$SECONDS
status=0
TRAYVO_FRESH_ROOT_INSIDE=1 unshare --mount --pid --uts --ipc --fork --kill-child \
    "$BASH" "$0" "$root" "$command" 2>&1 </dev/null |
    while IFS= read -r line; do printf '[%5ds] %s\n' $((SECONDS - started)) "$line"; done ||
    status=$?
say "finished after $((SECONDS - started)) s with status $status"
exit $status
