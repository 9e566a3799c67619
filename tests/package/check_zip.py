#!/usr/bin/env python3
"""The Windows package is a zip holding the one exe and nothing else, the
same bytes as the exe that was built and tested.

usage: check_zip.py CPACK BUILD_DIR EXE
"""
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

cpack, build_dir, exe = sys.argv[1:]
with tempfile.TemporaryDirectory() as out:
    subprocess.run([cpack, "-G", "ZIP", "-B", out], cwd=build_dir, check=True, stdout=subprocess.DEVNULL, timeout=300)
    [zip_path] = Path(out).glob("*.zip")
    with zipfile.ZipFile(zip_path) as package:
        assert package.namelist() == ["Trayvo2010.exe"], f"the zip holds {package.namelist()}"
        assert package.read("Trayvo2010.exe") == Path(exe).read_bytes(), "the zipped exe differs from the built one"
    print(f"{zip_path.name}: Trayvo2010.exe, {Path(exe).stat().st_size} bytes")
