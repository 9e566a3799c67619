"""The checks on what the program's buttons do in the guest: the tray buttons
against QEMU's trays, with a disc mounted, busy, or under another filesystem,
and on a drive that is gone; the folder button's hand-over to the desktop's
opener; and last the program itself, whose window comes up on an X server and
is clicked.

Each check returns what it observed; a failure raises CheckFailed. They run
after the drive checks, in order, and each leaves the drives as the next one
expects.
"""

import time
from pathlib import Path

from common import COMMAND_LIMIT_S, MEDIA_CHANGE_LIMIT_MS, CheckFailed, TestError, expect, log
from guest import hexpath
from machine import DATA_LABEL, natural_key, sysfs_port

UNPLUG_LIMIT_MS = 5000      # from device_del to the node's going; took about 20 ms
RECORD_LIMIT_TENTHS = 50    # for the opener stand-in to write what it was given
# From starting the X server to the program's window, under TCG; took 4 to 7 s
# when measured.
WINDOW_LIMIT_S = 45

# Paths as the guest's chroot sees them; its /tmp and /run are the guest's own.
# A desktop mounts a disc in a folder named after its label.
MEDIA_DIR = f"/run/media/user/{DATA_LABEL}"
HELD_DIR = "/tmp/trayvo-disc"
OPENER = "/tmp/trayvo-opener"
OPENED_DIR = "/tmp/trayvo-opened"
SCREENSHOT = "/tmp/trayvo2010-window.png"

# Where the main window has its first button, from its layout in twips:
# Command1 inside Frame1, and the client area's size. 15 twips a pixel at 96 dpi.
TWIPS_PER_PIXEL = 15
FRAME1_TWIPS = (240, 600)
COMMAND1_TWIPS = (3480, 360, 1095, 375)
CLIENT_TWIPS = (5445, 3435)
PROGRAM_TITLE = "Trayvo2010"


def check_doors_moved(m):
    """The program's tray buttons move the tray, with a disc in it and without;
    pressed again, they leave it where it is. Either way they say nothing."""
    data, empty = m.drives["cd-data"], m.drives["cd-empty"]
    # The medium check left a disc in the empty drive: QEMU takes it out.
    if m.qmp.block(empty.qdev).get("inserted"):
        since = m.qmp.mark()
        m.qmp.command("blockdev-open-tray", id=empty.qdev)
        m.tray_event(empty, since, True)
        m.qmp.command("blockdev-remove-medium", id=empty.qdev)
        m.qmp.command("blockdev-close-tray", id=empty.qdev)
        m.tray_event(empty, since, False)
    observed = []
    for drive in (data, empty):
        expect(not m.qmp.block(drive.qdev)["tray_open"], f"the tray is open to begin with: {m.tray_state(drive.qdev)}")
        steps = []
        # Each button twice: the second press finds the tray where it wants it.
        for action, tray_open, expected_events in [("open", True, [True]), ("open", True, []),
                                                   ("close", False, [False]), ("close", False, [])]:
            answer, events, entry = m.door(action, drive)
            state = m.tray_state(drive.qdev)
            expect(answer.status == 0 and not answer.lines,
                   f"{action} of {drive.node} answered {answer.status}: {answer.text()}")
            expect(bool(entry["tray_open"]) == tray_open and events == expected_events,
                   f"{action} of {drive.node}: QEMU has {state}, tray events {events}, expected {expected_events}")
            steps.append(f"{action} -> tray {'open' if entry['tray_open'] else 'closed'}, events {events}")
        observed.append(f"{drive.qdev}: " + ", ".join(steps))
    expect(not m.qmp.block(empty.qdev).get("inserted") and m.qmp.block(data.qdev).get("inserted"),
           f"the media moved: {m.tray_state(data.qdev)}; {m.tray_state(empty.qdev)}")
    # The next checks mount the disc: it must be readable again.
    took = m.watch(data, 1)
    return "qmp: " + "; ".join(observed) + f"; {data.node} read its disc again {took} ms after the watch began"


def check_open_while_mounted(m):
    """The open button lets go of a mounted disc before opening the tray; while
    something works inside the disc, the tray stays shut and nothing is said."""
    data = m.drives["cd-data"]
    m.mount_at(data, HELD_DIR)
    entry = m.qmp.block(data.qdev)
    expect(entry["locked"] and not entry["tray_open"], f"the mounted disc: {m.tray_state(data.qdev)}")
    holder = m.guest.run("hold", hexpath(HELD_DIR))
    if holder.status != 0 or len(holder.lines) != 1:
        raise TestError(f"nothing holds {HELD_DIR}: {holder.text()}")
    try:
        busy, busy_events, entry = m.door("open", data)
        busy_state, busy_points = m.tray_state(data.qdev), m.mount_points(data)
    finally:
        released = m.guest.run("release", holder.lines[0])
    expect(released.status == 0, f"the process in {HELD_DIR} did not end: {released.text()}")
    expect(busy.status == 0 and not busy.lines, f"open of a busy disc answered {busy.status}: {busy.text()}")
    expect(not entry["tray_open"] and entry["locked"] and not busy_events and busy_points == [HELD_DIR],
           f"open of a busy disc: QEMU has {busy_state}, tray events {busy_events}; mounted at {busy_points}")

    answer, events, entry = m.door("open", data)
    state, points = m.tray_state(data.qdev), m.mount_points(data)
    expect(answer.status == 0 and not answer.lines, f"open of a mounted disc answered {answer.status}: {answer.text()}")
    expect(not points, f"the disc is still mounted at {points}")
    expect(entry["tray_open"] and events == [True], f"open of a mounted disc: QEMU has {state}, tray events {events}")

    closed, _, entry = m.door("close", data)
    expect(closed.status == 0 and not entry["tray_open"], f"close answered {closed.status}: {m.tray_state(data.qdev)}")
    took = m.watch(data, 1)
    return (f"qmp while busy: {busy_state}, no tray event, mounted at {busy_points}; "
            f"once let go: {state}, tray events {events}, guest mounts of {data.node}: {points or 'none'}; "
            f"closed again, disc read {took} ms after the watch began")


def check_open_under_another_filesystem(m):
    """A tmpfs mounted over the disc's mount point: the open button neither
    takes it off nor pulls the disc from under it, and says nothing; the
    folder button does not hand the tmpfs over as the disc's folder."""
    data = m.drives["cd-data"]
    made = m.guest.run("opener-stand-in", OPENER, OPENED_DIR)
    if made.status != 0:
        raise TestError(f"no opener stand-in: {made.text()}")
    m.mount_at(data, HELD_DIR)
    covered = m.guest.run("tmpfs-over", hexpath(HELD_DIR))
    try:
        if covered.status != 0:
            raise TestError(f"no tmpfs over {HELD_DIR}: {covered.text()}")
        answer, events, entry = m.door("open", data)
        state, points = m.tray_state(data.qdev), m.mount_points(data)
        kept = m.guest.run("run", "cat", f"{HELD_DIR}/kept.txt")
        explored = m.drivecheck_run("explore", data.index, OPENER)
    finally:
        for _ in range(2 if covered.status == 0 else 1):  # the tmpfs, then the disc
            m.guest.run("umount-at", hexpath(HELD_DIR))
    expect(answer.status == 0 and not answer.lines, f"open answered {answer.status}: {answer.text()}")
    expect(kept.status == 0 and kept.lines == ["kept"], f"the tmpfs lost its file: {kept.text()}")
    expect(not entry["tray_open"] and entry["locked"] and not events and points == [HELD_DIR],
           f"open of a covered disc: QEMU has {state}, tray events {events}; mounted at {points}")
    message = f"无法打开光驱设备 {data.node} 的目录。"
    expect(explored.status == 1 and explored.lines == [message],
           f"explore of a covered disc answered {explored.status}: {explored.text()}")
    expect(not m.mount_points(data), f"the disc stays mounted at {m.mount_points(data)} after the check")
    return (f"qmp: {state}, no tray event; the disc still mounted at {points}, the tmpfs's file kept; "
            f"explore: {message!r}")


def plug_back(m, drive):
    """Plugs a SCSI drive in again, without a disc, and learns its new node."""
    m.qmp.command("device_add", driver="scsi-cd", bus="vscsi.0", channel=0, lun=0, id=drive.qdev,
                  **{"scsi-id": 0})
    deadline = time.monotonic() + MEDIA_CHANGE_LIMIT_MS / 1000
    drive.node = ""
    while not drive.node:
        for line in m.guest.run("sysblock").lines:
            name, _, path = line.split(" ", 2)
            if sysfs_port(path) == drive.port:
                drive.node = f"/dev/{name}"
        if not drive.node and time.monotonic() > deadline:
            raise CheckFailed(f"the guest shows no drive for {drive.qdev} plugged back in: "
                              f"{m.tray_state(drive.qdev)}")


def check_doors_of_unplugged_drive(m):
    """A drive unplugged while the window still lists it: its buttons return
    at once, say nothing and move no other drive's tray."""
    hot = m.drives["cd-hot"]
    # It went in the watch check; it comes back empty.
    plug_back(m, hot)
    listed = m.drivecheck_run("list")
    roots = [line.split(" ", 1)[1] for line in listed.lines[:-1]]
    expect(hot.node in roots, f"{hot.node}, plugged back in, is not in the list {roots}")
    hot.index = roots.index(hot.node)
    expected = sorted(roots, key=natural_key)
    expect(roots == expected, f"with {hot.node} back the list is {roots}")
    plugged = m.tray_state(hot.qdev)

    job = m.guest.start("run", m.drivecheck, "doors-when-gone", hot.index, UNPLUG_LIMIT_MS,
                        limit=UNPLUG_LIMIT_MS / 1000 + COMMAND_LIMIT_S)
    first = m.guest.next_line(job)
    expect(first == f"listed {hot.node}", f"doors-when-gone began with {first}")
    since = m.qmp.mark()
    m.qmp.command("device_del", id=hot.qdev)
    m.qmp.wait_event("DEVICE_DELETED", since, device=hot.qdev)
    answer = m.guest.finish(job, [first])
    expect(answer.status == 0 and answer.lines == [first, "gone", "returned"],
           f"the buttons of the unplugged drive answered {answer.status}: {answer.text()}")
    m.qmp.command("query-block")  # brings in the events the buttons caused
    moved = m.qmp.events_since(since, "DEVICE_TRAY_MOVED")
    expect(not moved, f"a tray moved: {moved}")
    expect(m.qmp.block(hot.qdev) is None, f"QEMU still has the drive: {m.tray_state(hot.qdev)}")
    oops = m.kernel_complaints()
    expect(not oops, f"the guest kernel complained: {oops[:3]}")
    return (f"qmp plugged back: {plugged} as {hot.node} (index {hot.index}); after device_del: "
            f"{m.tray_state(hot.qdev)}; drivecheck: {' / '.join(answer.lines)}; no tray event, no oops")


def opener_starts(lines):
    """The opener stand-in's records: the arguments of each start, NUL-ended."""
    starts = {}
    for line in lines:
        if line.startswith("record "):
            starts[line.split(" ", 1)[1]] = ""
        elif starts:
            starts[list(starts)[-1]] += line
    return [bytes.fromhex(hex_text) for hex_text in starts.values()]


def check_folder_opened(m):
    """The folder button hands the desktop's opener the folder where the disc is
    mounted, label and all, as one argument; with the disc not mounted and
    nothing to mount it, it says so."""
    data = m.drives["cd-data"]
    made = m.guest.run("opener-stand-in", OPENER, OPENED_DIR)
    if made.status != 0:
        raise TestError(f"no opener stand-in: {made.text()}")
    # The guest runs no UDisks2, which would mount the disc on the way.
    refused = m.drivecheck_run("explore", data.index, OPENER)
    message = f"无法打开光驱设备 {data.node} 的目录。"
    expect(refused.status == 1 and refused.lines == [message],
           f"explore of a disc not mounted answered {refused.status}: {refused.text()}")

    m.mount_at(data, MEDIA_DIR)
    since = m.qmp.mark()
    try:
        opened = m.drivecheck_run("explore", data.index, OPENER)
        records = m.guest.run("records", OPENED_DIR, RECORD_LIMIT_TENTHS)
        state = m.tray_state(data.qdev)
        moved = m.qmp.events_since(since, "DEVICE_TRAY_MOVED")
    finally:
        unmounted = m.guest.run("umount-at", hexpath(MEDIA_DIR))
    expect(opened.status == 0 and opened.lines == ["ok"], f"explore answered {opened.status}: {opened.text()}")
    expect(records.status == 0, f"the opener stand-in recorded nothing in {RECORD_LIMIT_TENTHS / 10} s")
    arguments = opener_starts(records.lines)
    # A start from the refused explore would be a second record.
    expect(len(arguments) == 1, f"the opener was started {len(arguments)} times: {arguments}")
    expect(arguments[0] == MEDIA_DIR.encode() + b"\0",
           f"the opener was given {arguments[0].decode(errors='replace').split(chr(0))}, not [{MEDIA_DIR!r}]")
    expect(not moved and unmounted.status == 0, f"explore moved a tray {moved}, or held the disc: {unmounted.text()}")
    return (f"qmp: {state}, no tray event; not mounted: {message!r}; mounted at {MEDIA_DIR!r}: 'ok', "
            f"the opener got {arguments[0].decode().split(chr(0))[:-1]}")


def command1_center(left, top):
    """Where on the screen the middle of Command1 is, the window's client
    area being at left, top."""
    button_x, button_y, button_width, button_height = COMMAND1_TWIPS
    x = left + round((FRAME1_TWIPS[0] + button_x + button_width / 2) / TWIPS_PER_PIXEL)
    y = top + round((FRAME1_TWIPS[1] + button_y + button_height / 2) / TWIPS_PER_PIXEL)
    return x, y


def keep_screenshot(m, window, kept):
    shot = m.guest.run("x", "import", "-window", window, SCREENSHOT)
    image = m.guest.run("fetch", SCREENSHOT) if shot.status == 0 else shot
    if image.status == 0:
        m.artifacts.mkdir(parents=True, exist_ok=True)
        kept.write_bytes(bytes.fromhex("".join(image.lines)))
        log(f"     screenshot: {kept}")
    else:
        log(f"     no screenshot: {image.text()}")


def with_program(m, check):
    """check(pid) with the program running on a fresh X server in the guest:
    what it observed, once the program is seen to have run on to the end."""
    gui = m.guest.run("gui-start", m.program, limit=WINDOW_LIMIT_S)
    if gui.status != 0 or len(gui.lines) != 1:
        raise CheckFailed(f"the X server did not start: {gui.text()}\n{m.guest_text('/tmp/xvfb.log')}")
    x_server, program = gui.lines[0].split()
    try:
        observed = check(program)
    finally:
        stopped = m.guest.run("gui-stop", x_server, program)
    expect(stopped.lines[:1] == ["program running"],
           f"the program had ended by itself: {m.guest_text('/tmp/program.log')}")
    return observed


def check_program_window(m):
    """The program itself, on an X server in the guest: its window appears,
    listing the drives, and a click on its open button opens the first one's tray."""
    first = next(drive for drive in m.drives.values() if drive.index == 0)
    expect(not m.qmp.block(first.qdev)["tray_open"], f"the tray is open to begin with: {m.tray_state(first.qdev)}")
    kept = m.artifacts / Path(SCREENSHOT).name
    kept.unlink(missing_ok=True)  # an earlier run's must not pass for this one's
    started = time.monotonic()

    def check(_program):
        found = m.guest.run("x", "timeout", WINDOW_LIMIT_S, "xdotool", "search", "--sync", "--onlyvisible",
                            "--name", f"^{PROGRAM_TITLE}$", limit=WINDOW_LIMIT_S + COMMAND_LIMIT_S)
        appeared = time.monotonic() - started
        expect(found.status == 0 and len(found.lines) == 1,
               f"no window {PROGRAM_TITLE} after {appeared:.1f} s: {found.text()}\n"
               f"{m.guest_text('/tmp/program.log')}")
        window = found.lines[0]
        geometry = dict(line.split("=", 1) for line in m.guest.run("x", "xdotool", "getwindowgeometry", "--shell",
                                                                   window).lines if "=" in line)
        left, top, width, height = (int(geometry.get(key, -1)) for key in ("X", "Y", "WIDTH", "HEIGHT"))
        # At 96 dpi the layout's twips become pixels as the click position assumes.
        expect((width, height) == tuple(round(twips / TWIPS_PER_PIXEL) for twips in CLIENT_TWIPS),
               f"the window is {width}x{height}, not its layout's size at 96 dpi")
        x, y = command1_center(left, top)
        # The window as it came up, kept before the click so that a miss can
        # be looked into.
        keep_screenshot(m, window, kept)
        since = m.qmp.mark()
        clicked = m.guest.run("x", "xdotool", "mousemove", x, y, "click", "1")
        expect(clicked.status == 0, f"xdotool could not click: {clicked.text()}")
        m.tray_event(first, since, True)
        state = m.tray_state(first.qdev)
        expect(m.qmp.block(first.qdev)["tray_open"], f"after the click QEMU has {state}")
        return (f"window {width}x{height} at ({left},{top}) {appeared:.1f} s after the X server was started; "
                f"click at ({x},{y}); qmp: {state}, DEVICE_TRAY_MOVED seen; the program ran on")

    observed = with_program(m, check)
    # Back as the drive was, should anything come after.
    since = m.qmp.mark()
    m.qmp.command("blockdev-close-tray", id=first.qdev)
    m.tray_event(first, since, False)
    return observed


CHECKS = [
    ("trays moved by the buttons", check_doors_moved),
    ("open of a mounted disc", check_open_while_mounted),
    ("open of a disc under another filesystem", check_open_under_another_filesystem),
    ("buttons of an unplugged drive", check_doors_of_unplugged_drive),
    ("disc folder opened", check_folder_opened),
    ("program window", check_program_window),
]
