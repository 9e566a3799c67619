"""What the accessibility tests run the program on: a virtual X server or a
headless Wayland compositor, with the accessibility bus of the private
session bus they run under (dbus-run-session), as a desktop session has.

The program and the stand-in for the desktop's opener are found through the
environment ctest gives: TRAYVO_PROGRAM and TRAYVO_FAKE_DRIVE_PROGRAM."""

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
        found = condition()
        if found:
            return found
        pump(0.1)
    pytest.fail(f"not within {limit} s: {what}")


def application(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid and app.childCount > 0:
            return app
    return None


def windows(app, name):
    return [window for window in app if window is not None and window.name == name]


class Program:
    def __init__(self, command, env, directory):
        directory.mkdir()
        self.opened = directory / "opened"
        # The desktop's opener, first on PATH: records each start.
        bin_dir = directory / "bin"
        bin_dir.mkdir()
        opener = bin_dir / "xdg-open"
        opener.write_text(f'#!/bin/sh\necho "$@" >> {self.opened}\n')
        opener.chmod(0o755)
        env = dict(env, PATH=f"{bin_dir}:{os.environ['PATH']}", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        self.log = directory / "program.log"
        self.process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, text=True,
                                        stdout=self.log.open("w"), stderr=subprocess.STDOUT)
        self.app = wait_for("the program on the accessibility bus",
                            lambda: self.process.poll() is None and application(self.process.pid), START_LIMIT_S)

    def window(self, name):
        return wait_for(f"a window named {name}", lambda: (windows(self.app, name) or [None])[0])

    def opener_starts(self):
        return self.opened.read_text().splitlines() if self.opened.exists() else []

    def tell(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def start_server(command, tmp_path, name):
    log = (tmp_path / f"{name}.log").open("w")
    return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=log, text=True)


@pytest.fixture
def x_display(tmp_path):
    """A virtual X server of its own; -displayfd picks a free display."""
    server = start_server(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                          tmp_path, "xvfb")
    number = server.stdout.readline().strip()
    if not number:
        server.wait()
        pytest.fail(f"Xvfb did not start: {(tmp_path / 'xvfb.log').read_text()}")
    yield {"DISPLAY": f":{number}", "QT_QPA_PLATFORM": "xcb"}
    server.terminate()
    server.wait()


@pytest.fixture
def wayland_display(tmp_path):
    """weston on its headless backend, with its protocol log taken from its
    own debug scope: what the program asked the compositor for."""
    # Under /tmp: a socket's path may hold 107 bytes at most, and the build
    # tree may lie deep.
    runtime = tempfile.TemporaryDirectory(prefix="trayvo-wayland-")
    runtime_dir = Path(runtime.name)
    env = dict(os.environ, XDG_RUNTIME_DIR=str(runtime_dir))
    env.pop("DISPLAY", None)
    log = (tmp_path / "weston.log").open("w")
    compositor = subprocess.Popen(["weston", "--backend=headless-backend.so", "--socket=trayvo-test", "--debug",
                                   "--idle-time=0"], env=env, stdout=log, stderr=subprocess.STDOUT)
    socket = runtime_dir / "trayvo-test"
    wait_for("weston's socket", lambda: socket.exists() or compositor.poll() is not None, START_LIMIT_S)
    if compositor.poll() is not None:
        pytest.fail(f"weston did not start: {(tmp_path / 'weston.log').read_text()}")
    env["WAYLAND_DISPLAY"] = "trayvo-test"
    protocol_log = tmp_path / "protocol.log"
    protocol = subprocess.Popen(["weston-debug", "proto"], env=env, stdout=protocol_log.open("w"),
                                stderr=subprocess.STDOUT)
    yield {"XDG_RUNTIME_DIR": str(runtime_dir), "WAYLAND_DISPLAY": "trayvo-test", "QT_QPA_PLATFORM": "wayland",
           "protocol_log": protocol_log}
    for process in (protocol, compositor):
        process.terminate()
        process.wait()
    runtime.cleanup()


def run_program(command, display, directory):
    env = {key: value for key, value in os.environ.items() if key not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update({key: value for key, value in display.items() if isinstance(value, str)})
    return Program(command, env, directory)


@pytest.fixture
def program_on(tmp_path):
    """Starts the real program on a display's environment; stops it after."""
    started = []

    def start(display, command=None):
        directory = tmp_path / f"program{len(started)}"
        started.append(run_program(command or [os.environ["TRAYVO_PROGRAM"]], display, directory))
        return started[-1]

    yield start
    for program in started:
        program.stop()
