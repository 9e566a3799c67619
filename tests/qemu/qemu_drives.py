#!/usr/bin/python3
"""Runs the Linux drive code against a real kernel cdrom driver.

Boots Debian's own kernel under QEMU (TCG) with emulated optical drives, runs
the freshly built trayvo_drivecheck inside the guest through a chroot into the
host's root file system, and compares every answer with what QEMU's monitor
(QMP) says the drives hold. The host drives both sides: it changes a drive over
QMP, then asks the guest to probe it, or has the guest move a tray and asks
QMP where it went. Last, the program itself runs in the guest on a virtual X
server and a click on its button must open a tray.

The kernel package is downloaded once into the cache directory and never
installed; the guest's initramfs is busybox plus the few modules it needs.
"""

import argparse
import ctypes
import json
import lzma
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import traceback
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent

BOOT_LIMIT_S = 90           # from QEMU's start to the guest's first answer
COMMAND_LIMIT_S = 20        # any one guest command, unless it says otherwise
QMP_LIMIT_S = 10            # a QMP reply or an awaited event
MEDIA_CHANGE_LIMIT_MS = 5000  # changes reached the guest within 200 ms when measured
UNPLUG_LIMIT_MS = 5000      # from device_del to the node's going; took about 20 ms
RECORD_LIMIT_TENTHS = 50    # for the opener stand-in to write what it was given
# From starting the X server to the program's window, under TCG; took 4 to 7 s
# when measured.
WINDOW_LIMIT_S = 45

# What the guest loads, in this order; modprobe brings their dependencies.
GUEST_MODULES = ["ata_piix", "virtio_pci", "virtio_scsi", "sr_mod", "sd_mod",
                 "isofs", "9pnet_virtio", "9p", "virtio_console"]

DATA_LABEL = "数据 光盘"
OTHER_LABEL = "第二 光盘"
DATA_FILES = {"说明.txt": "这是测试光盘。\n", "资料/readme.txt": "data\n"}

SPARE_DRIVES = 8  # so that the guest has sr10 and natural order shows

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


class TestError(Exception):
    """A fault of the test set-up rather than a failed check."""


class CheckFailed(Exception):
    """A check found the drive code or the drives not as they should be."""


def log(message=""):
    print(message, flush=True)


def run_tool(args, limit, **kwargs):
    try:
        return subprocess.run(args, check=True, capture_output=True, text=True, timeout=limit, **kwargs)
    except FileNotFoundError as error:
        raise TestError(f"{args[0]} is missing; tools/install-deps.sh installs it") from error
    except subprocess.CalledProcessError as error:
        raise TestError(f"{' '.join(map(str, args))} failed:\n{error.stdout}{error.stderr}") from error


# --- Debian's kernel, unpacked once into the cache -------------------------

def kernel_package():
    """The versioned package behind linux-image-amd64, and its version, which
    the metapackage pins."""
    for attempt in range(2):
        show = subprocess.run(["apt-cache", "show", "--no-all-versions", "linux-image-amd64"],
                              capture_output=True, text=True, timeout=60)
        found = re.search(r"^Depends:.*?\b(linux-image-[^\s,]+) \(= ([^)\s]+)\)", show.stdout, re.MULTILINE)
        if found:
            return found.group(1), found.group(2)
        if attempt == 0 and os.geteuid() == 0:
            log("apt has no package lists; running apt-get update")
            run_tool(["apt-get", "update", "-qq"], 300)
    raise TestError("apt-cache cannot resolve linux-image-amd64; run apt-get update")


def download_deb(cache, package, version):
    deb = cache / f"{package}_{version.replace(':', '%3a')}_amd64.deb"
    if deb.exists():
        return deb
    # A newer kernel replaces the old one: the cache keeps one.
    for stale in cache.glob("linux-image-*"):
        if stale.is_dir():
            shutil.rmtree(stale)
        else:
            stale.unlink()
    log(f"downloading {package} {version}")
    with tempfile.TemporaryDirectory(dir=cache) as incoming:
        # apt's download sandbox user cannot write into a root-owned build tree.
        sandbox = ["-o", "APT::Sandbox::User=root"] if os.geteuid() == 0 else []
        run_tool(["apt-get", "download", "-q", *sandbox, f"{package}={version}"], 600, cwd=incoming)
        os.rename(Path(incoming) / deb.name, deb)
    return deb


def plain_vmlinux(vmlinuz):
    """The ELF kernel inside a bzImage. Booted directly, it reaches init about
    3 s sooner under TCG, where the kernel's own unpacking runs emulated."""
    image = vmlinuz.read_bytes()
    setup_sectors = image[0x1F1] or 4
    protected_mode = (setup_sectors + 1) * 512
    payload_offset, payload_length = struct.unpack_from("<II", image, 0x248)
    payload = image[protected_mode + payload_offset:protected_mode + payload_offset + payload_length]
    if payload.startswith(b"\xfd7zXZ\x00"):  # Debian 12
        elf = lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(payload)
    elif payload.startswith(b"\x28\xb5\x2f\xfd"):  # zstd, Debian 13
        # Less the unpacked size the kernel's build appends, which zstd
        # would take for a broken frame.
        try:
            elf = subprocess.run(["zstd", "-d", "-c"], input=payload[:-4], capture_output=True, check=True,
                                 timeout=120).stdout
        except FileNotFoundError as error:
            raise TestError("zstd is missing; tools/install-deps.sh installs it") from error
    else:
        raise TestError(f"{vmlinuz.name} holds neither an xz nor a zstd payload")
    if not elf.startswith(b"\x7fELF"):
        raise TestError(f"{vmlinuz.name} unpacks to something other than ELF")
    return elf


def module_bytes(ko):
    """A module's ELF file. Debian 13 ships them xz-compressed (NAME.ko.xz,
    listed in modules.order as NAME.ko); Debian 12 plain."""
    if ko.exists():
        return ko.read_bytes()
    return lzma.decompress(ko.with_name(ko.name + ".xz").read_bytes())


def module_depends(ko):
    """The depends= entry of a module's .modinfo section."""
    data = module_bytes(ko)
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x3A)

    def section(index):
        name, _, _, _, offset, size = struct.unpack_from("<IIQQQQ", data, shoff + index * shentsize)
        return name, data[offset:offset + size]

    _, names = section(shstrndx)
    for index in range(shnum):
        name, content = section(index)
        if names[name:names.index(b"\0", name)] == b".modinfo":
            for entry in content.split(b"\0"):
                if entry.startswith(b"depends="):
                    return [dep for dep in entry[8:].decode().split(",") if dep]
            return []
    raise TestError(f"{ko.name} has no .modinfo")


def unpack_kernel(deb, target):
    """vmlinux and the modules GUEST_MODULES need, with busybox's module index."""
    with tempfile.TemporaryDirectory(dir=target.parent) as scratch:
        tree = Path(scratch) / "tree"
        run_tool(["dpkg-deb", "-x", str(deb), str(tree)], 300)
        (vmlinuz,) = (tree / "boot").glob("vmlinuz-*")
        release = vmlinuz.name.removeprefix("vmlinuz-")
        # Under /usr on Debian 13, under /lib on Debian 12.
        (modules,) = [m for m in (tree / "lib/modules" / release, tree / "usr/lib/modules" / release) if m.is_dir()]
        # Debian 13 builds some of them into the kernel: those need no loading.
        builtin = {Path(line).name.removesuffix(".ko").replace("-", "_")
                   for line in (modules / "modules.builtin").read_text().split()}
        by_name = {}
        for line in (modules / "modules.order").read_text().split():
            path = line.removesuffix(".ko")
            by_name[Path(path).name.replace("-", "_")] = line

        wanted, pending = set(), list(GUEST_MODULES)
        while pending:
            name = pending.pop().replace("-", "_")
            if name in wanted or name in builtin:
                continue
            if name not in by_name:
                raise TestError(f"{release} has no module {name}")
            wanted.add(name)
            pending += module_depends(modules / by_name[name])

        built = Path(scratch) / "kernel"
        keep = built / "modules/lib/modules" / release
        for name in wanted:
            (keep / by_name[name]).parent.mkdir(parents=True, exist_ok=True)
            (keep / by_name[name]).write_bytes(module_bytes(modules / by_name[name]))
        run_tool(["busybox", "depmod", "-b", str(built / "modules"), release], 60)
        (built / "vmlinux").write_bytes(plain_vmlinux(vmlinuz))
        load = [name for name in GUEST_MODULES if name.replace("-", "_") not in builtin]
        (built / "stamp.json").write_text(json.dumps({"release": release, "modules": GUEST_MODULES, "load": load}))
        os.rename(built, target)


@dataclass
class Kernel:
    package: str
    version: str
    release: str
    vmlinux: Path
    modules: Path
    module_count: int
    load: list  # GUEST_MODULES less those built into the kernel


def debian_kernel(cache):
    cache.mkdir(parents=True, exist_ok=True)
    package, version = kernel_package()
    deb = download_deb(cache, package, version)
    unpacked = cache / deb.name.removesuffix(".deb")
    stamp = unpacked / "stamp.json"
    unpacked_as = json.loads(stamp.read_text()) if stamp.exists() else {}
    if unpacked_as.get("modules") != GUEST_MODULES or "load" not in unpacked_as:
        shutil.rmtree(unpacked, ignore_errors=True)
        unpack_kernel(deb, unpacked)
        unpacked_as = json.loads(stamp.read_text())
    count = len(list((unpacked / "modules").rglob("*.ko")))
    return Kernel(package, version, unpacked_as["release"], unpacked / "vmlinux", unpacked / "modules", count,
                  unpacked_as["load"])


# --- The guest's initramfs --------------------------------------------------

class Cpio:
    """A newc archive, written here so that the device node needs no root."""

    def __init__(self):
        self.parts = []
        self.inode = 0

    def add(self, name, mode, data=b"", rdev=(0, 0)):
        self.inode += 1
        encoded = name.encode() + b"\0"
        fields = [self.inode, mode, 0, 0, 1, 0, len(data), 0, 0, rdev[0], rdev[1], len(encoded), 0]
        header = b"070701" + b"".join(b"%08x" % value for value in fields)
        self.parts += [header, encoded, b"\0" * (-(len(header) + len(encoded)) % 4), data, b"\0" * (-len(data) % 4)]

    def directory(self, name):
        self.add(name, 0o040755)

    def file(self, name, data, executable=False):
        self.add(name, 0o100755 if executable else 0o100644, data)

    def symlink(self, name, target):
        self.add(name, 0o120777, target.encode())

    def tree(self, source, prefix):
        for path in sorted(source.rglob("*")):
            name = f"{prefix}/{path.relative_to(source)}"
            if path.is_dir():
                self.directory(name)
            else:
                self.file(name, path.read_bytes())

    def bytes(self):
        self.add("TRAILER!!!", 0)
        return b"".join(self.parts)


def has_interpreter(elf_file):
    """Whether an ELF program asks for a dynamic loader (a PT_INTERP header)."""
    data = elf_file.read_bytes()
    phoff, = struct.unpack_from("<Q", data, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", data, 0x36)
    return any(struct.unpack_from("<I", data, phoff + i * phentsize)[0] == 3 for i in range(phnum))


def build_initramfs(kernel, target):
    busybox = shutil.which("busybox")
    if busybox is None:
        raise TestError("busybox is missing; tools/install-deps.sh installs busybox-static")
    if has_interpreter(Path(busybox)):
        raise TestError(f"{busybox} is linked dynamically; the guest needs busybox-static")
    archive = Cpio()
    for name in ["bin", "dev", "etc", "lib", "lib/modules", "proc", "sys", "tmp", "host", "mnt"]:
        archive.directory(name)
    # The kernel opens the console for init before devtmpfs exists.
    archive.add("dev/console", 0o020600, rdev=(5, 1))
    archive.file("bin/busybox", Path(busybox).read_bytes(), executable=True)
    for applet in run_tool([busybox, "--list"], 30).stdout.split():
        if applet != "busybox":
            archive.symlink(f"bin/{applet}", "busybox")
    archive.tree(kernel.modules / "lib/modules", "lib/modules")
    archive.file("etc/trayvo-modules", "\n".join(kernel.load).encode() + b"\n")
    archive.file("init", (HERE / "guest_init.sh").read_bytes(), executable=True)
    target.write_bytes(archive.bytes())


def make_iso(directory, label, files, iso):
    for name, text in files.items():
        (directory / name).parent.mkdir(parents=True, exist_ok=True)
        (directory / name).write_text(text, encoding="utf-8")
    environment = dict(os.environ, LC_ALL="C.UTF-8")
    run_tool(["xorriso", "-as", "mkisofs", "-input-charset", "utf-8", "-V", label, "-J", "-R",
              "-o", str(iso), str(directory)], 60, env=environment)


# --- QMP and the guest's command channel ------------------------------------

class QmpError(Exception):
    pass


class LineSocket:
    def __init__(self, sock, what):
        self.sock = sock
        self.what = what
        self.buffer = b""

    def read_line(self, deadline):
        while b"\n" not in self.buffer:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TestError(f"no answer from {self.what} in time")
            self.sock.settimeout(remaining)
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                raise TestError(f"{self.what} closed the connection")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("utf-8", errors="replace").rstrip("\r")


class Qmp:
    def __init__(self, sock):
        self.channel = LineSocket(sock, "QMP")
        self.events = []
        self.last_id = 0
        self._message(time.monotonic() + QMP_LIMIT_S)  # the greeting
        self.command("qmp_capabilities")

    def _message(self, deadline):
        message = json.loads(self.channel.read_line(deadline))
        if "event" in message:
            self.events.append(message)
        return message

    def command(self, name, **arguments):
        self.last_id += 1
        request = {"execute": name, "id": self.last_id}
        if arguments:
            request["arguments"] = arguments
        self.channel.sock.sendall(json.dumps(request).encode() + b"\n")
        deadline = time.monotonic() + QMP_LIMIT_S
        while True:
            message = self._message(deadline)
            if message.get("id") == self.last_id:
                if "error" in message:
                    raise QmpError(f"{name}: {message['error'].get('desc')}")
                return message["return"]

    def mark(self):
        return len(self.events)

    def wait_event(self, name, since, limit=QMP_LIMIT_S, **data):
        """The first event called name with the given data since mark since."""
        deadline = time.monotonic() + limit
        seen = since
        while True:
            for event in self.events[seen:]:
                if event["event"] == name and all(event.get("data", {}).get(k) == v for k, v in data.items()):
                    return event
            seen = len(self.events)
            self._message(deadline)

    def events_since(self, since, name, **data):
        return [event for event in self.events[since:] if event["event"] == name
                and all(event.get("data", {}).get(k) == v for k, v in data.items())]

    def block(self, qdev):
        """query-block's entry for the device with QEMU id qdev, or None."""
        return next((entry for entry in self.command("query-block") if entry.get("qdev") == qdev), None)


@dataclass
class Answer:
    status: int
    lines: list = field(default_factory=list)

    def text(self):
        return " | ".join(self.lines)


class Guest:
    def __init__(self, sock):
        self.channel = LineSocket(sock, "the guest")
        self.last_id = 0

    def wait_ready(self, deadline):
        while True:
            line = self.channel.read_line(deadline)
            if line.startswith("@@failed"):
                raise TestError(f"guest set-up failed: {line}")
            if line.startswith("@@ready"):
                return line.split()[1:]

    def start(self, verb, *args, limit=COMMAND_LIMIT_S):
        words = [str(arg) for arg in args]
        if any(not word or re.search(r"\s", word) for word in words):
            raise TestError(f"guest commands take whitespace-free words: {words}")
        self.last_id += 1
        self.channel.sock.sendall(f"{self.last_id} {verb} {' '.join(words)}\n".encode())
        return self.last_id, time.monotonic() + limit

    def next_line(self, job):
        """The job's next output line, or an Answer once it is done."""
        job_id, deadline = job
        line = self.channel.read_line(deadline)
        done = re.fullmatch(rf"@@done {job_id} (\d+)", line)
        if done:
            return Answer(int(done.group(1)))
        if line.startswith("@@failed"):
            raise TestError(f"the guest gave up: {line}")
        return line

    def finish(self, job, lines=None):
        lines = list(lines or [])
        while True:
            line = self.next_line(job)
            if isinstance(line, Answer):
                line.lines = lines
                return line
            lines.append(line)

    def run(self, verb, *args, limit=COMMAND_LIMIT_S):
        return self.finish(self.start(verb, *args, limit=limit))


# --- The machine --------------------------------------------------------------

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


def die_with_parent():
    """Run in QEMU's process before it starts: a harness killed outright (a
    ctest time-out) takes QEMU with it."""
    pr_set_pdeathsig = 1
    ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGKILL)


class Machine:
    def __init__(self, work, kernel, drivecheck, program, artifacts):
        self.work = work
        self.kernel = kernel
        self.drivecheck = drivecheck
        self.program = program
        self.artifacts = artifacts
        # One share for both programs: the build tree may be under /tmp, which
        # the guest's own /tmp hides.
        self.bindir = Path(os.path.commonpath([drivecheck.parent, program.parent]))
        self.process = None
        self.qmp = None
        self.sockets = []
        data_dir, other_dir = work / "data", work / "other"
        self.data_iso, self.other_iso = work / "data.iso", work / "other.iso"
        make_iso(data_dir, DATA_LABEL, DATA_FILES, self.data_iso)
        make_iso(other_dir, OTHER_LABEL, {"other.txt": "other\n"}, self.other_iso)

        # Two ATAPI drives on the board's IDE channels, and SCSI drives on a
        # virtio-scsi controller, whose drives can be unplugged.
        drives = [Drive("cd-data", "ide-cd,bus=ide.0,unit=0", "ide.0", self.data_iso),
                  Drive("cd-empty", "ide-cd,bus=ide.1,unit=0", "ide.1"),
                  Drive("cd-hot", "scsi-cd,bus=vscsi.0,channel=0,scsi-id=0,lun=0", "vscsi.0:0", self.other_iso)]
        for number in range(1, SPARE_DRIVES + 1):
            drives.append(Drive(f"cd-spare{number}", f"scsi-cd,bus=vscsi.0,channel=0,scsi-id={number},lun=0",
                                f"vscsi.0:{number}"))
        self.drives = {drive.qdev: drive for drive in drives}
        self.disk_id = SPARE_DRIVES + 1
        self.ports = {drive.port: drive.qdev for drive in drives}
        self.ports[f"vscsi.0:{self.disk_id}"] = "hd"

    def qemu_args(self, qmp_path, control_path):
        bindir = self.bindir
        append = (f"console=ttyS0 loglevel=4 panic=-1 rdinit=/init "
                  f"trayvo_optical={len(self.drives)} trayvo_bin={bindir}")
        args = ["qemu-system-x86_64", "-machine", "pc", "-accel", "tcg", "-m", "768M", "-smp", "1",
                "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
                "-kernel", str(self.kernel.vmlinux), "-initrd", str(self.work / "initramfs.cpio"),
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
            device = f"{drive.device_args},id={drive.qdev}"
            if drive.medium:
                args += ["-drive", f"if=none,id={drive.qdev}-medium,media=cdrom,format=raw,readonly=on,"
                                   f"file={drive.medium}"]
                device += f",drive={drive.qdev}-medium"
            args += ["-device", device]
        # A disk beside the drives: the drive list must leave it out.
        args += ["-blockdev", "driver=null-co,node-name=disk,size=16777216,read-zeroes=on",
                 "-device", f"scsi-hd,bus=vscsi.0,channel=0,scsi-id={self.disk_id},lun=0,drive=disk,id=hd"]
        return args

    def start(self):
        for path in [self.drivecheck, self.program, self.bindir]:
            if "," in str(path) or re.search(r"\s", str(path)):
                raise TestError(f"QEMU's options cannot carry the path {path}")
        listeners = {}
        for name in ["qmp", "control"]:
            listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            listener.bind(str(self.work / f"{name}.sock"))
            listener.listen(1)
            listener.settimeout(0.2)
            listeners[name] = listener
        args = self.qemu_args(self.work / "qmp.sock", self.work / "control.sock")
        with open(self.work / "qemu.log", "wb") as qemu_log:
            self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=qemu_log,
                                            stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        connected = {}
        deadline = time.monotonic() + 30
        try:
            for name, listener in listeners.items():
                while name not in connected:
                    if self.process.poll() is not None:
                        raise TestError(f"QEMU stopped at start:\n{self.qemu_output()}")
                    if time.monotonic() > deadline:
                        raise TestError("QEMU did not connect its sockets")
                    try:
                        connected[name], _ = listener.accept()
                    except socket.timeout:
                        pass
        finally:
            for listener in listeners.values():
                listener.close()
        self.sockets = list(connected.values())
        self.qmp = Qmp(connected["qmp"])
        self.guest = Guest(connected["control"])
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

    def mount_points(self, drive):
        """Where the guest has the drive's disc mounted, as the chroot sees it."""
        points = []
        for line in self.guest.run("mounts").lines:
            device, point = line.split(" ")[:2]
            if device == drive.node:
                # The kernel escapes only blanks and backslashes, in octal.
                point = re.sub(r"\\([0-7]{3})", lambda octal: chr(int(octal.group(1), 8)), point)
                points.append(point.removeprefix("/host"))
        return points

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

    def guest_text(self, path):
        answer = self.guest.run("fetch", path)
        return bytes.fromhex("".join(answer.lines)).decode(errors="replace") if answer.status == 0 else ""

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


def hexpath(path):
    """A path as a whitespace-free word for the guest."""
    return path.encode().hex()


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


# --- The checks -----------------------------------------------------------------
# Each returns what it observed; a failure raises CheckFailed. They run in order
# and each leaves the drives as the next one expects.

def check_drive_list(m):
    """The list holds every optical drive QEMU has, in natural order, and no disk."""
    entries = m.qmp.command("query-block")
    trays = sorted(entry["qdev"] for entry in entries if "tray_open" in entry)
    others = sorted(entry["qdev"] for entry in entries if "tray_open" not in entry)
    expect(trays == sorted(m.drives), f"QEMU's drives with a tray are {trays}")

    blocks = {}
    for line in m.guest.run("sysblock").lines:
        name, kind, path = line.split(" ", 2)
        blocks[name] = (kind, m.ports.get(sysfs_port(path)))
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
    since = m.qmp.mark()
    m.qmp.command("blockdev-open-tray", id=data.qdev)
    m.tray_event(data, since, True)
    m.qmp.command("blockdev-remove-medium", id=data.qdev)
    m.qmp.command("blockdev-close-tray", id=data.qdev)
    m.tray_event(data, since, False)
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


def check_doors_of_unplugged_drive(m):
    """A drive unplugged while the window still lists it: its buttons return
    at once, say nothing and move no other drive's tray."""
    hot = m.drives["cd-hot"]
    # It went in the watch check; it comes back empty.
    m.qmp.command("device_add", driver="scsi-cd", bus="vscsi.0", channel=0, lun=0, id=hot.qdev,
                  **{"scsi-id": 0})
    deadline = time.monotonic() + MEDIA_CHANGE_LIMIT_MS / 1000
    hot.node = ""
    while not hot.node:
        for line in m.guest.run("sysblock").lines:
            name, _, path = line.split(" ", 2)
            if sysfs_port(path) == hot.port:
                hot.node = f"/dev/{name}"
        if not hot.node and time.monotonic() > deadline:
            raise CheckFailed(f"the guest shows no drive for {hot.qdev} plugged back in: {m.tray_state(hot.qdev)}")
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
    starts = {}
    for line in records.lines:
        if line.startswith("record "):
            starts[line.split(" ", 1)[1]] = ""
        elif starts:
            starts[list(starts)[-1]] += line
    arguments = [bytes.fromhex(hex_text) for hex_text in starts.values()]
    # A start from the refused explore would be a second record.
    expect(len(arguments) == 1, f"the opener was started {len(arguments)} times: {arguments}")
    expect(arguments[0] == MEDIA_DIR.encode() + b"\0",
           f"the opener was given {arguments[0].decode(errors='replace').split(chr(0))}, not [{MEDIA_DIR!r}]")
    expect(not moved and unmounted.status == 0, f"explore moved a tray {moved}, or held the disc: {unmounted.text()}")
    return (f"qmp: {state}, no tray event; not mounted: {message!r}; mounted at {MEDIA_DIR!r}: 'ok', "
            f"the opener got {arguments[0].decode().split(chr(0))[:-1]}")


def check_program_window(m):
    """The program itself, on an X server in the guest: its window appears,
    listing the drives, and a click on its open button opens the first one's tray."""
    first = next(drive for drive in m.drives.values() if drive.index == 0)
    expect(not m.qmp.block(first.qdev)["tray_open"], f"the tray is open to begin with: {m.tray_state(first.qdev)}")
    kept = m.artifacts / Path(SCREENSHOT).name
    kept.unlink(missing_ok=True)  # an earlier run's must not pass for this one's
    started = time.monotonic()
    gui = m.guest.run("gui-start", m.program, limit=WINDOW_LIMIT_S)
    if gui.status != 0 or len(gui.lines) != 1:
        raise CheckFailed(f"the X server did not start: {gui.text()}\n{m.guest_text('/tmp/xvfb.log')}")
    x_server, program = gui.lines[0].split()
    try:
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
        button_x, button_y, button_width, button_height = COMMAND1_TWIPS
        x = left + round((FRAME1_TWIPS[0] + button_x + button_width / 2) / TWIPS_PER_PIXEL)
        y = top + round((FRAME1_TWIPS[1] + button_y + button_height / 2) / TWIPS_PER_PIXEL)
        # The window as it came up, kept before the click so that a miss can
        # be looked into.
        shot = m.guest.run("x", "import", "-window", window, SCREENSHOT)
        image = m.guest.run("fetch", SCREENSHOT) if shot.status == 0 else shot
        if image.status == 0:
            m.artifacts.mkdir(parents=True, exist_ok=True)
            kept.write_bytes(bytes.fromhex("".join(image.lines)))
            log(f"     screenshot: {kept}")
        else:
            log(f"     no screenshot: {image.text()}")
        since = m.qmp.mark()
        clicked = m.guest.run("x", "xdotool", "mousemove", x, y, "click", "1")
        expect(clicked.status == 0, f"xdotool could not click: {clicked.text()}")
        m.tray_event(first, since, True)
        state = m.tray_state(first.qdev)
        expect(m.qmp.block(first.qdev)["tray_open"], f"after the click QEMU has {state}")
    finally:
        stopped = m.guest.run("gui-stop", x_server, program)
        still_running = stopped.lines[:1] == ["program running"]
    expect(still_running, f"the program had ended by itself: {m.guest_text('/tmp/program.log')}")
    # Back as the drive was, should anything come after.
    since = m.qmp.mark()
    m.qmp.command("blockdev-close-tray", id=first.qdev)
    m.tray_event(first, since, False)
    return (f"window {width}x{height} at ({left},{top}) {appeared:.1f} s after the X server was started; "
            f"click at ({x},{y}); qmp: {state}, DEVICE_TRAY_MOVED seen; the program ran on")


CHECKS = [
    ("drive list", check_drive_list),
    ("disc presence", check_disc_presence),
    ("tray opened", check_tray_opened),
    ("open tray left open by probes", check_open_tray_stays_open),
    ("medium removed", check_medium_removed),
    ("medium inserted", check_medium_inserted),
    ("drive unplugged while watched", check_unplugged_while_watched),
    ("trays moved by the buttons", check_doors_moved),
    ("open of a mounted disc", check_open_while_mounted),
    ("buttons of an unplugged drive", check_doors_of_unplugged_drive),
    ("disc folder opened", check_folder_opened),
    ("program window", check_program_window),
]


def main():
    # A polite stop (SIGTERM) unwinds like an error, so QEMU is stopped too.
    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(f"stopped by signal {signum}"))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--drivecheck", type=Path, required=True, help="the built trayvo_drivecheck")
    parser.add_argument("--program", type=Path, required=True, help="the built trayvo2010")
    parser.add_argument("--cache", type=Path, required=True, help="where the kernel package is kept")
    parser.add_argument("--artifacts", type=Path, required=True, help="where the screenshot is kept")
    options = parser.parse_args()
    drivecheck = options.drivecheck.resolve()
    program = options.program.resolve()

    started = time.monotonic()
    passed = failed = 0
    machine = None
    with tempfile.TemporaryDirectory(prefix="trayvo-qemu-") as work_dir:
        try:
            kernel = debian_kernel(options.cache.resolve())
            work = Path(work_dir)
            build_initramfs(kernel, work / "initramfs.cpio")
            prepared = time.monotonic()
            log(f"kernel {kernel.package} {kernel.version} ({kernel.release}), "
                f"{kernel.module_count} modules; prepared in {prepared - started:.1f} s")

            machine = Machine(work, kernel, drivecheck, program, options.artifacts.resolve())
            ready = machine.start()
            booted = time.monotonic()
            log(f"guest {ready[0]} answering after {booted - prepared:.1f} s "
                f"(guest uptime {ready[1]} s)")

            for name, check in CHECKS:
                check_start = time.monotonic()
                try:
                    observed = check(machine)
                    passed += 1
                    log(f"PASS {name} ({time.monotonic() - check_start:.2f} s)\n     {observed}")
                except (CheckFailed, QmpError) as error:
                    failed += 1
                    log(f"FAIL {name} ({time.monotonic() - check_start:.2f} s)\n     {error}")
                except TestError as error:
                    # The guest or QEMU stopped answering: later checks cannot run.
                    failed += 1
                    log(f"FAIL {name} ({time.monotonic() - check_start:.2f} s)\n     {error}")
                    break
            log(f"checks took {time.monotonic() - booted:.1f} s")
        except TestError as error:
            failed += 1
            log(f"FAIL set-up: {error}")
        except Exception:
            failed += 1
            log("FAIL set-up:\n" + traceback.format_exc())
        finally:
            if machine is not None:
                machine.stop()
                if failed:
                    log("guest console, last lines:\n" + machine.console_tail())
                    log("QEMU output:\n" + machine.qemu_output())
    log(f"wall time {time.monotonic() - started:.1f} s")
    log(f"qemu: {passed} passed, {failed} failed")
    return 1 if failed or passed != len(CHECKS) else 0


if __name__ == "__main__":
    sys.exit(main())
