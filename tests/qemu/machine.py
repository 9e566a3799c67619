"""The test machine: QEMU booting Debian's kernel with the guest's initramfs,
two ATAPI drives, a hot-pluggable SCSI drive and spares, a disk beside them,
and the discs made for them. It starts QEMU, connects QMP and the guest's
command port, and gives the checks what they share: the drives' state as
QEMU tells it, and the guest's answers as trayvo_drivecheck gives them.
"""

import ctypes
import json
import os
import re
import signal
import socket
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

from common import COMMAND_LIMIT_S, MEDIA_CHANGE_LIMIT_MS, CheckFailed, TestError, run_tool
from guest import Guest
from qmp import Qmp, QmpError

BOOT_LIMIT_S = 90           # from QEMU's start to the guest's first answer

DATA_LABEL = "数据 光盘"
OTHER_LABEL = "第二 光盘"
DATA_FILES = {"说明.txt": "这是测试光盘。\n", "资料/readme.txt": "data\n"}
# Where a desktop mounts the data disc: a folder named after its label.
MEDIA_DIR = f"/run/media/user/{DATA_LABEL}"

SPARE_DRIVES = 8  # so that the guest has sr10 and natural order shows


@dataclass
class Drive:
    qdev: str
    device_args: str
    port: str         # where it sits, as sysfs_port names it
    medium: Path = None
    node: str = ""    # /dev/srN, once the guest has shown where it went
    index: int = -1   # position in drivecheck's list


def natural_key(text):
    return [int(part) if part.isdigit() else part for part in re.split(r"(\d+)", text)]


def sysfs_port(path):
    """The QEMU bus position a guest block device hangs off, from its sysfs
    path: QEMU's model names never reach the guest, the ports do."""
    ata = re.search(r"/ata(\d+)/host\d+/", path)
    if ata:
        return f"ide.{int(ata.group(1)) - 1}"
    scsi = re.search(r"/virtio\d+/host\d+/target\d+:\d+:(\d+)/", path)
    if scsi:
        return f"vscsi.0:{scsi.group(1)}"
    return None


def make_iso(directory, label, files, iso):
    for name, text in files.items():
        (directory / name).parent.mkdir(parents=True, exist_ok=True)
        (directory / name).write_text(text, encoding="utf-8")
    environment = dict(os.environ, LC_ALL="C.UTF-8")
    run_tool(["xorriso", "-as", "mkisofs", "-input-charset", "utf-8", "-V", label, "-J", "-R",
              "-o", str(iso), str(directory)], 60, env=environment)


def die_with_parent():
    """Run in QEMU's process before it starts: a harness killed outright (a
    ctest time-out) takes QEMU with it."""
    pr_set_pdeathsig = 1
    ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGKILL)


def emulated_drives(data_iso, other_iso):
    """Two ATAPI drives on the board's IDE channels, and SCSI drives on a
    virtio-scsi controller, whose drives can be unplugged."""
    drives = [Drive("cd-data", "ide-cd,bus=ide.0,unit=0", "ide.0", data_iso),
              Drive("cd-empty", "ide-cd,bus=ide.1,unit=0", "ide.1"),
              Drive("cd-hot", "scsi-cd,bus=vscsi.0,channel=0,scsi-id=0,lun=0", "vscsi.0:0", other_iso)]
    for number in range(1, SPARE_DRIVES + 1):
        drives.append(Drive(f"cd-spare{number}", f"scsi-cd,bus=vscsi.0,channel=0,scsi-id={number},lun=0",
                            f"vscsi.0:{number}"))
    return {drive.qdev: drive for drive in drives}


def drive_args(drive):
    device = f"{drive.device_args},id={drive.qdev}"
    if not drive.medium:
        return ["-device", device]
    return ["-drive", f"if=none,id={drive.qdev}-medium,media=cdrom,format=raw,readonly=on,file={drive.medium}",
            "-device", f"{device},drive={drive.qdev}-medium"]


class Machine:
    def __init__(self, work, kernel, drivecheck, program, artifacts, wmping=None):
        self.work = work
        self.kernel = kernel
        self.drivecheck = drivecheck
        self.program = program
        self.wmping = wmping
        self.artifacts = artifacts
        # One share for all the programs: the build tree may be under /tmp,
        # which the guest's own /tmp hides.
        built = [drivecheck, program] + ([wmping] if wmping else [])
        self.bindir = Path(os.path.commonpath([path.parent for path in built]))
        self.process = None
        self.qmp = None
        self.guest = None
        self.sockets = []
        self.data_iso, self.other_iso = work / "data.iso", work / "other.iso"
        make_iso(work / "data", DATA_LABEL, DATA_FILES, self.data_iso)
        make_iso(work / "other", OTHER_LABEL, {"other.txt": "other\n"}, self.other_iso)
        self.drives = emulated_drives(self.data_iso, self.other_iso)
        self.disk_id = SPARE_DRIVES + 1
        self.ports = {drive.port: drive.qdev for drive in self.drives.values()}
        self.ports[f"vscsi.0:{self.disk_id}"] = "hd"

    def qemu_args(self, qmp_fd, control_fd):
        bindir = self.bindir
        append = (f"console=ttyS0 loglevel=4 panic=-1 rdinit=/init "
                  f"trayvo_optical={len(self.drives)} trayvo_bin={bindir}")
        args = ["qemu-system-x86_64", "-machine", "pc", "-accel", "tcg", "-m", "768M", "-smp", "1",
                "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
                "-kernel", str(self.kernel.vmlinuz), "-initrd", str(self.work / "initramfs.cpio"),
                "-append", append,
                "-chardev", f"file,id=console,path={self.work / 'console.log'}", "-serial", "chardev:console",
                "-device", "virtio-serial-pci,id=serial",
                "-chardev", f"socket,id=control,fd={control_fd}",
                "-device", "virtserialport,bus=serial.0,chardev=control,name=trayvo.control",
                "-chardev", f"socket,id=qmp,fd={qmp_fd}", "-mon", "chardev=qmp,mode=control"]
        for tag, path in [("hostroot", Path("/")), ("hostbin", bindir)]:
            args += ["-fsdev", f"local,id={tag},path={path},security_model=none,readonly=on,multidevs=remap",
                     "-device", f"virtio-9p-pci,fsdev={tag},mount_tag={tag}"]
        args += ["-device", "virtio-scsi-pci,id=vscsi"]
        for drive in self.drives.values():
            args += drive_args(drive)
        # A disk beside the drives: the drive list must leave it out.
        args += ["-blockdev", "driver=null-co,node-name=disk,size=16777216,read-zeroes=on",
                 "-device", f"scsi-hd,bus=vscsi.0,channel=0,scsi-id={self.disk_id},lun=0,drive=disk,id=hd"]
        return args

    def start(self):
        """Boots the guest; its kernel release and uptime once it answers."""
        if "," in str(self.bindir) or re.search(r"\s", str(self.bindir)):
            raise TestError(f"QEMU's options cannot carry the path {self.bindir}")
        # QEMU is handed its ends of the two connections.
        (qmp, qmp_end), (control, control_end) = socket.socketpair(), socket.socketpair()
        self.sockets = [qmp, control]
        with open(self.work / "qemu.log", "wb") as qemu_log, qmp_end, control_end:
            self.process = subprocess.Popen(self.qemu_args(qmp_end.fileno(), control_end.fileno()),
                                            stdin=subprocess.DEVNULL, stdout=qemu_log, stderr=subprocess.STDOUT,
                                            pass_fds=[qmp_end.fileno(), control_end.fileno()],
                                            preexec_fn=die_with_parent)
        self.qmp = Qmp(qmp)
        self.guest = Guest(control)
        return self.guest.wait_ready(time.monotonic() + BOOT_LIMIT_S)

    def qemu_output(self):
        path = self.work / "qemu.log"
        return path.read_text(errors="replace") if path.exists() else ""

    def console_tail(self, lines=40):
        path = self.work / "console.log"
        if not path.exists():
            return ""
        return "\n".join(path.read_text(errors="replace").splitlines()[-lines:])

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            try:
                if self.qmp is not None:
                    self.qmp.command("quit")
            except (TestError, QmpError, OSError):
                pass
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        for sock in self.sockets:
            sock.close()

    # -- what the checks share --

    def tray_state(self, qdev):
        entry = self.qmp.block(qdev)
        if entry is None:
            return "gone from query-block"
        medium = entry.get("inserted")
        held = Path(medium["file"]).name if medium else "no medium"
        tray = "open" if entry.get("tray_open") else "closed"
        lock = ", door locked" if entry.get("locked") else ""
        return f"{qdev}: tray {tray}, {held}{lock}"

    def drivecheck_run(self, *args, limit=COMMAND_LIMIT_S):
        return self.guest.run("run", self.drivecheck, *args, limit=limit)

    def must(self, verb, *args, limit=COMMAND_LIMIT_S):
        """A guest command the checks cannot go on without; its output lines."""
        answer = self.guest.run(verb, *args, limit=limit)
        if answer.status != 0:
            raise TestError(f"{verb} {' '.join(map(str, args))} failed in the guest: {answer.text()}")
        return answer.lines

    def spawn(self, verb, *args, log="/dev/null"):
        """A guest command started in the background; its pid, for release."""
        return self.must("spawn", log, verb, *args)[0]

    def opener_stand_in(self, path, records):
        """A stand-in for the desktop's opener at path, which keeps each start's
        arguments, each NUL-ended, in a file of records named by its pid; it
        writes a hidden file and renames it, so that none is seen half written."""
        script = f'#!/bin/sh\nprintf "%s\\0" "$@" >"{records}/.$$" && mv "{records}/.$$" "{records}/$$"'
        self.must("run", "sh", "-c", 'mkdir -p "${0%/*}" "$2" && printf "%s\\n" "$1" >"$0" && chmod 755 "$0"',
                  path, script, records)

    def opener_records(self, records):
        """{pid: the arguments given} of each start of the opener stand-in."""
        lines = self.must("guest", "sh", "-c", 'cd "/host$0" && for record in *; do [ ! -e "$record" ] || '
                          'echo "$record $(xxd -p "$record" | tr -d "\n")"; done', records)
        return {pid: bytes.fromhex(given) for pid, given in (line.split(" ") for line in lines)}

    def block_devices(self):
        """[(name, SCSI type or -, sysfs path)] of the guest's block devices."""
        lines = self.must("guest", "sh", "-c", 'for dir in /sys/block/*; do echo "${dir##*/} '
                          '$(cat "$dir/device/type" 2>/dev/null || echo -) $(readlink -f "$dir")"; done')
        return [line.split(" ", 2) for line in lines]

    def mounts(self, drive):
        """[(mount point, options)] of the drive's disc, the points as the chroot sees them."""
        shown = self.guest.run("run", "findmnt", "--list", "--json", "--source", drive.node, "-o", "TARGET,OPTIONS")
        return [(mount["target"], mount["options"]) for mount in json.loads("".join(shown.lines) or "{}").get(
            "filesystems", [])]

    def mount_points(self, drive):
        """Where the guest has the drive's disc mounted, as the chroot sees it."""
        return [point for point, _ in self.mounts(drive)]

    def mount_at(self, drive, directory):
        self.must("run", "sh", "-c", 'mkdir -p "$1" && mount -t iso9660 -o ro "$0" "$1"', drive.node, directory)

    def door(self, action, drive):
        """drivecheck's open or close; the tray events it caused, once QMP has
        answered a query sent after it, and the tray's state then."""
        since = self.qmp.mark()
        answer = self.drivecheck_run(action, drive.index)
        entry = self.qmp.block(drive.qdev)  # QEMU sends the events before this reply
        events = self.qmp.events_since(since, "DEVICE_TRAY_MOVED", id=drive.qdev)
        return answer, [event["data"]["tray-open"] for event in events], entry

    def guest_bytes(self, path):
        return bytes.fromhex("".join(self.must("guest", "xxd", "-p", f"/host{path}")))

    def guest_text(self, path):
        try:
            return self.guest_bytes(path).decode(errors="replace")
        except TestError:
            return ""

    def probe(self, drive, times=1):
        answer = self.drivecheck_run("probe", drive.index, times)
        if answer.status != 0 or len(answer.lines) != times or any(v not in "01" for v in answer.lines):
            raise CheckFailed(f"probe of {drive.node} answered {answer.status}: {answer.text()}")
        return [int(value) for value in answer.lines]

    def watch(self, drive, expected, limit_ms=MEDIA_CHANGE_LIMIT_MS):
        """Probes until the drive says expected; how long that took, in ms."""
        answer = self.drivecheck_run("watch", drive.index, expected, limit_ms,
                                     limit=limit_ms / 1000 + COMMAND_LIMIT_S)
        seen = [found for line in answer.lines if (found := re.fullmatch(r"seen (\d) at (\d+) ms", line))]
        reached = answer.lines[-1:] and re.fullmatch(rf"reached {expected} after \d+ probes", answer.lines[-1])
        if answer.status != 0 or not reached or not seen or int(seen[-1].group(1)) != expected:
            raise CheckFailed(f"{drive.node} did not turn to {expected} in {limit_ms} ms: {answer.text()}")
        return int(seen[-1].group(2))

    def tray_event(self, qdev, since, tray_open):
        try:
            return self.qmp.wait_event("DEVICE_TRAY_MOVED", since, id=qdev, **{"tray-open": tray_open})
        except TestError as error:
            raise CheckFailed(f"QEMU reported no tray {'opening' if tray_open else 'closing'} "
                              f"of {qdev}: {error}") from error
