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
# Commands, one a line: "ID WORDS...", each word hex-encoded so that it may
# hold blanks; answered by the command's output, then "@@done ID STATUS"; the
# host bounds how long it waits for each. The first word is a verb, an arm of
# serve below; most run a command in the chroot, the X session or the guest's
# own root, so that the host says the rest. spawn starts one in the
# background and prints its pid, which release ends.

export PATH=/bin

# The X server's display, and the environment of a desktop user's programs.
# The chroot's /tmp and /run are the guest's own, and writable.
x_environment="PATH=/usr/local/bin:/usr/bin:/bin HOME=/tmp/home XDG_RUNTIME_DIR=/run/user/0 LANG=C.UTF-8
    DISPLAY=:1 QT_QPA_PLATFORM=xcb"
# shellcheck disable=SC2086 # the words of x_environment are meant to split
in_x() { # program, args...
    exec chroot /host env -i $x_environment "$@"
}

# An X server; its pid in xvfb.
start_x() {
    (in_x Xvfb :1 -screen 0 800x600x24 -nolisten tcp) </dev/null >/host/tmp/xvfb.log 2>&1 3>&- &
    xvfb=$!
    await 200 [ -S /host/tmp/.X11-unix/X1 ] || { echo "no X server"; return 1; }
}

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

not_running() { ! kill -0 "$1" 2>/dev/null; }
has_owner() {
    chroot /host dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}
# Becomes a program inside the chroot run as a user, with the user's groups
# and a user's environment: env's words, then the program and its arguments.
# In a subshell in the background, $! is the program's pid.
as_user() { # user, words...
    user=$1
    shift
    exec chroot /host /usr/bin/setpriv --reuid="$user" --regid="$user" --init-groups \
        /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="/tmp/$user" LANG=C.UTF-8 "$@"
}
# What the desktop's services write, over the read-only root, where the
# release has it: Debian 13's polkit keeps no state of its own.
desktop_tmpfs="/var/lib/udisks2 /var/lib/polkit-1 /etc/polkit-1/rules.d /var/lib/dbus /media"
# What the bus monitor logs: the program's questions to the bus, to UDisks2
# and polkit's on its behalf, every error and every connection's coming and going.
bus_watch="type=error type=signal,member=NameOwnerChanged
    type=method_call,interface=org.freedesktop.DBus,member=GetNameOwner
    type=method_call,interface=org.freedesktop.DBus,member=StartServiceByName
    type=method_call,destination=org.freedesktop.UDisks2
    type=method_call,interface=org.freedesktop.UDisks2.Filesystem
    type=method_call,interface=org.freedesktop.DBus.Properties,member=Get
    type=method_call,interface=org.freedesktop.PolicyKit1.Authority
    type=method_call,interface=org.freedesktop.PolicyKit1.AuthenticationAgent"

# Polkit reloads its rules as a file appears whole in their folder.
write_polkit_rule() { # user, result
    rules=/host/etc/polkit-1/rules.d
    cat >"$rules/.trayvo.new" <<EOF
polkit.addRule(function (action, subject) {
    if (subject.user == "$1" && action.id.indexOf("org.freedesktop.udisks2.") == 0)
        return polkit.Result.$2;
});
EOF
    mv "$rules/.trayvo.new" "$rules/50-trayvo.rules"
}

add_user() { # user; prints its uid
    mkdir -p /desktop
    for file in passwd group shadow; do cp "/host/etc/$file" "/desktop/$file" || return 1; done
    if grep -q "^$1:" /desktop/passwd; then
        echo "the host has a user $1 already"
        return 1
    fi
    # The first id from 1000 on that no user and no group has.
    uid=$(awk -F: '{ taken[$3] } END { for (id = 1000; id in taken; id++); print id }' /desktop/passwd /desktop/group)
    echo "$1:x:$uid:$uid::/tmp/$1:/bin/sh" >>/desktop/passwd
    echo "$1:x:$uid:" >>/desktop/group
    echo "$1:!:1::::::" >>/desktop/shadow
    sed -i "/^cdrom:/{s/\$/,$1/;s/:,/:/}" /desktop/group
    for file in passwd group shadow; do mount --bind "/desktop/$file" "/host/etc/$file" || return 1; done
    mkdir -p "/host/tmp/$1" "/host/run/user/$uid"
    chown "$uid:$uid" "/host/tmp/$1" "/host/run/user/$uid" && chmod 700 "/host/run/user/$uid"
    echo "$uid"
}

serve() { # verb, args...
    verb=$1
    shift
    case $verb in
    run) exec chroot /host "$@" ;;
    x) in_x "$@" ;;
    guest) exec "$@" ;;
    spawn) # log, verb, args...
        log=$1
        shift
        (serve "$@") </dev/null >"$log" 2>&1 3>&- &
        echo $!
        ;;
    release) kill "$1" && await 50 not_running "$1" ;;
    gui-stop)
        kill -0 "$2" 2>/dev/null && echo "program running" || echo "program gone"
        kill "$2" "$1" 2>/dev/null
        await 50 not_running "$2" && await 50 not_running "$1"
        ;;
    udev-start)
        # systemd's tools refuse to act in a chroot unless told to.
        SYSTEMD_IGNORE_CHROOT=1 chroot /host /lib/systemd/systemd-udevd --daemon \
            </dev/null >/host/tmp/udevd.log 2>&1 3>&- || return 1
        chroot /host env SYSTEMD_IGNORE_CHROOT=1 udevadm trigger --action=add --subsystem-match=block &&
            chroot /host env SYSTEMD_IGNORE_CHROOT=1 udevadm settle --timeout=60
        ;;
    desktop-start)
        uid=$(add_user "$1") || { echo "$uid"; return 1; }
        for dir in $desktop_tmpfs; do
            [ ! -d "/host$dir" ] || mount -t tmpfs -o mode=755 tmpfs "/host$dir" || return 1
        done
        # polkit's text agent needs a terminal.
        mkdir -p /host/dev/pts && mount -t devpts -o ptmxmode=666 devpts /host/dev/pts || return 1
        serve udev-start || return 1
        # A desktop system's udev has the kernel poll drives for media changes
        # once the block module comes: UDisks2 learns of a disc that way.
        chroot /host env SYSTEMD_IGNORE_CHROOT=1 udevadm trigger --action=add /sys/module/block &&
            chroot /host env SYSTEMD_IGNORE_CHROOT=1 udevadm settle --timeout=60 || return 1
        mkdir -p /host/run/dbus
        chroot /host dbus-uuidgen --ensure && chroot /host dbus-daemon --system --fork || return 1
        # shellcheck disable=SC2086 # one match rule a word
        serve spawn /host/tmp/desktop-bus.log run dbus-monitor --system $bus_watch >/dev/null
        await 100 [ -s /host/tmp/desktop-bus.log ] || { echo "no bus monitor"; return 1; }
        write_polkit_rule "$1" YES
        serve spawn /host/tmp/polkitd.log run /usr/lib/polkit-1/polkitd --no-debug >/dev/null
        await 300 has_owner org.freedesktop.PolicyKit1 || { echo "no polkitd"; return 1; }
        udisksd=$(serve spawn /host/tmp/udisksd.log run /usr/libexec/udisks2/udisksd)
        await 300 has_owner org.freedesktop.UDisks2 || { echo "no udisksd"; return 1; }
        echo "uid $uid udisksd $udisksd"
        ;;
    polkit-rule) write_polkit_rule "$1" "$2" ;;
    as-user) as_user "$@" ;;
    gui-start) # user, program, folder put first on its PATH; prints the X server's pid and the program's
        uid=$(chroot /host /usr/bin/id -u "$1") || return 1
        mkdir -p "/host/tmp/$1" "/host/run/user/$uid" /host/tmp/trayvo-program && chmod 700 "/host/run/user/$uid" &&
            cp "/host$2" /host/tmp/trayvo-program/ || return 1
        chmod 755 "/host/tmp/trayvo-program/${2##*/}"
        start_x || return 1
        echo "$xvfb $(serve spawn /host/tmp/program.log as-user "$1" "PATH=$3:/usr/local/bin:/usr/bin:/bin" \
            "XDG_RUNTIME_DIR=/run/user/$uid" DISPLAY=:1 QT_QPA_PLATFORM=xcb "/tmp/trayvo-program/${2##*/}")"
        ;;
    polkit-agent-stop)
        # The agent runs in a session of its own, the helper it starts for
        # a password with it.
        session=$(pgrep -P "$1")
        kill "$1"
        [ -z "$session" ] || pkill -s "$session"
        await 50 not_running "$1"
        ;;
    *)
        echo "unknown command $verb"
        return 127
        ;;
    esac
}

# Each command runs as its own process, so that a failing one cannot end the
# loop, and may become the program it runs.
if [ "${1:-}" = serve ]; then
    shift
    for word; do
        shift
        set -- "$@" "$(echo "$word" | xxd -r -p)"
    done
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

# modprobe's list has the optional helpers too, such as those for a CPU
# feature TCG may lack: a driver that stays missing shows below.
while read -r module; do
    insmod "/lib/modules/$module" || say "insmod $module failed"
done </etc/trayvo-modules

# SCSI scans run asynchronously: the drives come some time after their driver.
drives_seen() { [ "$(find /dev -maxdepth 1 -name 'sr*' | wc -l)" -ge "${trayvo_optical:?}" ]; }
await 150 drives_seen || say "not all drives came"

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
port_seen() {
    for port in /sys/class/virtio-ports/*; do
        if [ "$(cat "$port/name" 2>/dev/null)" = trayvo.control ] && [ -c "/dev/${port##*/}" ]; then
            control=/dev/${port##*/}
        fi
    done
    [ -n "${control:-}" ]
}
await 50 port_seen || die "no command port"
exec 3<>"$control"

echo "@@ready $(uname -r) $(cut -d' ' -f1 /proc/uptime)" >&3
while read -r id words <&3; do
    # shellcheck disable=SC2086 # hex words, one a blank apart
    /init serve $words </dev/null >&3 2>&3
    echo "@@done $id $?" >&3
done
die "the command channel closed"
