"""The system bus as a monitor in the guest logs it (the guest's bus-log), read
back into messages; and the program's conversation with the bus during one
click: the connection that asked for UDisks2's owner, from then until it
closed. The program connects only inside an action and closes at its end,
so the connection's closing tells that the program is done with the bus.
"""

import re
from dataclasses import dataclass, field

from common import wait_for

UDISKS = "org.freedesktop.UDisks2"
CONVERSATION_LIMIT_S = 20   # beyond the program's own 10 s for the bus

HEADER = re.compile(r"(method call|method return|error|signal) time=\S+ sender=(\S+) -> destination=(\S+)")


@dataclass
class BusMessage:
    kind: str
    sender: str
    destination: str
    fields: dict
    body: list = field(default_factory=list)

    @property
    def member(self):
        return self.fields.get("member", "")

    def strings(self):
        return [found.group(1) for line in self.body if (found := re.fullmatch(r'string "(.*)"', line))]

    def __str__(self):
        return f"{self.kind} {self.fields.get('error_name') or self.member}({', '.join(self.strings())})"


def bus_messages(m):
    messages = []
    for line in m.guest_text("/tmp/desktop-bus.log").splitlines():
        header = HEADER.match(line)
        if header:
            fields = dict(re.findall(r"\b(member|error_name)=([^;\s]+)", line))
            messages.append(BusMessage(*header.groups(), fields))
        elif messages and line.strip():
            messages[-1].body.append(line.strip())
    return messages


@dataclass
class Conversation:
    """The program's own connection to the system bus during one click."""
    messages: list       # to and from it

    def error_names(self):
        return [message.fields.get("error_name") for message in self.messages if message.kind == "error"]

    def summary(self):
        return "; ".join(str(message) for message in self.messages if message.kind in ("method call", "error"))


def conversation_after(m, since):
    """The program's conversation with the bus that began after message
    number since, once the program has closed its connection: it is then
    done with the bus for that click."""
    def ended():
        messages = bus_messages(m)[since:]
        asked = [message.sender for message in messages
                 if message.member == "GetNameOwner" and message.strings() == [UDISKS]]
        if asked and any(message.member == "NameOwnerChanged" and message.strings() == [asked[0], asked[0], ""]
                         for message in messages):
            return Conversation([message for message in messages if asked[0] in (message.sender, message.destination)
                                 and message.member != "NameOwnerChanged"])
        return None

    return wait_for(ended, CONVERSATION_LIMIT_S,
                    f"no conversation of the program's with the bus ended within {CONVERSATION_LIMIT_S} s")
