#!/usr/bin/env bash
# What the program costs on a desktop, measured under Xvfb:
#   - start until the main window is mapped and visible (its load, with the
#     drive list and the first probe, runs before that), median of several runs;
#   - resident memory 2 s after start;
#   - CPU time and wakeups of each thread over 30 s of idle disc watch.
# Usage: bench/desktop.sh [path to trayvo2010] [runs]
set -euo pipefail

program=${1:-build/release/platform/trayvo2010}
runs=${2:-7}
[ -x "$program" ] || { echo "no program at $program; build it first (tools/run.sh builds build/release)" >&2; exit 1; }

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

wait_for_window() { # pid
    until xdotool search --onlyvisible --pid "$1" --name '^Trayvo2010$' >/dev/null 2>&1; do
        sleep 0.005
    done
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

startup_ms=()
for _ in $(seq "$runs"); do
    start=$(now_ms)
    "$program" >/dev/null 2>&1 &
    pid=$!
    wait_for_window "$pid"
    startup_ms+=($(( $(now_ms) - start )))
    kill "$pid"
    wait "$pid" 2>/dev/null || true
done

"$program" >/dev/null 2>&1 &
pid=$!
sleep 2
rss_kib=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
switches() { # per thread: name voluntary+involuntary
    for task in /proc/"$1"/task/*; do
        printf '%s %s\n' "$(cat "$task/comm")" \
            "$(awk '/ctxt_switches/ { n += $2 } END { print n }' "$task/status")"
    done | sort
}
cpu_before=$(ticks "$pid")
switches_before=$(switches "$pid")
sleep 30
cpu_after=$(ticks "$pid")
switches_after=$(switches "$pid")
kill "$pid"
wait "$pid" 2>/dev/null || true

hz=$(getconf CLK_TCK)
echo "start to visible window, median of $runs: $(printf '%s\n' "${startup_ms[@]}" | median) ms (runs: ${startup_ms[*]})"
echo "resident memory after 2 s: $((rss_kib / 1024)) MiB ($rss_kib KiB)"
echo "CPU over 30 s idle: $(( (cpu_after - cpu_before) * 1000 / hz )) ms"
echo "context switches per thread over 30 s idle:"
join <(echo "$switches_before") <(echo "$switches_after") | awk '{ printf "  %-16s %d\n", $1, $3 - $2 }'
