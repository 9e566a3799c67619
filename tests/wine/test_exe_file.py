"""The 32-bit exe that ships (TRAYVO_SHIPPED), whichever exe the other checks
work: its size, headers, imports, manifest and version resource, read with
pefile as any tool reading a PE file would."""

import os
import re
from pathlib import Path

import pefile

# The ids by which a manifest names the systems it was made for.
VISTA = b"{e2011457-1546-43c5-a5fe-008deee3d3f0}"
WINDOWS_7 = b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"
# The system's own DLLs it may import. WINMM, SHELL32 and OLE32 are needed
# only on a click, and loaded then, from the system folder.
IMPORTABLE = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "COMCTL32.DLL", "MSVCRT.DLL", "MSIMG32.DLL",
              "ADVAPI32.DLL", "OLEAUT32.DLL"}
# A 32-bit GUI program; Windows 7 is the oldest it runs on.
HEADER = {"Machine": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], "Magic": pefile.OPTIONAL_HEADER_MAGIC_PE,
          "Subsystem": pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
          "OperatingSystemVersion": (6, 1), "SubsystemVersion": (6, 1)}
VERSION = {
    "fileVersion": [3, 1, 0, 0],
    "productVersion": [3, 1, 0, 0],
    "translation": "0x0804 0x04b0",
    "CompanyName": "Velmoor个人工作室",
    "FileDescription": "Trayvo2010版 Velmoor个人工作室",
    "ProductName": "Trayvo2010",
    "FileVersion": "3.01",
    "ProductVersion": "3.01",
    "InternalName": "Trayvo2010",
    "OriginalFilename": "Trayvo2010.exe",
}


def version_resource(pe):
    """The fixed version numbers, the translation and the strings of the
    Simplified Chinese, Unicode block: those the file's properties show."""
    fixed = pe.VS_FIXEDFILEINFO[0]
    four = lambda high, low: [high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF]  # noqa: E731
    found = {"fileVersion": four(fixed.FileVersionMS, fixed.FileVersionLS),
             "productVersion": four(fixed.ProductVersionMS, fixed.ProductVersionLS)}
    for info in pe.FileInfo[0]:
        for var in getattr(info, "Var", []):
            found["translation"] = var.entry[b"Translation"]
        for table in getattr(info, "StringTable", []):
            if table.LangID.upper() == b"080404B0":
                found.update({key.decode(): value.decode() for key, value in table.entries.items()})
    return found


def test_exe_file():
    exe = Path(os.environ["TRAYVO_SHIPPED"]).resolve()
    assert exe.stat().st_size < 1024 * 1024
    pe = pefile.PE(str(exe))
    optional = pe.OPTIONAL_HEADER
    assert {"Machine": pe.FILE_HEADER.Machine, "Magic": optional.Magic, "Subsystem": optional.Subsystem,
            "OperatingSystemVersion": (optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion),
            "SubsystemVersion": (optional.MajorSubsystemVersion, optional.MinorSubsystemVersion)} == HEADER
    imports = {entry.dll.decode().upper() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    assert {"KERNEL32.DLL", "USER32.DLL"} <= imports <= IMPORTABLE
    manifest = re.search(rb"<assembly\b.*?</assembly>", exe.read_bytes(), re.S)
    systems = set(re.findall(rb'<supportedOS\s+Id="([^"]+)"', manifest[0])) if manifest else set()
    assert WINDOWS_7 in systems and VISTA not in systems, "the manifest names Windows 7 as the oldest system"
    assert version_resource(pe) == VERSION
