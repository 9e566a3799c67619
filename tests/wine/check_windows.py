#!/usr/bin/env python3
"""The Windows program under Wine, as its users meet it: its real windows read
and worked through the probe (another Windows process), the screen read from
the virtual X server, and what the program starts seen where it arrives.

Runs inside wine_prefix.sh, which gives it a private prefix (WINEPREFIX), an
X display (DISPLAY), the run's folder (TRAYVO_WINE_RUN) whose disc/ is drive
D:, and the file the stub browser writes to (TRAYVO_BROWSER_LOG).

usage: check_windows.py --program EXE --probe EXE --objdump OBJDUMP
                        --artifacts DIR GROUP
"""
import argparse
import json
import os
import re
import subprocess
import sys
import time
from pathlib import Path

# What the user must read, written out here rather than taken from the
# program's sources, so that a changed text shows.
MAIN_CLASS = "Trayvo2010Form"
MAIN_TITLE = "Trayvo2010"
ABOUT_TITLE = "关于 Trayvo"
DISC_PRESENT = "光驱设备有可用光盘。"
NO_DISC = "光驱设备中没有光盘。"
IDEOGRAPHIC_SPACES = "\u3000\u3000"
MAKER_SITE = "https://quenbrook.example/"
LINK_COLOR = (20, 159, 211)
WS_MINIMIZEBOX = 0x00020000
WS_SYSMENU = 0x00080000

# Control IDs: 1000 plus the control's row in its window's layout.
MAIN = {
    "Label1": 1000, "numofCDROM": 1001, "Frame1": 1002, "Label3": 1003, "Combox": 1004,
    "Label4": 1005, "CDROMstatus": 1006, "Command1": 1007, "Command2": 1008, "Command3": 1009,
    "Image1": 1011, "Label6": 1012, "Label7": 1013,
}
ABOUT = {"Command1": 1000, "Label1": 1001, "Label2": 1002, "Label3": 1003, "Label4": 1004, "Image1": 1005}

# Every wait has a limit; none is a measure of success.
PROBE_LIMIT_S = 30
WINDOW_LIMIT_MS = 20000
DISC_WATCH_LIMIT_MS = 5000
SPAWN_LIMIT_S = 20


class Failed(Exception):
    pass


class Checks:
    """Counts the checks of a group and keeps going after a failed one, so
    that one run tells everything that is wrong."""

    def __init__(self):
        self.passed = 0
        self.failures = []

    def that(self, condition, what, detail=""):
        if condition:
            self.passed += 1
            print(f"  ok    {what}")
        else:
            self.failures.append(what)
            print(f"  FAIL  {what}" + (f"\n        {detail}" if detail else ""))
        return condition

    def equal(self, actual, expected, what):
        return self.that(actual == expected, what, f"expected {expected!r}, got {actual!r}")


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
            subprocess.run(["wine", *map(str, args)], stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                           timeout=PROBE_LIMIT_S)
        return out_path.read_bytes().decode("utf-8"), err_path.read_text(errors="replace")

    def probe(self, *args):
        out, err = self.wine(self.probe_exe, *args)
        lines = out.strip().splitlines()
        if not lines:
            raise Failed(f"probe {' '.join(map(str, args))} answered nothing: {err[-2000:]}")
        return json.loads(lines[-1])

    def start_program(self, debug_channels=None, log_name="program.log"):
        env = dict(os.environ)
        if debug_channels:
            env["WINEDEBUG"] = debug_channels
        log = open(self.run / log_name, "wb")
        self.processes.append(subprocess.Popen(["wine", self.program], stdin=subprocess.DEVNULL, stdout=log,
                                               stderr=log, env=env))
        log.close()
        window = self.probe("wait-window", MAIN_CLASS, MAIN_TITLE, WINDOW_LIMIT_MS)
        if not window.get("found"):
            raise Failed(f"the main window did not appear; see {self.run / log_name}")
        return window

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


class Screen:
    """A screenshot as a binary PPM, read pixel by pixel."""

    def __init__(self, data):
        fields = []
        position = 0
        while len(fields) < 4:
            while data[position:position + 1].isspace():
                position += 1
            if data[position:position + 1] == b"#":
                position = data.index(b"\n", position)
                continue
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[position:end])
            position = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise Failed("the screenshot is not an 8-bit PPM")
        self.width = int(fields[1])
        self.height = int(fields[2])
        self.pixels = data[position + 1:]

    def at(self, x, y):
        offset = 3 * (y * self.width + x)
        return tuple(self.pixels[offset:offset + 3])

    def region(self, rect, inset=0, leave_out=()):
        left, top, right, bottom = rect
        for y in range(top + inset, bottom - inset):
            for x in range(left + inset, right - inset):
                if not any(l <= x < r and t <= y < b for l, t, r, b in leave_out):
                    yield self.at(x, y)


def color_of(colorref):
    return (colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF)


def controls_by_id(window):
    return {control["id"]: control for control in window["controls"]}


def dominant(pixels):
    counts = {}
    for pixel in pixels:
        counts[pixel] = counts.get(pixel, 0) + 1
    return max(counts, key=counts.get) if counts else None


def share(pixels, wanted):
    pixels = list(pixels)
    return sum(1 for p in pixels if wanted(p)) / len(pixels) if pixels else 0.0


def check_texts_render(checks, window, what):
    """Each control's characters draw as pictures of their own: a font
    without Chinese would draw every Chinese character as one box."""
    for control in window["controls"]:
        if control.get("characters"):
            checks.that(control["pictures"] == control["characters"],
                        f"{what}: each character of {control['text']!r} has a picture of its own",
                        f"{control['characters']} characters drawn as {control['pictures']} pictures")


def check_face(checks, screen, window, ids, what):
    """Labels and pictures sit on the window's own face colour."""
    face = color_of(window["face"])
    controls = controls_by_id(window)
    for name, control_id in ids.items():
        control = controls[control_id]
        if control["class"] == "Static" and control["text"]:
            checks.equal(dominant(screen.region(control["rect"])), face,
                         f"{what}: label {name} is drawn on the form's face")


def check_picture(checks, screen, window, control_id, what):
    face = color_of(window["face"])
    control = controls_by_id(window)[control_id]
    drawn = share(screen.region(control["rect"]), lambda p: p != face)
    checks.that(drawn > 0.3, f"{what}: its picture is drawn", f"only {drawn:.0%} of the box differs from the face")


def check_link_color(checks, screen, rect, what, underlined):
    left, _, right, _ = rect
    pixels = list(screen.region(rect))
    checks.that(LINK_COLOR in pixels, f"{what} is drawn in the link's blue",
                f"no pixel of {LINK_COLOR} in {rect}")
    if not underlined:
        return
    # An underline is one unbroken line under the whole text; the edges of
    # glyphs, or of boxes drawn for missing ones, break between characters.
    longest = 0
    for y in range(rect[1], rect[3]):
        run = 0
        for x in range(left, right):
            run = run + 1 if screen.at(x, y) == LINK_COLOR else 0
            longest = max(longest, run)
    checks.that(longest >= 0.9 * (right - left), f"{what} is underlined",
                f"the longest unbroken line of link colour is {longest} of {right - left} pixels")


# --- Groups -------------------------------------------------------------------


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
    size = Path(args.program).stat().st_size
    checks.that(size < 1024 * 1024, "the exe is smaller than 1 MB", f"{size} bytes")
    # Untranslated: its words are matched below.
    headers = subprocess.run([args.objdump, "-p", args.program], capture_output=True, text=True, check=True,
                             timeout=PROBE_LIMIT_S, env=dict(os.environ, LC_ALL="C")).stdout
    checks.that(re.search(r"file format pei-i386", headers), "the exe is a 32-bit x86 PE file")
    checks.that(re.search(r"^Magic\s+010b\s+\(PE32\)", headers, re.M), "its optional header is PE32")
    checks.that(re.search(r"^Subsystem\s+00000002\s+\(Windows GUI\)", headers, re.M), "it is a GUI program")
    allowed = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "COMCTL32.DLL", "WINMM.DLL", "SHELL32.DLL",
               "MSVCRT.DLL", "MSIMG32.DLL", "ADVAPI32.DLL", "OLE32.DLL", "OLEAUT32.DLL"}
    imports = {name.upper() for name in re.findall(r"DLL Name: (\S+)", headers)}
    checks.that(imports, "the import table could be read")
    checks.that(imports <= allowed, "it imports only the system's own DLLs", f"others: {sorted(imports - allowed)}")
    for needed in ("KERNEL32.DLL", "USER32.DLL", "WINMM.DLL"):
        checks.that(needed in imports, f"it imports {needed}")

    # Wine shows the Unix file system as drive Z:.
    version = wine.probe("version", "Z:" + str(Path(args.program).resolve()).replace("/", "\\"))
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


def check_main_window(checks, wine, args):
    window = wine.start_program()
    controls = controls_by_id(window)
    text = lambda name: controls[MAIN[name]]["text"]
    checks.equal(window["title"], MAIN_TITLE, "the main window's title")
    checks.that(window["style"] & WS_MINIMIZEBOX, "the main window can be minimized")
    checks.equal(text("Label1"), "检测到可用的光驱设备：", "the drive count's caption")
    checks.equal(text("numofCDROM"), "1个", "one drive is counted")
    combo = controls[MAIN["Combox"]]
    checks.equal(combo.get("items"), ["D:\\"], "the drive list holds D:\\ alone")
    checks.equal(combo.get("selected"), 0, "D:\\ is chosen")
    checks.equal(text("Label4"), "状态：", "the status caption")
    checks.equal(text("CDROMstatus"), DISC_PRESENT, "the status tells of the disc")
    for name, caption in (("Command1", "弹出仓门"), ("Command2", "关闭仓门"), ("Command3", "打开目录")):
        checks.equal(text(name), caption, f"button {name} reads {caption}")
        checks.that(controls[MAIN[name]]["enabled"], f"button {name} is enabled")
    checks.equal(text("Label6"), "Velmoor个人工作室 o(∩_∩)o", "the maker's signature")
    checks.equal(text("Label7"), "关于", "the About link")
    check_texts_render(checks, window, "main window")

    screen = wine.screen()
    shot = Path(args.artifacts) / "wine-main-window.png"
    wine.keep_screenshot(window["rect"], shot)
    check_face(checks, screen, window, MAIN, "main window")
    face = color_of(window["face"])
    frame = controls[MAIN["Frame1"]]["rect"]
    inside = [c["rect"] for c in window["controls"] if c["id"] != MAIN["Frame1"]]
    interior = list(screen.region(frame, inset=10, leave_out=inside))
    checks.that(share(interior, lambda p: p == face) > 0.95, "the frame's inside shows the form's face",
                f"{share(interior, lambda p: p == face):.0%} of it is the face colour")
    checks.that(share(interior, lambda p: max(p) < 64) < 0.01, "nothing in the frame is drawn black")
    check_picture(checks, screen, window, MAIN["Image1"], "main window")
    check_link_color(checks, screen, controls[MAIN["Label7"]]["rect"], "the About link", underlined=True)

    # The disc watch: once a second the program asks whether D: is readable.
    away = wine.disc.with_name("disc.away")
    checks.equal(wine.wait_text(MAIN_TITLE, MAIN["CDROMstatus"], DISC_PRESENT)["text"], DISC_PRESENT,
                 "before the disc goes, the status tells of it")
    wine.disc.rename(away)
    try:
        gone = wine.wait_text(MAIN_TITLE, MAIN["CDROMstatus"], NO_DISC)
        checks.that(gone["reached"], "with the disc's folder away, the status says there is no disc",
                    f"still {gone['text']!r} after {gone['ms']} ms")
        print(f"        (seen after {gone['ms']} ms)")
    finally:
        away.rename(wine.disc)
    back = wine.wait_text(MAIN_TITLE, MAIN["CDROMstatus"], DISC_PRESENT)
    checks.that(back["reached"], "with the folder back, the status tells of the disc again",
                f"still {back['text']!r} after {back['ms']} ms")
    print(f"        (seen after {back['ms']} ms)")


MCI_CALL = re.compile(r'trace:mci:mciSendStringW \(L"((?:[^"\\]|\\.)*)"')


def mci_strings(log):
    text = log.read_text(encoding="utf-8", errors="replace") if log.exists() else ""
    return [re.sub(r"\\(.)", r"\1", found) for found in MCI_CALL.findall(text)]


def wait_for_mci(log, count):
    deadline = time.monotonic() + SPAWN_LIMIT_S
    while time.monotonic() < deadline:
        strings = mci_strings(log)
        if len(strings) >= count:
            return strings
        time.sleep(0.1)
    return mci_strings(log)


def check_tray(checks, wine, _args):
    log = wine.run / "mci.log"
    wine.start_program(debug_channels="+mci", log_name=log.name)
    checks.equal(mci_strings(log), [], "nothing is sent to MCI before a button is clicked")
    wine.click(MAIN_TITLE, MAIN["Command1"])
    opened = wait_for_mci(log, 3)
    checks.equal(opened, ["open D:\\ type CDAudio alias nowCD wait", "set nowCD door open wait", "close nowCD"],
                 "弹出仓门 sends open, door open and close for D:")
    wine.click(MAIN_TITLE, MAIN["Command2"])
    closed = wait_for_mci(log, 6)[3:]
    checks.equal(closed, ["open D:\\ type CDAudio alias nowCD wait", "set nowCD door closed wait", "close nowCD"],
                 "关闭仓门 sends open, door closed and close for D:")
    controls = controls_by_id(wine.window(MAIN_TITLE))
    checks.that(all(controls[MAIN[name]]["enabled"] for name in ("Command1", "Command2", "Command3")),
                "the buttons are enabled after the tray commands")
    checks.equal(wine.wait_text(MAIN_TITLE, MAIN["CDROMstatus"], DISC_PRESENT)["text"], DISC_PRESENT,
                 "the disc watch goes on after them")


def explorer_windows(wine):
    return [w for w in wine.probe("windows")["windows"]
            if w["class"] == "ExplorerWClass" and w["visible"]]


def explorer_processes():
    """Wine's processes show their Windows command line; only this run's
    prefix counts."""
    prefix = os.environ["WINEPREFIX"].encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().replace(b"\0", b" ").strip()
            environment = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if b"WINEPREFIX=" + prefix in environment and re.search(rb"explorer\.exe\s+D:\\$", command, re.I):
            found.append(command.decode("utf-8", "replace"))
    return found


def check_folder(checks, wine, _args):
    wine.start_program()
    checks.equal(explorer_windows(wine), [], "no folder window is open before the click")
    checks.equal(explorer_processes(), [], "no explorer runs for D:\\ before the click")
    wine.click(MAIN_TITLE, MAIN["Command3"])
    deadline = time.monotonic() + SPAWN_LIMIT_S
    windows = []
    while time.monotonic() < deadline and not windows:
        windows = explorer_windows(wine)
        time.sleep(0.2)
    checks.that(any(w["process"].lower() == "explorer.exe" and w["title"].strip().endswith("(D:)")
                    for w in windows), "打开目录 opens Wine's explorer on D:", f"windows: {windows}")
    checks.that(explorer_processes(), "the explorer was started as explorer.exe D:\\")
    checks.that(wine.window(MAIN_TITLE)["enabled"], "the main window takes input after starting it")


ABOUT_TEXTS = {
    "Label1": "Trayvo2010",
    "Label2": "内部版本号:V3",
    "Label3": IDEOGRAPHIC_SPACES + "感谢您使用Trayvo。\r\n" + IDEOGRAPHIC_SPACES
              + "软件为免费软件，如果您觉得好用，请推荐给您的朋友们。",
    "Label4": IDEOGRAPHIC_SPACES + "同时欢迎您访问《Quenbrook》",
    "Command1": "关闭",
}


def check_about(checks, wine, args):
    wine.start_program()
    wine.click(MAIN_TITLE, MAIN["Label7"])
    about = wine.probe("wait-window", MAIN_CLASS, ABOUT_TITLE, WINDOW_LIMIT_MS)
    if not checks.that(about.get("found"), "关于 opens the About window"):
        return
    checks.equal(about["title"], ABOUT_TITLE, "the About window's title")
    checks.that(not about["style"] & WS_MINIMIZEBOX and about["style"] & WS_SYSMENU,
                "the About window can be closed but not minimized away from its waiting owner")
    controls = controls_by_id(about)
    for name, expected in ABOUT_TEXTS.items():
        checks.equal(controls[ABOUT[name]]["text"], expected, f"About: {name} reads as written")
    check_texts_render(checks, about, "About window")
    checks.that(not wine.window(MAIN_TITLE)["enabled"], "the main window waits while About is open")

    screen = wine.screen()
    shot = Path(args.artifacts) / "wine-about-window.png"
    wine.keep_screenshot(about["rect"], shot)
    check_face(checks, screen, about, ABOUT, "About window")
    check_picture(checks, screen, about, ABOUT["Image1"], "About window")
    check_link_color(checks, screen, controls[ABOUT["Label4"]]["rect"], "the site link", underlined=False)

    browser_log = Path(os.environ["TRAYVO_BROWSER_LOG"])
    wine.click(ABOUT_TITLE, ABOUT["Label4"])
    deadline = time.monotonic() + SPAWN_LIMIT_S
    while time.monotonic() < deadline and not browser_log.exists():
        time.sleep(0.2)
    time.sleep(0.5)  # lets a browser started twice show it
    opened = browser_log.read_text().splitlines() if browser_log.exists() else []
    checks.equal(opened, [MAKER_SITE], "the site link opens the maker's site in the browser, once")

    wine.click(ABOUT_TITLE, ABOUT["Command1"])
    checks.that(wine.probe("wait-gone", MAIN_CLASS, ABOUT_TITLE, WINDOW_LIMIT_MS)["gone"],
                "关闭 closes the About window")
    checks.that(wine.window(MAIN_TITLE)["enabled"], "the main window takes input again")


GROUPS = {
    "system": check_system,
    "exe_file": check_exe_file,
    "main_window": check_main_window,
    "tray": check_tray,
    "folder": check_folder,
    "about": check_about,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("group", choices=GROUPS)
    args = parser.parse_args()

    checks = Checks()
    wine = Wine(args)
    print(f"{args.group}:")
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
