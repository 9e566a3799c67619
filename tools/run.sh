#!/usr/bin/env bash
# Installs what building and running need, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh run
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release

program=build/release/platform/trayvo2010
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    exec "$program"
fi
# Without a display the program says so and how to get one: with xvfb-run,
# which the run set leaves out.
status=0
"$program" || status=$?
command -v xvfb-run >/dev/null ||
    echo "xvfb-run comes with Debian's xvfb and xauth packages: apt-get install xvfb xauth" >&2
exit $status
