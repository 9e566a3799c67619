"""The plumbing the Windows checks share: the run's Wine and its programs (the
program under test, the probe that reads and works its windows from another
Windows process), and the virtual screen read back.

Runs inside wine_prefix.sh, which gives it a private prefix (WINEPREFIX), an
X display (DISPLAY), the run's folder (TRAYVO_WINE_RUN) whose disc/ is drive
D:, and the file the stub browser writes to (TRAYVO_BROWSER_LOG).
"""

import json
import os
import shutil
import subprocess
import time
from pathlib import Path

from drawing import Screen
from tally import Failed

# The run's Wine loader: the 32-bit one, or the 64-bit one alone where the
# host cannot start 32-bit programs (wine_prefix.sh).
WINE = os.environ["TRAYVO_WINE"]

MAIN_CLASS = "Trayvo2010Form"
MAIN_TITLE = "Trayvo2010"

# Every wait has a limit; none is a measure of success.
PROBE_LIMIT_S = 30
WINDOW_LIMIT_MS = 20000
DISC_WATCH_LIMIT_MS = 5000
SPAWN_LIMIT_S = 20


class Wine:
    def __init__(self, args):
        self.program = args.program
        self.probe_exe = args.probe
        self.run = Path(os.environ["TRAYVO_WINE_RUN"])
        self.disc = self.run / "disc"
        self.processes = []

    def wine(self, *args):
        """Runs a Windows program to its end; its output. Wine's own servers,
        started by whichever program comes first, inherit its output and live
        on: through a pipe, the answer would only end with them. Files do not
        wait for them."""
        out_path, err_path = self.run / "wine.out", self.run / "wine.err"
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            subprocess.run([WINE, *map(str, args)], stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                           timeout=PROBE_LIMIT_S)
        return out_path.read_bytes().decode("utf-8"), err_path.read_text(errors="replace")

    def probe(self, *args):
        out, err = self.wine(self.probe_exe, *args)
        lines = out.strip().splitlines()
        if not lines:
            raise Failed(f"probe {' '.join(map(str, args))} answered nothing: {err[-2000:]}")
        return json.loads(lines[-1])

    def start_program(self, debug_channels=None, log_name="program.log", folder=None):
        """Starts the program and waits for its main window; with a folder,
        a copy of it from that folder, also the current one."""
        env = dict(os.environ)
        if debug_channels:
            env["WINEDEBUG"] = debug_channels
        program = self.program
        if folder:
            program = folder / Path(self.program).name
            shutil.copy(self.program, program)
        log = open(self.run / log_name, "wb")
        self.processes.append(subprocess.Popen([WINE, str(program)], stdin=subprocess.DEVNULL, stdout=log,
                                               stderr=log, env=env, cwd=folder))
        log.close()
        window = self.probe("wait-window", MAIN_CLASS, MAIN_TITLE, WINDOW_LIMIT_MS)
        if not window.get("found"):
            raise Failed(f"the main window did not appear; see {self.run / log_name}")
        return window

    def trace_only(self, *functions):
        """Has Wine's relay trace (the +relay channel) show only these calls,
        in every program of the run started afterwards."""
        # reg speaks the system's code page, and has nothing to say here.
        subprocess.run([WINE, "reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
                        "/d", ";".join(functions), "/f"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=PROBE_LIMIT_S, check=True)

    def window(self, title):
        return self.probe("window", MAIN_CLASS, title)

    def click(self, title, control_id):
        answer = self.probe("click", MAIN_CLASS, title, control_id)
        if not answer.get("clicked"):
            raise Failed(f"no control {control_id} to click in {title}")

    def wait_text(self, title, control_id, text):
        return self.probe("wait-text", MAIN_CLASS, title, control_id, text, DISC_WATCH_LIMIT_MS)

    def screen(self):
        """The whole virtual screen once it has stopped changing: a window
        just shown may still be painting."""
        path = self.run / "screen.ppm"
        previous = None
        for _ in range(20):
            subprocess.run(["import", "-window", "root", "-depth", "8", str(path)], check=True,
                           timeout=PROBE_LIMIT_S)
            current = Screen(path.read_bytes())
            if previous is not None and current.pixels == previous.pixels:
                return current
            previous = current
            time.sleep(0.25)
        return previous

    def keep_screenshot(self, rect, path):
        left, top, right, bottom = rect
        subprocess.run(["convert", str(self.run / "screen.ppm"), "-crop",
                        f"{right - left}x{bottom - top}+{left}+{top}", "+repage", str(path)],
                       check=True, timeout=PROBE_LIMIT_S)
        print(f"  screenshot: {path}")
