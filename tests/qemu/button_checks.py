"""What the program's buttons do to QEMU's trays, run as root in the guest:
the program's own window answering while it probes, then the tray buttons
through the drive code with a disc mounted, busy, covered by another
filesystem, or held where the program cannot see it. The checks run in
order, each leaving the drives as the next one expects.
"""

import re

from common import COMMAND_LIMIT_S, TestError, expect, wait_for
from machine import MEDIA_DIR
from window import CLIENT_TWIPS, COMBOX_TWIPS, TWIPS_PER_PIXEL, program_running

OPENER = "/tmp/trayvo-opener"
OPENED_DIR = "/tmp/trayvo-opened"

# The window manager's pings: back to back, this far apart, in rounds of this
# length with each drive chosen; the probes come once a second, so each round
# spans at least one.
PING_GAP_MS = 20
PING_ROUNDS = 3
PING_ROUND_S = 2
# A busy host delays the odd answer by tens of ms, a window stalled by a probe
# leaves at least one answer a round a probe's time late: the bound must sit
# this far clear of the quickest answer for the two to be told apart.
LEAST_MARGIN_MS = 30


def ping_window(m, window, seconds):
    """The window's answers to back-to-back pings for seconds: how many, the
    worst and the median answer time in ms."""
    answer = m.guest.run("x", m.wmping, "ping", window.window, seconds, PING_GAP_MS, limit=seconds + COMMAND_LIMIT_S)
    found = re.fullmatch(r"pings (\d+) worst_us (\d+) median_us (\d+)", answer.lines[-1] if answer.lines else "")
    expect(answer.status == 0 and found is not None, f"the window left a ping unanswered: {answer.text()}")
    return int(found[1]), int(found[2]) / 1000, int(found[3]) / 1000


def choose_drive(window, drive):
    """Chooses drive in the program's selector: its list opened with a click
    and walked from the top with the keyboard. The window must look
    different afterwards, the pointer resting off the controls both times."""
    window.rest_pointer()
    before = window.screen.settled()
    window.click(COMBOX_TWIPS)
    window.screen.x("xdotool", "key", "--delay", "100", "Home", *["Down"] * drive.index, "Return")
    window.rest_pointer()
    expect(window.screen.settled(unlike=before) is not None, f"choosing {drive.node} changed nothing on the screen")


def check_answers_while_probing(m):
    """The program's window comes up at its layout's size; with either drive
    chosen, the one holding a disc and the empty one, it answers the window
    manager's pings as promptly: the probes, which take the guest's kernel a
    long while on a drive whose tray has not moved yet, never stall it."""
    drives = sorted((m.drives["cd-data"], m.drives["cd-empty"]), key=lambda drive: drive.index)
    slowest_ms = max(m.watch(drive, int(drive.medium is not None)) for drive in drives)
    answers = {}
    with program_running(m) as window:
        # At 96 dpi the layout's twips become pixels as the clicks assume.
        expect(window.size == tuple(round(twips / TWIPS_PER_PIXEL) for twips in CLIENT_TWIPS),
               f"the window is {window.size}")
        m.artifacts.mkdir(parents=True, exist_ok=True)
        (m.artifacts / "trayvo2010-window.png").write_bytes(window.picture())
        for drive in drives:
            if drive.index != 0:
                choose_drive(window, drive)
            answers[drive.node] = [ping_window(m, window, PING_ROUND_S) for _ in range(PING_ROUNDS)]
    # A ping sent during a probe on the window's thread waits out the rest of
    # it: at least a probe's time less the gap between pings late, in every
    # round. The bound sits halfway there from the quickest round, and each
    # drive is judged by its best round: a busy host's delays come and go, a
    # stall comes back every round.
    margin = (slowest_ms - PING_GAP_MS) / 2
    if margin < LEAST_MARGIN_MS:
        raise TestError(f"no drive slow enough to tell: the slowest probe took {slowest_ms} ms")
    best = {node: min(worst for _, worst, _ in rounds) for node, rounds in answers.items()}
    bound = min(best.values()) + margin
    expect(all(worst <= bound for worst in best.values()),
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
    holder = m.spawn("run", "sh", "-c", 'cd "$0" && exec sleep 600', MEDIA_DIR)
    try:
        busy, busy_events, entry = m.door("open", data)
        busy_points = m.mount_points(data)
    finally:
        m.must("release", holder)
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
    m.opener_stand_in(OPENER, OPENED_DIR)
    message = f"无法打开光驱设备 {data.node} 的目录。"
    parent = "/tmp/trayvo-parent"
    for point, covers in [("/tmp/trayvo-disc", ["/tmp/trayvo-disc"]), (f"{parent}/cd", [parent, f"{parent}/cd"])]:
        m.mount_at(data, point)
        covered = []
        try:
            for cover in covers:
                m.must("run", "sh", "-c", 'mkdir -p "$0" && mount -t tmpfs tmpfs "$0" && echo kept >"$0/kept.txt"',
                       cover)
                covered.insert(0, cover)
            answer, events, entry = m.door("open", data)
            points = m.mount_points(data)
            kept = m.guest.run("run", "cat", f"{point}/kept.txt")
            explored = m.drivecheck_run("explore", data.index, OPENER)
        finally:
            for cover in covered + [point]:
                m.guest.run("run", "umount", cover)
        expect(answer.status == 0 and not answer.lines and kept.lines == ["kept"] and not entry["tray_open"]
               and entry["locked"] and not events and points == [point],
               f"open of a disc at {point} under {covers} answered {answer.text()}: QEMU has "
               f"{m.tray_state(data.qdev)}, tray events {events}; mounted at {points}; the cover holds {kept.text()}")
        expect(explored.status == 1 and explored.lines == [message],
               f"explore of a disc under {covers} answered {explored.status}: {explored.text()}")
    points = m.mount_points(data)
    expect(not points, f"the disc stays mounted at {points}")


def check_open_while_in_use_unseen(m):
    """The disc mounted where the program cannot see it (another mount
    namespace), or the drive held open by a reading program: the open button
    leaves the drive locked and the tray shut, and says nothing."""
    data = m.drives["cd-data"]
    for how, holding in [("mounted unseen", ["run", "unshare", "-m", "--propagation", "private", "sh", "-c",
                                              'mount -t iso9660 -o ro "$0" /mnt && exec sleep 600']),
                         ("held open", ["guest", "sh", "-c", 'exec sleep 600 <"$0"'])]:
        holder = m.spawn(*holding, data.node)
        try:
            wait_for(lambda: m.qmp.block(data.qdev)["locked"], 5, f"the drive was not locked with the disc {how}")
            answer, events, entry = m.door("open", data)
        finally:
            m.must("release", holder)
        expect(answer.status == 0 and not answer.lines and entry["locked"] and not entry["tray_open"] and not events,
               f"open with the disc {how} answered {answer.text()}: QEMU has {m.tray_state(data.qdev)}, "
               f"tray events {events}")
