"""The checks that need no window of the program: the prefix the other groups
rely on, and the exe file itself, its headers, imports and version resource.
"""

import os
import re
import subprocess
from pathlib import Path

from wine_session import PROBE_LIMIT_S

# The ids by which a manifest names the systems it was made for.
VISTA = b"{e2011457-1546-43c5-a5fe-008deee3d3f0}"
WINDOWS_7 = b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"


def check_system(checks, wine, _args):
    """The prefix is what the other groups rely on: a Chinese system with a
    CD-ROM drive D: whose disc comes and goes with its folder."""
    system = wine.probe("system")
    checks.equal(system["acp"], 936, "the system's ANSI code page is Simplified Chinese")
    checks.equal(system["driveTypeD"], 5, "D: is a CD-ROM drive")
    checks.that(system["discReadable"], "D: holds a readable disc")
    wine.disc.rename(wine.disc.with_name("disc.away"))
    try:
        system = wine.probe("system")
        checks.equal(system["driveTypeD"], 5, "D: stays a CD-ROM drive without its disc")
        checks.that(not system["discReadable"], "D: reads as empty while its folder is away")
    finally:
        wine.disc.with_name("disc.away").rename(wine.disc)
    checks.that(wine.probe("system")["discReadable"], "D: reads again once its folder is back")


def check_exe_file(checks, wine, args):
    """The 32-bit exe that ships, whichever exe the other groups work."""
    if not checks.that(Path(args.shipped).is_file(), "the 32-bit exe is there to be read", args.shipped):
        return
    size = Path(args.shipped).stat().st_size
    checks.that(size < 1024 * 1024, "the exe is smaller than 1 MB", f"{size} bytes")
    # Untranslated: its words are matched below.
    headers = subprocess.run([args.objdump, "-p", args.shipped], capture_output=True, text=True, check=True,
                             timeout=PROBE_LIMIT_S, env=dict(os.environ, LC_ALL="C")).stdout
    checks.that(re.search(r"file format pei-i386", headers), "the exe is a 32-bit x86 PE file")
    checks.that(re.search(r"^Magic\s+010b\s+\(PE32\)", headers, re.M), "its optional header is PE32")
    checks.that(re.search(r"^Subsystem\s+00000002\s+\(Windows GUI\)", headers, re.M), "it is a GUI program")
    allowed = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "COMCTL32.DLL", "WINMM.DLL", "SHELL32.DLL",
               "MSVCRT.DLL", "MSIMG32.DLL", "ADVAPI32.DLL", "OLE32.DLL", "OLEAUT32.DLL"}
    imports = {name.upper() for name in re.findall(r"DLL Name: (\S+)", headers)}
    checks.that(imports, "the import table could be read")
    checks.that(imports <= allowed, "it imports only the system's own DLLs", f"others: {sorted(imports - allowed)}")
    for needed in ("KERNEL32.DLL", "USER32.DLL"):
        checks.that(needed in imports, f"it imports {needed}")
    # Needed only on a click, they are loaded then, from the system folder.
    for later in ("WINMM.DLL", "SHELL32.DLL", "OLE32.DLL"):
        checks.that(later not in imports, f"it loads {later} only when first called")

    # Windows 7 is the oldest it runs on: its header and its manifest say so.
    for field in ("OSystem", "Subsystem"):
        found = re.search(rf"^Major{field}Version\s+(\d+)\s*^Minor{field}Version\s+(\d+)", headers, re.M)
        checks.equal(found and (int(found[1]), int(found[2])), (6, 1), f"its header's {field} version is 6.1")
    manifest = re.search(rb"<assembly\b.*?</assembly>", Path(args.shipped).read_bytes(), re.S)
    systems = set(re.findall(rb'<supportedOS\s+Id="([^"]+)"', manifest[0])) if manifest else set()
    checks.that(WINDOWS_7 in systems and VISTA not in systems,
                "its manifest names Windows 7 as the oldest system it supports", f"{sorted(systems)}")

    # Wine shows the Unix file system as drive Z:.
    version = wine.probe("version", "Z:" + str(Path(args.shipped).resolve()).replace("/", "\\"))
    checks.that(version.get("found"), "the exe has a version resource")
    checks.equal(version.get("fileVersion"), [3, 1, 0, 0], "its fixed file version is 3.1.0.0")
    checks.equal(version.get("productVersion"), [3, 1, 0, 0], "its fixed product version is 3.1.0.0")
    checks.equal(version.get("translation"), [0x0804, 0x04B0], "its translation is Simplified Chinese, Unicode")
    expected = {
        "CompanyName": "Velmoor个人工作室",
        "FileDescription": "Trayvo2010版 Velmoor个人工作室",
        "ProductName": "Trayvo2010",
        "FileVersion": "3.01",
        "ProductVersion": "3.01",
        "InternalName": "Trayvo2010",
        "OriginalFilename": "Trayvo2010.exe",
    }
    strings = version.get("strings", {})
    for name, value in expected.items():
        checks.equal(strings.get(name), value, f"its {name} reads {value}")

