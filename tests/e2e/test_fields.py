#!/usr/bin/env python3
"""The logon fields' length checks, and Abort, against a UDP socket of the
test that takes every datagram and answers none. A refused field shows
"Invalid IP, User Name, or Password" and sends nothing; an accepted one
sends Get Session Challenge to the address the field names and waits there
until "Logging on (Abort)" is pressed, which gives "Logon Aborted"."""

import time
import unittest

import e2e
from e2e import bmcsim

SILENT = e2e.address(9)
# How long a refused logon is watched for a datagram, and an accepted one
# for a change of its status text.
QUIET_SECONDS = 1.0
USER = bmcsim.USER_NAME
PASSWORD = bmcsim.PASSWORD
GET_CHALLENGE_LENGTH = 38


def spelled(dotted, length):
    """dotted (a.b.c.d) spelled in length characters that inet_addr reads as
    the same address: the first part and the last in hexadecimal, the last
    with leading zeros."""
    a, b, c, d = (int(p) for p in dotted.split("."))
    head = "0x%x.%d.%d." % (a, b, c)
    digits = length - len(head) - 2
    assert digits >= 2
    text = head + "0x" + format(d, "0%dx" % digits)
    assert len(text) == length
    return text


# case, address, user name, password, accepted
CASES = [
    ("empty user name", SILENT, "", PASSWORD, False),
    ("17-character password", SILENT, USER, "P" * 17, False),
    ("16-character address", spelled(SILENT, 16), USER, PASSWORD, False),
    ("empty address", "", USER, PASSWORD, False),
    ("17-character user name", SILENT, "U" * 17, PASSWORD, False),
    ("empty password", SILENT, USER, "", False),
    ("15-character address", spelled(SILENT, 15), USER, PASSWORD, True),
    ("16-character user name and password", SILENT, "U" * 16, "P" * 16, True),
    ("shortest fields", SILENT, "u", "p", True),
]


class LogonFields(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.peer = e2e.MutePeer(SILENT)
        cls.addClassCleanup(cls.peer.close)
        cls.app = e2e.Tavrel(e2e.workDir("fields")).start()
        cls.addClassCleanup(cls.app.stop)

    def test_field_lengths(self):
        app = self.app
        self.assertEqual(app.state(), ("", e2e.LOGON, False, False))
        for case, addressText, user, password, accepted in CASES:
            with self.subTest(case=case):
                # A blank status line first, so the texts read below are this case's own.
                app.driver.setText(e2e.IDC_STATUS, "")
                app.setFields(addressText, user, password)
                self.assertEqual(app.fields(), (addressText, user, password))
                self.peer.take()
                app.driver.click(e2e.IDC_LOGON)
                if accepted:
                    self.checkAccepted(user)
                else:
                    self.checkRefused()

    def checkRefused(self):
        app = self.app
        app.waitStatus([e2e.INVALID_FIELDS], before="")
        time.sleep(QUIET_SECONDS)
        self.assertEqual(app.state(), (e2e.INVALID_FIELDS, e2e.LOGON, False, False))
        self.assertEqual(self.peer.take(), [])

    def checkAccepted(self, user):
        app = self.app
        app.waitStatus([e2e.CONNECTING, e2e.GET_CHALLENGE], before="")
        e2e.waitFor(lambda: self.peer.datagrams, 5, "a datagram at %s" % SILENT)
        # Nobody answers: the logon stays at its first step.
        time.sleep(QUIET_SECONDS)
        self.assertEqual(app.state(), (e2e.GET_CHALLENGE, e2e.LOGGING_ON, False, False))
        sent = self.peer.take()
        self.assertEqual(len(sent), 1, sent)
        self.assertEqual(len(sent[0]), GET_CHALLENGE_LENGTH)
        self.assertIn(user.encode().ljust(16, b"\0"), sent[0])

        app.driver.click(e2e.IDC_LOGON)
        app.waitStatus([e2e.LOGON_ABORTED], before=e2e.GET_CHALLENGE)
        self.assertEqual(app.settledState((e2e.LOGON_ABORTED, e2e.LOGON, False, False)), (e2e.LOGON_ABORTED, e2e.LOGON, False, False))
        time.sleep(QUIET_SECONDS / 2)
        self.assertEqual(self.peer.take(), [])


if __name__ == "__main__":
    e2e.main()
