"""What the program's buttons do to QEMU's trays, run as root in the guest:
the program's own window answering while it probes, then the tray buttons
through the drive code with a disc mounted, busy, covered by another
filesystem, or held where the program cannot see it. The checks run in
order, each leaving the drives as the next one expects.
"""

import re
import time

from common import COMMAND_LIMIT_S, TestError, expect
from guest import hexpath
from machine import MEDIA_DIR

# From starting the X server to the program's window, under TCG; took 4 to 7 s.
WINDOW_LIMIT_S = 45
OPENER = "/tmp/trayvo-opener"
OPENED_DIR = "/tmp/trayvo-opened"
SCREENSHOT = "/tmp/trayvo2010-window.png"

# Where the main window has its controls, from its layout in twips inside
# Frame1, and the client area's size. 15 twips a pixel at 96 dpi.
TWIPS_PER_PIXEL = 15
FRAME1_TWIPS = (240, 600)
COMMAND1_TWIPS = (3480, 360, 1095, 375)
COMBOX_TWIPS = (2160, 360, 735, 330)
CLIENT_TWIPS = (5445, 3435)
PROGRAM_TITLE = "Trayvo2010"

# The window manager's pings: back to back, this far apart, for this long
# with each drive chosen; the probes come once a second.
PING_GAP_MS = 20
PING_S = 4
STATUS_FOLLOWS_S = 2
# How much later than with a disc the worst answer may come with an empty
# drive: the goal is 1.5 times; the margin keeps TCG's jitter from failing it
# while a window stalled by the probe still fails.
ANSWER_RATIO = 1.5
ANSWER_MARGIN_MS = 40


def command1_center(left, top, control=COMMAND1_TWIPS):
    """Where on the screen the middle of Command1, or another control of
    Frame1, is, the window's client area being at left, top."""
    control_x, control_y, control_width, control_height = control
    return (left + round((FRAME1_TWIPS[0] + control_x + control_width / 2) / TWIPS_PER_PIXEL),
            top + round((FRAME1_TWIPS[1] + control_y + control_height / 2) / TWIPS_PER_PIXEL))


def window_geometry(m, window):
    lines = m.guest.run("x", "xdotool", "getwindowgeometry", "--shell", window).lines
    return {key: int(value) for key, value in (line.split("=", 1) for line in lines if "=" in line)}


def control_center(m, window, control):
    geometry = window_geometry(m, window)
    return command1_center(geometry["X"], geometry["Y"], control)


def window_picture(m, window):
    """The window, or the whole screen ("root"), as PNG."""
    shot = m.guest.run("x", "import", "-window", window, SCREENSHOT)
    if shot.status != 0:
        raise TestError(f"no picture of the window: {shot.text()}")
    return m.guest_bytes(SCREENSHOT)


def with_program(m, check, closes=False):
    """check(pid) with the program running on a fresh X server in the guest,
    once the program is seen to have run on to the end, or, when the check
    closes its window, to have ended by then."""
    gui = m.guest.run("gui-start", m.program, limit=WINDOW_LIMIT_S)
    if gui.status != 0 or len(gui.lines) != 1:
        raise TestError(f"the X server did not start: {gui.text()}\n{m.guest_text('/tmp/xvfb.log')}")
    x_server, program = gui.lines[0].split()
    try:
        observed = check(program)
    finally:
        stopped = m.guest.run("gui-stop", x_server, program)
    expect(stopped.lines[:1] == ["program gone" if closes else "program running"],
           f"the program had {'not ended' if closes else 'ended by itself'}: {m.guest_text('/tmp/program.log')}")
    return observed


def program_window_id(m, started):
    """The program's window once it is shown, and the seconds since started."""
    found = m.guest.run("x", "timeout", WINDOW_LIMIT_S, "xdotool", "search", "--sync", "--onlyvisible",
                        "--name", f"^{PROGRAM_TITLE}$", limit=WINDOW_LIMIT_S + COMMAND_LIMIT_S)
    appeared = time.monotonic() - started
    expect(found.status == 0 and len(found.lines) == 1,
           f"no window {PROGRAM_TITLE} after {appeared:.1f} s: {found.text()}\n{m.guest_text('/tmp/program.log')}")
    return found.lines[0], appeared


def ping_window(m, window, seconds):
    """The window's answers to back-to-back pings for seconds: how many, the
    worst and the median answer time in ms."""
    answer = m.guest.run("x", m.wmping, "ping", window, seconds, PING_GAP_MS, limit=seconds + COMMAND_LIMIT_S)
    found = re.fullmatch(r"pings (\d+) worst_us (\d+) median_us (\d+)", answer.lines[-1] if answer.lines else "")
    expect(answer.status == 0 and found is not None, f"the window left a ping unanswered: {answer.text()}")
    return int(found[1]), int(found[2]) / 1000, int(found[3]) / 1000


def choose_drive(m, window, drive):
    """Chooses drive in the program's selector: its list opened with a click
    and walked from the top with the keyboard. The screen must look
    different afterwards (a picture of the window alone came out black once
    the window had been pinged for a while)."""
    before = window_picture(m, "root")
    m.guest.run("x", "xdotool", "mousemove", *control_center(m, window, COMBOX_TWIPS), "click", "1")
    m.guest.run("x", "xdotool", "key", "--delay", "100", "Home", *["Down"] * drive.index, "Return")
    time.sleep(STATUS_FOLLOWS_S)  # the status line follows at the next tick
    expect(window_picture(m, "root") != before, f"choosing {drive.node} changed nothing on the screen")


def check_answers_while_probing(m):
    """The program's window comes up at its layout's size; with either drive
    chosen, the one holding a disc and the empty one, it answers the window
    manager's pings as promptly: the probes, which take the guest's kernel a
    long while on a drive whose tray has not moved yet, never stall it."""
    drives = sorted((m.drives["cd-data"], m.drives["cd-empty"]), key=lambda drive: drive.index)
    slowest_ms = max(m.watch(drive, int(drive.medium is not None)) for drive in drives)
    answers = {}

    def check(_program):
        window, _ = program_window_id(m, time.monotonic())
        geometry = window_geometry(m, window)
        # At 96 dpi the layout's twips become pixels as the clicks assume.
        size = (geometry["WIDTH"], geometry["HEIGHT"])
        expect(size == tuple(round(twips / TWIPS_PER_PIXEL) for twips in CLIENT_TWIPS), f"the window is {size}")
        m.artifacts.mkdir(parents=True, exist_ok=True)
        (m.artifacts / "trayvo2010-window.png").write_bytes(window_picture(m, window))
        for drive in drives:
            if drive.index != 0:
                choose_drive(m, window, drive)
            answers[drive.node] = ping_window(m, window, PING_S)

    with_program(m, check)
    quickest = min(worst for _, worst, _ in answers.values())
    bound = max(ANSWER_RATIO * quickest, quickest + ANSWER_MARGIN_MS)
    # A stalled window would answer at least a probe's time late: the check
    # tells only where that is well past the bound.
    if slowest_ms < bound + ANSWER_MARGIN_MS:
        raise TestError(f"no drive slow enough to tell: the slowest probe took {slowest_ms} ms")
    expect(all(worst <= bound for _, worst, _ in answers.values()),
           f"worst answers {answers} (pings, worst ms, median ms) past {bound:.1f} ms; a probe took {slowest_ms} ms")


def check_doors_moved(m):
    """The tray buttons move the tray, with a disc in it and without; pressed
    again, they leave it where it is. Either way they say nothing."""
    for drive in (m.drives["cd-data"], m.drives["cd-empty"]):
        for action, tray_open, expected_events in [("open", True, [True]), ("open", True, []),
                                                   ("close", False, [False]), ("close", False, [])]:
            answer, events, entry = m.door(action, drive)
            expect(answer.status == 0 and not answer.lines and bool(entry["tray_open"]) == tray_open
                   and events == expected_events,
                   f"{action} of {drive.node} answered {answer.status} {answer.text()}: QEMU has "
                   f"{m.tray_state(drive.qdev)}, tray events {events}, expected {expected_events}")
    m.watch(m.drives["cd-data"], 1)  # the next checks mount the disc


def check_open_while_mounted(m):
    """The open button lets go of a mounted disc before opening the tray; while
    something works inside the disc, the tray stays shut and nothing is said."""
    data = m.drives["cd-data"]
    m.mount_at(data, MEDIA_DIR)
    holder = m.guest.run("hold", hexpath(MEDIA_DIR))
    if holder.status != 0 or len(holder.lines) != 1:
        raise TestError(f"nothing holds {MEDIA_DIR}: {holder.text()}")
    try:
        busy, busy_events, entry = m.door("open", data)
        busy_points = m.mount_points(data)
    finally:
        released = m.guest.run("release", holder.lines[0])
    expect(released.status == 0, f"the process in {MEDIA_DIR} did not end: {released.text()}")
    expect(busy.status == 0 and not busy.lines and not entry["tray_open"] and entry["locked"] and not busy_events
           and busy_points == [MEDIA_DIR], f"open of a busy disc answered {busy.text()}: QEMU has "
           f"{m.tray_state(data.qdev)}, tray events {busy_events}; mounted at {busy_points}")

    answer, events, entry = m.door("open", data)
    points = m.mount_points(data)
    expect(answer.status == 0 and not answer.lines and not points and entry["tray_open"] and events == [True],
           f"open of a mounted disc answered {answer.text()}: QEMU has {m.tray_state(data.qdev)}, "
           f"tray events {events}; mounted at {points}")
    m.door("close", data)
    m.watch(data, 1)


def check_open_of_a_covered_disc(m):
    """Another filesystem over the disc's mount point, or over the folder
    holding it with a stick at the disc's path: the open button takes off
    neither, leaves the disc mounted and the tray shut and locked, and says
    nothing; the folder button does not hand the other over as the disc's."""
    data = m.drives["cd-data"]
    made = m.guest.run("opener-stand-in", OPENER, OPENED_DIR)
    if made.status != 0:
        raise TestError(f"no opener stand-in: {made.text()}")
    message = f"无法打开光驱设备 {data.node} 的目录。"
    parent = "/tmp/trayvo-parent"
    for point, covers in [("/tmp/trayvo-disc", ["/tmp/trayvo-disc"]), (f"{parent}/cd", [parent, f"{parent}/cd"])]:
        m.mount_at(data, point)
        covered = []
        try:
            for cover in covers:
                answer = m.guest.run("tmpfs-over", hexpath(cover))
                if answer.status != 0:
                    raise TestError(f"no tmpfs over {cover}: {answer.text()}")
                covered.insert(0, cover)
            answer, events, entry = m.door("open", data)
            points = m.mount_points(data)
            kept = m.guest.run("run", "cat", f"{point}/kept.txt")
            explored = m.drivecheck_run("explore", data.index, OPENER)
        finally:
            for cover in covered + [point]:
                m.guest.run("umount-at", hexpath(cover))
        expect(answer.status == 0 and not answer.lines and kept.lines == ["kept"] and not entry["tray_open"]
               and entry["locked"] and not events and points == [point],
               f"open of a disc at {point} under {covers} answered {answer.text()}: QEMU has "
               f"{m.tray_state(data.qdev)}, tray events {events}; mounted at {points}; the cover holds {kept.text()}")
        expect(explored.status == 1 and explored.lines == [message],
               f"explore of a disc under {covers} answered {explored.status}: {explored.text()}")
    expect(not m.mount_points(data), f"the disc stays mounted at {m.mount_points(data)}")


def check_open_while_in_use_unseen(m):
    """The disc mounted where the program cannot see it (another mount
    namespace), or the drive held open by a reading program: the open button
    leaves the drive locked and the tray shut, and says nothing."""
    data = m.drives["cd-data"]
    for verb in ("mount-unseen", "hold-node"):
        holder = m.guest.run(verb, data.node)
        if holder.status != 0 or len(holder.lines) != 1:
            raise TestError(f"{verb} {data.node}: {holder.text()}")
        try:
            deadline = time.monotonic() + 5
            while not m.qmp.block(data.qdev)["locked"] and time.monotonic() < deadline:
                time.sleep(0.1)
            answer, events, entry = m.door("open", data)
        finally:
            released = m.guest.run("release", holder.lines[0])
        expect(released.status == 0, f"the holder of {data.node} did not end: {released.text()}")
        expect(answer.status == 0 and not answer.lines and entry["locked"] and not entry["tray_open"] and not events,
               f"open with {verb} answered {answer.text()}: QEMU has {m.tray_state(data.qdev)}, tray events {events}")
