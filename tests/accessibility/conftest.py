"""What the accessibility tests run the program on: a virtual X server or a
headless Wayland compositor, with the accessibility bus of the private
session bus they run under (dbus-run-session), as a desktop session has.
ctest names the programs: TRAYVO_PROGRAM and TRAYVO_FAKE_DRIVE_PROGRAM."""

import os
import subprocess
import tempfile
import time
from pathlib import Path

import pyatspi
import pytest
from gi.repository import GLib

START_LIMIT_S = 30
ACTION_LIMIT_S = 10
APP_NAME = "Trayvo2010"


def pump(seconds):
    """Lets pyatspi's events in for a while."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if not context.iteration(False):
            time.sleep(0.02)


def wait_for(what, condition, limit=ACTION_LIMIT_S):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if found := condition():
            return found
        pump(0.1)
    pytest.fail(f"not within {limit} s: {what}")


def windows(app, name):
    return [window for window in app if window is not None and window.name == name]


class Program:
    """The program on a display, with the desktop's opener replaced by one
    that records each start."""

    def __init__(self, command, display, directory):
        directory.mkdir()
        self.opened = directory / "opened"
        opener = directory / "xdg-open"
        opener.write_text(f'#!/bin/sh\necho "$@" >> {self.opened}\n')
        opener.chmod(0o755)
        env = {key: value for key, value in os.environ.items() if key not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(display, PATH=f"{directory}:{os.environ['PATH']}", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        self.process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, text=True,
                                        stdout=(directory / "program.log").open("w"), stderr=subprocess.STDOUT)
        self.app = wait_for("the program on the accessibility bus", lambda: self.process.poll() is None and next(
            (app for app in pyatspi.Registry.getDesktop(0)
             if app is not None and app.get_process_id() == self.process.pid and app.childCount > 0), None),
            START_LIMIT_S)

    def window(self, name):
        return wait_for(f"a window named {name}", lambda: (windows(self.app, name) or [None])[0])

    def opener_starts(self):
        return self.opened.read_text().splitlines() if self.opened.exists() else []

    def tell(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()


@pytest.fixture
def x_display(tmp_path):
    """A virtual X server of its own; -displayfd picks a free display."""
    server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                              stdout=subprocess.PIPE, stderr=(tmp_path / "xvfb.log").open("w"), text=True)
    number = server.stdout.readline().strip()
    if not number:
        pytest.fail(f"Xvfb did not start: {(tmp_path / 'xvfb.log').read_text()}")
    yield {"DISPLAY": f":{number}", "QT_QPA_PLATFORM": "xcb"}
    server.terminate()
    server.wait()


@pytest.fixture
def wayland_display(tmp_path):
    """weston on its headless backend, with its protocol log taken from its
    own debug scope (tmp_path/protocol.log): what the program asked of it."""
    # Under /tmp: a socket's path may hold 107 bytes at most, and the build
    # tree may lie deep.
    with tempfile.TemporaryDirectory(prefix="trayvo-wayland-") as runtime_dir:
        display = {"XDG_RUNTIME_DIR": runtime_dir, "WAYLAND_DISPLAY": "trayvo-test", "QT_QPA_PLATFORM": "wayland"}
        env = {key: value for key, value in os.environ.items() if key != "DISPLAY"} | display
        log = tmp_path / "weston.log"
        compositor = subprocess.Popen(["weston", "--backend=headless-backend.so", "--socket=trayvo-test", "--debug",
                                       "--idle-time=0"], env=env, stdout=log.open("w"), stderr=subprocess.STDOUT)
        socket = Path(runtime_dir, "trayvo-test")
        wait_for("weston's socket", lambda: socket.exists() or compositor.poll() is not None, START_LIMIT_S)
        if compositor.poll() is not None:
            pytest.fail(f"weston did not start: {log.read_text()}")
        protocol = subprocess.Popen(["weston-debug", "proto"], env=env,
                                    stdout=(tmp_path / "protocol.log").open("w"), stderr=subprocess.STDOUT)
        yield display
        for process in (protocol, compositor):
            process.terminate()
            process.wait()


@pytest.fixture
def program_on(tmp_path):
    """Starts the real program, or another command, on a display; stops it after."""
    started = []

    def start(display, command=None):
        started.append(Program(command or [os.environ["TRAYVO_PROGRAM"]], display, tmp_path / f"program{len(started)}"))
        return started[-1]

    yield start
    for program in started:
        program.process.kill()
        program.process.wait()
