#!/usr/bin/env bash
# What the program costs on a desktop, each figure beside the same figure for
# a baseline measured in the same run: the least a Qt Widgets program can
# show, one window with one label (bench/minimal_window.cpp). Under a private
# Xvfb, and the two alternate, so that whatever else the machine is doing
# weighs on both alike:
#   - start to first paint of the main window, whose load (the drive list and
#     the first probe) runs before it is shown; median of RUNS start-ups;
#   - start to the window being mapped, for comparison with older figures;
#   - resident memory 2 s after start, median of the same start-ups;
#   - CPU time and wakeups (voluntary context switches) over IDLE_S s of idle,
#     of the main thread and of all threads, median of IDLE_RUNS.
# One unrecorded start of each comes first, so that every recorded one finds
# the libraries and fonts in the page cache.
#
# Usage: bench/desktop.sh [PROGRAM] [RUNS]
#   PROGRAM  default: the Release build of the program in the benchmarks' own
#            build tree, made with the same flags as the baseline
#   RUNS     default 11
# Environment: IDLE_S (30), IDLE_RUNS (3), BENCH_BUILD_DIR (build/bench), the
# benchmarks' build tree (bench/CMakeLists.txt; needs libxcb-damage0-dev).
#
# Figures that belong beside these, and where they are (docs/performance.md
# keeps the same list):
#   - one HasDisc call against one open, two ioctls and a close of the drive's
#     node, in the QEMU guest of tests/qemu: bench/qemu_drive_cost.py;
#   - one tray action of the program against util-linux's eject, in the same
#     guest: bench/qemu_drive_cost.py;
#   - wakeups with no drive while udev's daemon runs, and the time from a drive
#     plugged in or pulled out to the window showing it, in the same guest:
#     bench/qemu_hotplug.py;
#   - the Windows program's start under Wine is bench/wine_startup.py's;
#   - TODO: idle wakeups and CPU time with a drive present, when the disc
#     watch ticks; the machine these were first taken on has none, and under
#     the QEMU guest's emulation 30 s of a window would mostly time QEMU.
set -euo pipefail

runs=${2:-11}
idle_s=${IDLE_S:-30}
idle_runs=${IDLE_RUNS:-3}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BENCH_BUILD_DIR:-$source_dir/build/bench}")
program=$(realpath -m "${1:-$build/trayvo/platform/trayvo2010}")
cd "$source_dir"

if [ -z "${TRAYVO_BENCH_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (package xvfb)" >&2; exit 1; }
    cmake -S bench -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" >/dev/null
    [ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }
    # A display of its own, never the desktop's: a compositor or a window
    # manager there would change what is timed.
    TRAYVO_BENCH_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" "$source_dir/bench/desktop.sh" "$program" "$runs"
fi

first_paint=$build/first_paint
baseline=$build/minimal_window
program_title=Trayvo2010
baseline_title="Trayvo2010 baseline"

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

optical_drives=0
for type in /sys/block/*/device/type; do
    [ "$(cat "$type" 2>/dev/null)" = 5 ] && optical_drives=$((optical_drives + 1))
done

# --- start-ups -----------------------------------------------------------------

declare -A mapped painted rss
start_once() { # program, title, array suffix
    local result
    result=$("$first_paint" "$2" 2000 30000 "$1")
    read -r m p r <<<"$result"
    mapped[$3]+="$m "
    painted[$3]+="$p "
    rss[$3]+="$r "
}

"$first_paint" "$program_title" 0 30000 "$program" >/dev/null
"$first_paint" "$baseline_title" 0 30000 "$baseline" >/dev/null
for run in $(seq "$runs"); do
    if ((run % 2)); then
        start_once "$program" "$program_title" program
        start_once "$baseline" "$baseline_title" baseline
    else
        start_once "$baseline" "$baseline_title" baseline
        start_once "$program" "$program_title" program
    fi
done

# --- idle ------------------------------------------------------------------------

# Per thread: "TID WAKEUPS CPU_NS". Wakeups are voluntary context switches,
# each the thread going to sleep to be woken again; CPU time comes from the
# scheduler's own count, finer than the clock ticks of /proc/PID/stat.
threads() {
    for task in /proc/"$1"/task/*; do
        echo "${task##*/} $(awk '/^voluntary_ctxt_switches/ { print $2 }' "$task/status") $(cut -d' ' -f1 "$task/schedstat")"
    done
}
# From two samples: the main thread's wakeups, those of all threads, their CPU
# time in µs, and how many threads ended in between. A thread started in
# between counts from zero; one that ended takes its last figures with it.
idle_cost() { # pid, before, after
    awk -v pid="$1" '
        FNR == NR { wakeups[$1] = $2; cpu[$1] = $3; next }
        {
            n = $2 - ($1 in wakeups ? wakeups[$1] : 0)
            all += n
            if ($1 == pid) main = n
            ns += $3 - ($1 in cpu ? cpu[$1] : 0)
            delete wakeups[$1]
        }
        END { ended = 0; for (t in wakeups) ended++; printf "%d %d %d %d\n", main, all, ns / 1000, ended }' \
        <(echo "$2") <(echo "$3")
}

declare -A idle_cpu idle_main idle_all idle_ended pid before
for _ in $(seq "$idle_runs"); do
    "$program" >/dev/null 2>&1 &
    pid[program]=$!
    "$baseline" >/dev/null 2>&1 &
    pid[baseline]=$!
    sleep 2
    for side in program baseline; do
        before[$side]=$(threads "${pid[$side]}")
    done
    sleep "$idle_s"
    for side in program baseline; do
        read -r main all cpu ended <<<"$(idle_cost "${pid[$side]}" "${before[$side]}" "$(threads "${pid[$side]}")")"
        idle_main[$side]+="$main " idle_all[$side]+="$all " idle_cpu[$side]+="$cpu " idle_ended[$side]+="$ended "
    done
    kill "${pid[@]}"
    wait "${pid[@]}" 2>/dev/null || true
done

# --- the table -------------------------------------------------------------------

row() { # figure, unit, program values, baseline values, goal (a ratio, or -)
    local p b ratio verdict=""
    p=$(tr ' ' '\n' <<<"$3" | grep . | median)
    b=$(tr ' ' '\n' <<<"$4" | grep . | median)
    ratio=$(awk -v p="$p" -v b="$b" 'BEGIN { if (b > 0) printf "%.2f", p / b; else print "-" }')
    if [ "$5" != - ]; then
        verdict=$(awk -v r="$ratio" -v g="$5" 'BEGIN { print (r != "-" && r <= g) ? "met" : "NOT met" }')
        verdict="≤ $5×: $verdict"
    fi
    [ "$ratio" = - ] || ratio="$ratio×"
    printf '| %s | %s | %s | %s | %s |\n' "$1" "$p${2:+ $2}" "$b${2:+ $2}" "$ratio" "$verdict"
}

kib_to_mib() { for v in $1; do awk -v k="$v" 'BEGIN { printf "%.1f ", k / 1024 }'; done; }

qt_version=$(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown)
echo "Machine: $(nproc) CPUs, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)"
echo "System: Debian $(cat /etc/debian_version), Qt $qt_version, $(uname -r)"
echo "Program: $program"
echo "Baseline: $baseline"
echo "Optical drives here: $optical_drives$( ((optical_drives)) || echo " (the disc watch does not tick)")"
echo "Start-ups: $runs each, alternating; idle: $idle_runs × $idle_s s, both at once"
echo
echo "| figure | trayvo2010 | baseline | ratio | goal |"
echo "|---|---|---|---|---|"
row "start to first paint (median)" ms "${painted[program]}" "${painted[baseline]}" 1.25
row "start to window mapped (median)" ms "${mapped[program]}" "${mapped[baseline]}" -
row "resident memory 2 s after start (median)" MiB "$(kib_to_mib "${rss[program]}")" \
    "$(kib_to_mib "${rss[baseline]}")" 1.15
row "CPU time over ${idle_s} s idle (median)" µs "${idle_cpu[program]}" "${idle_cpu[baseline]}" -
row "main-thread wakeups over ${idle_s} s idle (median)" "" "${idle_main[program]}" "${idle_main[baseline]}" -
row "wakeups of all threads over ${idle_s} s idle (median)" "" "${idle_all[program]}" "${idle_all[baseline]}" -
row "threads that ended while idle (median)" "" "${idle_ended[program]}" "${idle_ended[baseline]}" -
echo
echo "Every start-up, in ms to first paint:"
echo "  trayvo2010: ${painted[program]}"
echo "  baseline:   ${painted[baseline]}"
echo "Every start-up, resident KiB at 2 s:"
echo "  trayvo2010: ${rss[program]}"
echo "  baseline:   ${rss[baseline]}"
echo "Every idle run, main-thread wakeups / all threads' wakeups / CPU µs:"
echo "  trayvo2010: ${idle_main[program]}/ ${idle_all[program]}/ ${idle_cpu[program]}"
echo "  baseline:   ${idle_main[baseline]}/ ${idle_all[baseline]}/ ${idle_cpu[baseline]}"
