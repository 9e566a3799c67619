"""The host's side of the guest's command port (a virtio serial port served
by guest_init.sh): a command goes out as one line "ID WORDS...", each word
hex-encoded, and its output comes back line by line, ended by "@@done ID
STATUS". A command may be started, read line by line while the host does
something else, and finished.
"""

import re
import time
from dataclasses import dataclass, field

from common import COMMAND_LIMIT_S, LineSocket, TestError


@dataclass
class Answer:
    status: int
    lines: list = field(default_factory=list)

    def text(self):
        return " | ".join(self.lines)


class Guest:
    def __init__(self, sock):
        self.channel = LineSocket(sock, "the guest")
        self.last_id = 0

    def wait_ready(self, deadline):
        """The guest's kernel release and uptime, once its init serves commands."""
        while True:
            line = self.channel.read_line(deadline)
            if line.startswith("@@failed"):
                raise TestError(f"guest set-up failed: {line}")
            if line.startswith("@@ready"):
                return line.split()[1:]

    def start(self, verb, *args, limit=COMMAND_LIMIT_S):
        words = [str(word).encode().hex() for word in (verb, *args)]
        if not all(words):
            raise TestError(f"guest commands take no empty words: {args}")
        self.last_id += 1
        self.channel.sock.sendall(f"{self.last_id} {' '.join(words)}\n".encode())
        return self.last_id, time.monotonic() + limit

    def next_line(self, job):
        """The job's next output line, or an Answer once it is done."""
        job_id, deadline = job
        line = self.channel.read_line(deadline)
        done = re.fullmatch(rf"@@done {job_id} (\d+)", line)
        if done:
            return Answer(int(done.group(1)))
        if line.startswith("@@failed"):
            raise TestError(f"the guest gave up: {line}")
        return line

    def finish(self, job, lines=None):
        lines = list(lines or [])
        while True:
            line = self.next_line(job)
            if isinstance(line, Answer):
                line.lines = lines
                return line
            lines.append(line)

    def run(self, verb, *args, limit=COMMAND_LIMIT_S):
        return self.finish(self.start(verb, *args, limit=limit))
