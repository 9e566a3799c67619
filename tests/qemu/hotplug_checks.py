"""The program's drive list following drives plugged in and pulled out while
it runs, with udev's daemon running in the guest as on a desktop system.

Qt's widgets keep their texts to themselves, so the window is compared,
pixel for pixel, with a fresh copy of the program started on the same X
server at that moment, whose load lists the drives as they are now; each is
read as it stands and with its drive selector dropped down, so that every
listed drive is compared. A drive pulled out must bring back the very screen
seen before it came.
"""

import time
from pathlib import Path

from common import COMMAND_LIMIT_S, CheckFailed, TestError, expect
from button_checks import (COMBOX_TWIPS, FRAME1_TWIPS, PROGRAM_TITLE, TWIPS_PER_PIXEL, WINDOW_LIMIT_S,
                           command1_center, with_program)
from machine import sysfs_port

UDEVD = Path("/lib/systemd/systemd-udevd")
PLUGGED = "cd-plugged"
PLUGGED_SCSI_ID = 10          # beside the drives and the disk the machine starts with
LISTED_LIMIT_S = 30           # from device_add to the window changing; took 2 to 5 s under TCG
SETTLE_LIMIT_S = 15           # for a window to stop changing
DROP_DOWN_LIMIT_S = 5         # for the selector's list to show; an empty one shows none


def at_twips(left, top, twips):
    """A point of the window's client area, from twips inside Frame1."""
    return (left + round((FRAME1_TWIPS[0] + twips[0]) / TWIPS_PER_PIXEL),
            top + round((FRAME1_TWIPS[1] + twips[1]) / TWIPS_PER_PIXEL))


class Screen:
    """The guest's X server as the checks see it: hashes of the whole screen."""

    def __init__(self, m):
        self.m = m

    def hash(self):
        answer = self.m.guest.run("screen-hash", "screen")
        if answer.status != 0 or len(answer.lines) != 1:
            raise TestError(f"no screenshot: {answer.text()}")
        return answer.lines[0]

    def settled(self, unlike=None, limit=SETTLE_LIMIT_S):
        """The screen once two looks in a row agree and it is not unlike;
        None when that does not come within limit seconds."""
        deadline = time.monotonic() + limit
        previous = None
        while time.monotonic() < deadline:
            current = self.hash()
            if current == previous and current != unlike:
                return current
            previous = current
        return None

    def x(self, *args, limit=COMMAND_LIMIT_S):
        answer = self.m.guest.run("x", *args, limit=limit)
        if answer.status != 0:
            raise TestError(f"{' '.join(map(str, args))} failed: {answer.text()}")
        return answer.lines


class ProgramWindow:
    """One copy of the program on the guest's X server, found by its pid."""

    def __init__(self, screen, pid):
        self.screen = screen
        self.pid = pid
        found = screen.x("timeout", WINDOW_LIMIT_S, "xdotool", "search", "--sync", "--onlyvisible", "--all",
                         "--pid", pid, "--name", f"^{PROGRAM_TITLE}$", limit=WINDOW_LIMIT_S + COMMAND_LIMIT_S)
        expect(len(found) == 1, f"program {pid} has windows {found}")
        self.window = found[0]
        geometry = dict(line.split("=", 1) for line in screen.x("xdotool", "getwindowgeometry", "--shell",
                                                                 self.window) if "=" in line)
        self.left, self.top = int(geometry["X"]), int(geometry["Y"])

    def read(self):
        """The screen with the window as it stands, and with its drive
        selector dropped down, the pointer resting at the same places."""
        self.screen.x("xdotool", "mousemove", self.left + 2, self.top + 2)
        shown = self.screen.settled()
        x, y = at_twips(self.left, self.top, (COMBOX_TWIPS[0] + 100, COMBOX_TWIPS[1] + COMBOX_TWIPS[3] // 2))
        self.screen.x("xdotool", "mousemove", x, y, "click", "1")
        dropped = self.screen.settled(unlike=shown, limit=DROP_DOWN_LIMIT_S) or shown
        self.screen.x("xdotool", "key", "Escape")
        if shown is None:
            raise CheckFailed(f"the window of program {self.pid} would not hold still to be read")
        return shown, dropped

    def open_button(self):
        self.screen.x("xdotool", "mousemove", *command1_center(self.left, self.top), "click", "1")


def fresh_read(m, screen):
    """The window as a fresh copy of the program shows it now, over the
    running one at the same place."""
    started = m.guest.run("x-start", m.program)
    if started.status != 0:
        raise TestError(f"no second copy of the program: {started.text()}")
    pid = started.lines[0]
    try:
        return ProgramWindow(screen, pid).read()
    finally:
        m.guest.run("release", pid)


def plugged_node(m):
    for line in m.guest.run("sysblock").lines:
        name, _, path = line.split(" ", 2)
        if sysfs_port(path) == f"vscsi.0:{PLUGGED_SCSI_ID}":
            return f"/dev/{name}"
    return None


def plug(m, medium=None):
    arguments = {"scsi-id": PLUGGED_SCSI_ID}
    if medium:
        m.qmp.command("blockdev-add", driver="raw", **{"node-name": "plugged-medium", "read-only": True},
                      file={"driver": "file", "filename": str(medium), "read-only": True})
        arguments["drive"] = "plugged-medium"
    m.qmp.command("device_add", driver="scsi-cd", bus="vscsi.0", channel=0, lun=0, id=PLUGGED, **arguments)


def unplug(m):
    since = m.qmp.mark()
    m.qmp.command("device_del", id=PLUGGED)
    m.qmp.wait_event("DEVICE_DELETED", since, device=PLUGGED)
    if any(entry.get("node-name") == "plugged-medium" for entry in m.qmp.command("query-named-block-nodes")):
        m.qmp.command("blockdev-del", **{"node-name": "plugged-medium"})


def changed(screen, before):
    """Seconds from now until the screen settles somewhere else."""
    started = time.monotonic()
    after = screen.settled(unlike=before, limit=LISTED_LIMIT_S)
    expect(after is not None, f"the window did not change within {LISTED_LIMIT_S} s")
    return time.monotonic() - started


def start_udev(m):
    if not UDEVD.exists():
        raise TestError(f"{UDEVD} is missing; the package udev brings it")
    started = m.guest.run("udev-start", limit=120)
    if started.status != 0:
        raise TestError(f"udev's daemon did not start: {started.text()} {m.guest_text('/tmp/udevd.log')}")


def with_window(m, check):
    """check(screen, window) with the program running on a fresh X server."""
    def run(program):
        screen = Screen(m)
        return check(screen, ProgramWindow(screen, program))

    return with_program(m, run)


def check_drive_plugged_beside_others(m):
    """A drive plugged in joins the running window's list as a fresh start
    would list it; pulled out, it leaves the window as it was."""
    start_udev(m)

    def check(screen, window):
        before = window.read()
        plug(m)
        changed(screen, before[0])
        node = plugged_node(m)
        expect(node, "the guest shows no drive for the one plugged in")
        with_drive = window.read()
        expect(with_drive == fresh_read(m, screen),
               f"with {node} plugged in the window differs from a fresh start's")
        unplug(m)
        changed(screen, with_drive[0])
        expect(window.read() == before, f"with {node} pulled out the window differs from before it came")

    return with_window(m, check)


def take_every_drive(m):
    """Unplugs QEMU's SCSI drives and has the kernel let go of the ATAPI
    ones, which cannot be unplugged. Their nodes must be known."""
    for qdev in [entry["qdev"] for entry in m.qmp.command("query-block") if "tray_open" in entry]:
        drive = m.drives.get(qdev)
        if drive and drive.port.startswith("ide."):
            m.guest.run("scsi-delete", drive.node)
        else:
            since = m.qmp.mark()
            m.qmp.command("device_del", id=qdev)
            m.qmp.wait_event("DEVICE_DELETED", since, device=qdev)
    left = [line for line in m.guest.run("sysblock").lines if line.split(" ")[1] == "5"]
    expect(not left, f"optical drives are left: {left}")


def check_no_drive_then_one(m):
    """With no optical drive at start, one plugged in is listed, chosen and
    worked by the buttons; pulled out, the window is as it started."""
    take_every_drive(m)

    def check(screen, window):
        empty = window.read()
        plug(m, m.other_iso)
        changed(screen, empty[0])
        with_drive = window.read()
        expect(with_drive == fresh_read(m, screen), "with a drive plugged in the window differs from a fresh start's")
        since = m.qmp.mark()
        window.open_button()
        m.qmp.wait_event("DEVICE_TRAY_MOVED", since, id=PLUGGED, **{"tray-open": True})
        unplug(m)
        changed(screen, with_drive[0])
        expect(window.read() == empty, "with the drive pulled out the window differs from its start")

    try:
        return with_window(m, check)
    finally:
        m.guest.run("udev-stop")


CHECKS = [
    ("drive plugged in beside others", check_drive_plugged_beside_others),
    ("no drive, then one, then none", check_no_drive_then_one),
]
