#!/bin/sh
# First process of the test guest, run by busybox from the initramfs. It loads
# the drivers, waits for the optical drives, sets up the host's root file
# system as a chroot so that the freshly built programs run against the
# guest's own /dev/sr*, then serves the host's commands on a virtio serial
# port until the host stops the machine.
#
# The kernel command line brings:
#   trayvo_optical   how many optical drives the machine was given
#   trayvo_bin       the host directory holding the built test programs
#
# Commands, one a line:  ID VERB ARGS...
# answered by the command's output, then "@@done ID STATUS". The host bounds
# how long it waits for each.
#   run PROGRAM ARGS...   the program, inside the chroot
#   sysblock              "NAME TYPE SYSFS_PATH" for every block device
#   sectors NODE FIRST N  hex of N 2048-byte sectors read through the drive
#   mount NODE / umount   the disc at /mnt, listed
#   blocking-open NODE    opens the node the way that closes an open tray

export PATH=/bin

serve() { # verb, args...
    verb=$1
    shift
    case $verb in
    run) chroot /host "$@" </dev/null ;;
    sysblock)
        for dir in /sys/block/*; do
            echo "${dir##*/} $(cat "$dir/device/type" 2>/dev/null || echo -) $(readlink -f "$dir")"
        done
        ;;
    sectors) dd if="$1" bs=2048 skip="$2" count="$3" 2>/dev/null | xxd -p ;;
    mount) mount -t iso9660 -o ro "$1" /mnt && find /mnt -mindepth 1 ;;
    umount) umount /mnt ;;
    blocking-open) : <"$1" ;;
    *)
        echo "unknown command $verb"
        return 127
        ;;
    esac
}

# Each command runs as its own process, so that a failing one cannot end the loop.
if [ "${1:-}" = serve ]; then
    shift
    serve "$@"
    exit
fi

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

say() { echo "guest: $*" >/dev/console; }
die() {
    say "$*"
    [ -n "${control:-}" ] && echo "@@failed $*" >"$control"
    poweroff -f
}

while read -r module; do
    modprobe "$module" || die "modprobe $module failed"
done </etc/trayvo-modules

# SCSI scans run asynchronously: the drives come some time after their driver.
tries=0
while [ "$(find /dev -maxdepth 1 -name 'sr*' | wc -l)" -lt "${trayvo_optical:?}" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 300 ] || break
    sleep 0.05
done

share() { # tag, mount point
    mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose "$1" "$2" || die "cannot mount the $1 share"
}
share hostroot /host
mount -o bind /dev /host/dev
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t tmpfs tmpfs /host/tmp
# The build tree may live under /tmp, which the guest's own /tmp now hides.
mkdir -p "/host${trayvo_bin:?}" 2>/dev/null
share hostbin "/host$trayvo_bin"

# The command port is a plain byte stream: no line discipline to set up or
# to get in the way.
command_port() {
    for port in /sys/class/virtio-ports/*; do
        if [ "$(cat "$port/name" 2>/dev/null)" = trayvo.control ] && [ -c "/dev/${port##*/}" ]; then
            echo "/dev/${port##*/}"
        fi
    done
}
tries=0
until control=$(command_port) && [ -n "$control" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || die "no command port"
    sleep 0.05
done
exec 3<>"$control"

echo "@@ready $(uname -r) $(cut -d' ' -f1 /proc/uptime)" >&3
while read -r id verb args <&3; do
    # shellcheck disable=SC2086 # the host sends whitespace-free words
    /init serve "$verb" $args >&3 2>&3
    echo "@@done $id $?" >&3
done
die "the command channel closed"
