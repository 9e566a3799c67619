#!/usr/bin/env bash
# Installs the Debian package with apt into a Debian of the build machine's
# own release (its VERSION_CODENAME) that holds nothing but debootstrap's
# minimal base, starts the program there as an ordinary user on a virtual X
# server and waits for its main window. A package that works only where it
# was built, with a run-time dependency missing from Depends, fails here.
#
# The base system is made once with debootstrap and kept as a tarball in the
# cache folder, beside the packages apt downloads into it; each run unpacks a
# fresh copy, so no run sees what an earlier one installed. The copy lives on
# a tmpfs: dpkg's many small writes and syncs, and deleting the copy
# afterwards, took most of a run on disk.
#
# Xvfb runs outside the clean root, whose programs reach it through its socket
# folder; everything else runs in private mount and PID namespaces, so that
# however the run ends (a failure, a ctest time-out), the kernel takes its
# mounts and processes away with it, and the clean-up below is only tidiness.
#
# Usage: deb_in_clean_root.sh DEB_DIR CACHE_DIR
# Needs root, debootstrap, Xvfb, xdotool and xprop, and Debian's mirror on the
# first run (TRAYVO_DEBIAN_MIRROR chooses another).
set -euo pipefail

# The package's Depends name this release's packages: it is tried on the
# release it was built on.
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=${TRAYVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
window_limit_s=60
user_id=4242 # the desktop user inside the clean root

started=$SECONDS
say() { printf '[%4ds] %s\n' $((SECONDS - started)) "$*"; }
die() {
    printf 'FAIL %s\n' "$*" >&2
    exit 1
}

# --- Outside the namespaces: the X server -----------------------------------

if [ -z "${TRAYVO_IN_NAMESPACES:-}" ]; then
    [ $# -eq 2 ] || die "usage: $0 DEB_DIR CACHE_DIR"
    [ "$(id -u)" -eq 0 ] || die "needs root: it runs debootstrap and chroot and mounts file systems"
    [ -n "$suite" ] || die "/etc/os-release names no VERSION_CODENAME to make a clean root of"
    for tool in debootstrap unshare setpriv chroot flock Xvfb xdotool xprop; do
        command -v "$tool" >/dev/null || die "$tool is missing; tools/install-deps.sh installs it"
    done

    # Xvfb is started here rather than inside: in a PID namespace it could not
    # tell a live X server's lock file from a stale one, and would take over
    # a display that is in use. Either process dies with this script.
    display_file=$(mktemp)
    setpriv --pdeathsig KILL Xvfb -displayfd 5 -nolisten tcp -screen 0 1024x768x24 \
        5>"$display_file" >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -f "$display_file"' EXIT
    for _ in $(seq 200); do
        [ -s "$display_file" ] && break
        kill -0 $xvfb 2>/dev/null || die "Xvfb did not start"
        sleep 0.05
    done
    [ -s "$display_file" ] || die "Xvfb chose no display within 10 s"
    status=0
    TRAYVO_IN_NAMESPACES=1 DISPLAY=:$(tr -dc 0-9 <"$display_file") \
        setpriv --pdeathsig KILL unshare --mount --pid --kill-child --mount-proc "$BASH" "$0" "$@" || status=$?
    exit $status
fi

# --- Inside the namespaces ------------------------------------------------------

deb_dir=$(realpath "$1")
cache=$(realpath -m "$2")
base=$cache/debian-$suite-minbase.tar

shopt -s nullglob
debs=("$deb_dir"/*.deb)
[ ${#debs[@]} -eq 1 ] || die "expected one .deb in $deb_dir, found ${#debs[@]}"
deb=${debs[0]}

mkdir -p "$cache/apt-archives/partial"
exec 9>"$cache/lock"
flock -w 1200 9 || die "another run keeps $cache/lock"

work=$(mktemp -d)
root=
mounts=()
pids=()

# Unmounts what was mounted, innermost first; the systems themselves go with
# their tmpfs, so nothing is ever deleted through a mount into /dev or the X
# server's sockets.
cleanup() {
    local i
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount -R "${mounts[i]}" 2>/dev/null || umount -R -l "${mounts[i]}" || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

mount_into() { # mount arguments..., target inside the root
    mkdir -p "${!#}"
    mount "$@"
    mounts+=("${!#}")
}

in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}

show_log() { # file, what
    echo "--- $2, last lines:" >&2
    tail -n 40 "$1" >&2 || true
}

scratch=$cache/scratch
mount_into -t tmpfs -o size=4g,mode=0755 trayvo-scratch "$scratch"

# --- The base system, once ---------------------------------------------------------

make_base() {
    local new=$scratch/base
    say "making the base system with debootstrap from $mirror"
    if ! debootstrap --variant=minbase "$suite" "$new" "$mirror" >"$work/debootstrap.log" 2>&1; then
        show_log "$work/debootstrap.log" debootstrap
        die "debootstrap could not make a $suite base from $mirror"
    fi
    root=$new
    cp -L /etc/resolv.conf "$new/etc/resolv.conf"
    # The package lists go into the tarball: with the packages apt downloads
    # kept beside it, later runs need no network.
    if ! in_root apt-get update -q -o APT::Sandbox::User=root >"$work/apt.log" 2>&1; then
        show_log "$work/apt.log" "apt-get update"
        die "apt cannot read $mirror's package lists"
    fi
    in_root useradd --create-home --uid $user_id --user-group --shell /bin/sh desktop
    in_root apt-get clean
    root=
    tar --numeric-owner -C "$new" -cf "$base.tmp" .
    mv "$base.tmp" "$base"
    say "base system kept in $base ($(du -m "$base" | cut -f1) MiB)"
}

if [ -f "$base" ]; then
    say "base system from $base"
else
    make_base
fi

# --- A fresh root from it ------------------------------------------------------------

root=$scratch/root
mkdir "$root"
tar --numeric-owner -C "$root" -xf "$base"
mount_into -t proc proc "$root/proc"
mount_into --rbind /dev "$root/dev"
mount_into --rbind /sys "$root/sys"
mount_into --bind "$cache/apt-archives" "$root/var/cache/apt/archives"
mount_into --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# Nothing a package brings in may start a service in here.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
say "fresh root in $root"

# --- The package, with what it asks for and nothing else ----------------------------------

cp "$deb" "$root/tmp/"
install=(apt-get install -y -q --no-install-recommends -o APT::Sandbox::User=root -o Dpkg::Use-Pty=0
    "/tmp/${deb##*/}")
say "installing ${deb##*/} with apt, without its Recommends"
if ! in_root "${install[@]}" >"$work/apt.log" 2>&1; then
    # The stored lists may name versions the mirror has since replaced.
    say "apt could not install it from the stored package lists; updating them"
    if ! in_root apt-get update -q -o APT::Sandbox::User=root >>"$work/apt.log" 2>&1 ||
        ! in_root "${install[@]}" >>"$work/apt.log" 2>&1; then
        show_log "$work/apt.log" apt
        die "apt cannot install ${deb##*/} on a clean $suite"
    fi
fi
say "installed: $(grep -c '^Setting up ' "$work/apt.log") packages set up"

unresolved=$(in_root ldd /usr/bin/trayvo2010 | grep 'not found' || true)
[ -z "$unresolved" ] || die "libraries the package does not bring:
$unresolved"

# --- The program, as a desktop user would start it ----------------------------------------

say "starting trayvo2010 on $DISPLAY"
chroot --userspec=$user_id:$user_id "$root" env -i HOME=/home/desktop USER=desktop LOGNAME=desktop \
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$DISPLAY" \
    trayvo2010 >"$work/program.log" 2>&1 &
program=$!
pids+=("$program")

main_window() { xdotool search --onlyvisible --name '^Trayvo2010$' 2>/dev/null || true; }
deadline=$((SECONDS + window_limit_s))
windows=
while [ -z "$windows" ]; do
    if ! kill -0 "$program" 2>/dev/null; then
        show_log "$work/program.log" "the program's output"
        die "trayvo2010 ended before it showed a window"
    fi
    if [ $SECONDS -ge $deadline ]; then
        show_log "$work/program.log" "the program's output"
        die "no window titled Trayvo2010 within $window_limit_s s"
    fi
    sleep 0.1
    windows=$(main_window)
done

# An error at start-up would show a message box under the same title: only a
# window of the normal kind is the main window.
mapfile -t found <<<"$windows"
[ ${#found[@]} -eq 1 ] || die "${#found[@]} windows titled Trayvo2010; the main window should be alone"
kind=$(xprop -id "${found[0]}" _NET_WM_WINDOW_TYPE)
[[ $kind == *_NET_WM_WINDOW_TYPE_NORMAL* ]] || {
    show_log "$work/program.log" "the program's output"
    die "the window titled Trayvo2010 is not the main window: $kind"
}
say "main window shown: $(xdotool getwindowgeometry "${found[0]}" | grep Geometry | tr -s ' ')"

# It must also stay up: a fault right after the first paint counts.
sleep 2
kill -0 "$program" 2>/dev/null || {
    show_log "$work/program.log" "the program's output"
    die "trayvo2010 ended after showing its window"
}

# What Qt loads at run time, which no linker sees: without any of it the
# window may still open, with boxes for the Chinese, English standard buttons
# or other fonts' metrics. Each is mapped into the program once used.
declare -A loaded=(
    ["Qt's X11 platform plugin"]=/platforms/libqxcb.so
    ["the Chinese font, WenQuanYi Micro Hei"]=/wqy-microhei.ttc
    ["Arial's stand-in, Liberation Sans"]=/LiberationSans-
    ["Qt's Chinese texts"]=/qtbase_zh_CN.qm
)
maps=$(awk '{ print $6 }' "/proc/$program/maps" | sort -u)
for what in "${!loaded[@]}"; do
    grep -qF -- "${loaded[$what]}" <<<"$maps" || die "the program runs without $what (no ${loaded[$what]} mapped)"
done
# The disc's folder opens through the desktop's opener.
in_root sh -c 'command -v xdg-open' >/dev/null || die "the clean root has no xdg-open"
say "it runs with ${#loaded[@]} run-time parts the linker cannot see, and finds xdg-open"
say "PASS the package installs on a clean $suite and its program starts"
