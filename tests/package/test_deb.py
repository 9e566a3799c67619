"""The Debian package as apt, a user's package manager and a clean Debian
see it."""

import os
import platform
import re
import shlex
import subprocess
from pathlib import Path

from conftest import APP_ID, VERSION

# What the program needs at run time and no linker can see.
RUNTIME_DEPENDS = {"qt6-qpa-plugins", "fonts-liberation2", "fonts-wqy-microhei", "qt6-translations-l10n",
                   "xdg-utils"}
# Only dpkg-shlibdeps, from the program's links, brings these; Debian 13
# renamed some for the 64-bit time_t ABI (libqt6core6t64).
LINKED_DEPENDS = ["libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6", "libsystemd0", "libudev1",
                  "libmount1"]
FRESH_ROOT = Path(__file__).parents[2] / "tools/fresh-root.sh"


def field(deb, name):
    return subprocess.run(["dpkg-deb", "--field", str(deb), name], check=True, capture_output=True,
                          text=True).stdout.strip()


def package_names(relation):
    """The package names in a Depends-like field, alternatives included."""
    return {re.match(r"\s*([^\s(]+)", part).group(1) for part in re.split(r"[,|]", relation) if part.strip()}


def test_control_fields_and_contents(deb):
    architecture = subprocess.run(["dpkg", "--print-architecture"], check=True, capture_output=True,
                                  text=True).stdout.strip()
    assert deb.name == f"trayvo2010_{VERSION}_{architecture}.deb"
    assert [field(deb, name) for name in ["Package", "Version", "Architecture", "Section", "Homepage"]] == [
        "trayvo2010", VERSION, architecture, "utils", "https://quenbrook.example/"]
    assert re.fullmatch(r"Velmoor个人工作室 <[^@<>\s]+@quenbrook\.example>", field(deb, "Maintainer"))
    depends = package_names(field(deb, "Depends"))
    assert RUNTIME_DEPENDS <= depends
    assert [name for name in LINKED_DEPENDS if not {name, f"{name}t64"} & depends] == []
    assert package_names(field(deb, "Recommends")) == {"udisks2", "qt6-wayland"}
    summary, _, long_description = field(deb, "Description").partition("\n")
    assert 0 < len(summary) <= 80 and len(long_description.split()) >= 10

    listing = subprocess.run(["dpkg-deb", "--contents", str(deb)], check=True, capture_output=True, text=True).stdout
    paths = {line.split()[5] for line in listing.splitlines()}
    assert {"./usr/bin/trayvo2010", f"./usr/share/applications/{APP_ID}.desktop",
            "./usr/share/doc/trayvo2010/copyright"} <= paths
    assert [p for p in paths if not p.startswith("./usr/") and p not in ("./", "./usr/")] == []


def test_installs_with_apt_and_starts_on_a_clean_debian_of_this_release(deb):
    """Its Depends name this release's packages: it is tried on the release it
    was built on, in memory."""
    release = platform.freedesktop_os_release()["VERSION_CODENAME"]
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        display = ":" + xvfb.stdout.readline().strip()
        assert display != ":", "Xvfb ended without a display"
        hook = f'--customize-hook=bash {shlex.quote(str(Path(__file__).parent / "in_clean_root.sh"))} "$1" ' \
               f'{shlex.quote(str(deb))}'
        run = subprocess.run(["bash", str(FRESH_ROOT), hook, release], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, timeout=1100,
                             env=dict(os.environ, DISPLAY=display, TRAYVO_FRESH_ROOT_TMPFS="4g"))
    finally:
        xvfb.terminate()
        xvfb.wait()
    print(run.stdout)
    assert run.returncode == 0 and "PASS" in run.stdout, run.stdout[-3000:]
