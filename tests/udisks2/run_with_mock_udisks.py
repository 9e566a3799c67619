#!/usr/bin/env python3
"""Runs the UDisks2 client's test program against a mock UDisks2.

Usage: run_with_mock_udisks.py TEST_PROGRAM [ARGUMENTS...]

Starts private buses of its own: one where a mock UDisks2 (python3-dbusmock)
owns the service's name; an idle one where the name is only activatable, by a
stand-in that leaves a marker file when started; one whose daemon is stopped
with SIGSTOP; and two sockets that are no bus at all, one taking connections
and never answering, one hanging up on each. The test program finds the first
as its system bus and the rest in TRAYVO_TEST_* variables. It exits with the
test program's status. Every process started here is stopped at the end, and
dies with this one should it be killed first.

Like UDisks2, the mock refuses to unmount what is not mounted and to mount
what is; and it refuses every Unmount or Mount that would ask the user for a
password, which the program must never let happen. After the run it shows
that activation on the idle bus would leave the marker the test program
looks for, without which the marker's absence would prove nothing.

The mock's block devices, by kernel name (the test program knows them by the
same names, and each case uses its own devices, so a run needs a fresh mock):
  sr0  filesystem mounted in two places; Unmount unmounts it
  sr1  filesystem, not mounted
  sr2  filesystem mounted; Unmount fails as busy
  sr3  no filesystem (an audio CD)
  sr4  filesystem, not mounted; Mount mounts it under a label with a space
       and Chinese characters
  sr5  filesystem already mounted
  sr6  filesystem, not mounted; Mount fails
  sr7  as sr4, for the program's folder command
  sr8  as sr2, for the program's tray command
  sr10 filesystem mounted; Unmount unmounts it, for the program's tray command
  sr11 filesystem mounted; its mount points come 3 s late
  sr12 filesystem, not mounted; its mount points and Mount each come 1.2 s
       late, so that only the two together overrun the test's 2 s deadline
"""

import ctypes
import os
import selectors
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import dbus

UDISKS = 'org.freedesktop.UDisks2'
ROOT = '/org/freedesktop/UDisks2'
FILESYSTEM = 'org.freedesktop.UDisks2.Filesystem'
MOCK = 'org.freedesktop.DBus.Mock'

LABEL_MOUNT = '/media/user/数据 光盘'

BUS_CONFIG = '''<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path={socket}</listen>
  <servicedir>{services}</servicedir>
  <policy context="default">
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow own="*"/>
  </policy>
</busconfig>
'''

# Bounds every wait here; the test program's own calls time out well before.
START_TIMEOUT_S = 20
TEST_TIMEOUT_S = 90


def error(name, message):
    """Python for a mock method: fail with UDisks2's error name."""
    return f'raise dbus.exceptions.DBusException({message!r}, name={name!r})'


def set_mount_points(*paths):
    """Python for a mock method: the filesystem is now mounted at paths."""
    points = ', '.join(f'dbus.ByteArray({p.encode()!r} + bytes(1))' for p in paths)
    return f"self.props[{FILESYSTEM!r}]['MountPoints'] = dbus.Array([{points}], signature='ay')"


UNEXPECTED = error('org.freedesktop.UDisks2.Error.Failed', 'not expected by the test')


def late(seconds, code):
    """Python for a mock method: code, run after a delay."""
    return f'time.sleep({seconds})\n{code}'


# Checks at the start of every Unmount and Mount, as UDisks2 makes them.
NO_PROMPT = ("if not args[0].get('auth.no_user_interaction', False):\n    "
             + error('org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain', 'would ask for a password') + "\n")
MOUNTED = f"self.props[{FILESYSTEM!r}]['MountPoints']"
UNMOUNT_CHECKS = NO_PROMPT + f"if not {MOUNTED}:\n    " + error('org.freedesktop.UDisks2.Error.NotMounted', 'not mounted') + "\n"
MOUNT_CHECKS = NO_PROMPT + f"if {MOUNTED}:\n    " + error('org.freedesktop.UDisks2.Error.AlreadyMounted', 'already mounted') + "\n"


def mount_points(*paths):
    return dbus.Array([dbus.ByteArray(p.encode() + b'\0') for p in paths], signature='ay')


def die_with_parent():
    libc = ctypes.CDLL(None, use_errno=True)
    pr_set_pdeathsig = 1
    libc.prctl(pr_set_pdeathsig, signal.SIGTERM)


def start(argv, **kwargs):
    # pylint: disable=consider-using-with
    return subprocess.Popen(argv, preexec_fn=die_with_parent, **kwargs)


def start_bus(directory, processes):
    """A dbus-daemon on a socket in directory; its address, once it takes
    connections. The socket file comes before that: the daemon prints its
    address only when it listens."""
    directory.mkdir()
    services = directory / 'services'
    services.mkdir()
    config = directory / 'bus.conf'
    config.write_text(BUS_CONFIG.format(socket=directory / 'socket', services=services))
    daemon = start(['dbus-daemon', '--nofork', '--nopidfile', '--print-address', f'--config-file={config}'],
                   stdout=subprocess.PIPE)
    processes.append(daemon)
    with selectors.DefaultSelector() as selector:
        selector.register(daemon.stdout, selectors.EVENT_READ)
        if not selector.select(START_TIMEOUT_S):
            raise RuntimeError(f'dbus-daemon for {directory} did not start')
    address = daemon.stdout.readline().decode().strip()
    if not address:
        raise RuntimeError(f'dbus-daemon for {directory} ended without an address')
    return address


def start_mute_socket(path, hang_up):
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


def start_mock(address, processes):
    environment = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address)
    processes.append(start([sys.executable, '-m', 'dbusmock', '--system', UDISKS, ROOT,
                            'org.freedesktop.UDisks2.Manager'],
                           env=environment, stdout=subprocess.DEVNULL))
    bus = dbus.bus.BusConnection(address)
    deadline = time.monotonic() + START_TIMEOUT_S
    while not bus.name_has_owner(UDISKS):
        if processes[-1].poll() is not None or time.monotonic() > deadline:
            raise RuntimeError('the mock UDisks2 did not start')
        time.sleep(0.05)
    return bus


def add_filesystem(mock, name, mounted_at=(), unmount=UNEXPECTED, mount=UNEXPECTED):
    mock.AddObject(f'{ROOT}/block_devices/{name}', FILESYSTEM,
                   {'MountPoints': mount_points(*mounted_at)},
                   [('Unmount', 'a{sv}', '', UNMOUNT_CHECKS + unmount), ('Mount', 'a{sv}', 's', MOUNT_CHECKS + mount)])


def add_block_devices(bus):
    mock = mock_object(bus, ROOT)
    add_filesystem(mock, 'sr0', mounted_at=('/media/user/DISC', '/mnt/disc'),
                   unmount=set_mount_points())
    add_filesystem(mock, 'sr1')
    add_filesystem(mock, 'sr2', mounted_at=('/media/user/BUSY',),
                   unmount=error('org.freedesktop.UDisks2.Error.DeviceBusy', 'target is busy'))
    add_filesystem(mock, 'sr10', mounted_at=('/media/user/FREE',), unmount=set_mount_points())
    mock.AddObject(f'{ROOT}/block_devices/sr3', 'org.freedesktop.UDisks2.Block',
                   {'Device': dbus.ByteArray(b'/dev/sr3\0')}, [])
    add_filesystem(mock, 'sr4', mount=f'{set_mount_points(LABEL_MOUNT)}\nret = {LABEL_MOUNT!r}')
    add_filesystem(mock, 'sr5', mounted_at=('/media/user/OLD DISC',))
    add_filesystem(mock, 'sr6', mount=error('org.freedesktop.UDisks2.Error.Failed', 'bad superblock'))
    add_filesystem(mock, 'sr7', mount=f'{set_mount_points(LABEL_MOUNT)}\nret = {LABEL_MOUNT!r}')
    add_filesystem(mock, 'sr8', mounted_at=('/media/user/BUSY',),
                   unmount=error('org.freedesktop.UDisks2.Error.DeviceBusy', 'target is busy'))
    # Properties.Get of these two objects is their own, answering late.
    properties = 'org.freedesktop.DBus.Properties'
    answer_late = f"ret = self.props[{FILESYSTEM!r}]['MountPoints']"
    add_filesystem(mock, 'sr11', mounted_at=('/media/user/LATE',), unmount=set_mount_points())
    mock_object(bus, f'{ROOT}/block_devices/sr11').AddMethod(properties, 'Get', 'ss', 'v', late(3, answer_late))
    add_filesystem(mock, 'sr12', mount=late(1.2, f"{set_mount_points('/media/user/LATE')}\nret = '/media/user/LATE'"))
    mock_object(bus, f'{ROOT}/block_devices/sr12').AddMethod(properties, 'Get', 'ss', 'v', late(1.2, answer_late))


def mock_object(bus, path):
    return dbus.Interface(bus.get_object(UDISKS, path), MOCK)


def make_activatable(directory, marker):
    # Failing at once gets the caller its answer at once: a stand-in that
    # just ended would leave the bus waiting for it to take the name.
    (directory / 'services' / f'{UDISKS}.service').write_text(
        f"[D-BUS Service]\nName={UDISKS}\nExec=/bin/sh -c 'touch {marker}; exit 1'\n")


def activation_leaves(marker, address):
    """Whether asking the idle bus to start UDisks2 leaves the marker."""
    bus = dbus.bus.BusConnection(address)
    try:
        bus.call_blocking('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                          'StartServiceByName', 'su', (UDISKS, dbus.UInt32(0)))
    except dbus.exceptions.DBusException:
        pass  # the stand-in fails at once, on purpose
    return marker.exists()


def run(argv, scratch, processes):
    mock_address = start_bus(scratch / 'mock-bus', processes)
    add_block_devices(start_mock(mock_address, processes))
    idle_address = start_bus(scratch / 'idle-bus', processes)
    marker = scratch / 'activated'
    make_activatable(scratch / 'idle-bus', marker)
    stopped_address = start_bus(scratch / 'stopped-bus', processes)
    processes[-1].send_signal(signal.SIGSTOP)
    environment = dict(os.environ,
                       DBUS_SYSTEM_BUS_ADDRESS=mock_address,
                       TRAYVO_TEST_IDLE_BUS=idle_address,
                       TRAYVO_TEST_ACTIVATION_MARKER=str(marker),
                       TRAYVO_TEST_NO_BUS=f'unix:path={scratch / "no-bus-here"}',
                       TRAYVO_TEST_STOPPED_BUS=stopped_address,
                       TRAYVO_TEST_SILENT_BUS=start_mute_socket(scratch / 'silent', hang_up=False),
                       TRAYVO_TEST_HANGUP_BUS=start_mute_socket(scratch / 'hang-up', hang_up=True))
    test = start(argv, env=environment)
    processes.append(test)
    try:
        status = test.wait(timeout=TEST_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        print(f'{argv[0]} did not finish in {TEST_TIMEOUT_S} s', file=sys.stderr)
        return 1
    if not activation_leaves(marker, idle_address):
        print('the idle bus cannot show activation: no marker after starting the stand-in', file=sys.stderr)
        return 1
    return status


def stop(processes):
    for process in reversed(processes):
        process.send_signal(signal.SIGCONT)  # a stopped daemon would not heed the next
        process.terminate()
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    processes = []
    # A ctest timeout ends us with SIGTERM; the buses and the mock go with us.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    with tempfile.TemporaryDirectory(prefix='trayvo-udisks-') as scratch:
        try:
            return run(sys.argv[1:], Path(scratch), processes)
        finally:
            stop(processes)


if __name__ == '__main__':
    sys.exit(main())
