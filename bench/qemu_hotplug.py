#!/usr/bin/python3
"""What following drives plugged in and pulled out costs the program, in the
QEMU guest of tests/qemu (whose machinery this imports), with udev's daemon
running there as on a desktop system and no optical drive at the start:

  - main-thread wakeups, and those of all threads, over IDLE_S s with no
    drive and nothing plugged in: the watch on udev's reports must not wake
    the program at all;
  - from a drive's appearing to the window's showing it, and from its going
    to the window's showing that, split into the kernel's report to udev's
    (udev's rules) and udev's report to the window's first drawing (the
    program's own share). bench/hotplug_latency.cpp takes these inside the
    guest; the time from QEMU's device_add to the window is taken here.

The guest runs under TCG, QEMU's emulation without hardware help: the times
are far longer than on a real machine, and compare only with each other.

Usage: bench/qemu_hotplug.py [--build DIR] [--cache DIR] [--rounds N] [--idle S]
Needs what the QEMU tests need, udev among it, and libxcb-damage0-dev for the
benchmarks' build.
"""

import statistics
import sys
import time

# First: it puts the tests' QEMU harness on the module path.
from qemu_bench import arguments, build, guest, thread_figures
from common import COMMAND_LIMIT_S, CheckFailed, TestError
from drive_checks import guest_block_devices
from hotplug_checks import plug, start_udev, take_every_drive, unplug
from window import PROGRAM_TITLE, program_running

SETTLE_S = 40  # Qt ends its idle pool threads 30 s after their last work


def idle(m, pid, seconds):
    """Main-thread wakeups and all threads' over seconds of idle."""
    before = thread_figures(m, pid)
    time.sleep(seconds)
    after = thread_figures(m, pid)
    woke = {tid: switches - before.get(tid, (0, 0))[0] for tid, (switches, _) in after.items()}
    return woke[pid], sum(woke.values())


def rounds(m, count):
    """Each plug and unplug: the guest's three figures and the host's time
    from device_add or device_del to the window's drawing, in ms."""
    tool = m.guest.start("x", m.drivecheck, PROGRAM_TITLE, 2 * count, 60000 * count,
                         limit=60 * count + COMMAND_LIMIT_S)
    if m.guest.next_line(tool) != "ready":
        raise TestError("hotplug_latency did not start")
    figures = {"add": [], "remove": []}
    for _ in range(count):
        for action, change in [("add", lambda: plug(m, m.other_iso)), ("remove", lambda: unplug(m))]:
            started = time.monotonic()
            change()
            line = m.guest.next_line(tool)
            if not isinstance(line, str) or not line.startswith(action):
                raise CheckFailed(f"hotplug_latency answered {line}")
            kernel_udev, udev_window, total = (float(value) for value in line.split()[2:])
            figures[action].append((kernel_udev, udev_window, total, (time.monotonic() - started) * 1000))
    m.guest.finish(tool)
    return figures


def main():
    parser = arguments(__doc__)
    parser.add_argument("--rounds", type=int, default=10, help="plugs and unplugs")
    parser.add_argument("--idle", type=int, default=30, help="seconds of each idle measurement")
    options = parser.parse_args()
    build_dir = options.build.resolve()
    program = build(build_dir, "hotplug_latency")

    started = time.monotonic()
    # hotplug_latency stands in for trayvo_drivecheck, as the tool run in the
    # guest.
    with guest(options, build_dir / "hotplug_latency", program, "hotplug") as m:
        # Where the ATAPI drives are, to take them away.
        for name, (_, qdev) in guest_block_devices(m).items():
            if qdev in m.drives:
                m.drives[qdev].node = f"/dev/{name}"
        take_every_drive(m)
        start_udev(m)
        with program_running(m) as window:
            time.sleep(2)
            early = idle(m, window.pid, options.idle)
            time.sleep(max(0, SETTLE_S - options.idle - 2))
            late = idle(m, window.pid, options.idle)
            figures = rounds(m, options.rounds)
        release = m.kernel.release

    print(f"\nQEMU guest, kernel {release}, TCG, udev's daemon running, no optical drive\n")
    print("| figure | trayvo2010 |")
    print("|---|---|")
    print(f"| main-thread wakeups, {options.idle} s from 2 s after the window showed | {early[0]} |")
    print(f"| wakeups of all threads, the same | {early[1]} |")
    print(f"| main-thread wakeups, {options.idle} s from {SETTLE_S} s after the window showed | {late[0]} |")
    print(f"| wakeups of all threads, the same | {late[1]} |")
    print(f"\n{options.rounds} drives plugged in and pulled out; medians in ms, min–max in brackets\n")
    print("| | kernel → udev | udev → window | kernel → window | device_add/del → window (host) |")
    print("|---|---|---|---|---|")
    for action, rows in figures.items():
        cells = []
        for column in zip(*rows):
            cells.append(f"{statistics.median(column):.0f} ({min(column):.0f}–{max(column):.0f})")
        print(f"| {'plugged in' if action == 'add' else 'pulled out'} | " + " | ".join(cells) + " |")
    print(f"\nwall time {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
