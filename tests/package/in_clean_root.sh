#!/usr/bin/env bash
# A customize hook of tools/fresh-root.sh, run beside the clean root: installs
# the Debian package into it with apt, without Recommends, and starts the
# program there as a desktop user on the X server DISPLAY names, which runs
# outside the root and is reached through its abstract socket. A package that
# works only where it was built, with a run-time dependency missing from
# Depends, fails here. Usage: in_clean_root.sh ROOT DEB
set -euo pipefail
root=$1 deb=$2
log=$root/tmp/program.log
fail() {
    echo "FAIL $*" >&2
    [ ! -f "$log" ] || tail -n 40 "$log" >&2
    exit 1
}
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}

cp "$deb" "$root/tmp/"
install=(apt-get install -y -q --no-install-recommends -o Dpkg::Use-Pty=0 "/tmp/${deb##*/}")
# The base's stored lists may name versions the mirror has since replaced.
in_root "${install[@]}" >"$root/tmp/apt.log" 2>&1 ||
    { in_root apt-get update -q && in_root "${install[@]}"; } >>"$root/tmp/apt.log" 2>&1 ||
    { tail -n 40 "$root/tmp/apt.log" >&2 && fail "apt cannot install ${deb##*/}"; }
unresolved=$(in_root ldd /usr/bin/trayvo2010 | grep 'not found' || true)
[ -z "$unresolved" ] || fail "libraries the package does not bring: $unresolved"
in_root sh -c 'command -v xdg-open' >/dev/null || fail "no xdg-open to open the disc's folder with"

in_root useradd --create-home --user-group --shell /bin/sh desktop
chroot --userspec=desktop:desktop "$root" env -i HOME=/home/desktop USER=desktop LOGNAME=desktop \
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$DISPLAY" trayvo2010 >"$log" 2>&1 &
program=$!
trap 'kill $program 2>/dev/null || true' EXIT

# An error at start-up would show a message box under the same title: only a
# window of the normal kind is the main window.
for _ in $(seq 600); do
    kill -0 $program 2>/dev/null || fail "trayvo2010 ended before it showed a window"
    window=$(xdotool search --onlyvisible --name '^Trayvo2010$' 2>/dev/null || true)
    [ -z "$window" ] || break
    sleep 0.1
done
[ -n "$window" ] || fail "no window titled Trayvo2010 within 60 s"
[ "$(wc -l <<<"$window")" -eq 1 ] || fail "more than one window titled Trayvo2010: $window"
kind=$(xprop -id "$window" _NET_WM_WINDOW_TYPE)
[[ $kind == *_NET_WM_WINDOW_TYPE_NORMAL* ]] || fail "the window titled Trayvo2010 is not the main window: $kind"
# It must also stay up: a fault right after the first paint counts.
sleep 2
kill -0 $program 2>/dev/null || fail "trayvo2010 ended after showing its window"

# What Qt loads at run time, which no linker sees: without any of it the
# window may still open, with boxes for the Chinese, English standard buttons
# or other fonts' metrics.
maps=$(cat "/proc/$program/maps")
for part in /platforms/libqxcb.so /wqy-microhei.ttc /LiberationSans- /qtbase_zh_CN.qm; do
    grep -qF -- "$part" <<<"$maps" || fail "the program runs without $part mapped"
done
echo "PASS the package installs on a clean root, and its program starts with what Qt loads at run time"
