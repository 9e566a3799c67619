"""The checks on the program's windows as its users meet them: the main
window's texts, drawing and disc watch; its drive list following drives that
come and go; its tray buttons seen arriving in Wine's MCI; its folder button
starting Wine's explorer, never one planted beside the program; an error's
message while another program is in front; and the About window with its
link to the maker's site.
"""

import os
import re
import shutil
import subprocess
import time
from pathlib import Path

from drawing import check_face, check_link_color, check_picture, check_texts_render, color_of, controls_by_id, share
from wine_session import MAIN_CLASS, MAIN_TITLE, SPAWN_LIMIT_S, WINDOW_LIMIT_MS, WINE

# What the user must read, written out here rather than taken from the
# program's sources, so that a changed text shows.
ABOUT_TITLE = "关于 Trayvo"
DISC_PRESENT = "光驱设备有可用光盘。"
NO_DISC = "光驱设备中没有光盘。"
IDEOGRAPHIC_SPACES = "\u3000\u3000"
MAKER_SITE = "https://quenbrook.example/"
WS_MINIMIZEBOX = 0x00020000
WS_SYSMENU = 0x00080000

# Control IDs: 1000 plus the control's row in its window's layout.
MAIN = {
    "Label1": 1000, "numofCDROM": 1001, "Frame1": 1002, "Label3": 1003, "Combox": 1004,
    "Label4": 1005, "CDROMstatus": 1006, "Command1": 1007, "Command2": 1008, "Command3": 1009,
    "Image1": 1011, "Label6": 1012, "Label7": 1013,
}
ABOUT = {"Command1": 1000, "Label1": 1001, "Label2": 1002, "Label3": 1003, "Label4": 1004, "Image1": 1005}
# MSAA's roles and states (oleacc.h) and the default action of a link.
ROLE_SYSTEM_LINK = 0x1E
STATE_SYSTEM_LINKED = 0x400000
CLICK = "单击"
# An action that waited for the About window to close would hold the caller.
ACTION_LIMIT_MS = 2000


def main_window_texts(checks, window):
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


def main_window_drawing(checks, wine, window, artifacts):
    controls = controls_by_id(window)
    screen = wine.screen()
    shot = Path(artifacts) / "wine-main-window.png"
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


def disc_watch(checks, wine):
    """Once a second the program asks whether D: is readable."""
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


def check_main_window(checks, wine, args):
    window = wine.start_program()
    main_window_texts(checks, window)
    main_window_drawing(checks, wine, window, args.artifacts)
    disc_watch(checks, wine)


NO_DRIVE = "程序发现，当前计算机\r\n没有可用的光驱设备。"


def main_window_drives(wine):
    """What the main window shows of the drives: count, list, selected
    drive, status and whether its buttons work."""
    controls = controls_by_id(wine.window(MAIN_TITLE))
    combo = controls[MAIN["Combox"]]
    items = combo.get("items", [])
    selected = items[combo["selected"]] if 0 <= combo.get("selected", -1) < len(items) else None
    return (controls[MAIN["numofCDROM"]]["text"], items, selected, controls[MAIN["CDROMstatus"]]["text"],
            all(controls[MAIN[name]]["enabled"] for name in ("Command1", "Command2", "Command3")))


def check_drives(checks, wine, _args):
    """Drive letters made and retyped by Wine's mount manager while the
    program runs, each followed by the notice Windows sends its windows: the
    list follows, the chosen drive stays while it remains, the no-drive state
    comes and goes."""
    wine.start_program()
    other = wine.run / "other-disc"
    other.mkdir()

    def define(letter, kind, path=None):
        defined = wine.probe("define-drive", letter, kind, path or "")
        checks.that(defined.get("defined"), f"Wine's mount manager made {letter}: {kind}", str(defined))

    def notice(event, letter, expected, what):
        wine.probe("device-change", event, letter, MAIN_CLASS, MAIN_TITLE)
        reached = wine.wait_text(MAIN_TITLE, MAIN["numofCDROM"], expected[0])
        checks.equal(main_window_drives(wine), expected, what)
        print(f"        (count seen after {reached['ms']} ms)")

    define("E", "cdrom", other)
    checks.equal(main_window_drives(wine)[0], "1个", "until the system's notice, the window keeps its list")
    notice("arrival", "E", ("2个", ["D:\\", "E:\\"], "D:\\", DISC_PRESENT, True),
           "a CD-ROM drive E: joins the list; D: stays chosen")
    define("D", "none")
    notice("removal", "D", ("1个", ["E:\\"], "E:\\", DISC_PRESENT, True), "with the chosen D: gone, E: is chosen")
    define("E", "removable", other)
    notice("arrival", "E", ("0个", [], None, NO_DRIVE, False), "a stick taking E: leaves no drive: the no-drive state")
    define("D", "cdrom", wine.disc)
    notice("arrival", "D", ("1个", ["D:\\"], "D:\\", DISC_PRESENT, True),
           "a CD-ROM drive D: arriving ends the no-drive state")


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


def check_folder(checks, wine, args):
    """The program runs from a folder, also the current one, where someone has
    left an explorer.exe of their own: 打开目录 must start the system's."""
    downloads = wine.run / "Downloads"
    downloads.mkdir()
    planted = downloads / "explorer.exe"
    shutil.copy(args.planted_explorer, planted)
    planted_ran = downloads / "planted-explorer-ran.txt"
    wine.start_program(folder=downloads)
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
    checks.that(not planted_ran.exists(), "the explorer.exe planted beside the program never runs",
                f"it ran as {planted_ran.read_text(encoding='utf-16-le') if planted_ran.exists() else ''}")
    checks.that(wine.window(MAIN_TITLE)["enabled"], "the main window takes input after starting it")
    # Without this, the planted one's silence above would prove nothing.
    wine.wine(planted, "D:\\")
    checks.that(planted_ran.exists(), "the planted explorer.exe leaves its record when it does run")


MESSAGE_BOX_CLASS = "#32770"
IDOK = 1
FOLDER_NOT_OPENED = "无法打开光驱设备 D:\\ 的目录。"


def check_message(checks, wine, _args):
    """An error while another program is in front: its message belongs to the
    main window, which takes no clicks until the message is answered."""
    # Without the system's explorer, 打开目录 cannot start it.
    explorer = Path(os.environ["WINEPREFIX"]) / "drive_c" / "windows" / "explorer.exe"
    explorer.rename(explorer.with_name("explorer.exe.away"))
    wine.start_program()
    wine.processes.append(subprocess.Popen([WINE, "notepad"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL))
    deadline = time.monotonic() + SPAWN_LIMIT_S
    while time.monotonic() < deadline and wine.probe("windows")["foreground"] != "Notepad":
        time.sleep(0.2)
    if not checks.equal(wine.probe("windows")["foreground"], "Notepad", "another program is in front"):
        return
    # Told of the click without one, which would bring the program to the front.
    wine.probe("notify", MAIN_CLASS, MAIN_TITLE, MAIN["Command3"])
    box = wine.probe("wait-window", MESSAGE_BOX_CLASS, MAIN_TITLE, WINDOW_LIMIT_MS)
    if not checks.that(box.get("found"), "the error is shown in a message box"):
        return
    checks.that(any(control["text"] == FOLDER_NOT_OPENED for control in box["controls"]),
                "it says the folder could not be opened", f"{[c['text'] for c in box['controls']]}")
    checks.equal(box["owner"], {"class": MAIN_CLASS, "title": MAIN_TITLE}, "the main window owns the message")
    checks.that(not wine.window(MAIN_TITLE)["enabled"], "the main window takes no clicks while the message waits")
    wine.probe("click", MESSAGE_BOX_CLASS, MAIN_TITLE, IDOK)
    checks.that(wine.probe("wait-gone", MESSAGE_BOX_CLASS, MAIN_TITLE, WINDOW_LIMIT_MS)["gone"],
                "OK closes the message")
    checks.that(wine.window(MAIN_TITLE)["enabled"], "the main window takes input again")


ABOUT_TEXTS = {
    "Label1": "Trayvo2010",
    "Label2": "内部版本号:V3",
    "Label3": IDEOGRAPHIC_SPACES + "感谢您使用Trayvo。\r\n" + IDEOGRAPHIC_SPACES
              + "软件为免费软件，如果您觉得好用，请推荐给您的朋友们。",
    "Label4": IDEOGRAPHIC_SPACES + "同时欢迎您访问《Quenbrook》",
    "Command1": "关闭",
}


def site_link(checks, wine):
    """The About window's link, worked as a screen reader works it, starts
    the browser, which the stub stands in for."""
    browser_log = Path(os.environ["TRAYVO_BROWSER_LOG"])
    about = accessible_link(checks, wine, ABOUT_TITLE, ABOUT["Label4"], "the site link")
    checks.equal(about.get(ABOUT["Image1"], {}).get("name"), "托盘里放着光盘的 DVD 光驱", "the About picture is named")
    deadline = time.monotonic() + SPAWN_LIMIT_S
    while time.monotonic() < deadline and not browser_log.exists():
        time.sleep(0.2)
    time.sleep(0.5)  # lets a browser started twice show it
    opened = browser_log.read_text().splitlines() if browser_log.exists() else []
    checks.equal(opened, [MAKER_SITE], "the site link opens the maker's site in the browser, once")


LOADED = re.compile(r'^([0-9a-f]+):trace:loaddll:\S+ Loaded L"[^"]*\\Trayvo2010\.exe"', re.M)


def destroyed_windows(log):
    """The program's DestroyWindow calls, from Wine's relay trace: each
    window handle with whether the call found the window. The program's one
    thread is the one that loaded it; other programs of the run trace too."""
    text = log.read_text(errors="replace")
    loaded = LOADED.search(text)
    if not loaded:
        return []
    thread = loaded.group(1)
    calls = re.findall(rf"^{thread}:Call user32\.DestroyWindow\(([0-9a-f]+)\)", text, re.M)
    results = re.findall(rf"^{thread}:Ret  user32\.DestroyWindow\(\) retval=([0-9a-f]+)", text, re.M)
    return [(window, int(result, 16) != 0) for window, result in zip(calls, results)]


def check_windows_destroyed_once(checks, wine, log):
    """Closed, the main window ends the program. Neither it nor the About
    window leaves a handle of theirs to be destroyed a second time: a dead
    handle's number may by then name another window."""
    wine.probe("close", MAIN_CLASS, MAIN_TITLE)
    program = wine.processes[-1]
    program.wait(timeout=SPAWN_LIMIT_S)
    checks.equal(program.returncode, 0, "closing the main window ends the program")
    destroyed = destroyed_windows(log)
    # The About window and its tooltip, the main window and its tooltip.
    checks.that(len(destroyed) >= 4, "the trace shows the program destroying its windows", f"{destroyed}")
    checks.equal([window for window, found in destroyed if not found], [],
                 "every window the program destroys is still there: none is destroyed twice")


def accessible_link(checks, wine, title, control_id, what):
    """What a screen reader reads of a link through MSAA, from another
    process; performs its default action, which must return at once."""
    read = {control["id"]: control for control in wine.probe("accessible", MAIN_CLASS, title)["controls"]}
    link = read.get(control_id, {})
    checks.equal((link.get("role"), link.get("defaultAction")), (ROLE_SYSTEM_LINK, CLICK),
                 f"{what} is a link whose default action is a click")
    checks.that((link.get("state") or 0) & STATE_SYSTEM_LINKED, f"{what} is marked linked")
    done = wine.probe("default-action", MAIN_CLASS, title, control_id)
    checks.that(done["done"] and done["ms"] < ACTION_LIMIT_MS, f"{what}'s default action is done at once",
                f"{done}")
    return read


def check_about(checks, wine, args):
    log = wine.run / "about.log"
    wine.trace_only("user32.DestroyWindow")
    wine.start_program(debug_channels="+relay,+loaddll", log_name=log.name)
    main = accessible_link(checks, wine, MAIN_TITLE, MAIN["Label7"], "关于")
    checks.equal(main.get(MAIN["Image1"], {}).get("name"), "装有文件的文件夹", "the main window's picture is named")
    # Its role is Windows' own object's, which Wine gives as a mere client.
    checks.equal(main.get(MAIN["Combox"], {}).get("name"), "请选择光驱设备：", "the selector is named by its label")
    about = wine.probe("wait-window", MAIN_CLASS, ABOUT_TITLE, WINDOW_LIMIT_MS)
    if not checks.that(about.get("found"), "关于 opens the About window"):
        return
    checks.that(not wine.probe("default-action", MAIN_CLASS, MAIN_TITLE, MAIN["Label7"])["done"],
                "the waiting main window's link does nothing meanwhile")
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

    site_link(checks, wine)

    wine.click(ABOUT_TITLE, ABOUT["Command1"])
    checks.that(wine.probe("wait-gone", MAIN_CLASS, ABOUT_TITLE, WINDOW_LIMIT_MS)["gone"],
                "关闭 closes the About window")
    checks.that(wine.window(MAIN_TITLE)["enabled"], "the main window takes input again")

    # F1 wherever the focus is in the main window: here on the selector.
    wine.probe("help-key", MAIN_CLASS, MAIN_TITLE, MAIN["Combox"])
    checks.that(wine.probe("wait-window", MAIN_CLASS, ABOUT_TITLE, WINDOW_LIMIT_MS).get("found"),
                "F1 opens the About window")
    wine.click(ABOUT_TITLE, ABOUT["Command1"])
    checks.that(wine.probe("wait-gone", MAIN_CLASS, ABOUT_TITLE, WINDOW_LIMIT_MS)["gone"],
                "关闭 closes it again")
    check_windows_destroyed_once(checks, wine, log)
