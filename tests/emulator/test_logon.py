#!/usr/bin/env python3
"""Logons that ipmi_sim refuses end in "Logon Aborted" with a non-zero exit
and leave the SEL alone. The emulator does not answer an Activate Session
whose password is wrong, so the front end's reply timeout ends the wait."""

import os
import unittest

import emutest
from emutest import bmcsim

ADDRESS = "127.0.10.7"
TIMEOUT = 4
ENTRIES = 5


class RefusedLogon(unittest.TestCase):
    def test_refused_logons_abort(self):
        emutest.requireCli()
        emutest.startEmulator(self, ADDRESS, bmcsim.sampleRecords(ENTRIES), "logon", maxEntries=20)
        out = emutest.workDir("logon-out")
        cases = [
            # case, command, user, password
            ("wrong password, dump", "dump", bmcsim.USER_NAME, "KEBRU7NX"),
            ("password prefix, dump", "dump", bmcsim.USER_NAME, bmcsim.PASSWORD[:-1]),
            ("unknown user, dump", "dump", "NOBODY", bmcsim.PASSWORD),
            ("wrong password, clear", "clear", bmcsim.USER_NAME, "WRONGPWD"),
        ]
        for case, command, user, password in cases:
            with self.subTest(case=case):
                args = [command, "--address", ADDRESS, "--user", user, "--timeout", str(TIMEOUT)]
                if command == "dump":
                    args += ["--output", os.path.join(out, "report.txt")]
                code, err, seconds = emutest.runCli(args, password)
                self.assertNotEqual(code, 0, err)
                self.assertIn("Logon Aborted", err)
                self.assertNotIn("Connected", err.replace("Disconnected", ""))
                self.assertLess(seconds, TIMEOUT + emutest.TIMEOUT_SLACK)
        # Nothing was read or cleared.
        self.assertEqual(bmcsim.selEntryCount(ADDRESS), ENTRIES)
        # And the right password still logs on.
        report = os.path.join(out, "good.txt")
        code, err, _ = emutest.dump(ADDRESS, report, timeout=TIMEOUT)
        self.assertEqual(code, 0, err)
        self.assertEqual(len(emutest.reportIds(emutest.readFile(report))), ENTRIES)


if __name__ == "__main__":
    emutest.main()
