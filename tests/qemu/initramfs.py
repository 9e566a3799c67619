"""The guest's initramfs: busybox as every command, the kernel's modules and
the list of those to load, and guest_init.sh as /init. Laid out as a folder,
then archived by cpio in the kernel's newc format.

/dev/console is not among it: the kernel's own built-in initramfs brings the
node, which it opens for init before anything mounts devtmpfs, so that the
archive needs no device node and its making no root.
"""

import re
import shutil
from pathlib import Path

from common import TestError, run_tool

HERE = Path(__file__).resolve().parent

DIRECTORIES = ["bin", "dev", "etc", "proc", "sys", "tmp", "host", "mnt"]


def static_busybox():
    """busybox, which must need no dynamic loader: the guest has none."""
    busybox = shutil.which("busybox")
    if busybox is None:
        raise TestError("busybox is missing; tools/install-deps.sh installs busybox-static")
    headers = run_tool(["readelf", "--program-headers", "--wide", busybox], 30).stdout
    if re.search(r"^\s*INTERP\s", headers, re.MULTILINE):
        raise TestError(f"{busybox} is linked dynamically; the guest needs busybox-static")
    return Path(busybox)


def lay_out(kernel, root):
    """The initramfs's files, as a folder at root."""
    busybox = static_busybox()
    for name in DIRECTORIES:
        (root / name).mkdir(parents=True, exist_ok=True)
    shutil.copy2(busybox, root / "bin/busybox")
    for applet in run_tool([str(busybox), "--list"], 30).stdout.split():
        if applet != "busybox":
            (root / "bin" / applet).symlink_to("busybox")
    shutil.copytree(kernel.modules, root / "lib/modules")
    (root / "etc/trayvo-modules").write_text("\n".join(kernel.load) + "\n")
    shutil.copyfile(HERE / "guest_init.sh", root / "init")
    (root / "init").chmod(0o755)


def archive(root, target):
    """root's contents as a newc archive owned by root, each folder ahead of
    what it holds."""
    names = sorted(str(path.relative_to(root)) for path in root.rglob("*"))
    run_tool(["cpio", "--create", "--format=newc", "--owner=0:0", "--quiet", "--force-local",
              f"--file={target}"], 60, cwd=root, input="\n".join(names) + "\n")


def build_initramfs(kernel, target):
    root = target.with_name(target.name + ".d")
    lay_out(kernel, root)
    archive(root, target)
    shutil.rmtree(root)
