#!/bin/sh
# First process of the test guest, run by busybox from the initramfs. It loads
# the drivers, waits for the optical drives, sets up the host's root file
# system as a chroot so that the freshly built programs run against the
# guest's own /dev/sr*, then serves the host's commands on a virtio serial
# port until the host stops the machine.
#
# The kernel command line brings:
#   trayvo_optical   how many optical drives the machine was given
#   trayvo_bin       the host directory holding the built programs
#
# Commands, one a line:  ID VERB ARGS...
# answered by the command's output, then "@@done ID STATUS". The host bounds
# how long it waits for each.
#   run PROGRAM ARGS...   the program, inside the chroot
#   sysblock              "NAME TYPE SYSFS_PATH" for every block device
#   sectors NODE FIRST N  hex of N 2048-byte sectors read through the drive
#   mount NODE / umount   the disc at /mnt, listed
#   blocking-open NODE    opens the node the way that closes an open tray
#   mounts                the guest's /proc/mounts
# Paths below are as the chroot sees them, hex-encoded where a disc's label,
# with its spaces, becomes part of them.
#   mount-at NODE HEXDIR  the disc at that directory, made first
#   umount-at HEXDIR      the topmost mount there
#   tmpfs-over HEXDIR     a tmpfs mounted over that directory, holding kept.txt
#   hold HEXDIR           a process with its working directory there, which
#                         keeps the mount busy; prints its pid
#   release PID           ends that process
#   silent-bus            a system bus that takes connections and never
#                         answers, as a hung one does; prints its pid
#   opener-stand-in SCRIPT DIR  a stand-in for the desktop's opener at SCRIPT
#                         that records each start's arguments, NUL-separated,
#                         in a file of its own in DIR
#   records DIR TENTHS    waits that many tenths of a second at most for a
#                         record, then prints "record NAME" and its hex for each
#   gui-start PROGRAM     an X server, then the program on it; prints both pids
#   x PROGRAM ARGS...     a program inside the chroot, on that X server
#   gui-stop XPID PID     ends both, saying whether the program was still running
#   x-start PROGRAM       another program on that X server; prints its pid
#   x-stop PID            ends it
#   fetch FILE            hex of the file
#   udev-start            udev's daemon from the chroot, as a desktop system
#                         runs it, told of the block devices already there
#   udev-stop             ends it
#   scsi-delete NODE      the kernel lets go of the drive, as when unplugged
#   screen-hash NAME      the X server's screen as /tmp/NAME.ppm, and its md5
#   wakeups PID           "TID N" for each thread: its voluntary context
#                         switches, each a sleep followed by a wakeup

export PATH=/bin

# The X server's display, and the environment of a desktop user's programs.
# The chroot's /tmp and /run are the guest's own, and writable.
x_environment="PATH=/usr/local/bin:/usr/bin:/bin HOME=/tmp/home XDG_RUNTIME_DIR=/run/user/0 LANG=C.UTF-8
    DISPLAY=:1 QT_QPA_PLATFORM=xcb"
# shellcheck disable=SC2086 # the words of x_environment are meant to split
in_x() { # program, args...
    chroot /host env -i $x_environment "$@"
}
# The same in the background, each step exec'ing the next, so that $! is the
# program's own pid: the one its windows carry, and the one to stop.
# shellcheck disable=SC2086
in_x_background() { # log, program, args...
    log=$1
    shift
    (exec chroot /host env -i $x_environment "$@") </dev/null >"$log" 2>&1 3>&- &
}

unhex() { echo "$1" | xxd -r -p; }

# Waits tenths of a second at most for a condition.
await() { # tenths, command...
    left=$1
    shift
    until "$@"; do
        [ "$left" -gt 0 ] || return 1
        left=$((left - 1))
        sleep 0.1
    done
}

has_record() { [ -n "$(ls "$1")" ]; }
is_socket() { [ -S "$1" ]; }
not_running() { ! kill -0 "$1" 2>/dev/null; }

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
    mounts) cat /proc/mounts ;;
    mount-at)
        dir=/host$(unhex "$2")
        mkdir -p "$dir" && mount -t iso9660 -o ro "$1" "$dir"
        ;;
    umount-at) umount "/host$(unhex "$1")" ;;
    tmpfs-over)
        dir=/host$(unhex "$1")
        mount -t tmpfs tmpfs "$dir" && echo kept >"$dir/kept.txt"
        ;;
    hold)
        # Its output must not reach the command port, nor hold it.
        (cd "/host$(unhex "$1")" && exec sleep 600) </dev/null >/dev/null 2>&1 3>&- &
        echo $!
        ;;
    release) kill "$1" && await 50 not_running "$1" ;;
    silent-bus)
        mkdir -p /host/run/dbus && rm -f /host/run/dbus/system_bus_socket
        in_x_background /dev/null python3 -c '
import socket
bus = socket.socket(socket.AF_UNIX)
bus.bind("/run/dbus/system_bus_socket")
bus.listen(16)
held = []
while True:
    held.append(bus.accept()[0])
'
        echo $!
        await 100 is_socket /host/run/dbus/system_bus_socket
        ;;
    opener-stand-in)
        mkdir -p "/host$2" "/host${1%/*}"
        # Written to a hidden name and then renamed, so that a record is
        # never seen half written.
        printf '#!/bin/sh\nprintf "%%s\\0" "$@" >"%s/.$$" && mv "%s/.$$" "%s/$$"\n' "$2" "$2" "$2" >"/host$1"
        chmod 755 "/host$1"
        ;;
    records)
        await "$2" has_record "/host$1" || return 1
        for record in "/host$1"/*; do
            echo "record ${record##*/}"
            xxd -p "$record"
        done
        ;;
    gui-start)
        mkdir -p /host/tmp/home /host/run/user/0 && chmod 700 /host/run/user/0
        in_x_background /host/tmp/xvfb.log Xvfb :1 -screen 0 800x600x24 -nolisten tcp
        xvfb=$!
        await 200 is_socket /host/tmp/.X11-unix/X1 || { echo "no X server"; return 1; }
        in_x_background /host/tmp/program.log "$1"
        echo "$xvfb $!"
        ;;
    x) in_x "$@" </dev/null ;;
    x-start)
        in_x_background /host/tmp/x-start.log "$1"
        echo $!
        ;;
    x-stop) kill "$1" && await 50 not_running "$1" ;;
    gui-stop)
        kill -0 "$2" 2>/dev/null && echo "program running" || echo "program gone"
        kill "$2" "$1" 2>/dev/null
        await 50 not_running "$2" && await 50 not_running "$1"
        ;;
    fetch) xxd -p "/host$1" ;;
    udev-start)
        # systemd's tools refuse to act in a chroot unless told to.
        SYSTEMD_IGNORE_CHROOT=1 chroot /host /lib/systemd/systemd-udevd --daemon \
            </dev/null >/host/tmp/udevd.log 2>&1 3>&- || return 1
        chroot /host env SYSTEMD_IGNORE_CHROOT=1 udevadm trigger --action=add --subsystem-match=block &&
            chroot /host env SYSTEMD_IGNORE_CHROOT=1 udevadm settle --timeout=60
        ;;
    udev-stop) chroot /host env SYSTEMD_IGNORE_CHROOT=1 udevadm control --exit ;;
    scsi-delete) echo 1 >"/sys/block/${1##*/}/device/delete" ;;
    wakeups)
        for task in /proc/"$1"/task/*; do
            echo "${task##*/} $(sed -n 's/^voluntary_ctxt_switches:[[:space:]]*//p' "$task/status")"
        done
        ;;
    screen-hash)
        in_x import -window root -depth 8 "ppm:/tmp/$1.ppm" </dev/null &&
            md5sum "/host/tmp/$1.ppm" | cut -d' ' -f1
        ;;
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
# The host's runtime files, its buses among them, stay out of sight: the
# guest runs no desktop services.
mount -t tmpfs tmpfs /host/run
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
