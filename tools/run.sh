#!/usr/bin/env bash
# Installs what building and running need, builds the program and starts it.
# Run through sudo, it installs and builds as root and starts the program as
# the user who ran sudo, in that user's session: the drive's tray and folder,
# and the file manager and browser the program opens, are that user's.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh run
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release

program=(build/release/platform/trayvo2010)
if [ "$(id -u)" = 0 ] && [ -n "${SUDO_UID:-}" ] && [ "$SUDO_UID" != 0 ]; then
    IFS=: read -r user _ _ _ _ home _ < <(getent passwd "$SUDO_UID") || { user=""; home=/; }
    session=()
    if [ -d "/run/user/$SUDO_UID" ]; then
        session=(XDG_RUNTIME_DIR="/run/user/$SUDO_UID"
                 DBUS_SESSION_BUS_ADDRESS="unix:path=/run/user/$SUDO_UID/bus")
    fi
    groups=--init-groups
    [ -n "$user" ] || groups=--clear-groups
    program=(setpriv --reuid="$SUDO_UID" --regid="${SUDO_GID:-$SUDO_UID}" "$groups"
             env -u SUDO_UID -u SUDO_GID -u SUDO_USER -u SUDO_COMMAND
             HOME="$home" USER="$user" LOGNAME="$user" "${session[@]}" "${program[@]}")
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    exec "${program[@]}"
fi
# Without a display the program says so and how to get one: with xvfb-run,
# which the run set leaves out.
status=0
"${program[@]}" || status=$?
command -v xvfb-run >/dev/null ||
    echo "xvfb-run comes with Debian's xvfb and xauth packages: apt-get install xvfb xauth" >&2
exit $status
