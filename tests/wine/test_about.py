"""The About window, opened by the main window's link as a screen reader
works it and by F1, with its link to the maker's site; and the program's
windows destroyed once each when it ends."""

import os
import re
import time
from pathlib import Path

from conftest import MAIN, MAIN_TITLE, WS_MINIMIZEBOX, WS_SYSMENU, controls, wait_until
from drawing import check_drawn, check_texts_render

ABOUT_TITLE = "关于 Trayvo"
ABOUT = {"Command1": 1000, "Label1": 1001, "Label2": 1002, "Label3": 1003, "Label4": 1004, "Image1": 1005}
SPACES = "\u3000\u3000"
ABOUT_TEXTS = {
    "Label1": "Trayvo2010",
    "Label2": "内部版本号:V3",
    "Label3": SPACES + "感谢您使用Trayvo。\r\n" + SPACES + "软件为免费软件，如果您觉得好用，请推荐给您的朋友们。",
    "Label4": SPACES + "同时欢迎您访问《Quenbrook》",
    "Command1": "关闭",
}
# MSAA's link role and linked state (oleacc.h), and a link's default action.
LINK = (0x1E, 0x400000, "单击")
# An action that waited for the About window to close would hold the caller.
ACTION_LIMIT_MS = 2000


def follow_link(wine, window, title, control_id):
    """The link as a screen reader reads it, then its default action, which
    must return at once."""
    link = controls(window)[control_id]
    assert (link.get("role"), (link.get("state") or 0) & LINK[1], link.get("defaultAction")) == LINK, "read as a link to click"
    done = wine.act(title, control_id, "default-action")
    assert done["done"] and done["ms"] < ACTION_LIMIT_MS, f"the link's default action: {done}"


def close_about(wine):
    wine.act(ABOUT_TITLE, ABOUT["Command1"], "click")
    assert wine.gone(ABOUT_TITLE), "关闭 closes the About window"
    assert wine.window()["enabled"], "the main window takes input again"


LOADED = re.compile(r'^([0-9a-f]+):trace:loaddll:\S+ Loaded L"[^"]*\\Trayvo2010\.exe"', re.M)


def destroyed_windows(log):
    """The program's DestroyWindow calls, from Wine's relay trace: each
    window handle with whether the call found the window. The program's one
    thread is the one that loaded it; other programs of the run trace too."""
    text = log.read_text(errors="replace")
    loaded = LOADED.search(text)
    assert loaded, "Wine's trace does not show the program loaded"
    thread = loaded[1]
    calls = re.findall(rf"^{thread}:Call user32\.DestroyWindow\(([0-9a-f]+)\)", text, re.M)
    results = re.findall(rf"^{thread}:Ret  user32\.DestroyWindow\(\) retval=([0-9a-f]+)", text, re.M)
    return [(window, int(result, 16) != 0) for window, result in zip(calls, results)]


def test_about(wine):
    log = wine.run / "about.log"
    wine.trace_only("user32.DestroyWindow")
    main = wine.start_program(debug_channels="+relay,+loaddll", log_name=log.name)
    named = controls(main)
    # The selector's role is Windows' own object's, which Wine gives as a mere client.
    assert (named[MAIN["Image1"]]["name"], named[MAIN["Combox"]]["name"]) == ("装有文件的文件夹", "请选择光驱设备：")
    follow_link(wine, main, MAIN_TITLE, MAIN["Label7"])

    about = wine.wait_window(ABOUT_TITLE)
    assert about["found"], "关于 opens the About window"
    assert not wine.act(MAIN_TITLE, MAIN["Label7"], "default-action")["done"], "the waiting main window's link is idle"
    assert about["style"] & (WS_MINIMIZEBOX | WS_SYSMENU) == WS_SYSMENU, "About can be closed, not minimized away"
    by_id = controls(about)
    assert {name: by_id[ABOUT[name]]["text"] for name in ABOUT_TEXTS} == ABOUT_TEXTS
    check_texts_render(about)
    assert not wine.window()["enabled"], "the main window waits while About is open"
    screen = wine.screen()
    screen.crop(about["rect"]).save(Path(os.environ["TRAYVO_ARTIFACTS"]) / "wine-about-window.png")
    check_drawn(screen, about, ABOUT, ABOUT["Image1"], ABOUT["Label4"], underlined=False)

    # The site link's browser is the stub, which writes down what it opens.
    assert by_id[ABOUT["Image1"]]["name"] == "托盘里放着光盘的 DVD 光驱"
    follow_link(wine, about, ABOUT_TITLE, ABOUT["Label4"])
    browser_log = Path(os.environ["TRAYVO_BROWSER_LOG"])
    wait_until(browser_log.exists, bool)
    time.sleep(0.5)  # lets a browser started twice show it
    assert browser_log.read_text().splitlines() == ["https://quenbrook.example/"], "the maker's site, once"
    close_about(wine)

    # F1 wherever the focus is in the main window: here on the selector.
    wine.act(MAIN_TITLE, MAIN["Combox"], "help-key")
    assert wine.wait_window(ABOUT_TITLE)["found"], "F1 opens the About window"
    close_about(wine)

    # Closed, the main window ends the program. Neither it nor the About
    # window leaves a handle to be destroyed a second time: a dead handle's
    # number may by then name another window.
    wine.act(MAIN_TITLE, 0, "close")
    assert wine.processes[-1].wait(timeout=20) == 0, "closing the main window ends the program"
    destroyed = destroyed_windows(log)
    # The About window and its tooltip, the main window and its tooltip.
    assert len(destroyed) >= 4 and all(found for _, found in destroyed), f"DestroyWindow calls: {destroyed}"
