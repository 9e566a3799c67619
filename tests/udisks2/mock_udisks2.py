"""A UDisks2 for the client's tests: a python3-dbusmock template.

Like UDisks2 (as met in the QEMU test's guest), it refuses to unmount what is
not mounted and to mount what is, takes a filesystem off one mount point per
Unmount, and answers with UDisks2's error names. It also refuses every
Unmount or Mount that would ask the user for a password, which the program
must never let happen; UDisks2 itself would have polkit ask.

Its block devices, by kernel name (each test uses its own, so a run needs a
fresh mock):
  sr0  mounted in two places          sr1  not mounted
  sr2  mounted; Unmount fails as busy, and so for sr8 (the tray command)
  sr3  no filesystem (an audio CD)    sr9  a device UDisks2 does not know
  sr4  not mounted; Mount mounts it under a label with a space and Chinese
       characters, and so for sr7 (the folder command)
  sr5  already mounted                sr6  Mount is refused, as polkit refuses
  sr10 mounted; Unmount unmounts it (the tray command)
  sr11 mounted; its mount points come 3 s late
  sr12 not mounted; its mount points and Mount each come 1.2 s late, so that
       only the two together overrun the test's 2 s deadline
  sr13 mounted by the user and then by someone else, whose mount polkit
       refuses to take off
"""

import time

import dbus
from dbusmock import get_object

SYSTEM_BUS = True
BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
FILESYSTEM = 'org.freedesktop.UDisks2.Filesystem'
LABEL_MOUNT = '/media/user/数据 光盘'


def fail(error, message='refused by the mock'):
    raise dbus.exceptions.DBusException(message, name=f'org.freedesktop.UDisks2.Error.{error}')


def failing(error, message):
    """A mock method's act that fails with UDisks2's error."""
    return lambda _: fail(error, message)


unexpected = failing('Failed', 'not expected by the test')
busy = failing('DeviceBusy', 'target is busy')
refused = failing('NotAuthorizedCanObtain', 'Not authorized to perform operation')


def mount_points(*paths):
    return dbus.Array([dbus.ByteArray(p.encode() + b'\0') for p in paths], signature='ay')


def checked(act, needs_mounted):
    """act behind UDisks2's own checks, as Unmount (needs_mounted) or Mount."""
    def method(self, options):
        if not options.get('auth.no_user_interaction', False):
            refused(self)
        if bool(self.props[FILESYSTEM]['MountPoints']) != needs_mounted:
            fail('NotMounted' if needs_mounted else 'AlreadyMounted')
        return act(self)
    return method


def unmount_first(self):
    """Unmount as UDisks2 does it: off the first mount point only."""
    self.props[FILESYSTEM]['MountPoints'] = dbus.Array(self.props[FILESYSTEM]['MountPoints'][1:], signature='ay')


def unmount_own_only(self):
    if bytes(self.props[FILESYSTEM]['MountPoints'][0]) == b'/mnt/admin\0':
        refused(self)
    unmount_first(self)


def mount_at(path, delay=0.0):
    def act(self):
        time.sleep(delay)
        self.props[FILESYSTEM]['MountPoints'] = mount_points(path)
        return path
    return act


def answer_late(delay):
    def get(self, interface, name):
        time.sleep(delay)
        return self.props[interface][name]
    return get


def add_filesystem(mock, name, mounted_at=(), unmount=unexpected, mount=unexpected, late=0.0):
    path = f'{MAIN_OBJ}/block_devices/{name}'
    mock.AddObject(path, FILESYSTEM, {'MountPoints': mount_points(*mounted_at)}, [])
    device = get_object(path)
    device.AddMethod(FILESYSTEM, 'Unmount', 'a{sv}', '', checked(unmount, True))
    device.AddMethod(FILESYSTEM, 'Mount', 'a{sv}', 's', checked(mount, False))
    if late:
        device.AddMethod(dbus.PROPERTIES_IFACE, 'Get', 'ss', 'v', answer_late(late))


def load(mock, _parameters):
    add_filesystem(mock, 'sr0', mounted_at=('/media/user/DISC', '/mnt/disc'), unmount=unmount_first)
    add_filesystem(mock, 'sr1')
    for busy_device in ('sr2', 'sr8'):
        add_filesystem(mock, busy_device, mounted_at=('/media/user/BUSY',), unmount=busy)
    # sr3 is a block device without the Filesystem interface, whose calls
    # fail; sr9 is no object at all.
    mock.AddObject(f'{MAIN_OBJ}/block_devices/sr3', 'org.freedesktop.UDisks2.Block',
                   {'Device': dbus.ByteArray(b'/dev/sr3\0')}, [])
    for label_device in ('sr4', 'sr7'):
        add_filesystem(mock, label_device, mount=mount_at(LABEL_MOUNT))
    add_filesystem(mock, 'sr5', mounted_at=('/media/user/OLD DISC',))
    add_filesystem(mock, 'sr6', mount=refused)
    add_filesystem(mock, 'sr10', mounted_at=('/media/user/FREE',), unmount=unmount_first)
    add_filesystem(mock, 'sr11', mounted_at=('/media/user/LATE',), unmount=unmount_first, late=3)
    add_filesystem(mock, 'sr12', mount=mount_at('/media/user/LATE', delay=1.2), late=1.2)
    add_filesystem(mock, 'sr13', mounted_at=('/media/user/OWN', '/mnt/admin'), unmount=unmount_own_only)
