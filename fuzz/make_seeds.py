#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: whole well-formed sessions
(logon, dump, empty log, clear) in the worker target's input format, and
the reply datagrams they contain for the reply target."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
FIX = 0x08  # the harness recomputes the checksums


def auth_reply(netfn, cmd, code, data):
    msg = bytes([0x81, netfn | 0x04, 0, 0x20, 0x00, cmd, code]) + bytes(data) + b"\0"
    return bytes([6, 0, 0xFF, 7, 4]) + struct.pack("<I", 0x11223344) + bytes([0xA1, 0xB2, 0xC3, 0xD4]) + b"P" * 16 + bytes([len(msg)]) + msg


def challenge_reply():
    msg = bytes([0x81, 0x1C, 0, 0x20, 0x00, 0x39, 0]) + bytes([1, 2, 3, 4]) + bytes(range(0x40, 0x50)) + b"\0"
    return bytes([6, 0, 0xFF, 7, 0]) + bytes(8) + bytes([len(msg)]) + msg


def record(rid, rtype=0x02):
    return struct.pack("<HBI", rid, rtype, 0x43F38A60 + rid) + bytes([0x20, 0, 4, 7, 5, 0x6F, 1, 0xFF, 0xFF])


def entry(next_id, rid, rtype=0x02):
    return auth_reply(0x28, 0x43, 0, struct.pack("<H", next_id) + record(rid, rtype))


def rec(datagram, flags=FIX):
    return bytes([flags]) + struct.pack("<H", len(datagram)) + datagram


LOGON = [challenge_reply(), auth_reply(0x18, 0x3A, 0, bytes([4, 0x5A, 0x6B, 0x7C, 0x8D]) + struct.pack("<I", 7) + bytes([4])),
         auth_reply(0x18, 0x3B, 0, [4])]

SESSIONS = {
    "logon": (0, LOGON),
    "dump": (1, LOGON + [entry(2, 1), entry(3, 2, 0xC1), entry(0xFFFF, 3, 0xE0)]),
    "dump-sparse": (1, LOGON + [entry(7, 4), auth_reply(0x28, 0x43, 0xCB, []), entry(0xFFFF, 8)]),
    "empty": (1, LOGON + [auth_reply(0x28, 0x43, 0xCB, [])]),
    "clear": (2, LOGON + [auth_reply(0x28, 0x42, 0, [0x12, 0x34]), auth_reply(0x28, 0x47, 0, [0]),
                          auth_reply(0x28, 0x47, 0, [1])]),
}

for name, (action, replies) in SESSIONS.items():
    with open(os.path.join(HERE, "corpus", "worker", name), "wb") as f:
        f.write(bytes([action]) + b"".join(rec(r) for r in replies))

# The reply target reads raw datagrams: the same replies with their checksums.
def fixed(d):
    d = bytearray(d)
    at = 13 if d[4] == 0 else 29
    last = at + d[at]
    d[at + 3] = (-(d[at + 1] + d[at + 2])) & 0xFF
    d[last] = (-sum(d[at + 4:last])) & 0xFF
    return bytes(d)

all_replies = {r for _, rs in SESSIONS.values() for r in rs}
for i, r in enumerate(sorted(all_replies)):
    with open(os.path.join(HERE, "corpus", "reply", "reply-%02d" % i), "wb") as f:
        f.write(fixed(r))
