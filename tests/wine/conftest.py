"""What the checks of the Windows program under Wine share: the run's Wine,
the program under test, and the probe that reads and works its windows from
another Windows process.

Runs inside wine_prefix.sh, which gives it a private prefix (WINEPREFIX), an
X display (DISPLAY), the run's folder (TRAYVO_WINE_RUN) whose disc/ is drive
D:, and the file the stub browser writes to (TRAYVO_BROWSER_LOG). The test's
environment names the programs: TRAYVO_PROGRAM is the exe whose windows are
worked (the 32-bit one that ships, or its 64-bit twin), TRAYVO_PROBE the probe.
"""

import json
import os
import shutil
import subprocess
import time
from pathlib import Path

import pytest
from PIL import ImageGrab

# The run's Wine loader: the 32-bit one, or the 64-bit one alone where the
# host cannot start 32-bit programs (wine_prefix.sh).
WINE = os.environ["TRAYVO_WINE"]
MAIN_CLASS = "Trayvo2010Form"
MAIN_TITLE = "Trayvo2010"
# Its control IDs: 1000 plus the control's row in its window's layout.
MAIN = {
    "Label1": 1000, "numofCDROM": 1001, "Frame1": 1002, "Label3": 1003, "Combox": 1004,
    "Label4": 1005, "CDROMstatus": 1006, "Command1": 1007, "Command2": 1008, "Command3": 1009,
    "Image1": 1011, "Label6": 1012, "Label7": 1013,
}
# Window styles (winuser.h) the checks read.
WS_MINIMIZEBOX = 0x00020000
WS_SYSMENU = 0x00080000
# Every wait has a limit; none is a measure of success.
LIMIT_S = 20


def wait_until(read, done, limit_s=LIMIT_S):
    """Reads until what it read is done, or the limit passes; the last read."""
    deadline = time.monotonic() + limit_s
    value = read()
    while not done(value) and time.monotonic() < deadline:
        time.sleep(0.1)
        value = read()
    return value


def controls(window):
    return {control["id"]: control for control in window.get("controls", [])}


class Wine:
    def __init__(self):
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
            subprocess.run([WINE, *map(str, args)], stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=30)
        return out_path.read_text(errors="replace"), err_path.read_text(errors="replace")

    def probe(self, *args):
        out, err = self.wine(os.environ["TRAYVO_PROBE"], *args)
        assert out.strip(), f"probe {args} answered nothing: {err[-2000:]}"
        return json.loads(out.strip().splitlines()[-1])

    def start(self, command, log_name=None, **options):
        log = open(self.run / log_name, "wb") if log_name else subprocess.DEVNULL
        self.processes.append(subprocess.Popen([WINE, *map(str, command)], stdin=subprocess.DEVNULL, stdout=log,
                                               stderr=log, **options))
        return self.processes[-1]

    def start_program(self, debug_channels=None, log_name="program.log", folder=None):
        """Starts the program, with a folder a copy of it there and run from
        there; its main window once shown."""
        program = Path(os.environ["TRAYVO_PROGRAM"])
        if folder:
            program = Path(shutil.copy(program, folder))
        env = dict(os.environ, WINEDEBUG=debug_channels) if debug_channels else None
        self.start([program], log_name, env=env, cwd=folder)
        window = self.wait_window(MAIN_TITLE)
        assert window["found"], f"the main window did not appear; see {self.run / log_name}"
        return window

    def trace_only(self, *functions):
        """Has Wine's relay trace (+relay) show only these calls, in every
        program of the run started afterwards."""
        self.wine("reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
                  "/d", ";".join(functions), "/f")

    def window(self, title=MAIN_TITLE, window_class=MAIN_CLASS):
        return self.probe("window", window_class, title)

    def wait_window(self, title, window_class=MAIN_CLASS):
        return wait_until(lambda: self.window(title, window_class), lambda w: w["found"] and w["visible"])

    def gone(self, title, window_class=MAIN_CLASS):
        return not wait_until(lambda: self.window(title, window_class)["found"], lambda found: not found)

    def act(self, title, control_id, action, window_class=MAIN_CLASS):
        return self.probe("act", window_class, title, control_id, action)

    def screen(self):
        """The virtual screen once it has stopped changing: a window just
        shown may still be painting."""
        grab = lambda: ImageGrab.grab(xdisplay=os.environ["DISPLAY"])
        previous = grab()
        for _ in range(20):
            time.sleep(0.25)
            current = grab()
            if current.tobytes() == previous.tobytes():
                break
            previous = current
        return previous


@pytest.fixture
def wine():
    session = Wine()
    yield session
    for process in session.processes:
        if process.poll() is None:
            process.kill()
