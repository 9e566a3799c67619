"""The test machine: QEMU booting Debian's kernel with the guest's initramfs,
two ATAPI drives, a hot-pluggable SCSI drive and spares, a disk beside them,
and the discs made for them. It starts QEMU, connects QMP and the guest's
command port, and gives the checks what they share: the drives' state as
QEMU tells it, and the guest's answers as trayvo_drivecheck gives them.
"""

import ctypes
import os
import re
import signal
import socket
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

from common import COMMAND_LIMIT_S, MEDIA_CHANGE_LIMIT_MS, CheckFailed, TestError, run_tool
from guest import Guest, hexpath
from qmp import Qmp, QmpError

BOOT_LIMIT_S = 90           # from QEMU's start to the guest's first answer
CONNECT_LIMIT_S = 30        # for QEMU to connect its sockets

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


def listen(path):
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(str(path))
    listener.listen(1)
    listener.settimeout(0.2)
    return listener


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

    def qemu_args(self, qmp_path, control_path):
        bindir = self.bindir
        append = (f"console=ttyS0 loglevel=4 panic=-1 rdinit=/init "
                  f"trayvo_optical={len(self.drives)} trayvo_bin={bindir}")
        args = ["qemu-system-x86_64", "-machine", "pc", "-accel", "tcg", "-m", "768M", "-smp", "1",
                "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
                "-kernel", str(self.kernel.vmlinuz), "-initrd", str(self.work / "initramfs.cpio"),
                "-append", append,
                "-chardev", f"file,id=console,path={self.work / 'console.log'}", "-serial", "chardev:console",
                "-device", "virtio-serial-pci,id=serial",
                "-chardev", f"socket,id=control,path={control_path}",
                "-device", "virtserialport,bus=serial.0,chardev=control,name=trayvo.control",
                "-chardev", f"socket,id=qmp,path={qmp_path}", "-mon", "chardev=qmp,mode=control"]
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
        for path in [self.drivecheck, self.program, self.wmping or self.bindir, self.bindir]:
            if "," in str(path) or re.search(r"\s", str(path)):
                raise TestError(f"QEMU's options cannot carry the path {path}")
        listeners = {name: listen(self.work / f"{name}.sock") for name in ["qmp", "control"]}
        args = self.qemu_args(self.work / "qmp.sock", self.work / "control.sock")
        with open(self.work / "qemu.log", "wb") as qemu_log:
            self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=qemu_log,
                                            stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        deadline = time.monotonic() + CONNECT_LIMIT_S
        try:
            connected = {name: self.accept(listener, deadline) for name, listener in listeners.items()}
        finally:
            for listener in listeners.values():
                listener.close()
        self.sockets = list(connected.values())
        self.qmp = Qmp(connected["qmp"])
        self.guest = Guest(connected["control"])
        return self.guest.wait_ready(time.monotonic() + BOOT_LIMIT_S)

    def accept(self, listener, deadline):
        while True:
            if self.process.poll() is not None:
                raise TestError(f"QEMU stopped at start:\n{self.qemu_output()}")
            if time.monotonic() > deadline:
                raise TestError("QEMU did not connect its sockets")
            try:
                return listener.accept()[0]
            except socket.timeout:
                pass

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

    def mounts(self, drive):
        """[(mount point, options)] of the drive's disc in the guest's mount
        table, the points as the chroot sees them."""
        mounts = []
        for line in self.guest.run("mounts").lines:
            device, point, _, options = line.split(" ")[:4]
            if device == drive.node:
                # The kernel escapes only blanks and backslashes, in octal.
                point = re.sub(r"\\([0-7]{3})", lambda octal: chr(int(octal.group(1), 8)), point)
                mounts.append((point.removeprefix("/host"), options))
        return mounts

    def mount_points(self, drive):
        """Where the guest has the drive's disc mounted, as the chroot sees it."""
        return [point for point, _ in self.mounts(drive)]

    def mount_at(self, drive, directory):
        answer = self.guest.run("mount-at", drive.node, hexpath(directory))
        if answer.status != 0:
            raise TestError(f"cannot mount {drive.node} at {directory}: {answer.text()}")

    def door(self, action, drive):
        """drivecheck's open or close; the tray events it caused, once QMP has
        answered a query sent after it, and the tray's state then."""
        since = self.qmp.mark()
        answer = self.drivecheck_run(action, drive.index)
        entry = self.qmp.block(drive.qdev)  # QEMU sends the events before this reply
        events = self.qmp.events_since(since, "DEVICE_TRAY_MOVED", id=drive.qdev)
        return answer, [event["data"]["tray-open"] for event in events], entry

    def guest_bytes(self, path):
        answer = self.guest.run("fetch", path)
        if answer.status != 0:
            raise TestError(f"cannot read {path} in the guest: {answer.text()}")
        return bytes.fromhex("".join(answer.lines))

    def guest_text(self, path):
        try:
            return self.guest_bytes(path).decode(errors="replace")
        except TestError:
            return ""

    def kernel_complaints(self):
        return re.findall(r"^.*(?:Oops|BUG:|Call Trace).*$",
                          (self.work / "console.log").read_text(errors="replace"), re.MULTILINE)

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

    def tray_event(self, drive, since, tray_open):
        try:
            return self.qmp.wait_event("DEVICE_TRAY_MOVED", since, id=drive.qdev, **{"tray-open": tray_open})
        except TestError as error:
            raise CheckFailed(f"QEMU reported no tray {'opening' if tray_open else 'closing'} "
                              f"of {drive.qdev}: {error}") from error

    def take_medium_out(self, drive):
        """As a user does: QEMU opens the tray, takes the disc away and closes it."""
        since = self.qmp.mark()
        self.qmp.command("blockdev-open-tray", id=drive.qdev)
        self.tray_event(drive, since, True)
        self.qmp.command("blockdev-remove-medium", id=drive.qdev)
        self.qmp.command("blockdev-close-tray", id=drive.qdev)
        self.tray_event(drive, since, False)
