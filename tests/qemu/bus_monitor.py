"""The system bus as a monitor in the guest logs it (the guest's bus-log), read
back into messages; and the program's conversation with the bus during one
click: the connection that asked for UDisks2's owner, from then until it
closed. The program connects only inside an action and closes at its end,
so the connection's closing tells that the program is done with the bus.
"""

import re
import time
from dataclasses import dataclass

from common import CheckFailed

UDISKS = "org.freedesktop.UDisks2"
CONVERSATION_LIMIT_S = 20   # beyond the program's own 10 s for the bus

HEADER = re.compile(r"(method call|method return|error|signal) time=([\d.]+) sender=(\S+) -> destination=(\S+)")


@dataclass
class BusMessage:
    kind: str
    time: float
    sender: str
    destination: str
    fields: dict
    body: list

    @property
    def member(self):
        return self.fields.get("member", "")

    def strings(self):
        return [found.group(1) for line in self.body if (found := re.fullmatch(r'string "(.*)"', line))]

    def options(self):
        """An a{sv} argument, as NAME=VALUE words."""
        text = " ".join(self.body)
        return [f"{name}={value}" for name, value in re.findall(r'string "([^"]*)" variant +\w+ (\S+)', text)]


def bus_messages(m):
    messages = []
    for line in m.guest_text("/tmp/desktop-bus.log").splitlines():
        header = HEADER.match(line)
        if header:
            kind, stamp, sender, destination = header.groups()
            fields = dict(re.findall(r"\b(path|interface|member|error_name)=([^;\s]+)", line))
            messages.append(BusMessage(kind, float(stamp), sender, destination, fields, []))
        elif messages and line.strip():
            messages[-1].body.append(line.strip())
    return messages


@dataclass
class Conversation:
    """The program's own connection to the system bus during one click."""
    connection: str
    messages: list       # to and from it
    closed: float

    def errors(self):
        return [message for message in self.messages if message.kind == "error"]

    def error_names(self):
        return [message.fields.get("error_name") for message in self.errors()]

    def summary(self):
        start = self.messages[0].time
        steps = []
        for message in self.messages:
            if message.kind == "method call" and message.member != "Hello":
                argument = message.options() or message.strings()[1:] or message.strings()
                steps.append(f"{message.member}({', '.join(argument)}) +{message.time - start:.2f} s")
            elif message.kind == "error":
                text = message.strings()[:1]
                steps.append(f"-> {message.fields.get('error_name')} {text} +{message.time - start:.2f} s")
        steps.append(f"closed +{self.closed - start:.2f} s")
        return "; ".join(steps)


def conversation_after(m, since):
    """The program's conversation with the bus that began after message
    number since, once the program has closed its connection: it is then
    done with the bus for that click."""
    deadline = time.monotonic() + CONVERSATION_LIMIT_S
    while True:
        messages = bus_messages(m)[since:]
        asked = [message.sender for message in messages
                 if message.member == "GetNameOwner" and message.strings() == [UDISKS]]
        if asked:
            connection = asked[0]
            closed = [message for message in messages if message.member == "NameOwnerChanged"
                      and message.strings() == [connection, connection, ""]]
            if closed:
                own = [message for message in messages if connection in (message.sender, message.destination)
                       and message.member != "NameOwnerChanged"]
                return Conversation(connection, own, closed[0].time)
        if time.monotonic() > deadline:
            raise CheckFailed(f"the program held no conversation with the bus, or did not end it, within "
                              f"{CONVERSATION_LIMIT_S} s")
        time.sleep(0.2)
