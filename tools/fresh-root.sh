#!/usr/bin/env bash
# Runs a command the way a new user meets this project: as root, in a fresh
# clone of this repository's current commit, on a Debian that holds nothing
# but mmdebstrap's minimal base. It proves the README's set-up commands on
# each release, for example
#
#     bash tools/fresh-root.sh bookworm 'bash tools/run.sh'
#     bash tools/fresh-root.sh trixie 'bash tools/test.sh'
#
# The base (--variant=minbase, apt reading the release, its updates and its
# security fixes) is made once and kept as a tarball in the cache folder;
# each run unpacks a fresh copy, clones the commit into /root/trayvo2010 with
# the project's shared documents beside it (/root/shared, as CI lays them)
# and runs COMMAND there with CI=true and no standard input. Only committed
# work takes part. mmdebstrap gives the root /proc, /sys and /dev; this adds
# /dev/kvm, fuse and tun where the host has them, and tmpfs on /run, /tmp and
# /dev/shm. Everything runs in private mount, PID, UTS and IPC namespaces, so
# that however it ends the kernel takes its mounts and processes away with
# it. Every line carries the seconds since the start, and the run closes with
# what the command installed.
#
# Usage: fresh-root.sh [MMDEBSTRAP_OPTION...] RELEASE [COMMAND]
# Options such as --customize-hook go to mmdebstrap; its customize hooks run
# after the clone and before COMMAND, and count in what was installed.
# Needs root, mmdebstrap, unshare, git for a COMMAND, and Debian's mirror
# (TRAYVO_DEBIAN_MIRROR, TRAYVO_DEBIAN_SECURITY_MIRROR choose others). The cache is
# TRAYVO_FRESH_ROOT_CACHE, by default /var/cache/trayvo-fresh-root: about
# 200 MiB a release, and each run's copy while it lasts (about 5 GiB for the
# test command), on disk unless TRAYVO_FRESH_ROOT_TMPFS gives the size of a
# tmpfs to hold it (unpacking on this disk took 24 s, into memory 1 s).
set -euo pipefail

say() { printf 'fresh-root: %s\n' "$*"; }
die() {
    say "$*" >&2
    exit 1
}

# --- Customize hooks, inside the namespaces; $2 is the root ---------------------

clone_dir=/root/trayvo2010

footprint() { # what dpkg says is installed, and what /usr takes, in KiB
    chroot "$1" sh -c "dpkg-query -W -f='\${Installed-Size}\n' | awk '{ s += \$1; n++ } END { print n, s }'; du -skx /usr | cut -f1" |
        tr '\n' ' '
}

if [ "${1:-}" = --enter ]; then
    root=$2
    for node in kvm fuse net/tun; do
        [ -c "/dev/$node" ] || continue
        mkdir -p "$(dirname "$root/dev/$node")"
        touch "$root/dev/$node"
        mount --bind "/dev/$node" "$root/dev/$node"
    done
    mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
    mount -t tmpfs -o mode=0755,nosuid,nodev run "$root/run"
    mkdir -m 1777 "$root/run/lock"
    mount -t tmpfs -o mode=1777,nosuid,nodev tmp "$root/tmp"
    if [ -n "$TRAYVO_FRESH_ROOT_COMMAND" ]; then
        git clone -q --no-hardlinks --no-checkout "$TRAYVO_FRESH_ROOT_REPO" "$root$clone_dir"
        git -C "$root$clone_dir" checkout -q --detach "$TRAYVO_FRESH_ROOT_COMMIT"
        if [ -d "$TRAYVO_FRESH_ROOT_REPO/../shared" ]; then
            cp -r "$TRAYVO_FRESH_ROOT_REPO/../shared" "$root$clone_dir/../shared"
            chmod -R a-w "$root$clone_dir/../shared"
        fi
    fi
    echo "$(footprint "$root")" >"$TRAYVO_FRESH_ROOT_RUN/before"
    read -r packages installed usr <"$TRAYVO_FRESH_ROOT_RUN/before"
    say "the base holds $packages packages: $((installed / 1024)) MiB by dpkg's Installed-Size; /usr $((usr / 1024)) MiB"
    exit 0
fi

if [ "${1:-}" = --run ]; then
    root=$2 command=$TRAYVO_FRESH_ROOT_COMMAND status=0
    if [ -n "$command" ]; then
        chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 CI=true \
            /bin/bash -c "cd $clone_dir && $command" </dev/null || status=$?
        say "the command exited with status $status"
    fi
    read -r packages_before installed_before usr_before <"$TRAYVO_FRESH_ROOT_RUN/before"
    read -r packages_after installed_after usr_after <<<"$(footprint "$root")"
    say "installed $((packages_after - packages_before)) packages: $(((installed_after - installed_before) / 1024)) MiB by dpkg's Installed-Size; /usr grew from $((usr_before / 1024)) to $((usr_after / 1024)) MiB"
    echo "$status" >"$TRAYVO_FRESH_ROOT_RUN/status"
    # mmdebstrap unmounts and deletes the root next: what the command left
    # running in it (only it runs there, in this PID namespace) ends first,
    # and nothing is deleted through these mounts.
    for process in /proc/[0-9]*; do
        [ "$(readlink "$process/root")" != "$root" ] || kill -KILL "${process#/proc/}" 2>/dev/null || true
    done
    umount -R -l "$root/tmp" "$root/run" "$root/dev/shm"
    for node in kvm fuse net/tun; do umount -l "$root/dev/$node" 2>/dev/null || true; done
    exit 0
fi

# --- Outside: the base system, then one run from it ------------------------------

options=()
while [[ ${1:-} == --* ]]; do
    options+=("$1")
    shift
done
[ $# -eq 1 ] || [ $# -eq 2 ] || die "usage: $0 [MMDEBSTRAP_OPTION...] RELEASE [COMMAND]"
release=$1
[[ $release =~ ^[a-z]+$ ]] || die "the release is a Debian code name such as bookworm or trixie, not '$release'"
[ "$(id -u)" -eq 0 ] || die "needs root: mmdebstrap's root mode, chroot and mounts"
for tool in mmdebstrap unshare chroot flock; do
    command -v "$tool" >/dev/null || die "$tool is missing"
done

mirror=${TRAYVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security_mirror=${TRAYVO_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
sources=("deb $mirror $release main" "deb $mirror $release-updates main" "deb $security_mirror $release-security main")
cache=${TRAYVO_FRESH_ROOT_CACHE:-/var/cache/trayvo-fresh-root}
base=$cache/$release-mmdebstrap-minbase.tar
mkdir -p "$cache/runs"

# Only a COMMAND needs the clone, and so git: the package test runs its hook
# alone, on machines that may have no git.
repo= commit=
if [ $# -eq 2 ]; then
    command -v git >/dev/null || die "git is missing: COMMAND runs in a clone of this repository"
    repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
    commit=$(git -C "$repo" rev-parse HEAD)
    [ -z "$(git -C "$repo" status --porcelain --untracked-files=no)" ] ||
        say "uncommitted changes in $repo take no part: the run uses commit ${commit:0:12}"
fi

script=$(realpath "$0")
started=$SECONDS
stamp() { while IFS= read -r line; do printf '[%5ds] %s\n' $((SECONDS - started)) "$line"; done; }
(
    flock -w 1800 9 || die "another run keeps $cache/$release.lock"
    [ -f "$base" ] && exit 0
    say "making a $release base system with mmdebstrap from $mirror"
    # The package lists stay: a fresh install has them too.
    mmdebstrap --mode=root --variant=minbase --format=tar --skip=cleanup/apt/lists \
        "$release" "$base.tmp" "${sources[@]}" 2>&1 | stamp
    mv "$base.tmp" "$base"
    say "base system kept in $base ($(du -m "$base" | cut -f1) MiB)"
) 9>"$cache/$release.lock"

run=$(mktemp -d "$cache/runs/$release.XXXXXX")
trap 'rm -rf --one-file-system "$run"' EXIT
export TRAYVO_FRESH_ROOT_REPO=$repo TRAYVO_FRESH_ROOT_COMMIT=$commit TRAYVO_FRESH_ROOT_RUN=$run \
    TRAYVO_FRESH_ROOT_COMMAND=${2:-} TMPDIR=$run/tmp
mkdir "$TMPDIR"
say "$release${commit:+, commit ${commit:0:12}}: ${2:-(no command)}"
# In a chroot, such as another fresh root when the package test runs in one,
# / is no mount point and cannot be made private; the namespace around that
# chroot already keeps its mounts from the host's.
propagation=()
mountpoint -q / || propagation=(--propagation unchanged)
status=0
unshare --mount "${propagation[@]}" --pid --uts --ipc --fork --kill-child --mount-proc \
    "$BASH" -c '[ -z "$1" ] || mount -t tmpfs -o "size=$1" fresh-root "$TMPDIR"; shift; exec "$@"' \
    - "${TRAYVO_FRESH_ROOT_TMPFS:-}" mmdebstrap --mode=root --variant=custom --skip=update --quiet \
    --setup-hook="tar --numeric-owner -C \"\$1\" -xf '$base'" \
    --customize-hook="$BASH '$script' --enter \"\$1\"" "${options[@]}" --customize-hook="$BASH '$script' --run \"\$1\"" \
    "$release" /dev/null "${sources[@]}" 2>&1 </dev/null | stamp || status=$?
[ -f "$run/status" ] && [ "$status" -eq 0 ] && status=$(cat "$run/status")
say "finished after $((SECONDS - started)) s with status $status"
exit "$status"
