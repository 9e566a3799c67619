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


def main(cpack, build_dir, exe):
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([cpack, '-G', 'ZIP', '-B', out], cwd=build_dir, check=True,
                       stdout=subprocess.DEVNULL, timeout=300)
        zips = list(Path(out).glob('*.zip'))
        if len(zips) != 1:
            sys.exit(f'expected one zip, cpack wrote {zips}')
        with zipfile.ZipFile(zips[0]) as package:
            names = package.namelist()
            if names != ['Trayvo2010.exe']:
                sys.exit(f'the zip holds {names}, not just Trayvo2010.exe')
            if package.read('Trayvo2010.exe') != Path(exe).read_bytes():
                sys.exit('the zipped exe differs from the built one')
        print(f'{zips[0].name}: Trayvo2010.exe, {Path(exe).stat().st_size} bytes')


if __name__ == '__main__':
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
