"""A client of QEMU's monitor protocol (QMP): commands and their replies, and
the events QEMU sends between them, kept so that a check can ask what
happened since a mark it took.
"""

import json
import time

from common import QMP_LIMIT_S, LineSocket


class QmpError(Exception):
    pass


def matches(event, name, data):
    return event["event"] == name and all(event.get("data", {}).get(k) == v for k, v in data.items())


class Qmp:
    def __init__(self, sock):
        self.channel = LineSocket(sock, "QMP")
        self.events = []
        self.last_id = 0
        self._message(time.monotonic() + QMP_LIMIT_S)  # the greeting
        self.command("qmp_capabilities")

    def _message(self, deadline):
        message = json.loads(self.channel.read_line(deadline))
        if "event" in message:
            self.events.append(message)
        return message

    def command(self, name, **arguments):
        self.last_id += 1
        request = {"execute": name, "id": self.last_id}
        if arguments:
            request["arguments"] = arguments
        self.channel.sock.sendall(json.dumps(request).encode() + b"\n")
        deadline = time.monotonic() + QMP_LIMIT_S
        while True:
            message = self._message(deadline)
            if message.get("id") == self.last_id:
                if "error" in message:
                    raise QmpError(f"{name}: {message['error'].get('desc')}")
                return message["return"]

    def mark(self):
        return len(self.events)

    def wait_event(self, name, since, limit=QMP_LIMIT_S, **data):
        """The first event called name with the given data since mark since."""
        deadline = time.monotonic() + limit
        seen = since
        while True:
            for event in self.events[seen:]:
                if matches(event, name, data):
                    return event
            seen = len(self.events)
            self._message(deadline)

    def events_since(self, since, name, **data):
        return [event for event in self.events[since:] if matches(event, name, data)]

    def block(self, qdev):
        """query-block's entry for the device with QEMU id qdev, or None."""
        return next((entry for entry in self.command("query-block") if entry.get("qdev") == qdev), None)
