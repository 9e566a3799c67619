"""The program as a desktop user runs it: a user in the cdrom group, not
root, with the system's own udev, bus, polkit and UDisks2 behind it, run in
the guest from the host's files. Its buttons are clicked on an X server in
the guest, and each outcome is read from QEMU's trays, the guest's mount
table, the desktop's opener (a stand-in that records what it is given) and
the program's windows (a message would be a second one). A monitor on the
system bus tells when the program is done with the bus after a click, and
that nothing asked polkit for a password. The checks run in order.
"""

import re
import time
from collections import namedtuple
from contextlib import contextmanager
from pathlib import Path

import pytest

from bus_monitor import UDISKS, bus_messages, conversation_after
from common import COMMAND_LIMIT_S, TestError, expect, wait_for
from machine import DATA_LABEL
from window import PROGRAM_TITLE, program_running

USER = "trayvouser"
# Where UDisks2 mounts a disc: a folder named after its label.
USER_MOUNT = f"/media/{USER}/{DATA_LABEL}"
ROOT_MOUNT = f"/media/root/{DATA_LABEL}"
# The desktop's opener, first in the program's PATH, and where it records.
OPENER_DIR = "/tmp/trayvo-desktop-bin"
OPENED_DIR = "/tmp/trayvo-desktop-opened"
SERVICES = [Path("/usr/libexec/udisks2/udisksd"), Path("/usr/lib/polkit-1/polkitd"), Path("/usr/bin/dbus-daemon"),
            Path("/usr/bin/pkttyagent")]
START_LIMIT_S = 180         # the services, under TCG; took about 10 s
AFTERWARDS_S = 2            # after the program let go of the bus, for a tray or a message to come
MESSAGE_LIMIT_S = 15
MEDIA_LIMIT_S = 30          # for UDisks2 to see a disc again; the kernel polls every 2 s
RECORD_LIMIT_S = 10
RULE_LIMIT_S = 10          # for polkit to take up a rule


Session = namedtuple("Session", "uid udisksd window")


@pytest.fixture(scope="module")
def desktop(m):
    """The desktop's services, and the program running as the user with the
    data drive chosen; at the end, the program must still be running."""
    missing = [str(path) for path in SERVICES if not path.exists()]
    if missing:
        raise TestError(f"{', '.join(missing)} missing; tools/install-deps.sh installs udisks2, polkitd and dbus")
    # Made by UDisks2 on a first start; the guest's view of the root is read-only.
    Path("/var/lib/udisks2").mkdir(mode=0o700, exist_ok=True)
    if m.drives["cd-data"].index != 0:
        raise TestError(f"the program would not choose the data drive {m.drives['cd-data'].node}")
    answer = m.guest.run("desktop-start", USER, limit=START_LIMIT_S)
    found = re.fullmatch(r"uid (\d+) udisksd (\d+)", answer.lines[-1] if answer.lines else "")
    if answer.status != 0 or not found:
        raise TestError(f"the desktop's services did not start: {answer.text()}\n"
                        f"{m.guest_text('/tmp/udisksd.log')}{m.guest_text('/tmp/polkitd.log')}")
    m.opener_stand_in(f"{OPENER_DIR}/xdg-open", OPENED_DIR)
    m.must("run", "chmod", "1777", OPENED_DIR)  # the opener runs as the user
    # The guest ends with this file's checks: nothing is stopped or undone.
    with program_running(m, USER, OPENER_DIR) as window:
        yield Session(found[1], found[2], window)


def program_windows(m, session):
    return m.guest.run("x", "xdotool", "search", "--onlyvisible", "--pid", session.window.pid,
                       "--name", f"^{PROGRAM_TITLE}$").lines


def expect_no_message(m, session, after):
    expect(len(program_windows(m, session)) == 1, f"{after}: the program shows a message")


def await_message(m, session, after):
    """Waits for the program's message and answers it."""
    messages = wait_for(lambda: [window for window in program_windows(m, session) if window != session.window.window],
                        MESSAGE_LIMIT_S, f"{after}: no message within {MESSAGE_LIMIT_S} s")
    for window in messages:
        m.guest.run("x", "xdotool", "windowfocus", "--sync", window, "key", "Return")
    wait_for(lambda: len(program_windows(m, session)) == 1, MESSAGE_LIMIT_S, f"{after}: the message would not close",
             TestError)


def await_new_record(m, before):
    """What the one start of the opener since the records before was given."""
    new = wait_for(lambda: [given for start, given in m.opener_records(OPENED_DIR).items() if start not in before],
                   RECORD_LIMIT_S, f"the opener was not started within {RECORD_LIMIT_S} s")
    expect(len(new) == 1, f"the opener was started {len(new)} times: {new}")
    return new[0]


def expect_tray_still(m, since, after):
    m.qmp.command("query-block")  # brings in the events of what went before
    moved = m.qmp.events_since(since, "DEVICE_TRAY_MOVED", id="cd-data")
    expect(not moved and not m.qmp.block("cd-data")["tray_open"],
           f"{after}: QEMU has {m.tray_state('cd-data')}, tray events {moved}")


def quiet_click(m, session, button):
    """Clicks button and waits until the program is done with the bus and a
    little longer; the program's conversation meanwhile."""
    mark = len(bus_messages(m))
    session.window.click(button)
    conversation = conversation_after(m, mark)
    time.sleep(AFTERWARDS_S)
    return conversation


def udisksctl_as_root(m, action):
    """udisksctl on the data drive as root, who needs no leave from polkit."""
    m.must("run", "udisksctl", action, "--block-device", m.drives["cd-data"].node)


def has_udisksd(m):
    answer = m.guest.run("run", "dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus",
                         "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", f"string:{UDISKS}")
    return "boolean true" in answer.text()


def expect_users_mount(m, session):
    mounts = m.mounts(m.drives["cd-data"])
    expect([point for point, _ in mounts] == [USER_MOUNT] and f"uid={session.uid}" in mounts[0][1].split(","),
           f"the disc is not mounted for {USER} at {USER_MOUNT}: {mounts}")


def check_busy_disc_kept(m, desktop):
    """The desktop mounts the disc through UDisks2 for the user; 弹出仓门
    while something works inside it leaves it mounted, its tray shut, and
    says nothing."""
    data = m.drives["cd-data"]
    mounted = m.guest.run("as-user", USER, "udisksctl", "mount", "--no-user-interaction", "--block-device", data.node)
    expect(mounted.status == 0, f"UDisks2 did not mount the disc for {USER}: {mounted.text()}")
    expect_users_mount(m, desktop)
    holder = m.spawn("run", "sh", "-c", 'cd "$0" && exec sleep 600', USER_MOUNT)
    try:
        since = m.qmp.mark()
        conversation = quiet_click(m, desktop, "Command1")
        points = m.mount_points(data)
        expect_tray_still(m, since, "弹出仓门 on a busy disc")
        expect_no_message(m, desktop, "弹出仓门 on a busy disc")
    finally:
        m.must("release", holder)
    expect(points == [USER_MOUNT], f"the busy disc is mounted at {points}")
    expect(conversation.error_names() == ["org.freedesktop.UDisks2.Error.DeviceBusy"],
           f"UDisks2 answered {conversation.summary()}")


def check_mounted_disc_ejected(m, desktop):
    """弹出仓门 on the desktop's mount, with the disc mounted once more by
    someone else: UDisks2 unmounts both, and the tray opens."""
    data = m.drives["cd-data"]
    m.mount_at(data, "/tmp/trayvo-disc")
    since, mark = m.qmp.mark(), len(bus_messages(m))
    desktop.window.click("Command1")
    m.tray_event(data.qdev, since, True)
    conversation = conversation_after(m, mark)
    expect_no_message(m, desktop, "弹出仓门 on a mounted disc")
    points = m.mount_points(data)
    expect(not points and not conversation.error_names(), f"the disc is mounted at {points}: {conversation.summary()}")


def check_tray_closed(m, desktop):
    """关闭仓门 closes the tray, and the desktop's UDisks2 sees the disc again."""
    data = m.drives["cd-data"]
    since = m.qmp.mark()
    desktop.window.click("Command2")
    m.tray_event(data.qdev, since, False)
    expect_no_message(m, desktop, "关闭仓门")
    # UDisks2 takes the Filesystem interface off a drive whose disc went.
    path = f"/org/freedesktop/UDisks2/block_devices/{Path(data.node).name}"
    wait_for(lambda: m.guest.run("run", "dbus-send", "--system", "--print-reply", f"--dest={UDISKS}", path,
                                 "org.freedesktop.DBus.Properties.Get", "string:org.freedesktop.UDisks2.Filesystem",
                                 "string:MountPoints").status == 0,
             MEDIA_LIMIT_S, f"UDisks2 did not see the disc within {MEDIA_LIMIT_S} s")


def check_folder_mounted_for_the_user(m, desktop):
    """打开目录 on a disc nobody mounted: the program has UDisks2 mount it for
    the user and hands the opener the folder UDisks2 chose."""
    before, mark = m.opener_records(OPENED_DIR), len(bus_messages(m))
    desktop.window.click("Command3")
    record = await_new_record(m, before)
    conversation_after(m, mark)
    expect_no_message(m, desktop, "打开目录 on a disc not mounted")
    expect(record == USER_MOUNT.encode() + b"\0", f"the opener was given {record.split(bytes(1))}, not [{USER_MOUNT!r}]")
    expect_users_mount(m, desktop)


@contextmanager
def polkit_agent(m, session):
    """Polkit's text agent registered for the program, as a desktop's agent
    is for its session: it would show a password prompt. Yields the number
    of the bus message before its registration."""
    registered = len(bus_messages(m))
    agent = m.spawn("run", "script", "-qfc", f"pkttyagent --process {session.window.pid}", "/tmp/polkit-agent.log")
    try:
        wait_for(lambda: any(message.member == "RegisterAuthenticationAgent"
                             for message in bus_messages(m)[registered:]),
                 COMMAND_LIMIT_S, "polkit's agent did not register", TestError)
        yield registered
    finally:
        m.guest.run("polkit-agent-stop", agent)


def expect_no_password_asked(m, since, after):
    asked = [message.strings()[:2] for message in bus_messages(m)[since:] if message.member == "BeginAuthentication"]
    expect(not asked, f"{after}: polkit's agent was asked for a password: {asked}")


def check_polkit_refuses_without_a_prompt(m, desktop):
    """With polkit asking for a password for the user's udisks2 actions, and
    its text agent standing by for the program: 弹出仓门 on a disc another
    mounted leaves it as it is and says nothing; 打开目录 on a disc nobody
    mounted says it cannot open the folder. Polkit is never asked to prompt."""
    data = m.drives["cd-data"]
    m.must("polkit-rule", USER, "AUTH_ADMIN")
    # pkcheck's status 2: the user's process would be asked for a password.
    wait_for(lambda: m.guest.run("as-user", USER, "sh", "-c", 'exec pkcheck --action-id "$0" --process $$',
                                 "org.freedesktop.udisks2.filesystem-mount").status == 2,
             RULE_LIMIT_S, "polkit did not take up the rule", TestError)
    udisksctl_as_root(m, "unmount")
    udisksctl_as_root(m, "mount")
    with polkit_agent(m, desktop) as registered:
        since = m.qmp.mark()
        ejecting = quiet_click(m, desktop, "Command1")
        # A prompt would hold UDisks2 up until the agent ends.
        expect_no_password_asked(m, registered, "弹出仓门 refused by polkit")
        expect_tray_still(m, since, "弹出仓门 refused by polkit")
        expect_no_message(m, desktop, "弹出仓门 refused by polkit")
        points = m.mount_points(data)
        expect(points == [ROOT_MOUNT], f"the disc is mounted at {points}")
        udisksctl_as_root(m, "unmount")
        before = m.opener_records(OPENED_DIR)
        opening = quiet_click(m, desktop, "Command3")
        expect_no_password_asked(m, registered, "打开目录 refused by polkit")
        await_message(m, desktop, "打开目录 refused by polkit")
        points = m.mount_points(data)
        expect(m.opener_records(OPENED_DIR) == before and not points,
               f"the opener was started, or the disc mounted at {points}")
    for conversation in (ejecting, opening):
        expect(conversation.error_names() == ["org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain"],
               f"UDisks2 answered {conversation.summary()}")


def check_buttons_without_udisksd(m, desktop):
    """UDisks2 stopped: 弹出仓门 on a mounted disc leaves it, as the user may
    not unmount it; 打开目录 hands the opener a mounted disc's folder, label
    and all, as one argument, and says it cannot open an unmounted one's; the
    tray buttons move the tray of a disc not mounted. Nothing starts UDisks2
    on the way, though the bus could."""
    data = m.drives["cd-data"]
    udisksctl_as_root(m, "mount")
    stopped = m.guest.run("release", desktop.udisksd)
    if stopped.status != 0 or has_udisksd(m):
        raise TestError(f"udisksd did not stop: {stopped.text()}")
    since, stopped_at = m.qmp.mark(), len(bus_messages(m))
    ejecting = quiet_click(m, desktop, "Command1")
    expect_tray_still(m, since, "弹出仓门 without UDisks2")
    expect_no_message(m, desktop, "弹出仓门 without UDisks2")
    points = m.mount_points(data)
    expect(points == [ROOT_MOUNT], f"the disc is mounted at {points}")
    expect(ejecting.error_names() == ["org.freedesktop.DBus.Error.NameHasNoOwner"],
           f"the bus answered {ejecting.summary()}")

    before = m.opener_records(OPENED_DIR)
    desktop.window.click("Command3")
    record = await_new_record(m, before)
    expect(record == ROOT_MOUNT.encode() + b"\0", f"the opener was given {record.split(bytes(1))}")
    m.must("run", "umount", ROOT_MOUNT)
    desktop.window.click("Command3")
    await_message(m, desktop, "打开目录 on a disc not mounted, without UDisks2")

    since = m.qmp.mark()
    desktop.window.click("Command1")
    m.tray_event(data.qdev, since, True)
    desktop.window.click("Command2")
    m.tray_event(data.qdev, since, False)
    expect_no_message(m, desktop, "the tray buttons without UDisks2")
    started = [message.member for message in bus_messages(m)[stopped_at:]
               if message.member == "StartServiceByName" or message.destination == UDISKS]
    expect(not has_udisksd(m) and not started, f"UDisks2 was started: {started}")
    # The bus would have started it, had the program asked for it by name.
    activated = m.guest.run("run", "dbus-send", "--system", "--print-reply", f"--dest={UDISKS}",
                            "/org/freedesktop/UDisks2", "org.freedesktop.DBus.Peer.Ping")
    if activated.status != 0 or not has_udisksd(m):
        raise TestError(f"the bus cannot start UDisks2, so its not being started proves nothing: {activated.text()}")
