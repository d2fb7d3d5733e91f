"""Pieces the Python test harnesses share: work directories, files and Wine
paths, the expected report, emulators stopped by pid, a peer that never
answers, and the bounded test run with its signal handling and exit codes.

The harnesses (tests/emulator/emutest.py, tests/e2e/e2e.py,
cli/windows_cli_test.py) put this folder on sys.path, as they do for bmcsim.
"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import unittest

import bmcsim

# CTest's SKIP_RETURN_CODE of the tests: "not run".
SKIP_RETURN_CODE = 77


class Interrupted(Exception):
    """The run was told to stop (SIGTERM or SIGINT, or its own alarm)."""


g_interrupted = False
g_interruptOnce = False


def interrupt(signum, frame):
    """Raises Interrupted. Under catchSignals(once=True) only for the first
    signal, so that a second one cannot break off the cleanups."""
    global g_interrupted
    if g_interrupted and g_interruptOnce:
        return
    g_interrupted = True
    raise Interrupted("signal %d" % signum)


def interrupted():
    """True once a signal has come."""
    return g_interrupted


def catchSignals(signals, once=False):
    """interrupt() for each of signals."""
    global g_interruptOnce
    g_interruptOnce = once
    for sig in signals:
        signal.signal(sig, interrupt)


def runTests(work, alarmSeconds, signals=(signal.SIGTERM,), once=False, skipWhenAnySkipped=False):
    """Runs the tests of __main__ and exits: 1 on a failure, SKIP_RETURN_CODE
    when every test was skipped (or, with skipWhenAnySkipped, any test), else
    0. The run stops itself after TAVREL_TEST_ALARM seconds (alarmSeconds
    when unset) by raising Interrupted, as it does for signals."""
    catchSignals(tuple(signals) + (signal.SIGALRM,), once)
    signal.alarm(int(os.environ.get("TAVREL_TEST_ALARM", str(alarmSeconds))))
    os.makedirs(work, exist_ok=True)
    program = unittest.main(module="__main__", exit=False, verbosity=2)
    signal.alarm(0)
    result = program.result
    if not result.wasSuccessful():
        sys.exit(1)
    if skipWhenAnySkipped:
        skipped = bool(result.skipped)
    else:
        skipped = result.testsRun > 0 and len(result.skipped) == result.testsRun
    sys.exit(SKIP_RETURN_CODE if skipped else 0)


def workDir(root, name):
    """An empty directory root/name (made absolute) for one test case."""
    path = os.path.join(os.path.abspath(root), name)
    if os.path.exists(path):
        shutil.rmtree(path)
    os.makedirs(path)
    return path


def windowsPath(path):
    """The path Wine shows for a Linux path: drive Z: is the root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def readFile(path):
    with open(path, "rb") as f:
        return f.read()


def executable(path):
    return bool(path) and os.access(path, os.X_OK)


def reportLines(selLines, records):
    """The report the tested formatter writes for records, as bytes; selLines
    is the native sel-lines tool."""
    if not executable(selLines):
        raise AssertionError("sel-lines not found (%r); build the native preset first" % selLines)
    done = subprocess.run([selLines], input=b"".join(records), capture_output=True, timeout=60, check=False)
    if done.returncode != 0:
        raise AssertionError("sel-lines failed: %s" % done.stderr.decode(errors="replace"))
    return done.stdout


def reportIds(report):
    """The record IDs at the start of each line of a report."""
    return [int(line.split(b"=", 1)[0]) for line in report.split(b"\r\n") if line]


def startEmulator(testCase, address, records, stateDir, maxEntries=None):
    """Starts an emulator for a test class (testCase is the class) or a test
    (an instance); it is stopped by pid when the class or test is done,
    whatever happens."""
    emulator = bmcsim.Emulator(address, records, stateDir, maxEntries, dieWithParent=True)
    if isinstance(testCase, type):
        testCase.addClassCleanup(emulator.stop)
    else:
        testCase.addCleanup(emulator.stop)
    emulator.start()
    return emulator


class MutePeer:
    """A UDP socket on address:623 that keeps every datagram and answers none.
    datagrams holds those not yet taken, received counts them all."""

    def __init__(self, address):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((bmcsim.checkLoopback(address), bmcsim.IPMI_PORT))
        self.sock.settimeout(0.05)
        self.lock = threading.Lock()
        self.datagrams = []
        self.received = 0
        self.running = True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while self.running:
            try:
                data, _ = self.sock.recvfrom(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            with self.lock:
                self.datagrams.append(data)
                self.received += 1

    def take(self):
        """The datagrams received since the last take."""
        with self.lock:
            got, self.datagrams = self.datagrams, []
        return got

    def close(self):
        self.running = False
        self.thread.join(timeout=5)
        self.sock.close()
