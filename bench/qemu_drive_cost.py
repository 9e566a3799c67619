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

import argparse
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(SOURCE / "tests/qemu"))
# The harness's modules, found through the path above.
from common import COMMAND_LIMIT_S, CheckFailed, TestError  # noqa: E402
from drive_checks import check_drive_list  # noqa: E402
from initramfs import build_initramfs  # noqa: E402
from kernel import debian_kernel  # noqa: E402
from machine import Machine  # noqa: E402
from qmp import QmpError  # noqa: E402


def build(build_dir):
    subprocess.run(["cmake", "-S", str(SOURCE / "bench"), "-B", str(build_dir), "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "--target", "drive_cost", "trayvo2010"], check=True,
                   stdout=subprocess.DEVNULL)
    return build_dir / "drive_cost"


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
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=SOURCE / "build/bench", help="the benchmarks' build tree")
    parser.add_argument("--cache", type=Path, help="where the kernel package is kept (default BUILD/qemu-cache)")
    parser.add_argument("--probes", type=int, default=100, help="disc checks of each kind, per drive")
    parser.add_argument("--trays", type=int, default=10, help="tray openings and closings of each kind")
    options = parser.parse_args()
    eject = shutil.which("eject", path="/usr/bin:/bin")
    if eject is None:
        sys.exit("util-linux's eject is missing: apt-get install eject")
    build_dir = options.build.resolve()
    drive_cost = build(build_dir)
    cache = (options.cache or build_dir / "qemu-cache").resolve()

    started = time.monotonic()
    kernel = debian_kernel(cache)
    with tempfile.TemporaryDirectory(prefix="trayvo-bench-qemu-") as work_dir:
        work = Path(work_dir)
        build_initramfs(kernel, work / "initramfs.cpio")
        # drive_cost stands in for trayvo_drivecheck; the program's window is
        # not wanted here, and its artifacts are thrown away with the rest.
        machine = Machine(work, kernel, drive_cost, build_dir / "trayvo/platform/trayvo2010",
                          work / "artifacts")
        try:
            ready = machine.start()
            print(f"guest {ready[0]} answering after {time.monotonic() - started:.1f} s", flush=True)
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
        except (TestError, CheckFailed, QmpError) as error:
            print(f"failed: {error}\nguest console:\n{machine.console_tail()}", file=sys.stderr)
            return 1
        finally:
            machine.stop()

    print(f"\nQEMU guest, kernel {kernel.release}, TCG; medians in µs "
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
