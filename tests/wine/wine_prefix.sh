#!/usr/bin/env bash
# A private Wine for one test run, set up as a Simplified Chinese PC with one
# CD-ROM drive, D:, holding a disc.
#
# usage: wine_prefix.sh win32|win64 CACHE RUN -- COMMAND...
#
# win32 runs 32-bit programs in a 32-bit prefix, win64 64-bit programs in a
# 64-bit prefix with the 64-bit loader alone, for hosts that cannot start
# 32-bit programs at all. TRAYVO_WINE names the loader for the command.
#
# CACHE keeps a prefix made once (10 to 20 seconds) and reused while this
# script and Wine stay the same; RUN gets a fresh copy of it, its own home,
# and the disc: the folder RUN/disc, which D: shows. Rename the folder away
# and D: holds no disc; bring it back and the disc is in again.
#
# Runs COMMAND on a virtual X server of its own with the prefix in its
# environment, then stops the run's Wine and removes its prefix; the
# command's exit status is the script's.
set -euo pipefail

arch=$1
cache=$(realpath -m "$2")
run=$(realpath -m "$3")
shift 4

started=$SECONDS

case $arch in
# Debian's wine script, which starts the 32-bit loader.
win32) wine_loader=wine ;;
# Called by its path: Debian's wine script prefers the 32-bit loader whenever
# it is installed, also where the kernel cannot run it.
win64) wine_loader=/usr/lib/wine/wine64 ;;
*) echo "usage: $0 win32|win64 CACHE RUN -- COMMAND..." >&2 && exit 2 ;;
esac

# Every program of the run, Wine's own and the checks, sees the same world:
# nothing of the real user's home, and Chinese as the system's language. The
# locale is compiled into the cache, leaving the system's locales alone.
wine_environment() { # prefix, home
    export WINEPREFIX=$1 WINEARCH=$arch TRAYVO_WINE=$wine_loader
    # The programs Wine itself starts take the same loader.
    [ "$arch" = win32 ] || export WINELOADER=$wine_loader
    # No Mono or Gecko install dialogs, no menu entries written for the host.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export WINEDEBUG=${WINEDEBUG:--all}
    export HOME=$2 XDG_CONFIG_HOME=$2/.config XDG_DATA_HOME=$2/.local/share XDG_CACHE_HOME=$2/.cache
    export XDG_RUNTIME_DIR=$2/.runtime
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    export LOCPATH=$cache/locale LANG=zh_CN.UTF-8
    # No session bus to be started for Wine, and left running after it.
    export DBUS_SESSION_BUS_ADDRESS=disabled:
    unset LC_ALL LANGUAGE
}

# A virtual X server on a display number it picks itself, so that runs side
# by side never race for one. Sets DISPLAY and xvfb_pid.
start_xvfb() { # folder
    local number_file=$1/display
    rm -f "$number_file"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" >"$1/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local tries
    for ((tries = 0; tries < 100; tries++)); do
        [ -s "$number_file" ] && DISPLAY=:$(tr -d '\n' <"$number_file") && export DISPLAY && return 0
        sleep 0.1
    done
    echo "Xvfb did not start; its log:" >&2 && cat "$1/xvfb.log" >&2 && return 1
}

stop_wine() { # prefix
    [ -d "$1" ] || return 0
    WINEPREFIX=$1 timeout 20 wineserver -k 2>/dev/null || true
}

# What the cached prefix was made from: when any of it changes, it is made anew.
template_stamp() {
    { cat "$0"; echo "$arch"; "$wine_loader" --version; ls /usr/share/wine/fonts 2>/dev/null; } | sha256sum | cut -d' ' -f1
}

make_template() {
    local template=$cache/template
    rm -rf "$template" "$cache/home" "$cache/locale"
    mkdir -p "$cache/locale" "$cache/home"
    localedef -i zh_CN -f UTF-8 "$cache/locale/zh_CN.UTF-8"
    (
        wine_environment "$template" "$cache/home"
        start_xvfb "$cache"
        trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
        # Made under the Chinese locale, Wine's prefix takes code page 936
        # and links Chinese fonts behind the Western ones.
        timeout 120 "$wine_loader" wineboot -i
        # Without a window manager only Wine's own desktop gives windows
        # their title bars. Its browser list names the stub.
        cat >"$cache/setup.reg" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"Default"="1024x768"

[HKEY_CURRENT_USER\\Software\\Wine\\WineBrowser]
"Browsers"="$cache/browser-stub.sh"

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]
"d:"="cdrom"
EOF
        timeout 60 "$wine_loader" regedit /S "Z:${cache//\//\\}\\setup.reg"
        timeout 60 wineserver -w
    )
    # The title bar's buttons are drawn with Wine's Marlett (fonts-wine),
    # which Debian's Wine does not find on its own.
    ln -sf /usr/share/wine/fonts/*.ttf "$template/drive_c/windows/Fonts/" 2>/dev/null || true
    # Stands in for a web browser: notes each address it is asked to open.
    cat >"$cache/browser-stub.sh" <<'EOF'
#!/bin/sh
printf '%s\n' "$@" >>"${TRAYVO_BROWSER_LOG:-/dev/null}"
EOF
    chmod +x "$cache/browser-stub.sh"
}

prepare_template() {
    mkdir -p "$cache"
    exec {lock}>"$cache/.lock"
    # Runs side by side wait for the one that makes the prefix.
    flock -w 300 "$lock"
    local stamp
    stamp=$(template_stamp)
    if [ -d "$cache/template" ] && [ "$(cat "$cache/stamp" 2>/dev/null)" = "$stamp" ]; then
        echo "wine prefix: cached one reused"
    else
        local start=$SECONDS status=0
        # In the background, where a failing step still stops it: a function
        # called as the left side of || would run on past its errors.
        make_template >"$cache/make.log" 2>&1 &
        wait $! || status=$?
        if [ "$status" -ne 0 ]; then
            echo "wine prefix: could not be made; the log:" >&2 && cat "$cache/make.log" >&2 && exit 1
        fi
        echo "$stamp" >"$cache/stamp"
        echo "wine prefix: made in $((SECONDS - start)) s"
    fi
    exec {lock}>&-
}

prepare_run() {
    stop_wine "$run/prefix"
    rm -rf "$run"
    mkdir -p "$run/disc/Tools"
    cp -a "$cache/template" "$run/prefix"
    printf 'Trayvo2010 test disc\r\n' >"$run/disc/README.TXT"
    printf 'AUTORUN\r\n' >"$run/disc/AUTORUN.INF"
    head -c 65536 /dev/zero >"$run/disc/Tools/DATA.BIN"
    ln -s "$run/disc" "$run/prefix/dosdevices/d:"
    cp -a "$cache/home" "$run/home"
    # The user's Desktop, Documents and the like lead to the home they were
    # made in; each run's lead to its own.
    local link
    for link in "$run"/prefix/drive_c/users/*/*; do
        if [ -L "$link" ] && [ "$(readlink "$link")" = "$cache/home" ]; then
            ln -sfn "$run/home" "$link"
        fi
    done
    wine_environment "$run/prefix" "$run/home"
    export TRAYVO_BROWSER_LOG=$run/browser.log TRAYVO_WINE_RUN=$run
}

prepare_template
prepare_run
echo "wine prefix: run ready in $run after $((SECONDS - started)) s"

cleanup() {
    stop_wine "$WINEPREFIX"
    kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$run/prefix"
}
trap cleanup EXIT
start_xvfb "$run"
status=0
"$@" || status=$?
exit "$status"
