#!/usr/bin/python3
"""What the program's drive operations cost against the least that does the
same, on a real kernel cdrom driver: the QEMU guest of tests/qemu, whose
machinery this imports rather than repeats.

  - one HasDisc call against one open of the node, CDROM_DRIVE_STATUS,
    CDROM_DISC_STATUS and a close, on a drive with a disc and on an empty one;
  - one opening and one closing of the tray by the program against util-linux's
    eject and eject -t, each run as its own process, the way a user runs it.

bench/drive_cost.cpp takes the times inside the guest. The guest runs under
TCG, QEMU's emulation without hardware help: the figures are for comparing
the two sides with each other, never with a physical drive.

Usage: bench/qemu_drive_cost.py [--build DIR] [--cache DIR] [--probes N] [--trays N]
Needs what tools/install-deps.sh installs for the QEMU tests, libxcb-damage0-dev
for the benchmarks' build, and util-linux's eject (package eject).
"""

import shutil
import sys
import time

# First: it puts the tests' QEMU harness on the module path.
from qemu_bench import arguments, build, guest
from common import COMMAND_LIMIT_S, CheckFailed
from drive_checks import check_drive_list


def figures(answer, what):
    """{name: (median, min, max)} from drive_cost's lines, in µs."""
    if answer.status != 0:
        raise CheckFailed(f"{what} answered {answer.status}: {answer.text()}")
    found = {}
    for line in answer.lines:
        name, *values = line.split()
        found[name] = tuple(float(value) for value in values)
    return found


def main():
    parser = arguments(__doc__)
    parser.add_argument("--probes", type=int, default=100, help="disc checks of each kind, per drive")
    parser.add_argument("--trays", type=int, default=10, help="tray openings and closings of each kind")
    options = parser.parse_args()
    eject = shutil.which("eject", path="/usr/bin:/bin")
    if eject is None:
        sys.exit("util-linux's eject is missing: apt-get install eject")
    build_dir = options.build.resolve()
    program = build(build_dir, "drive_cost")

    started = time.monotonic()
    # drive_cost stands in for trayvo_drivecheck; the program's window is not
    # wanted here.
    with guest(options, build_dir / "drive_cost", program, "qemu") as machine:
        # Learns where each of QEMU's drives is in the program's list.
        check_drive_list(machine)
        data, empty = machine.drives["cd-data"], machine.drives["cd-empty"]
        probes = {}
        for label, drive in [("a disc", data), ("no disc", empty)]:
            answer = machine.drivecheck_run("probe", drive.index, options.probes,
                                            limit=COMMAND_LIMIT_S + options.probes)
            probes[label] = figures(answer, f"probe of {drive.node}")
        since = machine.qmp.mark()
        answer = machine.drivecheck_run("tray", data.index, options.trays, eject,
                                        limit=COMMAND_LIMIT_S + 10 * options.trays)
        trays = figures(answer, f"tray of {data.node}")
        # Each of the four actions per round must have moved the tray. The
        # events come in ahead of the answer to any command.
        machine.qmp.command("query-status")
        moves = machine.qmp.events_since(since, "DEVICE_TRAY_MOVED", id=data.qdev)
        if len(moves) != 4 * options.trays:
            raise CheckFailed(f"QEMU saw {len(moves)} tray moves, not {4 * options.trays}")
        release = machine.kernel.release

    print(f"\nQEMU guest, kernel {release}, TCG; medians in µs "
          f"({options.probes} disc checks, {options.trays} tray rounds), min–max in brackets\n")
    print("| figure | trayvo2010 | plain | ratio |")
    print("|---|---|---|---|")

    def row(name, ours, theirs):
        print(f"| {name} | {ours[0]:.0f} ({ours[1]:.0f}–{ours[2]:.0f}) | {theirs[0]:.0f} "
              f"({theirs[1]:.0f}–{theirs[2]:.0f}) | {ours[0] / theirs[0]:.2f} |")

    for label, found in probes.items():
        row(f"HasDisc vs open + 2 ioctls + close, drive with {label}", found["has_disc"],
            found["open_2_ioctls_close"])
    print("\nWhere the plain check's time goes, median µs per step:\n")
    print("| drive with | open | CDROM_DRIVE_STATUS | CDROM_DISC_STATUS | close |")
    print("|---|---|---|---|---|")
    for label, found in probes.items():
        steps = [found[f"step_{step}"][0] for step in ["open", "drive_status", "disc_status", "close"]]
        print(f"| {label} | " + " | ".join(f"{step:.0f}" for step in steps) + " |")
    print()
    print("| figure | trayvo2010 | eject | ratio |")
    print("|---|---|---|---|")
    row("open the tray vs eject", trays["program_open_tray"], trays["eject_open_tray"])
    row("close the tray vs eject -t", trays["program_close_tray"], trays["eject_close_tray"])
    print(f"\nwall time {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
