"""The checks on what the drive code sees as QEMU changes the drives: the
drive list, a disc's presence, trays opened and media taken out or put in
through QEMU's monitor, and a drive unplugged under a running watch.

Each check returns what it observed; a failure raises CheckFailed. They run
in order and each leaves the drives as the next one expects.
"""

import re

from common import COMMAND_LIMIT_S, MEDIA_CHANGE_LIMIT_MS, expect
from machine import DATA_FILES, DATA_LABEL, natural_key, sysfs_port


def guest_block_devices(m):
    """{name: (SCSI type, QEMU id)} for each of the guest's block devices."""
    blocks = {}
    for line in m.guest.run("sysblock").lines:
        name, kind, path = line.split(" ", 2)
        blocks[name] = (kind, m.ports.get(sysfs_port(path)))
    return blocks


def check_drive_list(m):
    """The list holds every optical drive QEMU has, in natural order, and no disk."""
    entries = m.qmp.command("query-block")
    trays = sorted(entry["qdev"] for entry in entries if "tray_open" in entry)
    others = sorted(entry["qdev"] for entry in entries if "tray_open" not in entry)
    expect(trays == sorted(m.drives), f"QEMU's drives with a tray are {trays}")

    blocks = guest_block_devices(m)
    for name, (kind, qdev) in blocks.items():
        if qdev in m.drives:
            expect(kind == "5", f"{name} ({qdev}) has SCSI type {kind}")
            m.drives[qdev].node = f"/dev/{name}"
    missing = [drive.qdev for drive in m.drives.values() if not drive.node]
    expect(not missing, f"the guest has no block device for {missing}: {blocks}")
    disks = [name for name, (kind, qdev) in blocks.items() if qdev == "hd"]
    expect(len(disks) == 1, f"the guest shows no disk beside the drives: {blocks}")

    answer = m.drivecheck_run("list")
    expect(answer.status == 0 and answer.lines, f"list answered {answer.status}: {answer.text()}")
    listed = [line.split(" ", 1)[1] for line in answer.lines[:-1]]
    # The later checks address drives as the program does, by list position,
    # so they learn the positions even from a list in the wrong order.
    for index, root in enumerate(listed):
        for drive in m.drives.values():
            if drive.node == root:
                drive.index = index
    expect(answer.lines[:-1] == [f"{index} {root}" for index, root in enumerate(listed)],
           f"list numbers its drives oddly: {answer.text()}")
    expect(answer.lines[-1] == f"count {len(listed)}", f"list counts wrongly: {answer.lines[-1]}")
    expected = sorted((drive.node for drive in m.drives.values()), key=natural_key)
    expect(sorted(expected) != expected, f"the guest's nodes {expected} cannot tell natural order from text order")
    expect(listed == expected, f"listed {listed}, expected {expected}")
    expect(f"/dev/{disks[0]}" not in listed, f"the disk {disks[0]} is listed")
    return (f"qmp: {len(trays)} drives with a tray, no tray on {others}; guest lists {len(listed)}: "
            + " ".join(f"{d.node}={d.qdev}" for d in sorted(m.drives.values(), key=lambda d: d.index))
            + f"; {disks[0]} left out")


def joliet_label(hex_dump):
    sectors = bytes.fromhex("".join(hex_dump))
    for start in range(0, len(sectors), 2048):
        descriptor = sectors[start:start + 2048]
        if descriptor[0] == 2 and descriptor[1:6] == b"CD001" and descriptor[88:91] in (b"%/@", b"%/C", b"%/E"):
            return descriptor[40:72].decode("utf-16-be").rstrip()
    return None


def check_disc_presence(m):
    """A disc is seen where QEMU has one, and it reads as the disc that was made."""
    data, empty, hot = m.drives["cd-data"], m.drives["cd-empty"], m.drives["cd-hot"]
    states = [m.tray_state(d.qdev) for d in (data, empty, hot)]
    expect(m.qmp.block(data.qdev).get("inserted") and not m.qmp.block(empty.qdev).get("inserted"),
           f"QEMU's media are not as started: {states}")
    answers = {d.node: m.probe(d)[0] for d in (data, empty, hot)}
    expect(answers == {data.node: 1, empty.node: 0, hot.node: 1},
           f"probes said {answers} (1 = disc) for {states}")

    # Read through the drive: the Joliet name is where the label keeps its Chinese.
    sectors = m.guest.run("sectors", data.node, 16, 2)
    label = joliet_label(sectors.lines) if sectors.status == 0 else None
    expect(label == DATA_LABEL, f"the disc's Joliet label reads {label!r}: {sectors.status}")
    listing = m.guest.run("mount", data.node)
    mounted = m.tray_state(data.qdev)
    unmounted = m.guest.run("umount")
    files = sorted(line.removeprefix("/mnt/") for line in listing.lines)
    expect(listing.status == 0 and set(DATA_FILES) <= set(files), f"the mounted disc shows {files}")
    # The kernel locks the door of a mounted disc; the tray checks need it free.
    expect(unmounted.status == 0 and not m.qmp.block(data.qdev)["locked"],
           f"the disc stays held after umount: {unmounted.text()} {m.tray_state(data.qdev)}")
    return (f"qmp: {'; '.join(states)}; probes {answers}; label {label!r}, files {files}; "
            f"while mounted {mounted}")


def check_tray_opened(m):
    """Opening a tray through QEMU takes the disc away at the next probes."""
    data = m.drives["cd-data"]
    since = m.qmp.mark()
    m.qmp.command("blockdev-open-tray", id=data.qdev)
    m.tray_event(data, since, True)
    took = m.watch(data, 0)
    entry = m.qmp.block(data.qdev)
    expect(entry["tray_open"] and entry.get("inserted"), f"QEMU moved the disc: {m.tray_state(data.qdev)}")
    return f"qmp: {m.tray_state(data.qdev)}; the watch saw no disc {took} ms after it began"


def check_open_tray_stays_open(m):
    """Probing a drive never closes its open tray, which a blocking open would."""
    data = m.drives["cd-data"]
    if not m.qmp.block(data.qdev)["tray_open"]:
        since = m.qmp.mark()
        m.qmp.command("blockdev-open-tray", id=data.qdev)
        m.tray_event(data, since, True)
    since = m.qmp.mark()
    answers = m.probe(data, times=5)
    expect(answers == [0] * 5, f"probes of an open tray said {answers}")
    state = m.tray_state(data.qdev)
    closed = m.qmp.events_since(since, "DEVICE_TRAY_MOVED", id=data.qdev, **{"tray-open": False})
    expect(m.qmp.block(data.qdev)["tray_open"] and not closed, f"the probes closed the tray: {state}")

    # The check above can only fail if this kernel closes trays on a plain
    # open; show that it does, which also puts the disc back for what follows.
    since = m.qmp.mark()
    m.guest.run("blocking-open", data.node)
    m.tray_event(data, since, False)
    took = m.watch(data, 1)
    return (f"qmp after 5 probes: {state}; a blocking open closed it "
            f"({m.tray_state(data.qdev)}), the watch saw the disc {took} ms after it began")


def check_medium_removed(m):
    """A medium taken out through QEMU is gone at the next probes."""
    data = m.drives["cd-data"]
    expect(m.probe(data) == [1], f"{data.node} has no disc to begin with: {m.tray_state(data.qdev)}")
    m.take_medium_out(data)
    state = m.tray_state(data.qdev)
    expect(not m.qmp.block(data.qdev).get("inserted"), f"QEMU still has a medium: {state}")
    took = m.watch(data, 0)
    return f"qmp: {state}; the watch saw no disc {took} ms after it began"


def check_medium_inserted(m):
    """A medium put in through QEMU is seen at the next probes, in a drive that
    never had one and in one whose disc was taken out."""
    observed = []
    for drive, medium in [(m.drives["cd-empty"], m.other_iso), (m.drives["cd-data"], m.data_iso)]:
        expect(m.probe(drive) == [0], f"{drive.node} has a disc to begin with: {m.tray_state(drive.qdev)}")
        m.qmp.command("blockdev-change-medium", id=drive.qdev, filename=str(medium), format="raw",
                      **{"read-only-mode": "read-only"})
        state = m.tray_state(drive.qdev)
        entry = m.qmp.block(drive.qdev)
        expect(entry.get("inserted") and not entry["tray_open"], f"QEMU has no medium in place: {state}")
        observed.append(f"{state}, the watch saw a disc {m.watch(drive, 1)} ms after it began")
    return "qmp: " + "; ".join(observed)


def check_unplugged_while_watched(m):
    """A drive that goes away under a running watch reads as holding no disc."""
    hot = m.drives["cd-hot"]
    before = m.tray_state(hot.qdev)
    job = m.guest.start("run", m.drivecheck, "watch", hot.index, 0, MEDIA_CHANGE_LIMIT_MS,
                        limit=MEDIA_CHANGE_LIMIT_MS / 1000 + COMMAND_LIMIT_S)
    first = m.guest.next_line(job)
    expect(isinstance(first, str) and re.fullmatch(r"seen 1 at \d+ ms", first),
           f"the watch did not start on a disc: {first}")
    since = m.qmp.mark()
    m.qmp.command("device_del", id=hot.qdev)
    m.qmp.wait_event("DEVICE_DELETED", since, device=hot.qdev)
    answer = m.guest.finish(job, [first])
    expect(answer.status == 0 and re.fullmatch(r"reached 0 after \d+ probes", answer.lines[-1]),
           f"the watch answered {answer.status}: {answer.text()}")
    after = m.tray_state(hot.qdev)
    expect(m.qmp.block(hot.qdev) is None, f"QEMU still has the drive: {after}")

    # The guest goes on: a new list leaves the drive out, nothing else changes.
    listed = m.drivecheck_run("list")
    others = sorted((d.node for d in m.drives.values() if d is not hot), key=natural_key)
    roots = [line.split(" ", 1)[1] for line in listed.lines[:-1]]
    expect(listed.status == 0 and roots == others, f"after the unplug the list is {roots}")
    oops = m.kernel_complaints()
    expect(not oops, f"the guest kernel complained: {oops[:3]}")
    return (f"qmp before: {before}; after: {after}; watch: {' / '.join(answer.lines)}; "
            f"new list has {len(roots)} drives")



CHECKS = [
    ("drive list", check_drive_list),
    ("disc presence", check_disc_presence),
    ("tray opened", check_tray_opened),
    ("open tray left open by probes", check_open_tray_stays_open),
    ("medium removed", check_medium_removed),
    ("medium inserted", check_medium_inserted),
    ("drive unplugged while watched", check_unplugged_while_watched),
]
