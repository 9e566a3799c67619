"""The program as a screen reader reads it through AT-SPI: each control says
what it is and which label names it, the pictures are named, the two link
labels are links whose action does what a click does, F1 opens About, and a
change of the status line comes as a change of that label's text. On
Wayland the window comes up with its title and desktop-file id, and reads
the same as on X."""

import os
import re
import subprocess
import time
from collections import namedtuple

import pyatspi

from conftest import APP_NAME, ACTION_LIMIT_S, pump, wait_for, windows

ABOUT_TITLE = "关于 Trayvo"


# role is compared as pyatspi's constant: its names differ between releases.
Node = namedtuple("Node", "depth role name description labelled_by label_for actions focusable accessible")


def related(accessible, relation):
    return tuple(target.name for found in accessible.getRelationSet() if found.getRelationType() == relation
                 for target in (found.getTarget(i) for i in range(found.getNTargets())))


def actions(accessible):
    try:
        action = accessible.queryAction()
    except NotImplementedError:
        return ()
    return tuple(action.getName(i) for i in range(action.nActions))


def outline(accessible, depth=0):
    """Every object under accessible, in the tree's order."""
    states = accessible.getState()
    nodes = [Node(depth, accessible.getRole(), accessible.name, accessible.description,
                  related(accessible, pyatspi.RELATION_LABELLED_BY), related(accessible, pyatspi.RELATION_LABEL_FOR),
                  actions(accessible),
                  # The selector's own list is focusable only while it is dropped down.
                  states.contains(pyatspi.STATE_FOCUSABLE) and states.contains(pyatspi.STATE_SHOWING),
                  accessible)]
    for child in accessible:
        nodes += outline(child, depth + 1)
    return nodes


def by_name(nodes):
    return {node.name: node for node in nodes}


def as_text(nodes):
    """What the tree says, without where things are drawn."""
    return [f"{'  ' * node.depth}{node.accessible.getRoleName()} {node.name!r} {node.description!r} labelled-by {node.labelled_by} "
            f"label-for {node.label_for} {node.actions}{' focusable' if node.focusable else ''}" for node in nodes]


def act(node):
    """Performs a link's or a button's one action; returns how long the call took."""
    started = time.monotonic()
    assert node.accessible.queryAction().doAction(0), f"{node.name}: the action was refused"
    return time.monotonic() - started


def close_about(program, about):
    act(by_name(about)["关闭"])
    wait_for("About closed", lambda: not windows(program.app, ABOUT_TITLE))


def check_main_window(nodes):
    assert (nodes[0].role, nodes[0].name) == (pyatspi.ROLE_FRAME, APP_NAME)
    named = by_name(nodes)
    assert named["检测到可用的光驱设备："].label_for == ("0个",)
    assert named["0个"].labelled_by == ("检测到可用的光驱设备：",)
    [selector] = [node for node in nodes if node.role == pyatspi.ROLE_COMBO_BOX]
    # Qt names a selector by its label while it holds nothing, by its item after.
    assert (selector.name, selector.labelled_by) == ("请选择光驱设备：", ("请选择光驱设备：",))
    assert named["程序发现，当前计算机\n没有可用的光驱设备。"].labelled_by == ("状态：",)
    assert named["装有文件的文件夹"].role == pyatspi.ROLE_IMAGE
    assert [node.role for node in nodes if node.role in (pyatspi.ROLE_FILLER, pyatspi.ROLE_SEPARATOR)] == [pyatspi.ROLE_SEPARATOR]
    about = named["关于"]
    # One action, whatever name the toolkit gives it; performed below.
    assert (about.role, about.description, len(about.actions)) == (pyatspi.ROLE_LINK, "点击查看信息", 1)
    assert [(node.role, node.name) for node in nodes if node.focusable] == [
        (pyatspi.ROLE_COMBO_BOX, "请选择光驱设备："), (pyatspi.ROLE_PUSH_BUTTON, "弹出仓门"),
        (pyatspi.ROLE_PUSH_BUTTON, "关闭仓门"), (pyatspi.ROLE_PUSH_BUTTON, "打开目录")]


def test_main_and_about_windows_as_a_screen_reader_reads_them(x_display, program_on):
    program = program_on(x_display)
    main = outline(program.window(APP_NAME))
    print("\n".join(as_text(main)))
    check_main_window(main)

    # About is modal: the action must return before it closes, and the
    # waiting main window's link does nothing meanwhile.
    assert act(by_name(main)["关于"]) < ACTION_LIMIT_S / 2
    about = outline(program.window(ABOUT_TITLE))
    act(by_name(main)["关于"])
    pump(1)
    assert len(windows(program.app, ABOUT_TITLE)) == 1
    print("\n".join(as_text(about)))
    assert about[0].role == pyatspi.ROLE_DIALOG
    named = by_name(about)
    assert named["托盘里放着光盘的 DVD 光驱"].role == pyatspi.ROLE_IMAGE
    site = named["\u3000\u3000同时欢迎您访问《Quenbrook》"]
    assert (site.role, site.description, len(site.actions)) == (pyatspi.ROLE_LINK, "Velmoor个人工作室的软件网站《Quenbrook》", 1)
    act(site)
    wait_for("the opener started", program.opener_starts)
    pump(1)
    assert program.opener_starts() == ["https://quenbrook.example/"]
    close_about(program, about)

    # F1, as the keyboard gives it to the main window.
    subprocess.run(["xdotool", "search", "--sync", "--name", f"^{APP_NAME}$", "windowfocus", "--sync", "key", "F1"],
                   env={"DISPLAY": x_display["DISPLAY"]}, check=True, timeout=ACTION_LIMIT_S)
    close_about(program, outline(program.window(ABOUT_TITLE)))


def test_a_status_line_change_comes_as_its_text_changing(x_display, program_on):
    changes = []

    def heard(event):
        changes.append((event.type, event.any_data, event.source))

    # Listening before the program starts, which then knows of it from the start.
    pyatspi.Registry.registerEventListener(heard, "object:text-changed")
    try:
        program = program_on(x_display, [os.environ["TRAYVO_FAKE_DRIVE_PROGRAM"]])
        [status] = [node for node in outline(program.window(APP_NAME)) if node.labelled_by == ("状态：",)]
        assert status.name == "光驱设备有可用光盘。"
        program.tell("take-out")
        wait_for("the status line's text changing", lambda: [
            change for change in changes if change[:2] == ("object:text-changed:insert", "光驱设备中没有光盘。")])
    finally:
        pyatspi.Registry.deregisterEventListener(heard, "object:text-changed")
    # Those of the load, should they come, before.
    status_changes = [change[:2] for change in changes if change[2] == status.accessible]
    assert status_changes[-2:] == [("object:text-changed:delete", "光驱设备有可用光盘。"),
                              ("object:text-changed:insert", "光驱设备中没有光盘。")]


def test_on_wayland_the_window_comes_up_named_and_reads_as_on_x(x_display, wayland_display, program_on, tmp_path):
    on_x = as_text(outline(program_on(x_display).window(APP_NAME)))
    on_wayland = as_text(outline(program_on(wayland_display).window(APP_NAME)))
    assert on_wayland == on_x
    # The compositor's own record of what the program asked of it: a
    # toplevel with the title and id, shown with a buffer.
    wait_for("the window's first frame", lambda: re.search(
        r"set_title\(\"Trayvo2010\"\).*set_app_id\(\"example\.quenbrook\.Trayvo2010\"\).*attach\(wl_buffer.*commit\(\)",
        (tmp_path / "protocol.log").read_text(), re.S))
