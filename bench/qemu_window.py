#!/usr/bin/python3
"""What the drives cost the program's window, in the QEMU guest of tests/qemu
(whose machinery this imports): the program on an X server in the guest,
played to by a window manager (tests/qemu/wmping.cpp) that pings it back to
back, 20 ms after each answer.

  - answers: the worst answer to a ping over 8 s with the drive holding a
    disc chosen, and with the empty one, whose every probe the guest's kernel
    takes about 144 ms over while its tray has not moved yet;
  - hung bus: the same during 弹出仓门 on a mounted disc with a system bus
    that takes the connection and never answers; then the window is closed
    and the time until the program has gone is taken;
  - idle: over IDLE_S, the program's wakeups (voluntary context switches)
    and CPU time, by thread, with the disc drive chosen and its probe once a
    second, against the same program started where it finds no drive.

Each figure is taken for the program and, with --baseline, for another build
of it (the one before the drives were asked off the window's thread), in the
same guest, rounds alternating; medians are reported. The guest runs under
TCG, QEMU's emulation without hardware help: compare the sides with each
other, never with a physical drive.

Usage: bench/qemu_window.py [--build DIR] [--cache DIR] [--baseline EXE] [--rounds N] [--parts LIST]
Needs what bench/qemu_drive_cost.py needs.
"""

import shutil
import statistics
import sys
import time
from pathlib import Path

# First: it puts the tests' QEMU harness on the module path.
from qemu_bench import arguments, build, guest, thread_figures
from button_checks import choose_drive, ping_window
from common import CheckFailed, TestError, wait_for
from drive_checks import check_drive_list
from machine import MEDIA_DIR
from window import program_running

PING_S = 8
IDLE_S = 60
SETTLE_S = 35  # Qt ends its idle pool threads 30 s after their last work
GONE_LIMIT_S = 10


def answers(m, drives):
    """{drive node: worst answer in ms} with each drive chosen in turn."""
    worst = {}
    with program_running(m) as window:
        for drive in sorted(drives, key=lambda drive: drive.index):
            choose(window, drive)
            worst[drive.node] = ping_window(m, window, PING_S)[1]
    return worst


def choose(window, drive):
    """drive chosen in a window just shown, where the first one is."""
    if drive.index != 0:
        choose_drive(window, drive)


def gone_after(m, program):
    """Seconds until the program's process has gone, or None."""
    started = time.monotonic()
    while time.monotonic() - started < GONE_LIMIT_S:
        if m.guest.run("x", "test", "-e", f"/proc/{program}").status != 0:
            return time.monotonic() - started
        time.sleep(0.1)
    return None


SILENT_BUS = """
import socket
bus = socket.socket(socket.AF_UNIX)
bus.bind("/run/dbus/system_bus_socket")
bus.listen(16)
held = []
while True:
    held.append(bus.accept()[0])
"""


def hung_bus(m):
    """Worst answer in ms while 弹出仓门 waits for a bus that never answers
    (None when a ping went unanswered for 10 s), and how long the program
    took to go once its window was closed then."""
    data = m.drives["cd-data"]
    m.mount_at(data, MEDIA_DIR)
    # A system bus that takes every connection and never answers.
    m.must("run", "sh", "-c", "mkdir -p /run/dbus && rm -f /run/dbus/system_bus_socket")
    bus = m.spawn("x", "python3", "-c", SILENT_BUS)
    wait_for(lambda: m.guest.run("guest", "test", "-S", "/host/run/dbus/system_bus_socket").status == 0, 10,
             "the silent bus did not come up", TestError)
    worst = gone = None
    try:
        with program_running(m, closes=True) as window:
            choose(window, data)
            window.click("Command1")
            try:
                worst = ping_window(m, window, PING_S)[1]
            except CheckFailed:
                pass
            m.guest.run("x", m.wmping, "close", window.window)
            gone = gone_after(m, window.pid)
    except CheckFailed:
        gone = None  # still running when stopped
    finally:
        m.guest.run("release", bus)
        for _ in m.mount_points(data):
            m.guest.run("run", "umount", MEDIA_DIR)
        if m.qmp.block(data.qdev)["tray_open"]:
            m.qmp.command("blockdev-close-tray", id=data.qdev)
    return worst, gone


def idle(m, drive):
    """Over IDLE_S, with drive chosen, or with no drive found at start:
    main-thread wakeups, all threads' wakeups, CPU ms."""
    if drive is None:
        m.guest.run("run", "mount", "-t", "tmpfs", "none", "/sys/block")
    hidden = drive is None
    try:
        with program_running(m) as window:
            if hidden:
                m.guest.run("run", "umount", "/sys/block")
                hidden = False
            else:
                choose(window, drive)
            time.sleep(SETTLE_S)
            before = thread_figures(m, window.pid)
            time.sleep(IDLE_S)
            after = thread_figures(m, window.pid)
    finally:
        if hidden:
            m.guest.run("run", "umount", "/sys/block")
    # A thread that began during the minute counts from nothing; one that
    # ended is not seen at all.
    woke = {tid: after[tid][0] - before.get(tid, (0, 0))[0] for tid in after}
    cpu_ms = sum(after[tid][1] - before.get(tid, (0, 0))[1] for tid in after) / 1e6
    return woke.get(window.pid, 0), sum(woke.values()), cpu_ms, {tid: n for tid, n in woke.items() if n}


def median(values):
    values = [value for value in values if value is not None]
    return statistics.median(values) if values else None


def ms(value):
    return "–" if value is None else f"{value:.1f} ms"


def main():
    parser = arguments(__doc__)
    parser.add_argument("--baseline", type=Path, help="another build of the program to measure beside it")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--parts", default="answers,idle,hung", help="which figures to take")
    options = parser.parse_args()
    build_dir = options.build.resolve()
    program = build(build_dir, "drive_cost", "wmping")
    programs = {"trayvo2010": program}
    if options.baseline:
        # Beside the others, so that the guest sees it through the same share.
        copy = build_dir / "baseline" / "trayvo2010"
        copy.parent.mkdir(exist_ok=True)
        shutil.copy2(options.baseline, copy)
        programs["baseline"] = copy
    parts = options.parts.split(",")

    started = time.monotonic()
    worst = {name: {"disc": [], "empty": []} for name in programs}
    idles = {(name, state): [] for name in programs for state in ("drive", "no drive")}
    hung = {name: [] for name in programs}
    with guest(options, build_dir / "drive_cost", program, "window", wmping=build_dir / "wmping") as m:
        check_drive_list(m)
        data, empty = m.drives["cd-data"], m.drives["cd-empty"]
        # First, while the empty drive is slow to probe: its tray has not moved.
        for _ in range(options.rounds if "answers" in parts else 0):
            for name, path in programs.items():
                m.program = path
                found = answers(m, [data, empty])
                worst[name]["disc"].append(found[data.node])
                worst[name]["empty"].append(found[empty.node])
                print(f"answers, {name}: {found}", flush=True)
        for _ in range(options.rounds if "hung" in parts else 0):
            for name, path in programs.items():
                m.program = path
                hung[name].append(hung_bus(m))
                print(f"hung bus, {name}: {hung[name][-1]}", flush=True)
        for _ in range(1 if "idle" in parts else 0):
            for (name, state), runs in idles.items():
                m.program = programs[name]
                runs.append(idle(m, data if state == "drive" else None))
                print(f"idle, {name}, {state}: {runs[-1]}", flush=True)
        release = m.kernel.release

    print(f"\nQEMU guest, kernel {release}, TCG; medians of {options.rounds} rounds\n")
    if "answers" in parts or "hung" in parts:
        print("| worst answer to a ping over 8 s | " + " | ".join(programs) + " |")
        print("|---|" + "---|" * len(programs))
        rows = [("disc drive chosen", lambda name: median(worst[name]["disc"])),
                ("empty drive chosen", lambda name: median(worst[name]["empty"])),
                ("during 弹出仓门, the bus silent", lambda name: median(w for w, _ in hung[name])),
                ("window closed then: until the program has gone",
                 lambda name: median(g * 1000 if g is not None else None for _, g in hung[name]))]
        for label, figure in rows:
            print(f"| {label} | " + " | ".join(ms(figure(name)) for name in programs) + " |")
        for name in programs:
            disc = median(worst[name]["disc"])
            if disc:
                ratios = [(label, figure(name) / disc) for label, figure in rows[1:3] if figure(name) is not None]
                print(f"\n{name}: " + "; ".join(f"{label} / disc drive chosen = {ratio:.2f}×"
                                                for label, ratio in ratios))
    if "idle" in parts:
        print(f"\nIdle over {IDLE_S} s, from {SETTLE_S} s after the drive was chosen:\n")
        print("| program | main-thread wakeups | all threads' wakeups | CPU | wakeups by thread |")
        print("|---|---|---|---|---|")
        for (name, state), runs in idles.items():
            main_thread, every, cpu, by_thread = runs[-1]
            print(f"| {name}, {state} | {main_thread} | {every} | {cpu:.1f} ms | {by_thread} |")
    print(f"\nper round: answers {worst}; hung bus {hung}; idle {idles}")
    print(f"wall time {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
