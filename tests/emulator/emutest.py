"""Shared pieces of the emulator tests: paths, the front end, the expected report.

CTest passes the paths in the environment:
    TAVREL_CLI        the command-line front end (tavrel-cli)
    SEL_LINES         the sel-lines tool (report lines for raw records)
    TAVREL_TEST_WORK  a directory of this test's own (wiped at start)
    TAVREL_TEST_ALARM seconds after which the run stops itself (below the
                      CTest TIMEOUT, so that the cleanups still run)
A test that needs the front end is skipped while it has not been built;
a run where every test was skipped exits with SKIP_RETURN_CODE.
"""

import os
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "bmc"))

import bmcsim  # noqa: E402
import testsupport  # noqa: E402
from testsupport import readFile, reportIds  # noqa: E402,F401

CLI = os.environ.get("TAVREL_CLI", "")
SEL_LINES = os.environ.get("SEL_LINES", "")
WORK = os.environ.get("TAVREL_TEST_WORK") or os.path.join(tempfile.gettempdir(), "tavrel-emulator-tests")

# Seconds a front-end run may take before the test kills it and fails.
CLI_LIMIT = 120
# Seconds a --timeout run may overrun its timeout.
TIMEOUT_SLACK = 2.0


def workDir(name):
    """An empty directory for one test case, under this test's work directory."""
    return testsupport.workDir(WORK, name)


def requireCli():
    if not testsupport.executable(CLI):
        raise unittest.SkipTest("tavrel-cli not built (%s)" % (CLI or "TAVREL_CLI unset"))


def runCli(args, password=bmcsim.PASSWORD, limit=CLI_LIMIT):
    """Runs tavrel-cli with args and the password in TAVREL_PASSWORD.
    Returns (exit status, standard error text, seconds taken)."""
    env = dict(os.environ)
    env["TAVREL_PASSWORD"] = password
    began = time.monotonic()
    try:
        done = subprocess.run([CLI] + list(args), env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=limit, check=False)
    except subprocess.TimeoutExpired:
        raise AssertionError("tavrel-cli %s did not end within %s s" % (" ".join(args), limit))
    return done.returncode, done.stderr.decode(errors="replace"), time.monotonic() - began


def dump(address, output, timeout=None, user=bmcsim.USER_NAME, password=bmcsim.PASSWORD):
    args = ["dump", "--address", address, "--user", user, "--output", output]
    if timeout is not None:
        args += ["--timeout", str(timeout)]
    return runCli(args, password)


def clear(address, user=bmcsim.USER_NAME, password=bmcsim.PASSWORD):
    return runCli(["clear", "--address", address, "--user", user], password)


def reportLines(records):
    """The report the tested formatter writes for records, as bytes."""
    return testsupport.reportLines(SEL_LINES, records)


def startEmulator(testCase, address, records, name, maxEntries=None):
    """An emulator with its state in workDir(name), stopped by pid when the
    test class or test (testCase) is done."""
    return testsupport.startEmulator(testCase, address, records, workDir(name), maxEntries)


def main():
    """Runs the tests of __main__, bounded by TAVREL_TEST_ALARM seconds (100 when unset)."""
    testsupport.runTests(WORK, 100)
