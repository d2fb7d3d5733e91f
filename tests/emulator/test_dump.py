#!/usr/bin/env python3
"""Logon and dump against ipmi_sim: the report equals, byte for byte, the
lines the report formatter makes of the records ipmitool reads from the
same emulator (cross-checked with FreeIPMI)."""

import os
import unittest

import emutest
from emutest import bmcsim

SAMPLE_ADDRESS = "127.0.10.3"
BULK_ADDRESS = "127.0.10.4"


class DumpCase:
    """Mixed into a TestCase with address, records and name set."""

    @classmethod
    def setUpClass(cls):
        emutest.requireCli()
        cls.emulator = emutest.startEmulator(cls, cls.address, cls.records, cls.name)
        cls.dir = emutest.workDir(cls.name + "-out")
        cls.read = bmcsim.selReadRaw(cls.address, cls.dir)
        cls.expected = emutest.reportLines(cls.read)

    def test_peers_read_the_whole_sel_alike(self):
        self.assertEqual(len(self.read), len(self.records))
        self.assertEqual(bmcsim.freeipmiHexDump(self.address), self.read)

    def test_report_equals_the_lines_of_what_ipmitool_read(self):
        output = os.path.join(self.dir, "report.txt")
        code, err, _ = emutest.dump(self.address, output)
        self.assertEqual(code, 0, err)
        self.assertIn("SEL Save Complete", err)
        report = emutest.readFile(output)
        self.assertEqual(report.count(b"\r\n"), len(self.records))
        self.assertEqual(report.count(b"\n"), len(self.records))  # no bare LF
        self.assertEqual(emutest.reportIds(report), list(range(1, len(self.records) + 1)))
        self.assertEqual(report, self.expected)

    def test_existing_report_is_overwritten(self):
        output = os.path.join(self.dir, "old.txt")
        with open(output, "wb") as f:
            f.write(b"x" * (len(self.expected) + 1000))
        code, err, _ = emutest.dump(self.address, output)
        self.assertEqual(code, 0, err)
        self.assertEqual(emutest.readFile(output), self.expected)


class SampleSel(DumpCase, unittest.TestCase):
    # Every kind of record; IDs past 99 and 255 change the first field.
    address = SAMPLE_ADDRESS
    records = bmcsim.sampleRecords(300)
    name = "sample"


class BulkSel(DumpCase, unittest.TestCase):
    # IDs of four digits.
    address = BULK_ADDRESS
    records = bmcsim.bulkRecords(1500)
    name = "bulk"


if __name__ == "__main__":
    emutest.main()
