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
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "bmc"))

import bmcsim  # noqa: E402

SKIP_RETURN_CODE = 77
CLI = os.environ.get("TAVREL_CLI", "")
SEL_LINES = os.environ.get("SEL_LINES", "")
WORK = os.environ.get("TAVREL_TEST_WORK") or os.path.join(tempfile.gettempdir(), "tavrel-emulator-tests")

# Seconds a front-end run may take before the test kills it and fails.
CLI_LIMIT = 120
# Seconds a --timeout run may overrun its timeout.
TIMEOUT_SLACK = 2.0


class Interrupted(Exception):
    """The test run was told to stop (SIGTERM from CTest, or its own alarm)."""


def _interrupt(signum, frame):
    raise Interrupted("signal %d" % signum)


def workDir(name):
    """An empty directory for one test case, under this test's work directory."""
    path = os.path.join(WORK, name)
    if os.path.exists(path):
        shutil.rmtree(path)
    os.makedirs(path)
    return path


def requireCli():
    if not (CLI and os.access(CLI, os.X_OK)):
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
    if not (SEL_LINES and os.access(SEL_LINES, os.X_OK)):
        raise AssertionError("sel-lines not found (%r)" % SEL_LINES)
    done = subprocess.run([SEL_LINES], input=b"".join(records), capture_output=True, timeout=60, check=False)
    if done.returncode != 0:
        raise AssertionError("sel-lines failed: %s" % done.stderr.decode(errors="replace"))
    return done.stdout


def reportIds(report):
    """The record IDs at the start of each line of a report."""
    return [int(line.split(b"=", 1)[0]) for line in report.split(b"\r\n") if line]


def readFile(path):
    with open(path, "rb") as f:
        return f.read()


def startEmulator(testCase, address, records, name, maxEntries=None):
    """Starts an emulator for a test class (testCase is the class) or a test
    (an instance); it is stopped by pid when the class or test is done,
    whatever happens."""
    emulator = bmcsim.Emulator(address, records, workDir(name), maxEntries, dieWithParent=True)
    if isinstance(testCase, type):
        testCase.addClassCleanup(emulator.stop)
    else:
        testCase.addCleanup(emulator.stop)
    emulator.start()
    return emulator


def main():
    """Runs the tests of __main__, bounded by TAVREL_TEST_ALARM seconds."""
    signal.signal(signal.SIGTERM, _interrupt)
    signal.signal(signal.SIGALRM, _interrupt)
    signal.alarm(int(os.environ.get("TAVREL_TEST_ALARM", "100")))
    os.makedirs(WORK, exist_ok=True)
    program = unittest.main(module="__main__", exit=False, verbosity=2)
    signal.alarm(0)
    result = program.result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.testsRun > 0 and len(result.skipped) == result.testsRun:
        sys.exit(SKIP_RETURN_CODE)
    sys.exit(0)
