#!/usr/bin/env python3
"""The emulator harness itself: ipmi_sim holds the SEL it was given, ipmitool
and FreeIPMI read the same records, and sel-lines writes one report line per
record. The front-end tests build their expectations on these."""

import os
import subprocess
import time
import unittest

import emutest
from emutest import bmcsim

ADDRESS = "127.0.10.1"
LIFECYCLE_ADDRESS = "127.0.10.2"
ENTRIES = 60


class LoadedSel(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.records = bmcsim.sampleRecords(ENTRIES)
        cls.emulator = emutest.startEmulator(cls, ADDRESS, cls.records, "loaded", maxEntries=ENTRIES + 20)
        cls.dir = emutest.workDir("loaded-peers")

    def test_emulator_holds_the_generated_records(self):
        read = bmcsim.selReadRaw(ADDRESS, self.dir)
        self.assertEqual(len(read), ENTRIES)
        for index, (got, sent) in enumerate(zip(read, self.records)):
            with self.subTest(entry=index + 1):
                self.assertEqual(got[0] | got[1] << 8, index + 1)
                self.assertEqual(got[2], sent[2])
                if sent[2] >= 0xE0:
                    self.assertEqual(got[3:], sent[3:])
                else:
                    # The BMC stamps these with its own clock.
                    self.assertEqual(got[7:], sent[7:])

    def test_ipmitool_and_freeipmi_read_the_same_bytes(self):
        read = bmcsim.selReadRaw(ADDRESS, self.dir)
        dumped = bmcsim.freeipmiHexDump(ADDRESS)
        self.assertEqual(len(dumped), ENTRIES)
        for index, (a, b) in enumerate(zip(read, dumped)):
            with self.subTest(entry=index + 1, type="%02X" % a[2]):
                self.assertEqual(a.hex(" "), b.hex(" "))

    def test_writeraw_reverses_oem_manufacturer_and_get_v_shows_it_as_sent(self):
        path = os.path.join(self.dir, "plain.bin")
        bmcsim.runIpmitool(ADDRESS, ["sel", "writeraw", path])
        plain = emutest.readFile(path)
        oem = [i for i, r in enumerate(self.records) if 0xC0 <= r[2] <= 0xDF]
        self.assertGreaterEqual(len(oem), 4)
        for i in oem[:6]:
            sent = self.records[i][7:10]
            with self.subTest(entry=i + 1):
                self.assertEqual(plain[16 * i + 7:16 * i + 10], sent[::-1])
                shown = bmcsim.runIpmitool(ADDRESS, ["sel", "get", str(i + 1), "-v"]).stdout.decode()
                manufacturer = sent[0] | sent[1] << 8 | sent[2] << 16
                self.assertIn("Manufactacturer ID    : %06x" % manufacturer, shown)


class Lifecycle(unittest.TestCase):
    def test_clear_then_add_keeps_numbering_and_stop_frees_the_address(self):
        records = bmcsim.sampleRecords(3)
        emulator = emutest.startEmulator(self, LIFECYCLE_ADDRESS, records, "lifecycle", maxEntries=10)
        address = emulator.address
        self.assertEqual(bmcsim.selEntryCount(address), 3)
        bmcsim.selClear(address)
        self.assertEqual(bmcsim.selEntryCount(address), 0)
        added = [bmcsim.addSelEntry(address, r) for r in bmcsim.sampleRecords(20)[17:20]]
        self.assertEqual(added, [4, 5, 6])
        self.assertEqual(bmcsim.selEntryCount(address), 3)

        pid = emulator.pid
        self.assertTrue(emulator.stop())
        self.assertTrue(emulator.stop())
        self.assertIsNone(bmcsim.processState(pid))
        # The address is free again: a new emulator can take it at once.
        again = emutest.startEmulator(self, address, records, "lifecycle-again", maxEntries=10)
        self.assertNotEqual(again.pid, pid)
        self.assertEqual(bmcsim.selEntryCount(address), 3)

    def test_stop_by_pid_leaves_other_processes_alone(self):
        sleeper = subprocess.Popen(["sleep", "30"])
        try:
            self.assertTrue(bmcsim.stopPid(sleeper.pid))
            time.sleep(0.1)
            self.assertIsNone(sleeper.poll())
        finally:
            sleeper.kill()
            sleeper.wait(timeout=5)

    def test_overfull_sel_is_refused_before_start(self):
        with self.assertRaises(ValueError):
            bmcsim.Emulator(ADDRESS, bmcsim.bulkRecords(5), emutest.workDir("overfull"), maxEntries=4)


class SelLines(unittest.TestCase):
    def test_known_record_gives_the_documented_line(self):
        record = bytes.fromhex("0100 0260 8AF3 4320 0004 0705 6F01 FFFF")
        self.assertEqual(emutest.reportLines([record]),
                         b"1=   Wed Feb 15 20:09:04 2006, #5   svc02016F07a"
                         b" 01 00 02 60 8A F3 43 20 00 04 07 05 6F 01 FF FF\r\n")

    def test_one_line_per_record_with_its_id_and_bytes(self):
        records = [bytes([i & 0xFF, i >> 8]) + r[2:] for i, r in
                   zip(range(1, 1200, 7), bmcsim.sampleRecords(171, seed=5))]
        lines = emutest.reportLines(records).split(b"\r\n")
        self.assertEqual(lines[-1], b"")
        self.assertEqual(len(lines) - 1, len(records))
        for line, record in zip(lines, records):
            with self.subTest(record=record.hex()):
                self.assertNotIn(b"\n", line)
                self.assertTrue(line.startswith(b"%d=" % (record[0] | record[1] << 8)))
                self.assertTrue(line.endswith(record.hex(" ").upper().encode()))

    def test_partial_record_is_an_error(self):
        done = subprocess.run([emutest.SEL_LINES], input=bytes(24), capture_output=True, timeout=30)
        self.assertEqual(done.returncode, 1)


if __name__ == "__main__":
    emutest.main()
