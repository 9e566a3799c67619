"""Debian's own kernel for the test guest.

The versioned package behind linux-image-amd64 is downloaded once into the
cache and never installed. It is unpacked there to a plain vmlinux and a
module tree holding only the modules the guest loads and what they depend on,
as kmod's depmod finds it, with the tree's own module index.

Debian 12 and 13 package their kernels differently: 12 compresses the kernel
with xz and keeps plain modules under /lib/modules; 13 compresses the kernel
with zstd, keeps xz-compressed modules under /usr/lib/modules, and builds
some of the guest's drivers into the kernel.
"""

import json
import lzma
import os
import re
import shutil
import struct
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

from common import TestError, log, run_tool

# What the guest loads, in this order; modprobe brings their dependencies.
GUEST_MODULES = ["ata_piix", "virtio_pci", "virtio_scsi", "sr_mod", "sd_mod",
                 "isofs", "9pnet_virtio", "9p", "virtio_console"]


@dataclass
class Kernel:
    package: str
    version: str
    release: str
    vmlinux: Path
    modules: Path
    module_count: int
    load: list  # GUEST_MODULES less those built into the kernel


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
    if payload.startswith(b"\xfd7zXZ\x00"):
        elf = lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(payload)
    elif payload.startswith(b"\x28\xb5\x2f\xfd"):
        # Less the unpacked size the kernel's build appends, which zstd would
        # take for a broken frame.
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


def depmod(root, release):
    """Writes the module index of root/lib/modules/release. depmod lives in
    /usr/sbin, which a user's PATH may leave out; Debian 13's looks under
    /usr/lib/modules, which is made to lead to the same folder."""
    usr_modules = root / "usr/lib/modules"
    if not usr_modules.exists():
        usr_modules.parent.mkdir(parents=True, exist_ok=True)
        usr_modules.symlink_to("../../lib/modules")
    program = shutil.which("depmod") or shutil.which("depmod", path="/usr/sbin:/sbin") or "depmod"
    run_tool([program, "-b", str(root), release], 120)


def module_name(path):
    """A module's name as modprobe takes it, from its file's path."""
    return Path(path).name.split(".ko")[0].replace("-", "_")


def built_in(modules_dir):
    """The names of the modules built into the kernel, which need no loading."""
    return {module_name(line) for line in (modules_dir / "modules.builtin").read_text().split()}


def needed_modules(modules_dir, names):
    """The files, relative to modules_dir, of the named modules and of all they
    depend on: each line of depmod's modules.dep names a module and every
    module it needs, directly or not."""
    needs = {}
    for line in (modules_dir / "modules.dep").read_text().splitlines():
        module, _, dependencies = line.partition(":")
        needs[module] = dependencies.split()
    by_name = {module_name(module): module for module in needs}
    wanted = set()
    for name in names:
        module = by_name.get(module_name(name))
        if module is None:
            raise TestError(f"{modules_dir.name} has no module {name}")
        wanted |= {module, *needs[module]}
    return sorted(wanted)


def copy_module(source, target):
    """A module as the guest's busybox loads it: uncompressed."""
    if source.suffix == ".xz":
        target = target.with_suffix("")
        target.write_bytes(lzma.decompress(source.read_bytes()))
    else:
        shutil.copy2(source, target)


def unpack_kernel(deb, target):
    """vmlinux and the modules GUEST_MODULES need, with their own index."""
    with tempfile.TemporaryDirectory(dir=target.parent) as scratch:
        tree = Path(scratch) / "tree"
        run_tool(["dpkg-deb", "-x", str(deb), str(tree)], 300)
        (vmlinuz,) = (tree / "boot").glob("vmlinuz-*")
        release = vmlinuz.name.removeprefix("vmlinuz-")
        if (tree / "usr/lib/modules").is_dir() and not (tree / "lib/modules").exists():
            (tree / "lib").mkdir(exist_ok=True)
            os.rename(tree / "usr/lib/modules", tree / "lib/modules")
        depmod(tree, release)

        built = Path(scratch) / "kernel"
        modules = tree / "lib/modules" / release
        keep = built / "modules/lib/modules" / release
        load = [name for name in GUEST_MODULES if module_name(name) not in built_in(modules)]
        for module in needed_modules(modules, load):
            (keep / module).parent.mkdir(parents=True, exist_ok=True)
            copy_module(modules / module, keep / module)
        for index in ["modules.builtin", "modules.builtin.modinfo"]:
            shutil.copy2(modules / index, keep / index)
        depmod(built / "modules", release)
        (built / "vmlinux").write_bytes(plain_vmlinux(vmlinuz))
        (built / "stamp.json").write_text(json.dumps({"release": release, "modules": GUEST_MODULES, "load": load}))
        os.rename(built, target)


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
