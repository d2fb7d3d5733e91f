#!/usr/bin/env python3
"""tavrel-cli.exe under Wine against OpenIPMI ipmi_sim: its reports equal,
byte for byte, the report the native tavrel-cli writes from the same
emulator, and the lines sel-lines makes of the records ipmitool reads; its
status texts and exit codes are those of the native program.

CTest passes in the environment:
    TAVREL_WINDOWS_CLI   tavrel-cli.exe of this build tree
    TAVREL_WINE_RUN      scripts/wine-run (hidden windows, no display)
    TAVREL_WINEPREFIX  a Wine prefix of this test's own
    TAVREL_NATIVE_CLI    the native tavrel-cli (the expected report)
    SEL_LINES            the native sel-lines tool (the expected lines)
    TAVREL_TEST_ADDRESSES  three loopback addresses: dump emulator, clear
                         emulator, and one where nothing listens
    TAVREL_TEST_WORK     a directory of this test's own
    TAVREL_TEST_ALARM    seconds after which the run stops itself
Checks that need the native tree are skipped while it has not been built;
a run with any skipped check exits with 77 (CTest: not run), so a pass
always means the reports were compared.
"""

import os
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "bmc"))

import bmcsim  # noqa: E402
import testsupport  # noqa: E402
from testsupport import Interrupted, executable, readFile, windowsPath  # noqa: E402

WINDOWS_CLI = os.environ.get("TAVREL_WINDOWS_CLI", "")
WINE_RUN = os.environ.get("TAVREL_WINE_RUN", os.path.join(HERE, "..", "scripts", "wine-run"))
WINE_PREFIX = os.environ.get("TAVREL_WINEPREFIX", "")
NATIVE_CLI = os.environ.get("TAVREL_NATIVE_CLI", "")
SEL_LINES = os.environ.get("SEL_LINES", "")
WORK = os.environ.get("TAVREL_TEST_WORK", "")
DUMP_ADDRESS, CLEAR_ADDRESS, EMPTY_ADDRESS = os.environ.get("TAVREL_TEST_ADDRESSES", ",,").split(",")

ENTRIES = 300
# Seconds a program run may take before the test kills it and fails; the
# first Wine run also creates the prefix.
RUN_LIMIT = 120
PREFIX_LIMIT = 240
# Seconds a --timeout run may take beyond its timeout: Wine's start-up.
WINE_SLACK = 5.0

LOGON = ["Get Session Challenge", "Activate Session Request", "Set Privilege Level", "Connected"]
DUMP_SAVED = LOGON + ["Opening file ...", "Requesting SEL data", "SEL Save Complete"]
DUMP_EMPTY = LOGON + ["Opening file ...", "Requesting SEL data", "SEL is Empty"]
DUMP_UNWRITABLE = LOGON + ["Opening file ...", "Error, Unable to open file"]
CLEARED = LOGON + ["Sending Clear SEL Request", "SEL Cleared"]


def workDir(name):
    return testsupport.workDir(WORK, name)


def wineEnvironment():
    env = dict(os.environ, TAVREL_PASSWORD=bmcsim.PASSWORD, WINEPREFIX=WINE_PREFIX)
    env.pop("DISPLAY", None)
    return env


def run(command, logDir, limit=RUN_LIMIT):
    """Runs command with the password in TAVREL_PASSWORD, its output in files
    (Wine's own processes may hold pipes open after it ends). Kills it by
    pid when it outlives limit. Returns (exit status, stderr lines without
    line ends, seconds taken)."""
    if testsupport.interrupted():
        raise Interrupted("stopped before %s" % command[0])  # the remaining tests fail fast
    outPath = os.path.join(logDir, "stdout.txt")
    errPath = os.path.join(logDir, "stderr.txt")
    began = time.monotonic()
    with open(outPath, "wb") as out, open(errPath, "wb") as err:
        process = subprocess.Popen(command, env=wineEnvironment(), stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=err, start_new_session=True)
        try:
            code = process.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s did not end within %s s" % (" ".join(command), limit))
        finally:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)
    seconds = time.monotonic() - began
    with open(errPath, "rb") as f:
        text = f.read().decode(errors="replace")
    return code, [line.rstrip("\r") for line in text.split("\n") if line.rstrip("\r")], seconds


def runWindows(args, logDir, limit=RUN_LIMIT):
    return run([WINE_RUN, WINDOWS_CLI] + list(args), logDir, limit)


def dumpArgs(address, output, timeout=None):
    args = ["dump", "--address", address, "--user", bmcsim.USER_NAME, "--output", output]
    if timeout is not None:
        args += ["--timeout", str(timeout)]
    return args


def stopWine():
    """Ends every process of this test's prefix (wineserver and the services it started)."""
    subprocess.run(["wineserver", "-k"], env=wineEnvironment(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30, check=False)


def setUpModule():
    if not executable(WINDOWS_CLI):
        raise AssertionError("tavrel-cli.exe not found (%r)" % WINDOWS_CLI)
    if not WINE_PREFIX:
        raise AssertionError("TAVREL_WINEPREFIX unset")
    unittest.addModuleCleanup(stopWine)
    # The first run creates the prefix; exit codes must come through.
    code, err, _ = run([WINE_RUN, "cmd", "/c", "exit", "7"], workDir("prefix"), PREFIX_LIMIT)
    if code != 7:
        raise AssertionError("wine cmd /c exit 7 gave %d: %s" % (code, err))


def startEmulator(testClass, address, records, name):
    return testsupport.startEmulator(testClass, address, records, workDir(name))


class DumpSel(unittest.TestCase):
    """One emulator with a SEL of sampleRecords, dumped by both builds."""

    @classmethod
    def setUpClass(cls):
        cls.records = bmcsim.sampleRecords(ENTRIES)
        startEmulator(cls, DUMP_ADDRESS, cls.records, "dump-emulator")
        cls.out = workDir("dump-out")
        cls.native = None
        if executable(NATIVE_CLI):
            path = os.path.join(cls.out, "native.txt")
            logDir = workDir("dump-native")
            code, err, _ = run([NATIVE_CLI] + dumpArgs(DUMP_ADDRESS, path), logDir)
            if code != 0:
                raise AssertionError("native dump gave %d: %s" % (code, err))
            cls.native = (readFile(path), err)
        cls.lines = (testsupport.reportLines(SEL_LINES, bmcsim.selReadRaw(DUMP_ADDRESS, cls.out))
                     if executable(SEL_LINES) else None)

    def checkReport(self, report):
        self.assertEqual(report.count(b"\r\n"), ENTRIES)
        self.assertEqual(report.count(b"\n"), ENTRIES)  # no bare LF
        self.assertEqual(report.count(b"\r"), ENTRIES)  # no bare CR
        self.assertTrue(report.endswith(b"\r\n"))
        self.assertEqual(testsupport.reportIds(report), list(range(1, ENTRIES + 1)))

    def test_native_reference(self):
        if self.native is None:
            self.skipTest("native tavrel-cli not built (%r)" % NATIVE_CLI)
        report, err = self.native
        self.assertEqual(err, DUMP_SAVED)
        self.checkReport(report)
        if self.lines is not None:
            self.assertEqual(report, self.lines)

    def test_report_equals_native_byte_for_byte(self):
        if self.native is None and self.lines is None:
            self.skipTest("neither native tavrel-cli nor sel-lines built (%r, %r)" % (NATIVE_CLI, SEL_LINES))
        # A new file, and an existing longer one that must be cut to the report.
        for case, before in (("new", None), ("overwritten", b"old line\n" * (ENTRIES * 20))):
            with self.subTest(case=case):
                path = os.path.join(self.out, "windows-%s.txt" % case)
                if before is not None:
                    with open(path, "wb") as f:
                        f.write(before)
                code, err, _ = runWindows(dumpArgs(DUMP_ADDRESS, windowsPath(path)), workDir("dump-" + case))
                self.assertEqual(code, 0, err)
                self.assertEqual(err, DUMP_SAVED)
                report = readFile(path)
                self.checkReport(report)
                if self.native is not None:
                    self.assertEqual(err, self.native[1])
                    self.assertEqual(report, self.native[0])
                if self.lines is not None:
                    self.assertEqual(report, self.lines)

    def test_failures(self):
        # case, arguments, exit code, first status texts, last status text, longest run
        unwritable = "Z:\\nonexistent\\dir\\r.txt"
        nowhere = os.path.join(self.out, "nowhere.txt")
        cases = [
            ("nobody listening", dumpArgs(EMPTY_ADDRESS, windowsPath(nowhere), 3), 1,
             ["Get Session Challenge"], "Logon Aborted", 3 + WINE_SLACK),
            ("unwritable output", dumpArgs(DUMP_ADDRESS, unwritable), 3,
             DUMP_UNWRITABLE, "Error, Unable to open file", RUN_LIMIT),
            ("no output given", ["dump", "--address", DUMP_ADDRESS, "--user", bmcsim.USER_NAME], 2,
             ["usage: tavrel-cli dump --address A --user U --output FILE [--timeout SECONDS]"],
             "Exit codes: 0 done, 1 logon aborted or disconnected, 2 usage, 3 report file error.", RUN_LIMIT),
        ]
        self.assertFalse(os.path.exists("/nonexistent"))
        for case, args, expectedCode, first, last, limit in cases:
            with self.subTest(case=case):
                code, err, seconds = runWindows(args, workDir("failure-" + case.replace(" ", "-")))
                self.assertEqual(code, expectedCode, err)
                self.assertEqual(err[:len(first)], first)
                self.assertEqual(err[-1:], [last])
                self.assertLess(seconds, limit)
        self.assertFalse(os.path.exists(nowhere))


class ClearSel(unittest.TestCase):
    """Clear under Wine empties the SEL; the dump after it reports an empty log."""

    @classmethod
    def setUpClass(cls):
        startEmulator(cls, CLEAR_ADDRESS, bmcsim.sampleRecords(ENTRIES, seed=5), "clear-emulator")
        cls.out = workDir("clear-out")

    def test_clear_then_dump_empty(self):
        self.assertEqual(bmcsim.selEntryCount(CLEAR_ADDRESS), ENTRIES)
        code, err, _ = runWindows(["clear", "--address", CLEAR_ADDRESS, "--user", bmcsim.USER_NAME],
                                  workDir("clear"))
        self.assertEqual(code, 0, err)
        self.assertEqual(err, CLEARED)
        self.assertEqual(bmcsim.selEntryCount(CLEAR_ADDRESS), 0)

        path = os.path.join(self.out, "empty.txt")
        with open(path, "wb") as f:
            f.write(b"old line\r\n")
        code, err, _ = runWindows(dumpArgs(CLEAR_ADDRESS, windowsPath(path)), workDir("clear-dump"))
        self.assertEqual(code, 0, err)
        self.assertEqual(err, DUMP_EMPTY)
        self.assertEqual(readFile(path), b"")


def main():
    if not WORK:
        print("TAVREL_TEST_WORK unset", file=sys.stderr)
        sys.exit(1)
    # Once only: a second signal must not break off the cleanups; the tests
    # left after the first fail fast (run()). Any skipped check means "not run".
    testsupport.runTests(WORK, 300, once=True, skipWhenAnySkipped=True)


if __name__ == "__main__":
    main()
