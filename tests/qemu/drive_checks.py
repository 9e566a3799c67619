"""What the drive code sees as QEMU changes the drives: the drive list, a
disc's presence through the real driver, and trays and media moved from
QEMU's side. The checks run in order, each leaving the drives as the next
one expects.
"""

import re

from common import COMMAND_LIMIT_S, expect
from machine import natural_key, sysfs_port


def guest_block_devices(m):
    """{name: (SCSI type, QEMU id)} for each of the guest's block devices."""
    blocks = {}
    for name, kind, path in m.block_devices():
        blocks[name] = (kind, m.ports.get(sysfs_port(path)))
    return blocks


def listed_roots(m):
    answer = m.drivecheck_run("list")
    expect(answer.status == 0, f"list answered {answer.status}: {answer.text()}")
    return [line.split(" ", 1)[1] for line in answer.lines]


def learn_drives(m):
    """Where the guest put each of QEMU's drives, and where the drive code
    lists it: the checks address drives as the program does, by position."""
    blocks = guest_block_devices(m)
    for name, (kind, qdev) in blocks.items():
        if qdev in m.drives:
            m.drives[qdev].node = f"/dev/{name}"
    roots = listed_roots(m)
    for drive in m.drives.values():
        drive.index = roots.index(drive.node) if drive.node in roots else -1
    return blocks, roots


def check_drive_list(m):
    """The list holds every optical drive QEMU has, in natural order, and no disk."""
    blocks, listed = learn_drives(m)
    missing = [drive.qdev for drive in m.drives.values() if not drive.node]
    expect(not missing, f"the guest has no block device for {missing}: {blocks}")
    expect(all(kind == "5" for kind, qdev in blocks.values() if qdev in m.drives), f"not all drives: {blocks}")
    disks = [name for name, (kind, qdev) in blocks.items() if qdev == "hd"]
    expect(len(disks) == 1, f"the guest shows no disk beside the drives: {blocks}")
    expected = sorted((drive.node for drive in m.drives.values()), key=natural_key)
    expect(sorted(expected) != expected, f"the guest's nodes {expected} cannot tell natural order from text order")
    expect(listed == expected, f"listed {listed}, expected {expected}")


def check_disc_presence(m):
    """A disc is seen where QEMU has one, and none where it has none."""
    data, empty, hot = m.drives["cd-data"], m.drives["cd-empty"], m.drives["cd-hot"]
    answers = {d.node: m.probe(d)[0] for d in (data, empty, hot)}
    expect(answers == {data.node: 1, empty.node: 0, hot.node: 1},
           f"probes said {answers} (1 = disc) for {[m.tray_state(d.qdev) for d in (data, empty, hot)]}")


def check_open_tray(m):
    """A tray opened through QEMU takes the disc away at the next probes,
    which leave the tray open, as a blocking open of the node would not."""
    data = m.drives["cd-data"]
    since = m.qmp.mark()
    m.qmp.command("blockdev-open-tray", id=data.qdev)
    m.tray_event(data.qdev, since, True)
    m.watch(data, 0)
    since = m.qmp.mark()
    answers = m.probe(data, times=5)
    closed = m.qmp.events_since(since, "DEVICE_TRAY_MOVED", id=data.qdev, **{"tray-open": False})
    expect(answers == [0] * 5 and m.qmp.block(data.qdev)["tray_open"] and not closed,
           f"probes of an open tray said {answers}, and left {m.tray_state(data.qdev)}")
    # The check above can only fail if this kernel closes trays on a plain
    # open; show that it does, which also puts the disc back.
    since = m.qmp.mark()
    m.guest.run("guest", "sh", "-c", ': <"$0"', data.node)
    m.tray_event(data.qdev, since, False)
    m.watch(data, 1)


def check_media_changed(m):
    """A medium taken out through QEMU is gone at the next probes; one put in
    is seen, in a drive that never had one and in one whose disc went."""
    data, empty = m.drives["cd-data"], m.drives["cd-empty"]
    # As a user does: the tray opened, the disc taken away and the tray closed.
    for command in ("blockdev-open-tray", "blockdev-remove-medium", "blockdev-close-tray"):
        m.qmp.command(command, id=data.qdev)
    m.watch(data, 0)
    for drive, medium in [(empty, m.other_iso), (data, m.data_iso)]:
        m.qmp.command("blockdev-change-medium", id=drive.qdev, filename=str(medium), format="raw",
                      **{"read-only-mode": "read-only"})
        m.watch(drive, 1)


def check_drive_gone_under_the_code(m):
    """A drive unplugged while the drive code still lists it: its probe says
    no disc, its buttons return at once and move no tray, and a new list
    leaves it out."""
    hot = m.drives["cd-hot"]
    job = m.guest.start("run", m.drivecheck, "gone", hot.index, 5000, limit=5 + COMMAND_LIMIT_S)
    first = m.guest.next_line(job)
    expect(first == f"listed {hot.node} disc 1", f"the drive code began with {first}")
    since = m.qmp.mark()
    m.qmp.command("device_del", id=hot.qdev)
    m.qmp.wait_event("DEVICE_DELETED", since, device=hot.qdev)
    answer = m.guest.finish(job, [first])
    expect(answer.status == 0 and answer.lines[1:] == ["gone disc 0", "returned"],
           f"the drive code on the unplugged drive answered {answer.status}: {answer.text()}")
    m.qmp.command("query-block")  # brings in the events the buttons caused
    moved = m.qmp.events_since(since, "DEVICE_TRAY_MOVED")
    expect(not moved, f"a tray moved: {moved}")
    others = sorted((d.node for d in m.drives.values() if d is not hot), key=natural_key)
    roots = listed_roots(m)
    expect(roots == others, f"after the unplug the list is {roots}")
    oops = re.findall(r"^.*(?:Oops|BUG:|Call Trace).*$", (m.work / "console.log").read_text(errors="replace"),
                      re.MULTILINE)
    expect(not oops, f"the guest kernel complained: {oops[:3]}")
