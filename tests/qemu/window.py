"""The program's main window on an X server in the guest, as xdotool and
ImageMagick's import see it: where its controls are, clicks on them, and
the screen's look. Qt's widgets keep their texts to themselves, so the
screen is compared by its hash.
"""

import time
from contextlib import contextmanager

from common import COMMAND_LIMIT_S, CheckFailed, TestError, expect

PROGRAM_TITLE = "Trayvo2010"
# From starting the X server to the program's window, under TCG; took 4 to 7 s.
WINDOW_LIMIT_S = 45
SETTLE_LIMIT_S = 15           # for a window to stop changing
DROP_DOWN_LIMIT_S = 10        # for the selector's list to show; an empty one shows none

# Where the main window has its controls, from its layout in twips inside
# Frame1 (left, top, width, height), and the client area's size. 15 twips a
# pixel at 96 dpi. The three buttons stand one under another, 480 apart.
TWIPS_PER_PIXEL = 15
FRAME1_TWIPS = (240, 600)
BUTTONS = {f"Command{number}": (3480, 360 + 480 * (number - 1), 1095, 375) for number in (1, 2, 3)}
COMBOX_TWIPS = (2160, 360, 735, 330)
CLIENT_TWIPS = (5445, 3435)


@contextmanager
def program_running(m, user="root", first_on_path="/usr/local/bin", closes=False):
    """The window of the program run as user on a fresh X server in the
    guest, first_on_path before the system's folders on its PATH; afterwards
    the program must be seen to have run on, or, when the caller closes its
    window, to have ended by then."""
    gui = m.guest.run("gui-start", user, m.program, first_on_path, limit=WINDOW_LIMIT_S)
    if gui.status != 0 or len(gui.lines) != 1:
        raise TestError(f"the X server did not start: {gui.text()}\n{m.guest_text('/tmp/xvfb.log')}")
    x_server, program = gui.lines[0].split()
    try:
        yield ProgramWindow(Screen(m), program)
    finally:
        stopped = m.guest.run("gui-stop", x_server, program)
    expect(stopped.lines[:1] == ["program gone" if closes else "program running"],
           f"the program had {'not ended' if closes else 'ended by itself'}: {m.guest_text('/tmp/program.log')}")


class Screen:
    """The guest's X server as the checks see it: hashes of the whole screen."""

    def __init__(self, m):
        self.m = m

    def hash(self):
        return self.x("sh", "-c", "import -window root -depth 8 ppm:- | md5sum")[0].split()[0]

    def settled(self, unlike=None, limit=SETTLE_LIMIT_S):
        """The screen once two looks in a row agree and it is not unlike;
        None when that does not come within limit seconds."""
        deadline = time.monotonic() + limit
        previous = None
        while time.monotonic() < deadline:
            current = self.hash()
            if current == previous and current != unlike:
                return current
            previous = current
        return None

    def x(self, *args, limit=COMMAND_LIMIT_S):
        return self.m.must("x", *args, limit=limit)


class ProgramWindow:
    """One copy of the program on the guest's X server, found by its pid."""

    def __init__(self, screen, pid):
        self.screen = screen
        self.pid = pid
        # A program that shows no window is the program's fault, not the guest's.
        found = screen.m.guest.run("x", "timeout", WINDOW_LIMIT_S, "xdotool", "search", "--sync", "--onlyvisible",
                                   "--all", "--pid", pid, "--name", f"^{PROGRAM_TITLE}$",
                                   limit=WINDOW_LIMIT_S + COMMAND_LIMIT_S)
        expect(found.status == 0 and len(found.lines) == 1,
               f"program {pid} showed windows {found.lines} in {WINDOW_LIMIT_S} s: {found.text()}")
        self.window = found.lines[0]
        geometry = dict(line.split("=", 1) for line in screen.x("xdotool", "getwindowgeometry", "--shell",
                                                                 self.window) if "=" in line)
        self.left, self.top = int(geometry["X"]), int(geometry["Y"])
        self.size = (int(geometry["WIDTH"]), int(geometry["HEIGHT"]))

    def at(self, left, top):
        """A point of the window's client area, from twips inside Frame1."""
        return (self.left + round((FRAME1_TWIPS[0] + left) / TWIPS_PER_PIXEL),
                self.top + round((FRAME1_TWIPS[1] + top) / TWIPS_PER_PIXEL))

    def click(self, control):
        left, top, width, height = BUTTONS.get(control, control)
        self.screen.x("xdotool", "mousemove", *self.at(left + width / 2, top + height / 2), "click", "1")

    def rest_pointer(self):
        """Moves the pointer off the controls: a control under it looks
        hovered."""
        self.screen.x("xdotool", "mousemove", self.left + 2, self.top + 2)

    def read(self):
        """The screen with the window as it stands, and with its drive
        selector dropped down, the pointer resting at the same places."""
        self.rest_pointer()
        shown = self.screen.settled()
        if shown is None:
            raise CheckFailed(f"the window of program {self.pid} would not hold still to be read")
        self.click(COMBOX_TWIPS)
        dropped = self.screen.settled(unlike=shown, limit=DROP_DOWN_LIMIT_S) or shown
        self.screen.x("xdotool", "key", "Escape")
        return shown, dropped

    def picture(self):
        """The window as PNG."""
        self.screen.x("import", "-window", self.window, "/tmp/trayvo2010-window.png")
        return self.screen.m.guest_bytes("/tmp/trayvo2010-window.png")
