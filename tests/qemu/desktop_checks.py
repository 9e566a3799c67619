"""The checks on the program as a desktop user runs it: not root but a user in
the cdrom group, with the system's own services behind the program: Debian's
udev, the system bus, polkit and UDisks2, run in the guest from the host's
files. Its buttons are clicked on an X server in the guest, and each outcome
is read from QEMU (the tray, over QMP), the guest's mount table, the
desktop's opener (a stand-in that records what it is given) and the
program's windows (a message would be a second one).

The services start once and serve every check here, in order: a disc the
desktop mounted through UDisks2 and kept busy, then let go, then mounted by
the program; polkit refusing the user; and UDisks2 stopped. A monitor on the
system bus shows what the program asked and what came back: it tells when
the program is done with the bus after a click, and that nothing asked polkit
for a password.

They run after the button checks and before the hot-plug checks, and leave
the data disc as they found it: in, not mounted, its tray shut.
"""

import re
import time
from contextlib import contextmanager
from dataclasses import dataclass
from pathlib import Path

from bus_monitor import UDISKS, bus_messages, conversation_after
from button_checks import COMMAND1_TWIPS, PROGRAM_TITLE, WINDOW_LIMIT_S, opener_starts
from common import COMMAND_LIMIT_S, CheckFailed, TestError, expect
from guest import hexpath
from hotplug_checks import ProgramWindow, Screen, at_twips
from machine import DATA_LABEL, natural_key

USER = "trayvouser"
# Where UDisks2 mounts a disc for a user: a folder named after its label.
USER_MOUNT = f"/media/{USER}/{DATA_LABEL}"
ROOT_MOUNT = f"/media/root/{DATA_LABEL}"
SECOND_MOUNT = "/tmp/trayvo-disc"
# The desktop's opener, first in the program's PATH, and where it records.
OPENER_DIR = "/tmp/trayvo-desktop-bin"
OPENED_DIR = "/tmp/trayvo-desktop-opened"
# Needed on the root the guest runs from, and made by UDisks2 itself on a
# first start: the guest cannot make it on its read-only view.
UDISKS_STATE = Path("/var/lib/udisks2")
SERVICES = [Path("/usr/libexec/udisks2/udisksd"), Path("/usr/lib/polkit-1/polkitd"), Path("/usr/bin/dbus-daemon"),
            Path("/usr/bin/pkttyagent")]

START_LIMIT_S = 180         # the services, under TCG; took about 10 s
# After the program let go of the bus: time for a tray to move or a message
# to show, should either come.
AFTERWARDS_S = 2
MESSAGE_LIMIT_S = 15
MEDIA_LIMIT_S = 30          # for UDisks2 to see a disc again; the kernel polls every 2 s
RECORD_LIMIT_S = 10

# The main window's buttons, in twips inside Frame1: one under another, 480 apart.
BUTTONS = {f"Command{number}": (COMMAND1_TWIPS[0], COMMAND1_TWIPS[1] + 480 * (number - 1), *COMMAND1_TWIPS[2:])
           for number in (1, 2, 3)}


@dataclass
class Session:
    uid: str
    udisksd: str
    x_server: str = ""
    program: str = ""
    window: ProgramWindow = None


# -- the program and what it shows --

def session_of(m):
    session = getattr(m, "desktop", None)
    if session is None or session.window is None:
        raise TestError("the desktop user's session did not start")
    return session


def click(m, button):
    session = session_of(m)
    left, top, width, height = BUTTONS[button]
    x, y = at_twips(session.window.left, session.window.top, (left + width // 2, top + height // 2))
    clicked = m.guest.run("x", "xdotool", "mousemove", x, y, "click", "1")
    if clicked.status != 0:
        raise TestError(f"xdotool could not click {button}: {clicked.text()}")


def program_windows(m):
    found = m.guest.run("x", "xdotool", "search", "--onlyvisible", "--pid", session_of(m).program,
                        "--name", f"^{PROGRAM_TITLE}$")
    return found.lines


def expect_no_message(m, after):
    windows = program_windows(m)
    expect(len(windows) == 1, f"{after}: the program shows {len(windows)} windows, a message among them")


def await_message(m, after):
    """Waits for the program's message and answers it."""
    deadline = time.monotonic() + MESSAGE_LIMIT_S
    while len(windows := program_windows(m)) < 2:
        if time.monotonic() > deadline:
            raise CheckFailed(f"{after}: no message within {MESSAGE_LIMIT_S} s")
        time.sleep(0.2)
    main = session_of(m).window.window
    for window in windows:
        if window != main:
            m.guest.run("x", "xdotool", "windowfocus", "--sync", window, "key", "Return")
    while len(program_windows(m)) > 1:
        if time.monotonic() > deadline:
            raise TestError(f"{after}: the message would not close")
        time.sleep(0.2)


def opener_records(m):
    """What each start of the opener was given, by the start's pid."""
    answer = m.guest.run("records", OPENED_DIR, 0)
    if answer.status != 0:
        return {}
    names = [line.split(" ", 1)[1] for line in answer.lines if line.startswith("record ")]
    return dict(zip(names, opener_starts(answer.lines)))


def await_new_record(m, before):
    """What the one start of the opener since the records before was given."""
    deadline = time.monotonic() + RECORD_LIMIT_S
    while not (new := [given for start, given in opener_records(m).items() if start not in before]):
        if time.monotonic() > deadline:
            raise CheckFailed(f"the opener was not started within {RECORD_LIMIT_S} s")
        time.sleep(0.2)
    expect(len(new) == 1, f"the opener was started {len(new)} times: {new}")
    return new[0]


def expect_tray_still(m, drive, since, after):
    m.qmp.command("query-block")  # brings in the events of what went before
    moved = m.qmp.events_since(since, "DEVICE_TRAY_MOVED", id=drive.qdev)
    entry = m.qmp.block(drive.qdev)
    expect(not moved and not entry["tray_open"], f"{after}: QEMU has {m.tray_state(drive.qdev)}, tray events {moved}")


def quiet_click(m, button, since_message):
    """Clicks button and waits until the program is done with the bus and a
    little longer; the program's conversation meanwhile."""
    click(m, button)
    conversation = conversation_after(m, since_message)
    time.sleep(AFTERWARDS_S)
    return conversation


def data_drive(m):
    return m.drives["cd-data"]


def udisksctl_as_root(m, *args):
    """udisksctl on the data drive as root, who needs no leave from polkit."""
    answer = m.guest.run("run", "udisksctl", *args, "--block-device", data_drive(m).node)
    if answer.status != 0:
        raise TestError(f"udisksctl {' '.join(args)} failed: {answer.text()}")
    return answer.text()


def has_udisksd(m):
    answer = m.guest.run("run", "dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus",
                         "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", f"string:{UDISKS}")
    return "boolean true" in answer.text()


# -- the checks --

def start_services(m):
    missing = [str(path) for path in SERVICES if not path.exists()]
    if missing:
        raise TestError(f"{', '.join(missing)} missing; tools/install-deps.sh installs udisks2, polkitd and dbus")
    try:
        UDISKS_STATE.mkdir(mode=0o700, exist_ok=True)
    except OSError as error:
        raise TestError(f"cannot make {UDISKS_STATE} for UDisks2 in the guest: {error}") from error
    started = time.monotonic()
    answer = m.guest.run("desktop-start", USER, limit=START_LIMIT_S)
    found = re.fullmatch(r"uid (\d+) udisksd (\d+)", answer.lines[-1] if answer.lines else "")
    if answer.status != 0 or not found:
        raise TestError(f"the desktop's services did not start: {answer.text()}\n"
                        f"{m.guest_text('/tmp/udisksd.log')}{m.guest_text('/tmp/polkitd.log')}")
    m.desktop = Session(found.group(1), found.group(2))
    return time.monotonic() - started


def start_program(m):
    session = m.desktop
    made = m.guest.run("opener-stand-in", f"{OPENER_DIR}/xdg-open", OPENED_DIR)
    opened_for_all = m.guest.run("run", "chmod", "1777", OPENED_DIR)
    if made.status != 0 or opened_for_all.status != 0:
        raise TestError(f"no opener stand-in: {made.text()} {opened_for_all.text()}")
    gui = m.guest.run("user-gui-start", USER, m.program, OPENER_DIR, limit=WINDOW_LIMIT_S)
    if gui.status != 0 or len(gui.lines) != 1:
        raise TestError(f"the X server did not start: {gui.text()}\n{m.guest_text('/tmp/xvfb.log')}")
    session.x_server, session.program = gui.lines[0].split()
    try:
        session.window = ProgramWindow(Screen(m), session.program)
    except TestError as error:
        raise TestError(f"{error}\nthe program's output: {m.guest_text('/tmp/program.log')}") from error


def check_desktop_session(m):
    """The desktop's services start as the user's system would run them, the
    desktop mounts the data disc through UDisks2 for the user, and the
    program comes up as that user with the data drive chosen."""
    data = data_drive(m)
    optical = sorted((f"/dev/{line.split(' ')[0]}" for line in m.guest.run("sysblock").lines
                      if line.split(" ")[1] == "5"), key=natural_key)
    if optical[:1] != [data.node]:
        raise TestError(f"the program would choose {optical[:1]}, not the data drive {data.node}")
    took = start_services(m)
    mounted = m.guest.run("as-user", USER, "udisksctl", "mount", "--no-user-interaction",
                          "--block-device", data.node)
    mounts = m.mounts(data)
    expect(mounted.status == 0 and [point for point, _ in mounts] == [USER_MOUNT],
           f"UDisks2 did not mount the disc for {USER}: {mounted.text()}; mounted at {mounts}")
    uid = m.desktop.uid
    expect(f"uid={uid}" in mounts[0][1].split(","), f"the disc is not the user's: {mounts[0][1]}")
    start_program(m)
    return (f"services up in {took:.1f} s, {USER} uid {uid} in the cdrom group; udisksctl mount: "
            f"{mounted.text()!r}, options {mounts[0][1]}; the program runs as {USER}, pid {m.desktop.program}")


def check_desktop_busy_disc(m):
    """弹出仓门 on the desktop's mount while something works inside it: the
    disc stays mounted, its tray shut, and nothing is said."""
    data = data_drive(m)
    holder = m.guest.run("hold", hexpath(USER_MOUNT))
    if holder.status != 0 or len(holder.lines) != 1:
        raise TestError(f"nothing holds {USER_MOUNT}: {holder.text()}")
    try:
        since, mark = m.qmp.mark(), len(bus_messages(m))
        conversation = quiet_click(m, "Command1", mark)
        points = m.mount_points(data)
        expect_tray_still(m, data, since, "弹出仓门 on a busy disc")
        expect_no_message(m, "弹出仓门 on a busy disc")
    finally:
        released = m.guest.run("release", holder.lines[0])
    expect(released.status == 0, f"the process in {USER_MOUNT} did not end: {released.text()}")
    expect(points == [USER_MOUNT], f"the busy disc is mounted at {points}")
    busy = [error.fields.get("error_name") for error in conversation.errors()]
    expect(busy == ["org.freedesktop.UDisks2.Error.DeviceBusy"], f"UDisks2 answered {conversation.summary()}")
    return f"udisksd: {conversation.summary()}; qmp: {m.tray_state(data.qdev)}; still mounted at {points}"


def check_desktop_eject(m):
    """弹出仓门 on the desktop's mount, with the disc mounted once more by
    someone else: UDisks2 unmounts both, and the tray opens."""
    data = data_drive(m)
    m.mount_at(data, SECOND_MOUNT)
    since, mark = m.qmp.mark(), len(bus_messages(m))
    click(m, "Command1")
    m.tray_event(data, since, True)
    conversation = conversation_after(m, mark)
    points = m.mount_points(data)
    expect_no_message(m, "弹出仓门 on a mounted disc")
    expect(not points, f"the disc is still mounted at {points}: {conversation.summary()}")
    expect(not conversation.errors(), f"UDisks2 answered {conversation.summary()}")
    return f"udisksd: {conversation.summary()}; qmp: {m.tray_state(data.qdev)}; mounted nowhere"


def await_udisks_filesystem(m):
    """Seconds until UDisks2 shows the data disc's filesystem again: it takes
    the Filesystem interface off a drive whose disc went."""
    started = time.monotonic()
    path = f"/org/freedesktop/UDisks2/block_devices/{Path(data_drive(m).node).name}"
    while True:
        answer = m.guest.run("run", "dbus-send", "--system", "--print-reply", f"--dest={UDISKS}", path,
                             "org.freedesktop.DBus.Properties.Get", "string:org.freedesktop.UDisks2.Filesystem",
                             "string:MountPoints")
        if answer.status == 0:
            return time.monotonic() - started
        if time.monotonic() - started > MEDIA_LIMIT_S:
            raise CheckFailed(f"UDisks2 did not see the disc within {MEDIA_LIMIT_S} s: {answer.text()}")
        time.sleep(0.5)


def check_desktop_close(m):
    """关闭仓门 closes the tray, and the desktop's UDisks2 sees the disc again."""
    data = data_drive(m)
    since = m.qmp.mark()
    click(m, "Command2")
    m.tray_event(data, since, False)
    expect_no_message(m, "关闭仓门")
    took = await_udisks_filesystem(m)
    return f"qmp: {m.tray_state(data.qdev)}; UDisks2 listed the disc's filesystem {took:.1f} s after"


def check_desktop_folder_mounts(m):
    """打开目录 on a disc nobody mounted: the program has UDisks2 mount it for
    the user and hands the opener the folder UDisks2 chose."""
    data = data_drive(m)
    before = opener_records(m)
    mark = len(bus_messages(m))
    click(m, "Command3")
    record = await_new_record(m, before)
    conversation = conversation_after(m, mark)
    mounts = m.mounts(data)
    expect_no_message(m, "打开目录 on a disc not mounted")
    expect(record == USER_MOUNT.encode() + b"\0",
           f"the opener was given {record.decode(errors='replace').split(chr(0))}, not [{USER_MOUNT!r}]")
    expect([point for point, _ in mounts] == [USER_MOUNT], f"the disc is mounted at {mounts}")
    expect(f"uid={m.desktop.uid}" in mounts[0][1].split(","), f"the disc is not the user's: {mounts[0][1]}")
    return f"udisksd: {conversation.summary()}; the opener got [{USER_MOUNT!r}]; options {mounts[0][1]}"


def expect_no_password_asked(m, since, after):
    """Polkit has not asked its agent for a password since message since."""
    asked = [message.strings()[:2] for message in bus_messages(m)[since:] if message.member == "BeginAuthentication"]
    expect(not asked, f"{after}: polkit's agent was asked for a password: {asked}\n"
                      f"{m.guest_text('/tmp/polkit-agent.log')}")


@contextmanager
def polkit_agent(m):
    """Polkit's text agent registered for the program, as a desktop's agent
    is for its session: it would show a password prompt. Yields the number
    of the bus message before its registration."""
    registered = len(bus_messages(m))
    agent = m.guest.run("polkit-agent", session_of(m).program)
    if agent.status != 0 or len(agent.lines) != 1:
        raise TestError(f"polkit's agent did not start: {agent.text()}")
    try:
        deadline = time.monotonic() + COMMAND_LIMIT_S
        while not any(message.member == "RegisterAuthenticationAgent" for message in bus_messages(m)[registered:]):
            if time.monotonic() > deadline:
                raise TestError(f"polkit's agent did not register: {m.guest_text('/tmp/polkit-agent.log')}")
            time.sleep(0.2)
        yield registered
    finally:
        stopped = m.guest.run("polkit-agent-stop", agent.lines[0])
    expect(stopped.status == 0, f"polkit's agent did not end: {stopped.text()}")


def check_desktop_polkit_refuses(m):
    """With polkit asking for a password for the user's udisks2 actions, and
    polkit's text agent standing by for the program: 弹出仓门 on a disc
    another mounted leaves it as it is and says nothing; 打开目录 on a disc
    nobody mounted says it cannot open the folder. Polkit is never asked to
    prompt."""
    data = data_drive(m)
    ruled = m.guest.run("desktop-rule", USER, "AUTH_ADMIN", limit=60)
    if ruled.status != 0:
        raise TestError(f"polkit did not take up the rule: {ruled.text()}")
    udisksctl_as_root(m, "unmount")
    udisksctl_as_root(m, "mount")
    with polkit_agent(m) as registered:
        since, mark = m.qmp.mark(), len(bus_messages(m))
        ejecting = quiet_click(m, "Command1", mark)
        # A prompt would hold UDisks2 up until the agent ends.
        expect_no_password_asked(m, registered, "弹出仓门 refused by polkit")
        points = m.mount_points(data)
        expect_tray_still(m, data, since, "弹出仓门 refused by polkit")
        expect_no_message(m, "弹出仓门 refused by polkit")
        expect(points == [ROOT_MOUNT], f"the disc is mounted at {points}")
        udisksctl_as_root(m, "unmount")
        before, mark = opener_records(m), len(bus_messages(m))
        click(m, "Command3")
        opening = conversation_after(m, mark)
        expect_no_password_asked(m, registered, "打开目录 refused by polkit")
        await_message(m, "打开目录 refused by polkit")
        expect(opener_records(m) == before and not m.mount_points(data),
               f"the opener was started, or the disc mounted at {m.mount_points(data)}")
    observed = []
    for conversation in (ejecting, opening):
        refused = [error.fields.get("error_name") for error in conversation.errors()]
        expect(refused == ["org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain"],
               f"UDisks2 answered {conversation.summary()}")
        # CheckAuthorization's flags come last but for a string: 1 would
        # allow polkit to ask for a password.
        flags = [int(re.findall(r"uint32 (\d+)", " ".join(check.body))[-1])
                 for check in conversation.calls("CheckAuthorization")]
        observed.append(f"{conversation.summary()}, polkit asked with flags {flags}")
    return f"udisksd: {observed[0]}; then {observed[1]}; the message shown; no password asked for"


def check_desktop_without_udisksd(m):
    """UDisks2 stopped: 弹出仓门 on a mounted disc leaves it, as the user may
    not unmount it; 打开目录 opens a mounted disc's folder and says it cannot
    open an unmounted one's; the tray buttons move the tray of a disc not
    mounted. Nothing starts UDisks2 on the way, though the bus could."""
    data = data_drive(m)
    session = session_of(m)
    udisksctl_as_root(m, "mount")
    stopped = m.guest.run("release", session.udisksd)
    if stopped.status != 0 or has_udisksd(m):
        raise TestError(f"udisksd did not stop: {stopped.text()}")
    since, stopped_at = m.qmp.mark(), len(bus_messages(m))
    ejecting = quiet_click(m, "Command1", stopped_at)
    expect_tray_still(m, data, since, "弹出仓门 without UDisks2")
    expect_no_message(m, "弹出仓门 without UDisks2")
    expect(m.mount_points(data) == [ROOT_MOUNT], f"the disc is mounted at {m.mount_points(data)}")
    no_owner = [error.fields.get("error_name") for error in ejecting.errors()]
    expect(no_owner == ["org.freedesktop.DBus.Error.NameHasNoOwner"], f"the bus answered {ejecting.summary()}")

    before = opener_records(m)
    click(m, "Command3")
    record = await_new_record(m, before)
    expect(record == ROOT_MOUNT.encode() + b"\0", f"the opener was given {record.decode(errors='replace')!r}")
    unmounted = m.guest.run("umount-at", hexpath(ROOT_MOUNT))
    if unmounted.status != 0:
        raise TestError(f"cannot unmount {ROOT_MOUNT}: {unmounted.text()}")
    mark = len(bus_messages(m))
    click(m, "Command3")
    conversation_after(m, mark)
    await_message(m, "打开目录 on a disc not mounted, without UDisks2")

    since = m.qmp.mark()
    click(m, "Command1")
    m.tray_event(data, since, True)
    click(m, "Command2")
    m.tray_event(data, since, False)
    expect_no_message(m, "the tray buttons without UDisks2")
    started = [message.member for message in bus_messages(m)[stopped_at:]
               if message.member == "StartServiceByName" or message.destination == UDISKS]
    expect(not has_udisksd(m) and not started, f"UDisks2 was started: {started}")
    # The bus would have started it, had the program asked for it by name.
    activated = m.guest.run("run", "dbus-send", "--system", "--print-reply", f"--dest={UDISKS}",
                            "/org/freedesktop/UDisks2", "org.freedesktop.DBus.Peer.Ping")
    if activated.status != 0 or not has_udisksd(m):
        raise TestError(f"the bus cannot start UDisks2, so its not being started proves nothing: "
                        f"{activated.text()}")
    return (f"弹出仓门 on the disc mounted at {ROOT_MOUNT!r}: {ejecting.summary()}, the disc kept, tray shut; "
            f"打开目录: the opener got [{ROOT_MOUNT!r}], and once unmounted the message was shown; "
            f"the tray opened and closed; UDisks2 not started, though the bus starts it when asked")


def check_desktop_session_ended(m):
    """The program ran on through every click, and the desktop's services
    end, leaving the drives as they were."""
    session = session_of(m)
    try:
        stopped = m.guest.run("gui-stop", session.x_server, session.program)
    finally:
        ended = m.guest.run("desktop-stop", limit=60)
        m.desktop = None
    expect(stopped.lines[:1] == ["program running"],
           f"the program had ended by itself: {m.guest_text('/tmp/program.log')}")
    points = m.mount_points(data_drive(m))
    expect(ended.status == 0 and not points, f"the services did not end cleanly: {ended.text()}; mounted at {points}")
    return f"program still running at the end; services ended: {ended.text() or 'quietly'}"


CHECKS = [
    ("desktop user's session", check_desktop_session),
    ("busy disc kept by 弹出仓门 through UDisks2", check_desktop_busy_disc),
    ("mounted disc ejected through UDisks2", check_desktop_eject),
    ("tray closed for the desktop user", check_desktop_close),
    ("disc mounted through UDisks2 by 打开目录", check_desktop_folder_mounts),
    ("polkit refusing without a password prompt", check_desktop_polkit_refuses),
    ("buttons without udisksd", check_desktop_without_udisksd),
    ("desktop session ended", check_desktop_session_ended),
]
