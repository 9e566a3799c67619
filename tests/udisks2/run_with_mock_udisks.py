#!/usr/bin/env python3
"""Runs the UDisks2 client's test program against mock_udisks2.py.

Usage: run_with_mock_udisks.py TEST_PROGRAM

The mock owns UDisks2's name on a private system bus. The test program finds
in TRAYVO_TEST_* variables the other buses it tries: a private session bus
where the name is only activatable, by a stand-in that leaves a marker file
when started; a bus daemon stopped with SIGSTOP; and two sockets that are no
bus at all, one taking connections and never answering, one hanging up on
each. After the run this shows that activation on the idle bus would leave
the marker, without which the marker's absence would prove nothing. Exits
with the test program's status.
"""

import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
from pathlib import Path

import dbus
from dbusmock import DBusTestCase

UDISKS = 'org.freedesktop.UDisks2'
# Bounds the run; ctest's own timeout is longer, so that this cleans up.
TEST_TIMEOUT_S = 90


def mute_socket(path, hang_up):
    """A socket that takes every connection and then never answers, or hangs
    up at once; its address. Served from a thread that ends with us."""
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(str(path))
    listener.listen()
    held = []

    def serve():
        while True:
            connection, _ = listener.accept()
            if hang_up:
                connection.close()
            else:
                held.append(connection)

    threading.Thread(target=serve, daemon=True).start()
    return f'unix:path={path}'


def activation_leaves(marker):
    try:
        DBusTestCase.get_dbus().call_blocking('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                                              'StartServiceByName', 'su', (UDISKS, dbus.UInt32(0)))
    except dbus.exceptions.DBusException:
        pass  # the stand-in fails at once, on purpose
    return marker.exists()


def run(test, scratch):
    marker = scratch / 'activated'
    DBusTestCase.start_session_bus()
    DBusTestCase.start_system_bus()
    # Failing at once gets the caller its answer at once: a stand-in that
    # just ended would leave the bus waiting for it to take the name. Written
    # once the bus runs, which dbusmock 0.34 requires; the bus reads its
    # service folder again when asked for a name it does not know.
    Path(DBusTestCase.get_services_dir(), f'{UDISKS}.service').write_text(
        f"[D-BUS Service]\nName={UDISKS}\nExec=/bin/sh -c 'touch {marker}; exit 1'\n")
    mock, _ = DBusTestCase.spawn_server_template(str(Path(__file__).with_name('mock_udisks2.py')),
                                                 stdout=subprocess.DEVNULL)
    stopped, stopped_address = DBusTestCase.start_dbus()
    os.kill(stopped, signal.SIGSTOP)
    try:
        environment = dict(os.environ,
                           TRAYVO_TEST_IDLE_BUS=os.environ['DBUS_SESSION_BUS_ADDRESS'],
                           TRAYVO_TEST_ACTIVATION_MARKER=str(marker),
                           TRAYVO_TEST_NO_BUS=f'unix:path={scratch / "no-bus-here"}',
                           TRAYVO_TEST_STOPPED_BUS=stopped_address,
                           TRAYVO_TEST_SILENT_BUS=mute_socket(scratch / 'silent', hang_up=False),
                           TRAYVO_TEST_HANGUP_BUS=mute_socket(scratch / 'hang-up', hang_up=True))
        status = subprocess.run(test, env=environment, timeout=TEST_TIMEOUT_S, check=False).returncode
        if not activation_leaves(marker):
            print('the idle bus cannot show activation: no marker after starting the stand-in', file=sys.stderr)
            return 1
        return status
    finally:
        os.kill(stopped, signal.SIGCONT)  # a stopped daemon would not heed the next
        DBusTestCase.stop_dbus(stopped)
        mock.terminate()
        mock.wait()


def main():
    # A ctest timeout ends us with SIGTERM; the buses and the mock go with us.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    with tempfile.TemporaryDirectory(prefix='trayvo-udisks2-') as scratch:
        try:
            return run(sys.argv[1:], Path(scratch))
        finally:
            DBusTestCase.tearDownClass()


if __name__ == '__main__':
    sys.exit(main())
