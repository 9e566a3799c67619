#!/usr/bin/env python3
"""The Windows program under Wine, as its users meet it: its real windows read
and worked through the probe (another Windows process), the screen read from
the virtual X server, and what the program starts seen where it arrives.

Runs one group of checks inside wine_prefix.sh (see wine_session.py for what
it provides). The groups are in system_checks.py and window_checks.py.

usage: check_windows.py --program EXE --shipped EXE --probe EXE
                        --planted-explorer EXE --objdump OBJDUMP
                        --artifacts DIR GROUP

PROGRAM is the exe whose windows are worked: the 32-bit one that ships, or
its 64-bit twin on a host that cannot start 32-bit programs. SHIPPED is the
32-bit exe, whose file the exe_file group reads without running it.
"""
import argparse
import subprocess
import sys

from system_checks import check_exe_file, check_system
from tally import Checks, Failed
from window_checks import check_about, check_drives, check_folder, check_main_window, check_message, check_tray
from wine_session import WINE, Wine

GROUPS = {
    "system": check_system,
    "exe_file": check_exe_file,
    "main_window": check_main_window,
    "drives": check_drives,
    "tray": check_tray,
    "folder": check_folder,
    "message": check_message,
    "about": check_about,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--shipped", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--planted-explorer", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("group", choices=GROUPS)
    args = parser.parse_args()

    checks = Checks()
    wine = Wine(args)
    print(f"{args.group}, under {WINE}, working {args.program}:")
    try:
        GROUPS[args.group](checks, wine, args)
    except (Failed, subprocess.TimeoutExpired, subprocess.CalledProcessError) as error:
        checks.that(False, "the group ran to its end", str(error))
    finally:
        for process in wine.processes:
            if process.poll() is None:
                process.kill()
    print(f"{checks.passed} passed, {len(checks.failures)} failed")
    return 1 if checks.failures or not checks.passed else 0


if __name__ == "__main__":
    sys.exit(main())
