#!/usr/bin/python3
"""Runs the Linux drive code against a real kernel cdrom driver.

Boots Debian's own kernel under QEMU (TCG) with emulated optical drives, runs
the freshly built trayvo_drivecheck inside the guest through a chroot into the
host's root file system, and compares every answer with what QEMU's monitor
(QMP) says the drives hold. The host drives both sides: it changes a drive over
QMP, then asks the guest to probe it, or has the guest move a tray and asks
QMP where it went. Then the program itself runs in the guest on a virtual X
server: a click on its button must open a tray, and with its empty drive
chosen it must go on answering the window manager's pings; then it runs as a
desktop user, with the system's own udev, bus, polkit and UDisks2 behind it;
last, with udev's daemon running, drives are plugged in and pulled out under
the running program.

The kernel package is downloaded once into the cache directory and never
installed; the guest's initramfs is busybox plus the few modules it needs.

The parts: kernel.py (Debian's kernel), initramfs.py, machine.py (QEMU and its
drives) with qmp.py and guest.py (its two channels), and the checks in
drive_checks.py, button_checks.py, desktop_checks.py and hotplug_checks.py.
"""

import argparse
import signal
import sys
import tempfile
import time
import traceback
from dataclasses import dataclass
from pathlib import Path

import button_checks
import desktop_checks
import drive_checks
import hotplug_checks
from common import CheckFailed, TestError, log
from initramfs import build_initramfs
from kernel import debian_kernel
from machine import Machine
from qmp import QmpError

CHECKS = (drive_checks.CHECKS[:1] + button_checks.ON_UNTOUCHED_DRIVES + drive_checks.CHECKS[1:]
          + button_checks.CHECKS + desktop_checks.CHECKS + hotplug_checks.CHECKS)


@dataclass
class Tally:
    passed: int = 0
    failed: int = 0


def run_checks(machine, tally):
    """Runs the checks in order, counting them in tally as they end."""
    for name, check in CHECKS:
        check_start = time.monotonic()
        try:
            observed = check(machine)
            tally.passed += 1
            log(f"PASS {name} ({time.monotonic() - check_start:.2f} s)\n     {observed}")
        except (CheckFailed, QmpError) as error:
            tally.failed += 1
            log(f"FAIL {name} ({time.monotonic() - check_start:.2f} s)\n     {error}")
        except TestError as error:
            # The guest or QEMU stopped answering: later checks cannot run.
            tally.failed += 1
            log(f"FAIL {name} ({time.monotonic() - check_start:.2f} s)\n     {error}")
            break


def parse_options():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--drivecheck", type=Path, required=True, help="the built trayvo_drivecheck")
    parser.add_argument("--program", type=Path, required=True, help="the built trayvo2010")
    parser.add_argument("--wmping", type=Path, required=True, help="the built trayvo_wmping")
    parser.add_argument("--cache", type=Path, required=True, help="where the kernel package is kept")
    parser.add_argument("--artifacts", type=Path, required=True, help="where the screenshot is kept")
    return parser.parse_args()


def main():
    # A polite stop (SIGTERM) unwinds like an error, so QEMU is stopped too.
    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(f"stopped by signal {signum}"))
    options = parse_options()
    drivecheck = options.drivecheck.resolve()
    program = options.program.resolve()

    started = time.monotonic()
    tally = Tally()
    machine = None
    with tempfile.TemporaryDirectory(prefix="trayvo-qemu-") as work_dir:
        try:
            kernel = debian_kernel(options.cache.resolve())
            work = Path(work_dir)
            build_initramfs(kernel, work / "initramfs.cpio")
            prepared = time.monotonic()
            log(f"kernel {kernel.package} {kernel.version} ({kernel.release}), "
                f"{kernel.module_count} modules; prepared in {prepared - started:.1f} s")

            machine = Machine(work, kernel, drivecheck, program, options.artifacts.resolve(),
                              wmping=options.wmping.resolve())
            ready = machine.start()
            booted = time.monotonic()
            log(f"guest {ready[0]} answering after {booted - prepared:.1f} s "
                f"(guest uptime {ready[1]} s)")

            run_checks(machine, tally)
            log(f"checks took {time.monotonic() - booted:.1f} s")
        except TestError as error:
            tally.failed += 1
            log(f"FAIL set-up: {error}")
        except Exception:
            tally.failed += 1
            log("FAIL set-up:\n" + traceback.format_exc())
        finally:
            if machine is not None:
                machine.stop()
                if tally.failed:
                    log("guest console, last lines:\n" + machine.console_tail())
                    log("QEMU output:\n" + machine.qemu_output())
    log(f"wall time {time.monotonic() - started:.1f} s")
    log(f"qemu: {tally.passed} passed, {tally.failed} failed")
    return 1 if tally.failed or tally.passed != len(CHECKS) else 0


if __name__ == "__main__":
    sys.exit(main())
