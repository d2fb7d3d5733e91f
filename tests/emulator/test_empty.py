#!/usr/bin/env python3
"""A dump of an emulator whose SEL has never held an entry: "SEL is Empty",
exit 0, and the report file exists with nothing in it."""

import os
import unittest

import emutest
from emutest import bmcsim

ADDRESS = "127.0.10.6"


class EmptySel(unittest.TestCase):
    def test_empty_sel_gives_an_empty_report(self):
        emutest.requireCli()
        emutest.startEmulator(self, ADDRESS, [], "empty", maxEntries=50)
        self.assertEqual(bmcsim.selEntryCount(ADDRESS), 0)
        out = emutest.workDir("empty-out")
        cases = [("new file", None), ("existing file", b"1=   old line\r\n" * 20)]
        for case, before in cases:
            with self.subTest(case=case):
                report = os.path.join(out, case.replace(" ", "-") + ".txt")
                if before is not None:
                    with open(report, "wb") as f:
                        f.write(before)
                code, err, _ = emutest.dump(ADDRESS, report)
                self.assertEqual(code, 0, err)
                self.assertIn("SEL is Empty", err)
                self.assertNotIn("SEL Save Complete", err)
                self.assertTrue(os.path.isfile(report))
                self.assertEqual(emutest.readFile(report), b"")


if __name__ == "__main__":
    emutest.main()
