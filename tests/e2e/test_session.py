#!/usr/bin/env python3
"""One session of Tavrel.exe against ipmi_sim, step by step as a user would
go: the fields typed and the buttons clicked with real X input, the report
saved through the real Save As dialog. Each step checks the status line and
the buttons, and the files against what ipmitool reads from the same BMC.

The steps share one program and one emulator and run in the order of their
names; a step whose predecessor failed is skipped."""

import os
import unittest

import e2e
from e2e import bmcsim

BMC = e2e.address(1)
ENTRIES = 40
ADDED = 7
CAPACITY = 100

CONNECTED_BUTTONS = (e2e.DISCONNECT, True, True)
IDLE_BUTTONS = (e2e.LOGON, False, False)
# The session is refreshed every 30 s or so, and this test runs longer:
# the refresh's texts may show at any time after the logon.
REFRESH = e2e.REFRESH_TEXTS


class Session(unittest.TestCase):
    failed = False

    @classmethod
    def setUpClass(cls):
        cls.emulator = e2e.startEmulator(cls, BMC, bmcsim.sampleRecords(ENTRIES), "session-bmc", CAPACITY)
        cls.out = e2e.workDir("session-out")
        cls.app = e2e.Tavrel(e2e.workDir("session-app")).start()
        cls.addClassCleanup(cls.app.stop)
        cls.reportPath = os.path.join(cls.out, "first report.txt")

    def setUp(self):
        if Session.failed:
            self.skipTest("an earlier step failed")

    def run(self, result=None):
        before = len(result.failures) + len(result.errors) if result is not None else 0
        outcome = super().run(result)
        if result is not None and len(result.failures) + len(result.errors) > before:
            Session.failed = True
        return outcome

    # ---- helpers

    def assertState(self, status, buttons):
        """The status line reads status (or a refresh has just replaced it),
        and the button text and the SEL buttons' states are buttons."""
        texts = (status,) + (REFRESH if status not in ("", e2e.DISCONNECTED) else ())
        state = self.app.settledState(lambda s: s[0] in texts and s[1:] == tuple(buttons))
        self.assertIn(state[0], texts, state)
        self.assertEqual(state[1:], tuple(buttons))

    def clickX(self, control):
        self.app.x.clickAt(self.app.driver.rect(control))

    def expectedReport(self):
        """The report lines of what ipmitool reads from the BMC now."""
        return e2e.reportLines(bmcsim.selReadRaw(BMC, self.out))

    def dump(self, path, offered, final=e2e.SEL_SAVED):
        """Dump SEL clicked with X input; checks that the Save As dialog offers
        the file name offered, then saves to path (None: as offered).
        Returns the driver's answer (saved or overwritten)."""
        app = self.app
        before = app.status()
        app.openSaveDialog(lambda: self.clickX(e2e.IDC_DUMP_SEL))
        self.assertEqual(app.driver.ok("savename"), offered)
        answer = app.driver.ok("accept") if path is None else app.driver.ok("save", e2e.windowsPath(path))
        app.waitStatus(e2e.DUMP_TEXTS if final == e2e.SEL_SAVED else e2e.EMPTY_DUMP_TEXTS, before, REFRESH)
        self.assertState(final, CONNECTED_BUTTONS)
        return answer

    # ---- steps

    def test_1_logon_typed_with_x_input(self):
        app = self.app
        self.assertState("", IDLE_BUTTONS)
        self.assertTrue(app.x.windowIds(e2e.WINDOW_TITLE), "xdotool finds no window %r" % e2e.WINDOW_TITLE)
        for control, text in ((e2e.IDC_ADDRESS, BMC), (e2e.IDC_USERNAME, bmcsim.USER_NAME),
                              (e2e.IDC_PASSWORD, bmcsim.PASSWORD)):
            app.x.replaceText(app.driver.rect(control), text)
            self.assertEqual(app.driver.text(control), text)
        self.clickX(e2e.IDC_LOGON)
        app.waitStatus(e2e.LOGON_TEXTS, before="")
        self.assertState(e2e.CONNECTED, CONNECTED_BUTTONS)
        # The fields stay editable while connected.
        self.assertTrue(app.driver.enabled(e2e.IDC_ADDRESS))
        shot = e2e.screenshot(app.xvfb.display, os.path.join(self.out, "tavrel-connected.png"),
                              app.driver.rect(e2e.IDC_MAIN))
        self.assertGreater(os.path.getsize(shot), 1000)

    def test_2_dump_through_save_as(self):
        expected = self.expectedReport()
        self.assertEqual(self.dump(self.reportPath, ""), "saved")
        report = e2e.readFile(self.reportPath)
        self.assertEqual(report.count(b"\r\n"), ENTRIES)
        self.assertEqual(report.count(b"\n"), ENTRIES)  # no bare LF
        self.assertEqual(e2e.reportIds(report), list(range(1, ENTRIES + 1)))
        self.assertEqual(report, expected)

    def test_3_second_dump_offers_the_previous_file(self):
        app = self.app
        expected = self.expectedReport()
        stale = b"stale\r\n" * 2000
        with open(self.reportPath, "wb") as f:
            f.write(stale)
        # Cancelled: nothing happens.
        before = app.status()
        app.openSaveDialog(lambda: self.clickX(e2e.IDC_DUMP_SEL))
        self.assertEqual(app.driver.ok("savename"), os.path.basename(self.reportPath))
        app.driver.ok("cancel")
        e2e.waitFor(lambda: not app.driver.saveDialog(), e2e.STEP_LIMIT, "the dialog to close")
        self.assertState(before, CONNECTED_BUTTONS)
        self.assertEqual(e2e.readFile(self.reportPath), stale)
        # Kept as offered: the same file, after the overwrite question.
        self.assertEqual(self.dump(None, os.path.basename(self.reportPath)), "overwritten")
        self.assertEqual(e2e.readFile(self.reportPath), expected)

    def test_4_clear_then_added_entries_are_dumped(self):
        app = self.app
        before = app.status()
        self.clickX(e2e.IDC_CLEAR_SEL)
        app.waitStatus(e2e.CLEAR_TEXTS, before, REFRESH)
        self.assertState(e2e.SEL_CLEARED, CONNECTED_BUTTONS)
        self.assertEqual(bmcsim.selEntryCount(BMC), 0)

        empty = os.path.join(self.out, "empty.txt")
        self.dump(empty, os.path.basename(self.reportPath), e2e.SEL_EMPTY)
        self.assertEqual(e2e.readFile(empty), b"")

        added = bmcsim.sampleRecords(ENTRIES + ADDED, seed=3)[-ADDED:]
        ids = [bmcsim.addSelEntry(BMC, record) for record in added]
        self.assertEqual(ids, list(range(ENTRIES + 1, ENTRIES + 1 + ADDED)))
        expected = self.expectedReport()
        after = os.path.join(self.out, "after clear.txt")
        self.dump(after, "empty.txt")
        report = e2e.readFile(after)
        self.assertEqual(e2e.reportIds(report), ids)
        self.assertEqual(report, expected)

    def test_5_disconnect_and_logon_again(self):
        app = self.app
        before = app.status()
        self.clickX(e2e.IDC_LOGON)
        app.waitStatus([e2e.DISCONNECTED], before, REFRESH)
        self.assertState(e2e.DISCONNECTED, IDLE_BUTTONS)

        app.driver.click(e2e.IDC_LOGON)
        app.waitStatus(e2e.LOGON_TEXTS, e2e.DISCONNECTED)
        self.assertState(e2e.CONNECTED, CONNECTED_BUTTONS)
        again = os.path.join(self.out, "again.txt")
        expected = self.expectedReport()
        self.dump(again, "after clear.txt")
        self.assertEqual(e2e.readFile(again), expected)

    def test_6_closing_the_window_ends_the_program(self):
        app = self.app
        app.driver.ok("close")
        e2e.waitFor(lambda: app.process.poll() is not None, 20, "the end of Tavrel.exe")
        self.assertEqual(app.process.returncode, 0)
        self.assertFalse(app.driver.hasWindow())


if __name__ == "__main__":
    e2e.main()
