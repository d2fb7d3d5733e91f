#!/usr/bin/env python3
"""The refresh of an idle session: about 30 s after the logon the status
line reads "Session Timed Out" while the session is activated again, then
"Connected", and the session still serves a dump.

"Session Timed Out" lasts one round trip only, so the emulator is frozen
(SIGSTOP) shortly before the refresh is due: the refresh's request then
waits in the emulator's socket, and the text stays until SIGCONT."""

import os
import signal
import sys
import time
import unittest

import e2e
from e2e import bmcsim

BMC = e2e.address(2)
ENTRIES = 25
# The refresh is due after 150 passes of the session loop's 200 ms sleep.
# The emulator is frozen this long after "Connected" was first read...
FREEZE_AFTER = 26.0
# ...and the refresh must come within this window after it.
REFRESH_EARLIEST = 29.0
REFRESH_LATEST = 40.0
# How long the text is watched while the emulator is frozen.
FROZEN_WATCH = 1.5
IDLE_POLL = 0.5
CONNECTED_BUTTONS = (e2e.DISCONNECT, True, True)


class IdleRefresh(unittest.TestCase):
    def setUp(self):
        self.emulator = e2e.startEmulator(self, BMC, bmcsim.sampleRecords(ENTRIES), "refresh-bmc")
        self.out = e2e.workDir("refresh-out")
        self.app = e2e.Tavrel(e2e.workDir("refresh-app")).start()
        self.addCleanup(self.app.stop)

    def resume(self):
        try:
            os.kill(self.emulator.pid, signal.SIGCONT)
        except ProcessLookupError:
            pass

    def test_idle_session_is_refreshed_and_still_dumps(self):
        app = self.app
        app.setFields(BMC, bmcsim.USER_NAME, bmcsim.PASSWORD)
        app.driver.click(e2e.IDC_LOGON)
        app.waitStatus(e2e.LOGON_TEXTS, before="")
        connectedAt = time.monotonic()
        self.assertEqual(app.settledState((e2e.CONNECTED,) + CONNECTED_BUTTONS), (e2e.CONNECTED,) + CONNECTED_BUTTONS)

        # Idle: nothing changes until the refresh is close.
        while time.monotonic() - connectedAt < FREEZE_AFTER:
            self.assertEqual(app.state(), (e2e.CONNECTED,) + CONNECTED_BUTTONS)
            time.sleep(IDLE_POLL)

        # Stopped before it can answer; continued by the cleanup whatever happens.
        self.addCleanup(self.resume)
        os.kill(self.emulator.pid, signal.SIGSTOP)
        app.waitStatus([e2e.TIMED_OUT], before=e2e.CONNECTED,
                       limit=REFRESH_LATEST - (time.monotonic() - connectedAt))
        refreshAfter = time.monotonic() - connectedAt
        print("refresh %.1f s after the logon" % refreshAfter, file=sys.stderr)
        self.assertGreaterEqual(refreshAfter, REFRESH_EARLIEST)
        self.assertLessEqual(refreshAfter, REFRESH_LATEST)
        # While the refresh waits for its reply, the text stays and the
        # buttons are as they were.
        watchEnd = time.monotonic() + FROZEN_WATCH
        while time.monotonic() < watchEnd:
            self.assertEqual(app.state(), (e2e.TIMED_OUT,) + CONNECTED_BUTTONS)
            time.sleep(0.1)

        self.resume()
        app.waitStatus([e2e.CONNECTED], before=e2e.TIMED_OUT)
        self.assertEqual(app.settledState((e2e.CONNECTED,) + CONNECTED_BUTTONS), (e2e.CONNECTED,) + CONNECTED_BUTTONS)

        # The refreshed session still serves a dump.
        expected = e2e.reportLines(bmcsim.selReadRaw(BMC, self.out))
        report = os.path.join(self.out, "after refresh.txt")
        app.openSaveDialog()
        self.assertEqual(app.driver.ok("save", e2e.windowsPath(report)), "saved")
        app.waitStatus(e2e.DUMP_TEXTS, before=e2e.CONNECTED)
        self.assertEqual(app.settledState((e2e.SEL_SAVED,) + CONNECTED_BUTTONS), (e2e.SEL_SAVED,) + CONNECTED_BUTTONS)
        self.assertEqual(e2e.readFile(report), expected)
        self.assertEqual(len(e2e.reportIds(expected)), ENTRIES)


if __name__ == "__main__":
    e2e.main()
