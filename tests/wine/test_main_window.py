"""The main window as its users meet it: its texts, drawing and disc watch;
its drive list following drives that come and go; its tray buttons seen
arriving in Wine's MCI; its folder button starting Wine's explorer, never
one planted beside the program; and an error's message while another program
is in front."""

import os
import re
import shutil
from pathlib import Path

from conftest import MAIN, MAIN_CLASS, MAIN_TITLE, WS_MINIMIZEBOX, controls, wait_until
from drawing import check_drawn, check_texts_render, color_of, pixels, share

# What the user must read, written out here rather than taken from the
# program's sources, so that a changed text shows.
DISC_PRESENT = "光驱设备有可用光盘。"
NO_DISC = "光驱设备中没有光盘。"
NO_DRIVE = "程序发现，当前计算机\r\n没有可用的光驱设备。"
CAPTIONS = {
    "Label1": "检测到可用的光驱设备：", "Label4": "状态：", "Command1": "弹出仓门", "Command2": "关闭仓门",
    "Command3": "打开目录", "Label6": "Velmoor个人工作室 o(∩_∩)o", "Label7": "关于",
}
BUTTONS = ("Command1", "Command2", "Command3")
# The disc watch asks once a second.
DISC_LIMIT_S = 5


def drives_shown(window):
    """What the main window shows of the drives: count, list, chosen drive,
    status and whether its buttons work."""
    by_id = controls(window)
    combo = by_id[MAIN["Combox"]]
    items = combo["items"]
    chosen = items[combo["selected"]] if 0 <= combo["selected"] < len(items) else None
    return (by_id[MAIN["numofCDROM"]]["text"], items, chosen, by_id[MAIN["CDROMstatus"]]["text"],
            all(by_id[MAIN[name]]["enabled"] for name in BUTTONS))


def test_main_window(wine):
    window = wine.start_program()
    by_id = controls(window)
    assert window["style"] & WS_MINIMIZEBOX, "the main window can be minimized"
    assert {name: by_id[MAIN[name]]["text"] for name in CAPTIONS} == CAPTIONS
    assert drives_shown(window) == ("1个", ["D:\\"], "D:\\", DISC_PRESENT, True)
    check_texts_render(window)

    screen = wine.screen()
    screen.crop(window["rect"]).save(Path(os.environ["TRAYVO_ARTIFACTS"]) / "wine-main-window.png")
    check_drawn(screen, window, MAIN, MAIN["Image1"], MAIN["Label7"], underlined=True)
    face = color_of(window["face"])
    inside = [c["rect"] for c in window["controls"] if c["id"] != MAIN["Frame1"]]
    interior = pixels(screen, by_id[MAIN["Frame1"]]["rect"], inset=10, leave_out=inside)
    face_share, black_share = share(interior, lambda p: p == face), share(interior, lambda p: max(p) < 64)
    assert face_share > 0.95 and black_share < 0.01, "the frame's inside shows the form's face, nothing black"

    status = lambda: controls(wine.window())[MAIN["CDROMstatus"]]["text"]
    away = wine.disc.with_name("disc.away")
    wine.disc.rename(away)
    try:
        assert wait_until(status, lambda text: text == NO_DISC, DISC_LIMIT_S) == NO_DISC, "with the disc away"
    finally:
        away.rename(wine.disc)
    assert wait_until(status, lambda text: text == DISC_PRESENT, DISC_LIMIT_S) == DISC_PRESENT, "with it back"


def test_drives(wine):
    """Drive letters made and retyped by Wine's mount manager while the
    program runs, each followed by the notice Windows sends its windows: the
    list follows, the chosen drive stays while it remains, the no-drive state
    comes and goes."""
    wine.start_program()
    other = wine.run / "other-disc"
    other.mkdir()

    assert wine.probe("define-drive", "E", "cdrom", other)["defined"]
    assert drives_shown(wine.window())[0] == "1个", "until the system's notice, the window keeps its list"
    steps = [
        ("E", None, None, "arrival", ("2个", ["D:\\", "E:\\"], "D:\\", DISC_PRESENT, True)),
        ("D", "none", "", "removal", ("1个", ["E:\\"], "E:\\", DISC_PRESENT, True)),
        # A stick taking E: leaves no drive.
        ("E", "removable", other, "arrival", ("0个", [], None, NO_DRIVE, False)),
        ("D", "cdrom", wine.disc, "arrival", ("1个", ["D:\\"], "D:\\", DISC_PRESENT, True)),
    ]
    for letter, kind, path, event, expected in steps:
        assert not kind or wine.probe("define-drive", letter, kind, path)["defined"]
        assert wine.probe("device-change", event, letter, MAIN_CLASS, MAIN_TITLE)["sent"], f"no {event} notice sent"
        shown = wait_until(lambda: drives_shown(wine.window()), lambda found: found[0] == expected[0], 5)
        assert shown == expected, f"after the {event} of {letter}: ({kind})"


MCI_CALL = re.compile(r'trace:mci:mciSendStringW \(L"((?:[^"\\]|\\.)*)"')


def mci_strings(log):
    return [re.sub(r"\\(.)", r"\1", found) for found in MCI_CALL.findall(log.read_text(errors="replace"))]


def test_tray(wine):
    log = wine.run / "mci.log"
    wine.start_program(debug_channels="+mci", log_name=log.name)
    assert mci_strings(log) == [], "nothing is sent to MCI before a button is clicked"
    wine.act(MAIN_TITLE, MAIN["Command1"], "click")
    wait_until(lambda: mci_strings(log), lambda sent: len(sent) >= 3)
    wine.act(MAIN_TITLE, MAIN["Command2"], "click")
    assert wait_until(lambda: mci_strings(log), lambda sent: len(sent) >= 6) == [
        "open D:\\ type CDAudio alias nowCD wait", "set nowCD door open wait", "close nowCD",
        "open D:\\ type CDAudio alias nowCD wait", "set nowCD door closed wait", "close nowCD"]
    assert drives_shown(wine.window()) == ("1个", ["D:\\"], "D:\\", DISC_PRESENT, True), "after the tray commands"


def explorer_titles(wine):
    """The titles of Wine's explorer windows: this prefix's only."""
    window = wine.window("", "ExplorerWClass")
    return [window["title"]] if window["found"] and window["visible"] else []


def test_folder(wine):
    """The program runs from a folder, also the current one, where someone has
    left an explorer.exe of their own: 打开目录 must start the system's."""
    downloads = wine.run / "Downloads"
    downloads.mkdir()
    planted = Path(shutil.copy(os.environ["TRAYVO_PLANTED_EXPLORER"], downloads / "explorer.exe"))
    planted_ran = downloads / "planted-explorer-ran.txt"
    wine.start_program(folder=downloads)
    assert explorer_titles(wine) == [], "no explorer before the click"
    wine.act(MAIN_TITLE, MAIN["Command3"], "click")
    titles = wait_until(lambda: explorer_titles(wine), lambda found: found or planted_ran.exists())
    assert not planted_ran.exists(), "the explorer.exe planted beside the program never runs"
    assert any(title.strip().endswith("(D:)") for title in titles), "Wine's explorer on D:\\"
    assert wine.window()["enabled"], "the main window takes input after starting it"
    # Without this, the planted one's silence above would prove nothing.
    wine.wine(planted, "D:\\")
    assert planted_ran.exists(), "the planted explorer.exe leaves its record when it does run"


def test_message(wine):
    """An error while another program is in front: its message belongs to the
    main window, which takes no clicks until the message is answered."""
    # Without the system's explorer, 打开目录 cannot start it.
    explorer = Path(os.environ["WINEPREFIX"]) / "drive_c" / "windows" / "explorer.exe"
    explorer.rename(explorer.with_name("explorer.exe.away"))
    wine.start_program()
    wine.start(["notepad"])
    notepad = lambda: wine.window("", "Notepad").get("foreground")
    assert wait_until(notepad, bool), "another program is in front"
    # Told of the click without one, which would bring the program to the front.
    wine.act(MAIN_TITLE, MAIN["Command3"], "notify")
    box = wine.wait_window(MAIN_TITLE, "#32770")
    assert ([c["text"] for c in box["controls"] if c["class"] == "Static" and c["text"]], box["owner"]) == (
        ["无法打开光驱设备 D:\\ 的目录。"], f"{MAIN_CLASS}|{MAIN_TITLE}"), "the main window's error message"
    assert not wine.window()["enabled"], "the main window takes no clicks while the message waits"
    wine.act(MAIN_TITLE, 1, "click", "#32770")  # IDOK
    assert wine.gone(MAIN_TITLE, "#32770"), "OK closes the message"
    assert wine.window()["enabled"], "the main window takes input again"
