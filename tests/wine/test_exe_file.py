"""The 32-bit exe that ships (TRAYVO_SHIPPED), whichever exe the other checks
work: its size, headers, imports, manifest and version resource."""

import os
import re
import subprocess
from pathlib import Path

# The ids by which a manifest names the systems it was made for.
VISTA = b"{e2011457-1546-43c5-a5fe-008deee3d3f0}"
WINDOWS_7 = b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"
# The system's own DLLs it may import. WINMM, SHELL32 and OLE32 are needed
# only on a click, and loaded then, from the system folder.
IMPORTABLE = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "COMCTL32.DLL", "MSVCRT.DLL", "MSIMG32.DLL",
              "ADVAPI32.DLL", "OLEAUT32.DLL"}
HEADER = {
    "format": "pei-i386",
    "Magic": "010b (PE32)",
    "Subsystem": "00000002 (Windows GUI)",
    # Windows 7 is the oldest it runs on.
    "MajorOSystemVersion": "6", "MinorOSystemVersion": "1",
    "MajorSubsystemVersion": "6", "MinorSubsystemVersion": "1",
}
VERSION = {
    "fileVersion": [3, 1, 0, 0],
    "productVersion": [3, 1, 0, 0],
    "translation": [0x0804, 0x04B0],
    "CompanyName": "Velmoor个人工作室",
    "FileDescription": "Trayvo2010版 Velmoor个人工作室",
    "ProductName": "Trayvo2010",
    "FileVersion": "3.01",
    "ProductVersion": "3.01",
    "InternalName": "Trayvo2010",
    "OriginalFilename": "Trayvo2010.exe",
}


def test_exe_file(wine):
    exe = Path(os.environ["TRAYVO_SHIPPED"]).resolve()
    assert exe.stat().st_size < 1024 * 1024
    # Untranslated: its words are matched below.
    dump = subprocess.run([os.environ["TRAYVO_OBJDUMP"], "-p", exe], capture_output=True, text=True, check=True,
                          env=dict(os.environ, LC_ALL="C")).stdout
    header = {field: " ".join(value.split()) for field, value in re.findall(r"^(\w+)[ \t]+(.*)$", dump, re.M)}
    header["format"] = re.search(r"file format (\S+)", dump)[1]
    assert {field: header.get(field) for field in HEADER} == HEADER
    imports = {name.upper() for name in re.findall(r"DLL Name: (\S+)", dump)}
    assert {"KERNEL32.DLL", "USER32.DLL"} <= imports <= IMPORTABLE
    manifest = re.search(rb"<assembly\b.*?</assembly>", exe.read_bytes(), re.S)
    systems = set(re.findall(rb'<supportedOS\s+Id="([^"]+)"', manifest[0])) if manifest else set()
    assert WINDOWS_7 in systems and VISTA not in systems, "the manifest names Windows 7 as the oldest system"
    # Wine shows the Unix file system as drive Z:.
    assert wine.probe("version", "Z:" + str(exe).replace("/", "\\")) == VERSION
