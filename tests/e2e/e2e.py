#!/usr/bin/env python3
"""The end-to-end harness: Tavrel.exe under Wine on an Xvfb display of its own,
driven through tavrel-driver (window messages) and xdotool (real X input),
against ipmi_sim (tests/bmc/bmcsim.py).

CTest passes, in the environment:
    TAVREL_EXE         the program under test (Tavrel.exe)
    TAVREL_DRIVER      the driver (tavrel-driver.exe, same architecture)
    SEL_LINES          the native sel-lines tool (report lines for records)
    TAVREL_E2E_PREFIX  the Wine prefix of this run (made by "e2e.py prefix")
    TAVREL_E2E_NET     the first three parts of the loopback addresses the
                       tests use, e.g. 127.0.11 (the last part comes from
                       each test)
    TAVREL_E2E_BASE    the number the last parts start at (10, 20, ...), so
                       that the x64 and x86 runs never share an address
    TAVREL_TEST_WORK   a directory of this test's own
    TAVREL_TEST_ALARM  seconds after which the test stops itself, below
                       CTest's TIMEOUT so that the cleanups still run

As a command:
    e2e.py prefix      wipes and initialises the run's Wine prefix (wineboot)
    e2e.py walk ...    the unattended walk of scripts/run-tavrel (see walk())

Every process started here (Xvfb, wine, ipmi_sim) is ended by its pid,
and each test ends with wineserver -k for its prefix; all of them are also
set to get SIGKILL when the test process dies.
"""

import fcntl
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "bmc"))

import bmcsim  # noqa: E402
import testsupport  # noqa: E402
from testsupport import Interrupted, MutePeer, readFile, reportIds, windowsPath  # noqa: E402,F401

TAVREL_EXE = os.environ.get("TAVREL_EXE", "")
DRIVER_EXE = os.environ.get("TAVREL_DRIVER", "")
SEL_LINES = os.environ.get("SEL_LINES", "")
PREFIX = os.environ.get("TAVREL_E2E_PREFIX", "")
NET = os.environ.get("TAVREL_E2E_NET", "127.0.11")
BASE = int(os.environ.get("TAVREL_E2E_BASE", "10"))
WORK = os.environ.get("TAVREL_TEST_WORK") or os.path.join(tempfile.gettempdir(), "tavrel-e2e")

# Control IDs and texts of the main window.
IDC_MAIN = 0
IDC_ADDRESS = 1000
IDC_USERNAME = 1001
IDC_PASSWORD = 1002
IDC_LOGON = 1009
IDC_STATUS = 1010
IDC_DUMP_SEL = 1012
IDC_CLEAR_SEL = 1013
WINDOW_CLASS = "Tavrel"
WINDOW_TITLE = "Tavrel V1.1"

LOGON = "Logon"
LOGGING_ON = "Logging on (Abort)"
DISCONNECT = "Disconnect"

CONNECTING = "Connecting"
GET_CHALLENGE = "Get Session Challenge"
ACTIVATE = "Activate Session Request"
SET_PRIVILEGE = "Set Privilege Level"
CONNECTED = "Connected"
LOGON_ABORTED = "Logon Aborted"
DISCONNECTED = "Disconnected"
INVALID_FIELDS = "Invalid IP, User Name, or Password"
OPENING_FILE = "Opening file ..."
REQUESTING_SEL = "Requesting SEL data"
SEL_SAVED = "SEL Save Complete"
SEL_EMPTY = "SEL is Empty"
SENDING_CLEAR = "Sending Clear SEL Request"
SEL_CLEARED = "SEL Cleared"
TIMED_OUT = "Session Timed Out"

# The status texts of a logon, a dump and a clear, in order.
LOGON_TEXTS = [CONNECTING, GET_CHALLENGE, ACTIVATE, SET_PRIVILEGE, CONNECTED]
DUMP_TEXTS = [OPENING_FILE, REQUESTING_SEL, SEL_SAVED]
EMPTY_DUMP_TEXTS = [OPENING_FILE, REQUESTING_SEL, SEL_EMPTY]
CLEAR_TEXTS = [SENDING_CLEAR, SEL_CLEARED]
# The refresh of an idle session every 30 s may show these at any time.
REFRESH_TEXTS = (TIMED_OUT, CONNECTED)

# Bounds, in seconds.
DRIVER_LIMIT = 20          # one driver run (it bounds its own waits at 10 s)
XVFB_START_LIMIT = 20
WINDOW_LIMIT = 60          # Tavrel.exe until its window shows
STEP_LIMIT = 30            # a logon, a dump of a small SEL, a clear
PREFIX_LIMIT = 180         # wineboot of a new prefix
STOP_GRACE = 5.0
SERVER_END_LIMIT = 15
POLL = 0.02
# struct flock of Linux: type, whence, start, length, pid.
FLOCK_FORMAT = "hhqqi4x"

WINE_ENV = {
    "WINEDEBUG": "-all",
    # No Mono or Gecko install dialogs in a new prefix.
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
}


def address(offset):
    """The loopback address offset places after this run's base."""
    return bmcsim.checkLoopback("%s.%d" % (NET, BASE + offset))


def workDir(name):
    """An empty directory of one test case under this test's work directory."""
    return testsupport.workDir(WORK, name)


def reportLines(records):
    """The report the tested formatter writes for records, as bytes."""
    return testsupport.reportLines(SEL_LINES, records)


# ---- Processes --------------------------------------------------------------------

def _childSetup():
    # Its own process group, and SIGKILL when the test process dies.
    os.setsid()
    bmcsim.killWithParent()


def stopProcess(process, grace=STOP_GRACE):
    """SIGTERM, then SIGKILL, to a Popen's pid; waits for it. True when gone."""
    if process is None or process.poll() is not None:
        return True
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(process.pid, sig)
        except ProcessLookupError:
            break
        try:
            process.wait(timeout=grace)
            return True
        except subprocess.TimeoutExpired:
            pass
    return process.poll() is not None


class Xvfb:
    """An Xvfb server on a free display that it picks itself (-displayfd)."""

    def __init__(self, width=1024, height=768):
        self.size = (width, height)
        self.process = None
        self.display = None

    def start(self):
        readEnd, writeEnd = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(writeEnd), "-screen", "0", "%dx%dx24" % self.size,
                 "-nolisten", "tcp", "-noreset"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                pass_fds=(writeEnd,), preexec_fn=_childSetup)
            os.close(writeEnd)
            writeEnd = None
            number = b""
            deadline = time.monotonic() + XVFB_START_LIMIT
            os.set_blocking(readEnd, False)
            while not number.endswith(b"\n"):
                if time.monotonic() > deadline or self.process.poll() is not None:
                    raise RuntimeError("Xvfb did not start")
                try:
                    chunk = os.read(readEnd, 16)
                except BlockingIOError:
                    time.sleep(POLL)
                    continue
                if not chunk:
                    raise RuntimeError("Xvfb closed its display pipe")
                number += chunk
            self.display = ":" + number.decode().strip()
        except BaseException:
            self.stop()
            raise
        finally:
            if writeEnd is not None:
                os.close(writeEnd)
            os.close(readEnd)
        return self.display

    def stop(self):
        ok = stopProcess(self.process)
        self.process = None
        return ok


class Wine:
    """Runs Windows programs in one prefix on one display."""

    def __init__(self, prefix, display):
        self.prefix = os.path.abspath(prefix)
        self.display = display
        self.env = dict(os.environ, WINEPREFIX=self.prefix, **WINE_ENV)
        if display is None:
            self.env.pop("DISPLAY", None)
        else:
            self.env["DISPLAY"] = display

    def command(self, program, *args):
        return ["wine", program] + [str(a) for a in args]

    def start(self, program, *args, cwd=None, log=None):
        return subprocess.Popen(self.command(program, *args), cwd=cwd, env=self.env,
                                stdin=subprocess.DEVNULL, stdout=log or subprocess.DEVNULL,
                                stderr=subprocess.STDOUT if log else subprocess.DEVNULL,
                                preexec_fn=_childSetup)

    def run(self, program, *args, limit=DRIVER_LIMIT):
        """Runs program to its end; returns (exit status, standard output)."""
        process = subprocess.Popen(self.command(program, *args), env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=_childSetup)
        try:
            out, _ = process.communicate(timeout=limit)
        except subprocess.TimeoutExpired:
            stopProcess(process)
            process.communicate()
            raise AssertionError("%s %s: no end within %s s" % (os.path.basename(program), " ".join(map(str, args)),
                                                               limit))
        finally:
            if process.poll() is None:
                stopProcess(process)
        return process.returncode, out.decode(errors="replace")

    def killServer(self):
        """wineserver -k for this prefix, when its server runs: ends every Wine
        process in it; then waits until the server itself has gone (SIGKILL
        to its pid if it lingers). Returns True when no server is left."""
        pid = serverPid(self.prefix)
        if pid is None:
            return True
        try:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30, check=False,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass
        return waitForServerEnd(self.prefix, pid, SERVER_END_LIMIT)


def serverPid(prefix):
    """The pid of the wineserver of prefix, or None when none runs. The server
    holds a lock on the file "lock" of its directory, /tmp/<dir named in the
    prefix's file "wineserver">/server-<device>-<inode> with Debian's Wine,
    /tmp/.wine-<uid>/server-<device>-<inode> otherwise."""
    try:
        st = os.stat(prefix)
    except OSError:
        return None
    leaf = "server-%x-%x" % (st.st_dev, st.st_ino)
    candidates = [os.path.join("/tmp", ".wine-%d" % os.getuid(), leaf)]
    try:
        with open(os.path.join(prefix, "wineserver")) as f:
            candidates.insert(0, os.path.join("/tmp", os.path.basename(f.read().strip()), leaf))
    except OSError:
        pass
    for directory in candidates:
        try:
            fd = os.open(os.path.join(directory, "lock"), os.O_RDWR)
        except OSError:
            continue
        try:
            query = struct.pack(FLOCK_FORMAT, fcntl.F_WRLCK, os.SEEK_SET, 0, 0, 0)
            lockType, _, _, _, pid = struct.unpack(FLOCK_FORMAT, fcntl.fcntl(fd, fcntl.F_GETLK, query))
        finally:
            os.close(fd)
        if lockType != fcntl.F_UNLCK and pid > 0:
            return pid
    return None


def waitForServerEnd(prefix, pid, limit):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if serverPid(prefix) != pid:
            return True
        time.sleep(0.05)
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        return True
    time.sleep(0.5)
    return serverPid(prefix) != pid


def initPrefix(prefix):
    """A fresh prefix: wiped, then wineboot -i without a display."""
    prefix = os.path.abspath(prefix)
    if os.path.exists(prefix):
        wine = Wine(prefix, None)
        wine.killServer()
        shutil.rmtree(prefix)
    os.makedirs(prefix)
    wine = Wine(prefix, None)
    began = time.monotonic()
    process = subprocess.Popen(["wineboot", "-i"], env=wine.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_childSetup)
    try:
        process.wait(timeout=PREFIX_LIMIT)
        # wineboot returns before the server has written the registry out.
        pid = serverPid(prefix)
        if pid is not None:
            waitForServerEnd(prefix, pid, PREFIX_LIMIT)
    except subprocess.TimeoutExpired:
        raise RuntimeError("wineboot did not finish within %s s" % PREFIX_LIMIT)
    finally:
        stopProcess(process)
        wine.killServer()
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        raise RuntimeError("wineboot left no registry in %s" % prefix)
    return time.monotonic() - began


# ---- The driver and the X input ----------------------------------------------------

class DriverError(AssertionError):
    pass


class Driver:
    """tavrel-driver, one run per command."""

    def __init__(self, wine):
        self.wine = wine

    def call(self, *args):
        """Returns (True, value) for "ok", (False, reason) for "no"; raises on "err"."""
        code, out = self.wine.run(DRIVER_EXE, *args)
        line = out.strip().splitlines()[-1].rstrip("\r") if out.strip() else ""
        word, _, value = line.partition(" ")
        if code == 0 and word == "ok":
            return True, value
        if code == 1 and word == "no":
            return False, value
        raise DriverError("driver %s: exit %d, %r" % (" ".join(map(str, args)), code, out))

    def ok(self, *args):
        done, value = self.call(*args)
        if not done:
            raise DriverError("driver %s: %s" % (" ".join(map(str, args)), value))
        return value

    def text(self, control):
        return self.ok("text", control)

    def setText(self, control, text):
        self.ok("settext", control, *([text] if text else []))

    def enabled(self, control):
        return self.ok("enabled", control) == "1"

    def click(self, control):
        self.ok("click", control)

    def rect(self, control):
        return tuple(int(v) for v in self.ok("rect", control).split())

    def hasWindow(self):
        return self.call("window")[0]

    def saveDialog(self):
        return self.call("savedialog")[0]


class XInput:
    """Real pointer and keyboard input on one display, with xdotool."""

    def __init__(self, display):
        self.env = dict(os.environ, DISPLAY=display)

    def run(self, *args):
        done = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, capture_output=True,
                              timeout=20, check=False)
        if done.returncode != 0:
            raise AssertionError("xdotool %s: %s" % (" ".join(map(str, args)), done.stderr.decode(errors="replace")))
        return done.stdout.decode()

    def windowIds(self, name):
        done = subprocess.run(["xdotool", "search", "--name", "^%s$" % name], env=self.env, capture_output=True,
                              timeout=20, check=False)
        return done.stdout.decode().split()

    def clickAt(self, rect):
        left, top, right, bottom = rect
        self.run("mousemove", (left + right) // 2, (top + bottom) // 2, "click", "1")

    def replaceText(self, rect, text):
        """Clicks into the edit, selects its text (End, then shift+Home) and types."""
        self.clickAt(rect)
        self.run("key", "--delay", "30", "End", "shift+Home")
        if text:
            self.run("type", "--delay", "30", text)
        else:
            self.run("key", "BackSpace")


def screenshot(display, path, rect=None):
    """The screen, or the rectangle of it, as a PNG file."""
    args = ["import", "-display", display, "-window", "root"]
    if rect is not None:
        left, top, right, bottom = rect
        args += ["-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage"]
    subprocess.run(args + [path], timeout=30, check=True, capture_output=True)
    return path


# ---- The program under test ----------------------------------------------------------

class Tavrel:
    """Tavrel.exe on its own display and in the run's prefix, with its
    driver and X input. start() then stop(); stop() is safe twice."""

    def __init__(self, workDirectory, exe=None, prefix=None):
        self.exe = exe or TAVREL_EXE
        self.prefix = prefix or PREFIX
        self.cwd = workDirectory
        self.xvfb = Xvfb()
        self.wine = None
        self.process = None
        self.driver = None
        self.x = None
        self.logPath = os.path.join(workDirectory, "tavrel.log")
        self.log = None

    def start(self):
        for path, what in ((self.exe, "TAVREL_EXE"), (DRIVER_EXE, "TAVREL_DRIVER")):
            if not (path and os.path.isfile(path)):
                raise AssertionError("%s not found (%r)" % (what, path))
        if not (self.prefix and os.path.exists(os.path.join(self.prefix, "system.reg"))):
            raise AssertionError("no initialised Wine prefix (%r); run e2e.py prefix" % self.prefix)
        try:
            display = self.xvfb.start()
            self.wine = Wine(self.prefix, display)
            self.driver = Driver(self.wine)
            self.x = XInput(display)
            self.log = open(self.logPath, "wb")
            self.process = self.wine.start(self.exe, cwd=self.cwd, log=self.log)
            waitFor(lambda: self.process.poll() is not None or self.driver.hasWindow(), WINDOW_LIMIT,
                    "the Tavrel window")
            if self.process.poll() is not None:
                raise AssertionError("Tavrel.exe ended at once (%d)" % self.process.returncode)
        except BaseException:
            self.stop()
            raise
        return self

    def stop(self):
        if self.process is not None:
            stopProcess(self.process)
            self.process = None
        if self.wine is not None:
            self.wine.killServer()
            self.wine = None
        self.xvfb.stop()
        if self.log is not None:
            self.log.close()
            self.log = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False

    # What the window shows.
    def status(self):
        return self.driver.text(IDC_STATUS)

    def state(self):
        """(status text, button text, Dump SEL enabled, Clear SEL enabled)."""
        d = self.driver
        return d.text(IDC_STATUS), d.text(IDC_LOGON), d.enabled(IDC_DUMP_SEL), d.enabled(IDC_CLEAR_SEL)

    def settledState(self, expected, limit=3.0):
        """The state once it equals expected, or as it stands after limit
        seconds. A notification sets the status text before the buttons, so
        a read right after the text changes may see the buttons a moment
        early; expected is a state tuple or a predicate over one."""
        matches = expected if callable(expected) else (lambda state: state == expected)
        deadline = time.monotonic() + limit
        state = self.state()
        while not matches(state) and time.monotonic() < deadline:
            time.sleep(POLL)
            state = self.state()
        return state

    def setFields(self, addressText, user, password):
        for control, text in ((IDC_ADDRESS, addressText), (IDC_USERNAME, user), (IDC_PASSWORD, password)):
            self.driver.setText(control, text)

    def fields(self):
        return tuple(self.driver.text(c) for c in (IDC_ADDRESS, IDC_USERNAME, IDC_PASSWORD))

    def waitStatus(self, path, before=None, also=(), limit=STEP_LIMIT):
        """Polls the status line until it reads the last text of path. Until a
        text of path shows, the line may still read before (its text before
        the action); every other text seen must come from path, in path's
        order, or from also (texts that may show at any time, such as those
        of a refresh). Returns the texts seen, in order."""
        wanted = path[-1]
        seen = []
        rank = -1
        deadline = time.monotonic() + limit
        while True:
            text = self.status()
            if not seen or seen[-1] != text:
                seen.append(text)
                later = [i for i, t in enumerate(path) if t == text and i >= rank]
                if later:
                    rank = later[0]
                elif text in path:
                    raise AssertionError("status %r after %r; seen %r" % (text, path[rank], seen))
                elif not ((rank < 0 and text == before) or text in also):
                    raise AssertionError("unexpected status %r while waiting for %r; seen %r" % (text, wanted, seen))
            if rank == len(path) - 1:
                return seen
            if time.monotonic() > deadline:
                raise AssertionError("status never read %r within %s s; seen %r" % (wanted, limit, seen))
            time.sleep(POLL)

    def openSaveDialog(self, click=None):
        """Presses Dump SEL (click, or the driver's BM_CLICK) and waits for the
        Save As dialog."""
        (click or (lambda: self.driver.click(IDC_DUMP_SEL)))()
        waitFor(self.driver.saveDialog, STEP_LIMIT, "the Save As dialog")


def waitFor(predicate, limit, what):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(POLL)
    raise AssertionError("no %s within %s s" % (what, limit))


def startEmulator(testCase, emulatorAddress, records, name, maxEntries=None):
    """An emulator with its state in workDir(name), stopped by pid when the
    test (or class) is done."""
    return testsupport.startEmulator(testCase, emulatorAddress, records, workDir(name), maxEntries)


def main():
    """Runs the tests of __main__, bounded by TAVREL_TEST_ALARM seconds (200 when unset)."""
    testsupport.runTests(WORK, 200, signals=(signal.SIGTERM, signal.SIGINT))


# ---- Commands -----------------------------------------------------------------------

def walk(exe, driverExe, prefix, bmcAddress, user, password, outDir):
    """Unattended: Logon, Dump SEL to outDir/sel-report.txt, Disconnect, on an
    Xvfb display of its own. Returns (report path, screenshot path)."""
    global DRIVER_EXE
    DRIVER_EXE = driverExe
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        initPrefix(prefix)
    os.makedirs(outDir, exist_ok=True)
    report = os.path.join(outDir, "sel-report.txt")
    shot = os.path.join(outDir, "tavrel-connected.png")
    if os.path.exists(report):
        os.remove(report)
    with Tavrel(outDir, exe, prefix) as app:
        app.setFields(bmcAddress, user, password)
        if app.fields() != (bmcAddress, user, password):
            raise RuntimeError("the fields did not take the logon values")
        app.driver.click(IDC_LOGON)
        app.waitStatus(LOGON_TEXTS, before="")
        screenshot(app.xvfb.display, shot, app.driver.rect(IDC_MAIN))
        app.openSaveDialog()
        if app.driver.ok("save", windowsPath(report)) not in ("saved", "overwritten"):
            raise RuntimeError("the Save As dialog did not take the file")
        app.waitStatus(DUMP_TEXTS, before=CONNECTED, also=REFRESH_TEXTS, limit=120)
        app.driver.click(IDC_LOGON)
        app.waitStatus([DISCONNECTED], before=SEL_SAVED, also=REFRESH_TEXTS)
        app.driver.ok("close")
        waitFor(lambda: app.process.poll() is not None, 20, "the end of Tavrel.exe")
    return report, shot


def commandLine(argv):
    import argparse
    parser = argparse.ArgumentParser(description="Tavrel end-to-end harness")
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("prefix", help="wipe and initialise a Wine prefix")
    p.add_argument("path", nargs="?", default=PREFIX)
    w = sub.add_parser("walk", help="Logon, Dump SEL, Disconnect on a display of its own")
    w.add_argument("--exe", required=True)
    w.add_argument("--driver", required=True)
    w.add_argument("--prefix", required=True)
    w.add_argument("--address", required=True)
    w.add_argument("--user", default=bmcsim.USER_NAME)
    w.add_argument("--password", default=bmcsim.PASSWORD)
    w.add_argument("--out", required=True)
    args = parser.parse_args(argv)
    testsupport.catchSignals((signal.SIGTERM, signal.SIGINT))
    try:
        if args.command == "prefix":
            if not args.path:
                parser.error("no prefix path (TAVREL_E2E_PREFIX unset)")
            seconds = initPrefix(args.path)
            print("prefix %s ready in %.1f s" % (args.path, seconds))
        else:
            report, shot = walk(args.exe, args.driver, os.path.abspath(args.prefix), args.address, args.user,
                                args.password, os.path.abspath(args.out))
            print("report: %s" % report)
            print("screenshot: %s" % shot)
    except (RuntimeError, AssertionError, Interrupted) as error:
        print("e2e: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(commandLine(sys.argv[1:]))
