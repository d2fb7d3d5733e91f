#!/usr/bin/env python3
"""--timeout against loopback addresses where no BMC answers: the front end
ends by itself, shortly after the timeout, with a non-zero exit."""

import os
import unittest

import emutest
from emutest import bmcsim, testsupport

# Nothing listens here.
EMPTY_ADDRESS = "127.0.10.8"
# A socket that takes every datagram and never answers.
MUTE_ADDRESS = "127.0.10.9"


class SilentBmc(unittest.TestCase):
    def setUp(self):
        emutest.requireCli()
        self.out = emutest.workDir("timeout-out")

    def test_nobody_listening(self):
        for timeout in (1, 3):
            with self.subTest(timeout=timeout):
                code, err, seconds = emutest.dump(EMPTY_ADDRESS, os.path.join(self.out, "a.txt"), timeout)
                self.assertNotEqual(code, 0, err)
                self.assertIn("Logon Aborted", err)
                self.assertLess(seconds, timeout + emutest.TIMEOUT_SLACK)

    def test_peer_that_never_answers(self):
        peer = testsupport.MutePeer(MUTE_ADDRESS)
        self.addCleanup(peer.close)
        for command, timeout in (("dump", 2), ("clear", 3)):
            with self.subTest(command=command, timeout=timeout):
                before = peer.received
                args = [command, "--address", MUTE_ADDRESS, "--user", bmcsim.USER_NAME, "--timeout", str(timeout)]
                if command == "dump":
                    args += ["--output", os.path.join(self.out, "b.txt")]
                code, err, seconds = emutest.runCli(args)
                self.assertNotEqual(code, 0, err)
                self.assertIn("Logon Aborted", err)
                # Only the timeout can have ended it.
                self.assertGreaterEqual(seconds, timeout - 0.2)
                self.assertLess(seconds, timeout + emutest.TIMEOUT_SLACK)
                self.assertEqual(peer.received - before, 1)  # the Get Session Challenge


if __name__ == "__main__":
    emutest.main()
