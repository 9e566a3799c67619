"""What every part of the QEMU harness shares: its two kinds of failure, the
time limits more than one part waits by, running a host tool, and reading
lines from a socket (QMP and the guest's command port both speak in lines).
"""

import socket
import subprocess
import time

COMMAND_LIMIT_S = 20        # any one guest command, unless it says otherwise
QMP_LIMIT_S = 10            # a QMP reply or an awaited event
MEDIA_CHANGE_LIMIT_MS = 5000  # changes reached the guest within 200 ms when measured


class TestError(Exception):
    """A fault of the test set-up rather than a failed check."""


class CheckFailed(AssertionError):
    """A check found the drive code or the drives not as they should be."""


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def wait_for(condition, limit_s, failure, error=CheckFailed):
    """condition()'s first true answer, asked again and again for limit_s
    seconds at most; after that, error(failure)."""
    deadline = time.monotonic() + limit_s
    while not (answer := condition()):
        if time.monotonic() > deadline:
            raise error(failure)
        time.sleep(0.2)
    return answer


def run_tool(args, limit, **kwargs):
    try:
        return subprocess.run(args, check=True, capture_output=True, text=True, timeout=limit, **kwargs)
    except FileNotFoundError as error:
        raise TestError(f"{args[0]} is missing; tools/install-deps.sh installs it") from error
    except subprocess.CalledProcessError as error:
        raise TestError(f"{' '.join(map(str, args))} failed:\n{error.stdout}{error.stderr}") from error


class LineSocket:
    def __init__(self, sock, what):
        self.sock = sock
        self.what = what
        self.buffer = b""

    def read_line(self, deadline):
        while b"\n" not in self.buffer:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TestError(f"no answer from {self.what} in time")
            self.sock.settimeout(remaining)
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                raise TestError(f"{self.what} closed the connection")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("utf-8", errors="replace").rstrip("\r")
