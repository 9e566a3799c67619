"""Debian's own kernel for the test guest.

The versioned package behind linux-image-amd64 is downloaded once into the
cache and never installed. It is unpacked there to the kernel image and the
modules the guest loads, in the order kmod's modprobe would load them.

Debian 12 and 13 package their kernels differently: 12 keeps plain modules
under /lib/modules; 13 keeps xz-compressed modules under /usr/lib/modules,
and builds some of the guest's drivers into the kernel.
"""

import json
import lzma
import os
import re
import shutil
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

from common import TestError, run_tool

# The drivers the guest needs; modprobe leaves out those built into the
# kernel and brings in what they depend on.
GUEST_MODULES = ["ata_piix", "virtio_pci", "virtio_scsi", "sr_mod", "sd_mod",
                 "isofs", "9pnet_virtio", "9p", "virtio_console"]


@dataclass
class Kernel:
    release: str
    vmlinuz: Path
    modules: Path     # the module files the guest loads
    load: list        # their names, in the order to load them


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
            print("apt has no package lists; running apt-get update", flush=True)
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
    print(f"downloading {package} {version}", flush=True)
    with tempfile.TemporaryDirectory(dir=cache) as incoming:
        # apt's download sandbox user cannot write into a root-owned build tree.
        sandbox = ["-o", "APT::Sandbox::User=root"] if os.geteuid() == 0 else []
        run_tool(["apt-get", "download", "-q", *sandbox, f"{package}={version}"], 600, cwd=incoming)
        os.rename(Path(incoming) / deb.name, deb)
    return deb


def guest_modules(tree, release):
    """The module files GUEST_MODULES need, each after those it needs, as
    the system's modprobe lists them from the tree's own index. The modules
    are under /lib and /usr/lib both, for Debian 12's modprobe and 13's."""
    if (tree / "usr/lib/modules").is_dir() and not (tree / "lib/modules").exists():
        (tree / "lib").mkdir(exist_ok=True)
        os.rename(tree / "usr/lib/modules", tree / "lib/modules")
    if not (tree / "usr/lib/modules").exists():
        (tree / "usr/lib").mkdir(parents=True, exist_ok=True)
        (tree / "usr/lib/modules").symlink_to("../../lib/modules")
    depmod = shutil.which("depmod", path="/usr/sbin:/sbin:/usr/bin")
    modprobe = shutil.which("modprobe", path="/usr/sbin:/sbin:/usr/bin")
    if not depmod or not modprobe:
        raise TestError("depmod or modprobe is missing; tools/install-deps.sh installs kmod")
    run_tool([depmod, "-b", str(tree), release], 120)
    shown = run_tool([modprobe, "-d", str(tree), "-S", release, "--show-depends", "-a", *GUEST_MODULES], 60).stdout
    return list(dict.fromkeys(Path(line.split()[1]) for line in shown.splitlines() if line.startswith("insmod ")))


def unpack_kernel(deb, target):
    """vmlinux, and the modules the guest loads, uncompressed as its busybox
    loads them, with the order to load them in."""
    with tempfile.TemporaryDirectory(dir=target.parent) as scratch:
        tree = Path(scratch) / "tree"
        run_tool(["dpkg-deb", "-x", str(deb), str(tree)], 300)
        (vmlinuz,) = (tree / "boot").glob("vmlinuz-*")
        release = vmlinuz.name.removeprefix("vmlinuz-")
        built = Path(scratch) / "kernel"
        (built / "modules").mkdir(parents=True)
        load = []
        for module in guest_modules(tree, release):
            name = module.name.removesuffix(".xz")
            data = module.read_bytes()
            (built / "modules" / name).write_bytes(lzma.decompress(data) if module.suffix == ".xz" else data)
            load.append(name)
        shutil.copy2(vmlinuz, built / "vmlinuz")
        (built / "stamp.json").write_text(json.dumps({"release": release, "modules": GUEST_MODULES, "load": load}))
        os.rename(built, target)


def debian_kernel(cache):
    cache.mkdir(parents=True, exist_ok=True)
    package, version = kernel_package()
    deb = download_deb(cache, package, version)
    unpacked = cache / deb.name.removesuffix(".deb")
    stamp = unpacked / "stamp.json"
    unpacked_as = json.loads(stamp.read_text()) if stamp.exists() else {}
    if unpacked_as.get("modules") != GUEST_MODULES or not (unpacked / "vmlinuz").exists():
        shutil.rmtree(unpacked, ignore_errors=True)
        unpack_kernel(deb, unpacked)
        unpacked_as = json.loads(stamp.read_text())
    return Kernel(unpacked_as["release"], unpacked / "vmlinuz", unpacked / "modules",
                  unpacked_as["load"])
