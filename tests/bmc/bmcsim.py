#!/usr/bin/env python3
"""OpenIPMI ipmi_sim as a BMC on a loopback address, and the peers that read it.

As a module: Emulator (a context manager that starts ipmi_sim with a SEL of
given records and stops it by pid), the record generators sampleRecords and
bulkRecords, and wrappers around ipmitool and FreeIPMI ipmi-sel.

As a command:
    bmcsim.py start --address 127.0.10.200 --state DIR [--entries N] [--mode sample|bulk]
    bmcsim.py stop --pid PID
    bmcsim.py info|clear|writeraw|hexdump --address A
    bmcsim.py add --address A --record HEX32
start prints the emulator's pid; the emulator runs until stop.

Only loopback addresses (127.0.0.0/8) are accepted, port 623.
"""

import argparse
import ctypes
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

IPMI_PORT = 623
USER_NAME = "USERID"
PASSWORD = "KEBRU7NY"
BMC_ADDRESS = 0x20
RECORD_SIZE = 16
SEL_FLAGS = 0x0A  # Reserve SEL and Delete SEL supported

# Seconds an ipmitool or ipmi-sel call may take before it is killed.
PEER_TIMEOUT = 60
# Seconds from SIGTERM to SIGKILL, and after SIGKILL, when stopping.
STOP_GRACE = 3.0

LAN_CONF = """name "tavrel"
set_working_mc 0x20
startlan 1
  addr {address} {port}
  priv_limit admin
  allowed_auths_callback none md2 md5 straight
  allowed_auths_user none md2 md5 straight
  allowed_auths_operator none md2 md5 straight
  allowed_auths_admin none md2 md5 straight
  guid a123456789abcdefa123456789abcdef
endlan
user 2 true "{user}" "{password}" admin 10 none md2 md5 straight
"""


def checkLoopback(address):
    """Returns address when it is a dotted 127.x.y.z; raises ValueError otherwise."""
    parts = address.split(".")
    if len(parts) != 4 or not all(p.isdigit() and int(p) <= 255 for p in parts) or parts[0] != "127":
        raise ValueError("not a loopback address: %r" % address)
    return address


# ---- Records -------------------------------------------------------------------

def systemEvent(sensorType, sensorNumber, eventType, offset, deassert=False,
                data2=0xFF, data3=0xFF, generator=(0x20, 0x00)):
    """A type 0x02 record; record ID and time stamp are left 0 (the BMC sets them)."""
    direction = 0x80 if deassert else 0x00
    return bytes([0, 0, 0x02, 0, 0, 0, 0, generator[0], generator[1], 0x04,
                  sensorType, sensorNumber, direction | eventType,
                  offset, data2, data3])


def oemTimestamped(recordType, manufacturer, oemBytes):
    """A record of type 0xC0..0xDF: manufacturer ID (little-endian) and 6 OEM bytes."""
    assert 0xC0 <= recordType <= 0xDF and len(oemBytes) == 6
    return bytes([0, 0, recordType, 0, 0, 0, 0,
                  manufacturer & 0xFF, (manufacturer >> 8) & 0xFF, (manufacturer >> 16) & 0xFF]) + bytes(oemBytes)


def oemUnstamped(recordType, oemBytes):
    """A record of type 0xE0..0xFF: 13 OEM bytes."""
    assert 0xE0 <= recordType <= 0xFF and len(oemBytes) == 13
    return bytes([0, 0, recordType]) + bytes(oemBytes)


# Representative entries first, so even a short SEL holds each kind: threshold
# and discrete (0x6F) system events, assertion and deassertion, sensor
# numbers of one, two and three digits, OEM records with and without a time
# stamp, including the types that carry an event code (C0, C1, E0, E1).
REPRESENTATIVE = [
    systemEvent(0x01, 0x30, 0x01, 0x09, data2=0x5A, data3=0x55),          # temperature upper critical going high
    systemEvent(0x01, 0x30, 0x01, 0x09, deassert=True, data2=0x50, data3=0x55),
    systemEvent(0x02, 0x04, 0x01, 0x02, data2=0x9C, data3=0xA0),          # voltage lower critical
    systemEvent(0x04, 0x61, 0x01, 0x00, data2=0x05, data3=0x08),          # fan lower non-critical
    systemEvent(0x07, 0x05, 0x6F, 0x01),                                   # processor thermal trip
    systemEvent(0x08, 0xC8, 0x6F, 0x00),                                   # power supply presence
    systemEvent(0x08, 0xC8, 0x6F, 0x01, deassert=True),                    # power supply failure gone
    systemEvent(0x0C, 0xFF, 0x6F, 0x00, data2=0x00, data3=0x01),           # memory correctable ECC
    systemEvent(0x10, 0x09, 0x6F, 0x02, data2=0x00, data3=0x00),           # SEL cleared
    systemEvent(0x12, 0x0A, 0x6F, 0x05),                                   # system event: timestamp clock sync
    systemEvent(0x13, 0x63, 0x6F, 0x04),                                   # critical interrupt: PCI SERR
    systemEvent(0x1D, 0x64, 0x6F, 0x07, generator=(0x33, 0x00)),           # system boot, from BIOS
    systemEvent(0x21, 0x00, 0x6F, 0x02, deassert=True),                    # slot
    oemTimestamped(0xC0, 0x000157, [0x01, 0x02, 0x03, 0x04, 0x05, 0x06]),
    oemTimestamped(0xC1, 0x0002A2, [0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6]),
    oemTimestamped(0xD5, 0x00000B, [0x10, 0x20, 0x30, 0x40, 0x50, 0x60]),
    oemTimestamped(0xDF, 0x123456, [0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00]),
    oemUnstamped(0xE0, [0x12, 0xAB] + list(range(1, 12))),
    oemUnstamped(0xE1, [0x00, 0x01] + [0xEE] * 11),
    oemUnstamped(0xF0, list(range(0x40, 0x4D))),
    oemUnstamped(0xFF, [0xFF] * 13),
]

SENSOR_TYPES_DISCRETE = [0x05, 0x07, 0x08, 0x0C, 0x0D, 0x0F, 0x10, 0x12, 0x13, 0x1D, 0x21, 0x23, 0x28]
SENSOR_TYPES_THRESHOLD = [0x01, 0x02, 0x03, 0x04]
MANUFACTURERS = [0x000157, 0x0002A2, 0x00000B, 0x002A7C, 0x00A2B3]


def sampleRecords(count, seed=1):
    """count realistic records: the representative ones, then a seeded mix of
    about 70 % system events, 15 % timestamped OEM and 15 % unstamped OEM."""
    rng = random.Random(seed)
    records = list(REPRESENTATIVE[:count])
    while len(records) < count:
        kind = rng.random()
        if kind < 0.35:
            records.append(systemEvent(rng.choice(SENSOR_TYPES_THRESHOLD), rng.randrange(256), 0x01,
                                       rng.randrange(12), rng.random() < 0.4,
                                       rng.randrange(256), rng.randrange(256)))
        elif kind < 0.70:
            records.append(systemEvent(rng.choice(SENSOR_TYPES_DISCRETE), rng.randrange(256), 0x6F,
                                       rng.randrange(16), rng.random() < 0.3,
                                       rng.choice([0xFF, rng.randrange(256)]),
                                       rng.choice([0xFF, rng.randrange(256)]),
                                       rng.choice([(0x20, 0x00), (0x33, 0x00), (0x41, 0x00)])))
        elif kind < 0.85:
            records.append(oemTimestamped(rng.randrange(0xC0, 0xE0), rng.choice(MANUFACTURERS),
                                          [rng.randrange(256) for _ in range(6)]))
        else:
            records.append(oemUnstamped(rng.randrange(0xE0, 0x100), [rng.randrange(256) for _ in range(13)]))
    return records


def bulkRecords(count):
    """count plain discrete system events whose sensor number and data follow the index."""
    return [systemEvent(0x07, i & 0xFF, 0x6F, i & 0x0F, (i >> 8) & 1 == 1, (i >> 8) & 0xFF, i & 0xFF)
            for i in range(count)]


def cmdsEmu(records, maxEntries):
    """The ipmi_sim command file: a BMC with a SEL of maxEntries holding records."""
    lines = ["mc_setbmc 0x%02x" % BMC_ADDRESS,
             "mc_add 0x%02x 0 no-device-sdrs 0x23 9 8 0x9f 0x1291 0xf02 persist_sdr" % BMC_ADDRESS,
             "sel_enable 0x%02x %d 0x%02x" % (BMC_ADDRESS, maxEntries, SEL_FLAGS)]
    for record in records:
        assert len(record) == RECORD_SIZE
        lines.append("sel_add 0x%02x " % BMC_ADDRESS + " ".join("0x%02x" % b for b in record[2:]))
    lines.append("mc_enable 0x%02x" % BMC_ADDRESS)
    return "\n".join(lines) + "\n"


# ---- Peers ------------------------------------------------------------------------

def ipmitoolCommand(address, args, password=PASSWORD, retries=None, lanTimeout=None):
    cmd = ["ipmitool", "-I", "lan", "-H", checkLoopback(address), "-p", str(IPMI_PORT),
           "-U", USER_NAME, "-P", password, "-A", "PASSWORD", "-L", "ADMINISTRATOR"]
    if retries is not None:
        cmd += ["-R", str(retries)]
    if lanTimeout is not None:
        cmd += ["-N", str(lanTimeout)]
    return cmd + list(args)


def runIpmitool(address, args, timeout=PEER_TIMEOUT, **kw):
    """Runs ipmitool against address; returns the CompletedProcess (text output).
    Raises RuntimeError when it fails or takes longer than timeout."""
    cmd = ipmitoolCommand(address, args, **kw)
    try:
        done = subprocess.run(cmd, capture_output=True, timeout=timeout, check=False)
    except subprocess.TimeoutExpired:
        raise RuntimeError("ipmitool %s: no result within %s s" % (" ".join(args), timeout))
    if done.returncode != 0:
        raise RuntimeError("ipmitool %s failed (%d): %s" % (" ".join(args), done.returncode,
                                                            done.stderr.decode(errors="replace").strip()))
    return done


def selEntryCount(address, timeout=PEER_TIMEOUT, **kw):
    """The number of SEL entries, from ipmitool sel info."""
    out = runIpmitool(address, ["sel", "info"], timeout, **kw).stdout.decode()
    match = re.search(r"^Entries\s*:\s*(\d+)", out, re.M)
    if not match:
        raise RuntimeError("ipmitool sel info: no entry count in %r" % out)
    return int(match.group(1))


def selClear(address, timeout=PEER_TIMEOUT):
    out = runIpmitool(address, ["sel", "clear"], timeout).stdout.decode()
    if "Clearing SEL" not in out:
        raise RuntimeError("ipmitool sel clear: %r" % out)


def fixWriterawRecord(record):
    """ipmitool sel writeraw stores the manufacturer ID of OEM timestamped
    records (types C0..DF, bytes 7..9) in reverse order; puts it back as the
    BMC sends it."""
    if 0xC0 <= record[2] <= 0xDF:
        return record[:7] + record[7:10][::-1] + record[10:]
    return record


def selReadRaw(address, workDir, timeout=PEER_TIMEOUT):
    """All SEL records as ipmitool sel writeraw reads them (16 bytes each),
    with the OEM manufacturer IDs put back in the BMC's byte order."""
    path = os.path.join(workDir, "writeraw-%d.bin" % os.getpid())
    if os.path.exists(path):
        os.remove(path)
    runIpmitool(address, ["sel", "writeraw", path], timeout)
    with open(path, "rb") as f:
        data = f.read()
    os.remove(path)
    if len(data) % RECORD_SIZE != 0:
        raise RuntimeError("ipmitool sel writeraw: %d bytes is not a whole number of records" % len(data))
    return [fixWriterawRecord(data[i:i + RECORD_SIZE]) for i in range(0, len(data), RECORD_SIZE)]


def addSelEntry(address, record, timeout=PEER_TIMEOUT):
    """Adds record with Add SEL Entry (ipmitool raw 0x0a 0x44); returns the
    record ID the BMC gave it."""
    assert len(record) == RECORD_SIZE
    out = runIpmitool(address, ["raw", "0x0a", "0x44"] + ["0x%02x" % b for b in record], timeout).stdout.decode()
    reply = out.split()
    if len(reply) != 2:
        raise RuntimeError("Add SEL Entry: unexpected reply %r" % out)
    return int(reply[0], 16) | int(reply[1], 16) << 8


HEX_FIELD = re.compile(r"\[([0-9A-Fa-f]{2})\]")


def parseHexDump(text):
    """Records from the lines of ipmi-sel --hex-dump."""
    records = []
    for line in text.splitlines():
        if not line.startswith("RID:"):
            continue
        values = HEX_FIELD.findall(line)
        if len(values) != RECORD_SIZE:
            raise RuntimeError("ipmi-sel --hex-dump: %d bytes in %r" % (len(values), line))
        records.append(bytes(int(v, 16) for v in values))
    return records


def freeipmiHexDump(address, timeout=PEER_TIMEOUT):
    """All SEL records as FreeIPMI ipmi-sel --hex-dump reads them."""
    cmd = ["ipmi-sel", "-h", checkLoopback(address), "-u", USER_NAME, "-p", PASSWORD,
           "-a", "straight_password_key", "-l", "admin", "--driver-type=LAN",
           "--ignore-sdr-cache", "--hex-dump"]
    try:
        done = subprocess.run(cmd, capture_output=True, timeout=timeout, check=False)
    except subprocess.TimeoutExpired:
        raise RuntimeError("ipmi-sel: no result within %s s" % timeout)
    if done.returncode != 0:
        raise RuntimeError("ipmi-sel failed (%d): %s" % (done.returncode, done.stderr.decode(errors="replace")))
    return parseHexDump(done.stdout.decode())


# ---- The emulator -------------------------------------------------------------------

PR_SET_PDEATHSIG = 1


def killWithParent():
    """In a child before exec: have the kernel send SIGKILL when the parent ends."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def processState(pid):
    """The state letter of process pid ("R", "S", "Z", ...), or None when there is none."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return None


def processIsEmulator(pid):
    """True when pid is a live ipmi_sim process."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            program = f.read().split(b"\0")[0]
    except OSError:
        return False
    return os.path.basename(program) == b"ipmi_sim" and processState(pid) not in (None, "Z")


def stopPid(pid, reap=None):
    """Ends the ipmi_sim with this pid: SIGTERM, then SIGKILL after STOP_GRACE
    seconds. reap, when given, collects the exit status of our own child
    (Popen.poll) and tells when it has ended. Returns True when the process
    is gone; leaves alone a pid that is not ipmi_sim."""
    if reap is not None:
        def gone():
            return reap() is not None
    else:
        def gone():
            return processState(pid) in (None, "Z")
        if not processIsEmulator(pid):
            return True
    if gone():
        return True
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            return True
        deadline = time.monotonic() + STOP_GRACE
        while time.monotonic() < deadline:
            if gone():
                return True
            time.sleep(0.01)
    return gone()


def addressIsFree(address):
    """Raises RuntimeError when a UDP socket is bound to address:623 already."""
    import socket
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        probe.bind((address, IPMI_PORT))
    except OSError as error:
        raise RuntimeError("%s:%d is taken already: %s" % (address, IPMI_PORT, error))
    finally:
        probe.close()


class Emulator:
    """ipmi_sim on address:623 with the given SEL records, in stateDir (wiped
    first). Use as a context manager, or call start() and stop(); stop() is
    safe to call more than once."""

    def __init__(self, address, records, stateDir, maxEntries=None, startTimeout=None, dieWithParent=False):
        self.address = checkLoopback(address)
        self.records = list(records)
        self.stateDir = os.path.abspath(stateDir)
        self.maxEntries = maxEntries if maxEntries is not None else max(len(self.records), 1)
        # A SEL fuller than its capacity stops ipmi_sim's command file at the
        # first entry too many, and the BMC never comes up.
        if len(self.records) > self.maxEntries:
            raise ValueError("%d records do not fit a SEL of %d" % (len(self.records), self.maxEntries))
        # Kill the emulator when the process that started it dies, so that a
        # test killed from outside leaves none behind.
        self.dieWithParent = dieWithParent
        # ipmi_sim rewrites its whole stored SEL at every entry it loads, so
        # loading grows with the square of the size: about 1 s for 1000
        # entries, 43 s for 10000, 180 s for 20000. Allow plenty.
        thousands = len(self.records) / 1000.0
        self.startTimeout = startTimeout if startTimeout is not None else 15 + 5 * thousands + 0.5 * thousands ** 2
        self.process = None
        self.pid = None
        self.logPath = os.path.join(self.stateDir, "ipmi_sim.log")
        self.loadSeconds = None

    def start(self):
        """Starts ipmi_sim and waits until ipmitool sel info shows every
        record; returns the pid. Raises RuntimeError (after stopping it) when
        the emulator does not come up within startTimeout, and at once when
        something else holds the address (then the probes would reach it)."""
        addressIsFree(self.address)
        if os.path.exists(self.stateDir):
            shutil.rmtree(self.stateDir)
        os.makedirs(os.path.join(self.stateDir, "state"))
        lanPath = os.path.join(self.stateDir, "lan.conf")
        cmdsPath = os.path.join(self.stateDir, "cmds.emu")
        with open(lanPath, "w") as f:
            f.write(LAN_CONF.format(address=self.address, port=IPMI_PORT, user=USER_NAME, password=PASSWORD))
        with open(cmdsPath, "w") as f:
            f.write(cmdsEmu(self.records, self.maxEntries))
        began = time.monotonic()
        with open(self.logPath, "wb") as log:
            self.process = subprocess.Popen(
                ["ipmi_sim", "-c", lanPath, "-f", cmdsPath, "-s", os.path.join(self.stateDir, "state"), "-n"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                start_new_session=True, preexec_fn=killWithParent if self.dieWithParent else None)
        self.pid = self.process.pid
        try:
            self.waitForEntries(len(self.records), began + self.startTimeout)
        except BaseException:
            self.stop()
            raise
        self.loadSeconds = time.monotonic() - began
        return self.pid

    def waitForEntries(self, count, deadline):
        """Probes with ipmitool sel info until it reports count entries."""
        last = "no answer"
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("ipmi_sim on %s exited with %d; log: %s"
                                   % (self.address, self.process.returncode, self.log()))
            try:
                seen = selEntryCount(self.address, timeout=10, retries=1, lanTimeout=1)
                if seen == count:
                    return
                last = "%d entries of %d" % (seen, count)
            except RuntimeError as error:
                last = str(error)
            time.sleep(0.1)
        raise RuntimeError("ipmi_sim on %s not ready: %s; log: %s" % (self.address, last, self.log()))

    def log(self):
        try:
            with open(self.logPath, "rb") as f:
                return f.read()[-2000:].decode(errors="replace")
        except OSError:
            return ""

    def stop(self):
        """Ends the emulator by its pid; True when it is gone."""
        if self.process is None:
            return True
        ok = stopPid(self.pid, self.process.poll)
        if ok:
            self.process.wait(timeout=STOP_GRACE)
            self.process = None
        return ok

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False


# ---- Command line ----------------------------------------------------------------

def main(argv):
    parser = argparse.ArgumentParser(description="ipmi_sim as a BMC on a loopback address")
    sub = parser.add_subparsers(dest="command", required=True)
    start = sub.add_parser("start", help="start an emulator, print its pid")
    start.add_argument("--address", required=True)
    start.add_argument("--state", required=True, help="state directory (wiped first)")
    start.add_argument("--entries", type=int, default=0)
    start.add_argument("--mode", choices=["sample", "bulk"], default="sample")
    start.add_argument("--max", type=int, default=None, help="SEL capacity (default: entries)")
    start.add_argument("--timeout", type=float, default=None, help="seconds to wait for the SEL to load")
    stop = sub.add_parser("stop", help="stop the emulator with this pid")
    stop.add_argument("--pid", type=int, required=True)
    for name in ("info", "clear", "writeraw", "hexdump", "add"):
        p = sub.add_parser(name)
        p.add_argument("--address", required=True)
        if name == "add":
            p.add_argument("--record", required=True, help="16 bytes as 32 hex digits")
    args = parser.parse_args(argv)

    try:
        if args.command == "start":
            records = (sampleRecords if args.mode == "sample" else bulkRecords)(args.entries)
            emulator = Emulator(args.address, records, args.state, args.max, args.timeout)
            pid = emulator.start()
            # The emulator outlives this command; stop it with "stop --pid".
            emulator.process = None
            print(pid)
            print("loaded %d entries in %.2f s" % (len(records), emulator.loadSeconds), file=sys.stderr)
        elif args.command == "stop":
            if not stopPid(args.pid):
                print("pid %d still running" % args.pid, file=sys.stderr)
                return 1
        elif args.command == "info":
            print(selEntryCount(args.address))
        elif args.command == "clear":
            selClear(args.address)
        elif args.command == "writeraw":
            for record in selReadRaw(args.address, os.getcwd()):
                print(record.hex(" ").upper())
        elif args.command == "hexdump":
            for record in freeipmiHexDump(args.address):
                print(record.hex(" ").upper())
        elif args.command == "add":
            print(addSelEntry(args.address, bytes.fromhex(args.record)))
    except (RuntimeError, ValueError) as error:
        print("bmcsim: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
