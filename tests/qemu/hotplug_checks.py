"""The program's drive list following drives plugged in and pulled out while
it runs, with udev's daemon running in the guest as on a desktop system.

The window is compared, by the screen's hash, with a fresh copy of the
program started on the same X server at that moment, whose load lists the
drives as they are now; each is read as it stands and with its drive selector dropped down, so that every
listed drive is compared. A drive pulled out must bring back the very screen
seen before it came.
"""

import time
from pathlib import Path

from common import TestError, expect
from window import ProgramWindow, program_running

UDEVD = Path("/lib/systemd/systemd-udevd")
PLUGGED = "cd-plugged"
PLUGGED_SCSI_ID = 10          # beside the drives and the disk the machine starts with
LISTED_LIMIT_S = 30           # from device_add to the window changing; took 2 to 5 s under TCG


def fresh_read(m, screen):
    """The window as a fresh copy of the program shows it now, over the
    running one at the same place."""
    pid = m.spawn("x", m.program, log="/host/tmp/x-start.log")
    try:
        return ProgramWindow(screen, pid).read()
    finally:
        m.guest.run("release", pid)


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


def changed(window, before):
    """The window's read once it has settled away from before, an earlier
    read. The pointer rests first, as for a read: a control under it looks
    hovered, which is no change of the window's."""
    window.rest_pointer()
    after = window.screen.settled(unlike=before[0], limit=LISTED_LIMIT_S)
    expect(after is not None, f"the window did not change within {LISTED_LIMIT_S} s")
    return window.read()


def returns_to(window, earlier, what):
    """Reads the window until it reads as earlier did, for LISTED_LIMIT_S at
    most. Waiting for any change would not do: a click since, or the fresh
    copy gone from over the window, changes its look too."""
    deadline = time.monotonic() + LISTED_LIMIT_S
    while (read := window.read()) != earlier and time.monotonic() < deadline:
        pass
    looks_alike(read, earlier, what)


def looks_alike(read, other, what):
    views = [view for view, mine, theirs in zip(("as it stands", "dropped down"), read, other) if mine != theirs]
    expect(not views, f"{what}, the window differs {' and '.join(views)}")


def start_udev(m):
    if not UDEVD.exists():
        raise TestError(f"{UDEVD} is missing; the package udev brings it")
    started = m.guest.run("udev-start", limit=120)
    if started.status != 0:
        raise TestError(f"udev's daemon did not start: {started.text()} {m.guest_text('/tmp/udevd.log')}")


def check_drive_plugged_beside_others(m):
    """A drive plugged in joins the running window's list as a fresh start
    would list it; pulled out, it leaves the window as it was."""
    start_udev(m)
    with program_running(m) as window:
        before = window.read()
        plug(m)
        with_drive = changed(window, before)
        looks_alike(with_drive, fresh_read(m, window.screen), "with a drive plugged in, against a fresh start")
        unplug(m)
        returns_to(window, before, "with the drive pulled out, against before it came")


def take_every_drive(m):
    """Unplugs QEMU's SCSI drives and has the kernel let go of the ATAPI
    ones, which cannot be unplugged. Their nodes must be known."""
    for qdev in [entry["qdev"] for entry in m.qmp.command("query-block") if "tray_open" in entry]:
        drive = m.drives.get(qdev)
        if drive and drive.port.startswith("ide."):
            m.must("guest", "sh", "-c", 'echo 1 >"/sys/block/${0#/dev/}/device/delete"', drive.node)
        else:
            since = m.qmp.mark()
            m.qmp.command("device_del", id=qdev)
            m.qmp.wait_event("DEVICE_DELETED", since, device=qdev)
    left = [name for name, kind, _ in m.block_devices() if kind == "5"]
    expect(not left, f"optical drives are left: {left}")


def check_no_drive_then_one(m):
    """With no optical drive at start, one plugged in is listed, chosen and
    worked by the buttons; pulled out, the window is as it started."""
    take_every_drive(m)
    with program_running(m) as window:
        empty = window.read()
        plug(m, m.other_iso)
        with_drive = changed(window, empty)
        looks_alike(with_drive, fresh_read(m, window.screen), "with a drive plugged in, against a fresh start")
        since = m.qmp.mark()
        window.click("Command1")
        m.tray_event(PLUGGED, since, True)
        unplug(m)
        returns_to(window, empty, "with the drive pulled out, against its start")
