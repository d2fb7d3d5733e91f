#!/usr/bin/env python3
"""Clear SEL against ipmi_sim: afterwards ipmitool sees no entries, a dump
reports the empty log, and entries added afterwards (numbered on from the
cleared ones) are all found by the next dump."""

import os
import unittest

import emutest
from emutest import bmcsim

ADDRESS = "127.0.10.5"
ENTRIES = 40
ADDED = 7


class ClearThenAdd(unittest.TestCase):
    def test_clear_empties_the_sel_and_later_entries_are_dumped(self):
        emutest.requireCli()
        emutest.startEmulator(self, ADDRESS, bmcsim.sampleRecords(ENTRIES), "clear", maxEntries=100)
        out = emutest.workDir("clear-out")
        self.assertEqual(bmcsim.selEntryCount(ADDRESS), ENTRIES)

        code, err, _ = emutest.clear(ADDRESS)
        self.assertEqual(code, 0, err)
        self.assertIn("SEL Cleared", err)
        self.assertEqual(bmcsim.selEntryCount(ADDRESS), 0)

        emptyReport = os.path.join(out, "empty.txt")
        code, err, _ = emutest.dump(ADDRESS, emptyReport)
        self.assertEqual(code, 0, err)
        self.assertIn("SEL is Empty", err)
        self.assertEqual(emutest.readFile(emptyReport), b"")

        # Records of each kind, added while the emulator runs.
        added = bmcsim.sampleRecords(ENTRIES + ADDED, seed=3)[-ADDED:] + bmcsim.sampleRecords(21)[13:21:3]
        ids = [bmcsim.addSelEntry(ADDRESS, r) for r in added]
        self.assertEqual(ids, list(range(ENTRIES + 1, ENTRIES + 1 + len(added))))
        read = bmcsim.selReadRaw(ADDRESS, out)
        self.assertEqual(len(read), len(added))
        for got, sent in zip(read, added):
            # The BMC stamps records below type E0 with its own clock.
            start = 7 if sent[2] < 0xE0 else 3
            self.assertEqual(got[2], sent[2])
            self.assertEqual(got[start:], sent[start:])

        report = os.path.join(out, "after.txt")
        code, err, _ = emutest.dump(ADDRESS, report)
        self.assertEqual(code, 0, err)
        self.assertIn("SEL Save Complete", err)
        lines = emutest.readFile(report)
        self.assertEqual(emutest.reportIds(lines), ids)
        self.assertEqual(lines, emutest.reportLines(read))


if __name__ == "__main__":
    emutest.main()
