"""The QEMU guest the checks run in: Debian's own kernel under TCG with
emulated optical drives and a disk beside them, booted afresh for each file
of checks so that each finds the drives as the machine made them. The kernel
package is downloaded once into the cache and never installed."""

import signal
import sys
import tempfile
from pathlib import Path

import pytest

from common import TestError
from drive_checks import learn_drives
from initramfs import build_initramfs
from kernel import debian_kernel
from machine import Machine


def pytest_addoption(parser):
    for name, what in [("drivecheck", "the built trayvo_drivecheck"), ("program", "the built trayvo2010"),
                       ("wmping", "the built trayvo_wmping"), ("cache", "where the kernel package is kept"),
                       ("artifacts", "where the window's picture is kept")]:
        parser.addoption(f"--{name}", type=Path, required=True, help=what)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A guest or QEMU that stopped answering leaves nothing for the checks after."""
    report = (yield).get_result()
    if report.failed and call.excinfo is not None and call.excinfo.errisinstance(TestError):
        item.session.shouldstop = f"the test machine gave up: {call.excinfo.value}"


@pytest.fixture(scope="module")
def m(request):
    # A polite stop (ctest's time-out) unwinds like an error, so QEMU is stopped too.
    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(f"stopped by signal {signum}"))
    option = lambda name: request.config.getoption(name).resolve()  # noqa: E731
    kernel = debian_kernel(option("cache"))
    with tempfile.TemporaryDirectory(prefix="trayvo-qemu-") as work_dir:
        work = Path(work_dir)
        build_initramfs(kernel, work / "initramfs.cpio")
        machine = Machine(work, kernel, option("drivecheck"), option("program"), option("artifacts"),
                          wmping=option("wmping"))
        failed_before, started = request.session.testsfailed, False
        try:
            release, uptime = machine.start()
            print(f"guest {release} answering at uptime {uptime} s")
            learn_drives(machine)
            started = True
            yield machine
        finally:
            machine.stop()
            if not started or request.session.testsfailed > failed_before:
                print("guest console, last lines:\n" + machine.console_tail())
                print("QEMU output:\n" + machine.qemu_output())
