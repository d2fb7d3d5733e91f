#!/usr/bin/env python3
"""SEL dump benchmark: tavrel-cli against ipmitool and FreeIPMI ipmi-sel.

For each SEL size N it starts one OpenIPMI ipmi_sim on its own loopback
address (127.0.20.x) with a SEL of N entries (tests/bmc/bmcsim.py), and
runs, in one run and alternating (the order turns by one every round):

  tavrel     tavrel-cli dump
  writeraw   ipmitool ... sel writeraw FILE
  list       ipmitool ... sel list
  ipmi-sel   ipmi-sel ... --hex-dump
  loop       bench/sel_walk_loop: a bare stop-and-wait walk with blocking
             receives, the floor any client can reach on this emulator

Each run's wall time, CPU time (user+sys) and peak RSS come from the
child's own resource usage (os.wait4); its output is checked to hold N
entries. The emulator's CPU time is read from /proc around each run.

The walk's cost per entry is the slope between two sizes (1000 and 3000
entries) so that fixed costs cancel: once from whole-process times, once
from walk times alone (tavrel: from "Requesting SEL data" to "SEL Save
Complete" on its stderr; loop: its own clock).

Results: a table on stdout, build/bench/results.json, docs/benchmarks.png
(gnuplot) and the generated part of docs/benchmarks.md.

    python3 bench/run_bench.py [--rounds R] [--sizes 1,500,...] [--largest N]
                               [--placement same|split|free] [--nopersist] [--no-doc]
    python3 bench/run_bench.py --from-results build/bench/results.json
"""

import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "bmc"))
sys.dont_write_bytecode = True
import bmcsim  # noqa: E402


class NoPersistEmulator(bmcsim.Emulator):
    """bmcsim.Emulator with ipmi_sim's -p (nopersist): the SEL is not
    rewritten to disk at every entry loaded, which makes loading a large SEL
    several times faster; reading it is the same. Everything else (config,
    command file, readiness probe, stop by pid) is bmcsim's."""

    def start(self):
        # bmcsim starts ipmi_sim through subprocess.Popen with a fixed
        # command; add -p to that one call and leave the rest as it is.
        realPopen = bmcsim.subprocess.Popen

        def popenWithNoPersist(args, *rest, **kw):
            if args and args[0] == "ipmi_sim":
                args = list(args) + ["-p"]
            return realPopen(args, *rest, **kw)
        bmcsim.subprocess.Popen = popenWithNoPersist
        try:
            return super().start()
        finally:
            bmcsim.subprocess.Popen = realPopen

BUILD = os.path.join(ROOT, "build", "native")
TAVREL_CLI = os.path.join(BUILD, "tavrel-cli")
WALK_LOOP = os.path.join(BUILD, "bench", "sel_walk_loop")
RUN_MEASURED = os.path.join(BUILD, "bench", "run_measured")
OUT_DIR = os.path.join(ROOT, "build", "bench")
DOC_PATH = os.path.join(ROOT, "docs", "benchmarks.md")
PLOT_PATH = os.path.join(ROOT, "docs", "benchmarks.png")

# The sizes: 1 (fixed costs), 500, 1000 and 3000 (the slope pair), 2000,
# and the largest. ipmi_sim numbers entries with 16 bits, so it holds at
# most 65535, of which a walk reaches 65534 (the next-record ID of entry
# 65534 is FFFFh, the end mark). Loading is quadratic in N (each entry it
# adds walks its whole list and rewrites its stored SEL): 10000 entries load
# in about 45 s, 20000 in about 180 s, 65534 in well over half an hour,
# which is why the default largest size is 10000.
DEFAULT_SIZES = [1, 500, 1000, 2000, 3000, 10000, 20000]
SLOPE_LOW, SLOPE_HIGH = 1000, 3000
DEFAULT_ROUNDS = 7
ADDRESS_BASE = "127.0.20."
FIRST_HOST = 10
RUN_TIMEOUT = 300  # seconds one tool run may take before it is killed
# ipmi_sim keeps at most 63 sessions and ends one after about 30 s without
# traffic. tavrel-cli and the loops never close theirs (ipmitool and
# ipmi-sel do), so one emulator serves only so many rounds in a row; a
# logon refused for want of a session is retried once the old ones expire.
MAX_ROUNDS = 11  # (rounds + warm-up) x 5 such sessions stay below 63
SESSION_EXPIRY_SECONDS = 31
RETRIES = 2

# Where the emulator and the tools run. On this kind of machine (a VM) a
# wake-up across CPUs costs tens of microseconds, more than ipmi_sim's own
# work per entry, and the scheduler's choice of CPU varies from run to run,
# so the default pins everything to one CPU:
#   same   emulator and tools on the last CPU
#   split  emulator on the first CPU, tools on the last
#   free   no pinning
PLACEMENTS = ("same", "split", "free")
# The CPUs this process may use when it starts, before it pins itself.
ALLOWED_CPUS = frozenset(os.sched_getaffinity(0))

TOOLS = ["tavrel", "writeraw", "list", "ipmi-sel", "loop"]
# The loop with, one at a time, what the worker does per entry besides the
# exchange: its wait (non-blocking receive, then poll), and the report line
# written as the worker writes it (unbuffered, file position read first)
# or through stdio's buffer.
VARIANTS = ["loop-poll", "loop-poll-unbuffered", "loop-poll-buffered"]
ALL_TOOLS = TOOLS + VARIANTS
LABELS = {
    "tavrel": "tavrel-cli dump",
    "writeraw": "ipmitool sel writeraw",
    "list": "ipmitool sel list",
    "ipmi-sel": "ipmi-sel --hex-dump",
    "loop": "stop-and-wait loop",
    "loop-poll": "loop, worker's wait",
    "loop-poll-unbuffered": "loop, worker's wait, unbuffered report",
    "loop-poll-buffered": "loop, worker's wait, buffered report",
}
VARIANT_OPTIONS = {
    "loop-poll": ["--wait", "poll"],
    "loop-poll-unbuffered": ["--wait", "poll", "--report", "REPORT", "--report-mode", "unbuffered"],
    "loop-poll-buffered": ["--wait", "poll", "--report", "REPORT", "--report-mode", "buffered"],
}
REFERENCE = "writeraw"  # the ratios are to ipmitool's raw dump

IPMI_SEL_ARGS = ["-u", bmcsim.USER_NAME, "-p", bmcsim.PASSWORD, "-a", "straight_password_key", "-l", "admin",
                 "--driver-type=LAN", "--ignore-sdr-cache", "--hex-dump"]


# ---- Running one tool ----------------------------------------------------------

def childEnvironment():
    env = dict(os.environ)
    env["TAVREL_PASSWORD"] = bmcsim.PASSWORD
    env["LC_ALL"] = "C"
    return env


def toolCommand(tool, address, work):
    if tool == "tavrel":
        return [TAVREL_CLI, "dump", "--address", address, "--user", bmcsim.USER_NAME,
                "--output", os.path.join(work, "tavrel.txt"), "--timeout", "30"]
    if tool == "writeraw":
        return bmcsim.ipmitoolCommand(address, ["sel", "writeraw", os.path.join(work, "writeraw.bin")])
    if tool == "list":
        return bmcsim.ipmitoolCommand(address, ["sel", "list"])
    if tool == "ipmi-sel":
        return ["ipmi-sel", "-h", bmcsim.checkLoopback(address)] + IPMI_SEL_ARGS
    if tool == "loop":
        return [WALK_LOOP, address, bmcsim.USER_NAME]
    if tool in VARIANT_OPTIONS:
        options = [os.path.join(work, "loop.txt") if o == "REPORT" else o for o in VARIANT_OPTIONS[tool]]
        return [WALK_LOOP, address, bmcsim.USER_NAME] + options
    raise ValueError(tool)


def processCpuSeconds(pid):
    """utime + stime of a running process, from /proc (clock ticks)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def runOnce(tool, address, work, emulatorPid):
    """Runs tool once through run_measured; returns its measurements, or
    raises RuntimeError."""
    for name in ("tavrel.txt", "writeraw.bin", "stdout.txt", "usage.txt", "loop.txt"):
        path = os.path.join(work, name)
        if os.path.exists(path):
            os.remove(path)
    usagePath = os.path.join(work, "usage.txt")
    cmd = [RUN_MEASURED, "--report", usagePath, "--timeout", str(RUN_TIMEOUT), "--"] + toolCommand(tool, address, work)
    bmcBefore = processCpuSeconds(emulatorPid)
    with open(os.path.join(work, "stdout.txt"), "wb") as stdout:
        child = subprocess.Popen(cmd, env=childEnvironment(), stdin=subprocess.DEVNULL, stdout=stdout,
                                 stderr=subprocess.PIPE)
        # Status lines as they come, each with the time it was read.
        marks = {}
        stderrTail = []
        for line in child.stderr:
            marks.setdefault(line.strip().decode(errors="replace"), time.perf_counter())
            stderrTail = (stderrTail + [line])[-5:]
        closed = time.perf_counter()
        child.stderr.close()
        child.wait()
    bmcAfter = processCpuSeconds(emulatorPid)
    try:
        with open(usagePath) as f:
            usage = dict(item.split("=") for item in f.read().split())
    except OSError:
        usage = {}
    if usage.get("timed_out") == "1":
        raise RuntimeError("%s: killed after %d s" % (tool, RUN_TIMEOUT))
    if child.returncode != 0 or usage.get("status") != "0":
        raise RuntimeError("%s exited with %d: %s" % (tool, child.returncode,
                                                      b"".join(stderrTail).decode(errors="replace")))
    result = {
        "wall": int(usage["wall_us"]) / 1e6,
        "cpu": (int(usage["user_us"]) + int(usage["sys_us"])) / 1e6,
        "rssKb": int(usage["maxrss_kb"]),
        "bmcCpu": bmcAfter - bmcBefore,
        "walk": None,
        "exitLag": None,
    }
    if tool == "tavrel":
        if "Requesting SEL data" in marks and "SEL Save Complete" in marks:
            result["walk"] = marks["SEL Save Complete"] - marks["Requesting SEL data"]
            # From the last status line to the end of the process.
            result["exitLag"] = closed - marks["SEL Save Complete"]
    elif tool == "loop" or tool in VARIANTS:
        with open(os.path.join(work, "stdout.txt")) as f:
            fields = dict(item.split("=") for item in f.read().split())
        result["walk"] = int(fields["walk_us"]) / 1e6
    result["entries"] = countEntries(tool, work)
    return result


def countEntries(tool, work):
    """The entries a run's output holds."""
    if tool == "tavrel":
        with open(os.path.join(work, "tavrel.txt"), "rb") as f:
            return f.read().count(b"\r\n")
    if tool == "writeraw":
        return os.path.getsize(os.path.join(work, "writeraw.bin")) // bmcsim.RECORD_SIZE
    with open(os.path.join(work, "stdout.txt"), "rb") as f:
        text = f.read()
    if tool == "list":
        return sum(1 for line in text.splitlines() if b"|" in line)
    if tool == "ipmi-sel":
        return sum(1 for line in text.splitlines() if line.startswith(b"RID:"))
    if tool == "loop" or tool in VARIANTS:
        return int(text.split(b"entries=")[1].split()[0])
    raise ValueError(tool)


# ---- One SEL size ----------------------------------------------------------------

def cpuIdleTicks():
    """(idle, total) clock ticks of all CPUs, from /proc/stat."""
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    return fields[3] + fields[4], sum(fields)


def pinProcess(pid, cpus):
    """Sets the CPU affinity of every thread of process pid."""
    for task in os.listdir("/proc/%d/task" % pid):
        os.sched_setaffinity(int(task), cpus)


def placeCpus(placement):
    """(emulator CPUs, tool CPUs) for a placement; None means unpinned."""
    allowed = sorted(ALLOWED_CPUS)
    if placement == "same":
        return {allowed[-1]}, {allowed[-1]}
    if placement == "split":
        if len(allowed) < 2:
            raise RuntimeError("placement split needs two CPUs")
        return {allowed[0]}, {allowed[-1]}
    return None, None


def runWithRetries(tool, address, work, emulatorPid, failures, log):
    """runOnce, retried after the emulator's sessions have expired; each
    failure is logged and counted."""
    for attempt in range(RETRIES + 1):
        try:
            return runOnce(tool, address, work, emulatorPid)
        except RuntimeError as error:
            failures.append({"tool": tool, "error": str(error)})
            if attempt == RETRIES:
                raise
            log("%s failed (%s); retrying in %d s" % (tool, str(error).strip().splitlines()[-1],
                                                      SESSION_EXPIRY_SECONDS))
            time.sleep(SESSION_EXPIRY_SECONDS)


def benchSize(n, index, rounds, log, noPersist, placement):
    """Starts an emulator with n entries, runs a warm-up and then `rounds`
    rounds of every tool; returns {tool: [measurements]}, the load time and
    how idle the machine was (fraction of all CPUs) during the rounds."""
    address = ADDRESS_BASE + str(FIRST_HOST + index)
    state = os.path.join(OUT_DIR, "state-%d" % n)
    work = os.path.join(OUT_DIR, "work")
    os.makedirs(work, exist_ok=True)
    runs = {tool: [] for tool in ALL_TOOLS}
    emulatorClass = NoPersistEmulator if noPersist else bmcsim.Emulator
    emulatorCpus, toolCpus = placeCpus(placement)
    if toolCpus is not None:
        # The emulator starts from this process and inherits its CPUs.
        os.sched_setaffinity(0, emulatorCpus)
    failures = []
    with emulatorClass(address, bmcsim.sampleRecords(n), state, dieWithParent=True) as emulator:
        log("N=%d: ipmi_sim pid %d on %s, loaded in %.1f s" % (n, emulator.pid, address, emulator.loadSeconds))
        if toolCpus is not None:
            pinProcess(emulator.pid, emulatorCpus)
            os.sched_setaffinity(0, toolCpus)
        # One discarded run of each tool first: programs and libraries in
        # the page cache, the emulator past its first sessions.
        for tool in ALL_TOOLS:
            runWithRetries(tool, address, work, emulator.pid, failures, log)
        idleBefore = cpuIdleTicks()
        for r in range(rounds):
            turn = r % len(ALL_TOOLS)
            order = ALL_TOOLS[turn:] + ALL_TOOLS[:turn]
            for tool in order:
                result = runWithRetries(tool, address, work, emulator.pid, failures, log)
                if result["entries"] != n:
                    raise RuntimeError("%s read %d entries of %d" % (tool, result["entries"], n))
                runs[tool].append(result)
        idleAfter = cpuIdleTicks()
        loadSeconds = emulator.loadSeconds
    idle = (idleAfter[0] - idleBefore[0]) / max(1, idleAfter[1] - idleBefore[1])
    log("N=%d: done, " % n + ", ".join("%s %.3f s" % (t, median(runs[t], "wall")) for t in TOOLS)
        + "; CPUs %.0f %% idle" % (100 * idle))
    return runs, loadSeconds, idle, failures


# ---- Figures --------------------------------------------------------------------

def median(runs, key):
    values = [r[key] for r in runs if r[key] is not None]
    return statistics.median(values) if values else None


def summarize(allRuns, sizes):
    """Per size and tool: medians, rates, CPU per 1000 entries, peak RSS,
    ratios to ipmitool; per tool: slopes between SLOPE_LOW and SLOPE_HIGH."""
    table = {}
    for n in sizes:
        table[n] = {}
        ref = allRuns[n][REFERENCE]
        for tool in ALL_TOOLS:
            runs = allRuns[n][tool]
            wall = median(runs, "wall")
            cpu = median(runs, "cpu")
            row = {
                "wall": wall,
                "wallMin": min(r["wall"] for r in runs),
                "wallMax": max(r["wall"] for r in runs),
                "rate": n / wall,
                "cpu": cpu,
                "cpuPer1000": cpu / n * 1000,
                "rssKb": median(runs, "rssKb"),
                "rssMaxKb": max(r["rssKb"] for r in runs),
                "bmcCpuPer1000": sum(r["bmcCpu"] for r in runs) / (len(runs) * n) * 1000,
                "walk": median(runs, "walk"),
                "exitLag": median(runs, "exitLag"),
                "walkOnly": None,
                "walkRate": None,
                "speedVsIpmitool": median(ref, "wall") / wall,
                "cpuVsIpmitool": cpu / median(ref, "cpu"),
            }
            table[n][tool] = row
    slopes = {}
    if SLOPE_LOW in table and SLOPE_HIGH in table:
        span = SLOPE_HIGH - SLOPE_LOW
        for tool in ALL_TOOLS:
            low, high = table[SLOPE_LOW][tool], table[SLOPE_HIGH][tool]
            entry = {
                "wallUs": (high["wall"] - low["wall"]) / span * 1e6,
                "cpuUs": (high["cpu"] - low["cpu"]) / span * 1e6,
                "walkUs": None,
            }
            if low["walk"] is not None and high["walk"] is not None:
                entry["walkUs"] = (high["walk"] - low["walk"]) / span * 1e6
            slopes[tool] = entry
    # Walk-only rate at each size: whole time less the fixed cost seen with
    # a one-entry SEL (tavrel and the loop time their walk themselves).
    for n in sizes:
        for tool in ALL_TOOLS:
            row = table[n][tool]
            if row["walk"] is not None:
                walk, entries = row["walk"], n
            elif 1 in table:
                walk, entries = row["wall"] - table[1][tool]["wall"], n - 1
            else:
                continue
            row["walkOnly"] = walk
            row["walkRate"] = entries / walk if n > 1 and walk > 0 else None
    return table, slopes


def evaluateTargets(table, slopes, sizes):
    targets = []

    def add(name, value, goal, met, note):
        targets.append({"target": name, "measured": value, "goal": goal, "met": met, "note": note})

    if slopes:
        loopWalk = slopes["loop"]["walkUs"]
        tavrelWalk = slopes["tavrel"]["walkUs"]
        ratioWalk = tavrelWalk / loopWalk
        add("walk cost per entry within 1.15x of the stop-and-wait loop (walk times)",
            "%.2f us vs %.2f us: %.3fx" % (tavrelWalk, loopWalk, ratioWalk), "<= 1.15x", ratioWalk <= 1.15,
            "slope %d->%d of the walk alone" % (SLOPE_LOW, SLOPE_HIGH))
        loopWall = slopes["loop"]["wallUs"]
        tavrelWall = slopes["tavrel"]["wallUs"]
        ratioWall = tavrelWall / loopWall
        add("walk cost per entry within 1.15x of the stop-and-wait loop (whole-process times)",
            "%.2f us vs %.2f us: %.3fx" % (tavrelWall, loopWall, ratioWall), "<= 1.15x", ratioWall <= 1.15,
            "slope %d->%d of whole-process medians" % (SLOPE_LOW, SLOPE_HIGH))
    if 2000 in table:
        row, ref = table[2000]["tavrel"], table[2000][REFERENCE]
        if row.get("walkRate") and ref.get("walkRate"):
            ratio = row["walkRate"] / ref["walkRate"]
            add("N=2000: at least 3x ipmitool's speed (walk, fixed costs out)",
                "%.0f vs %.0f entries/s: %.2fx" % (row["walkRate"], ref["walkRate"], ratio), ">= 3x",
                ratio >= 3, "walk = whole - whole(N=1) for ipmitool; tavrel's own walk time")
        ratio = row["rate"] / ref["rate"]
        add("N=2000: at least 3x ipmitool's speed (whole process)",
            "%.0f vs %.0f entries/s: %.2fx" % (row["rate"], ref["rate"], ratio), ">= 3x", ratio >= 3,
            "includes logon, the 200 ms first pass and exit")
    if 3000 in table:
        row, ref = table[3000]["tavrel"], table[3000][REFERENCE]
        ratio = ref["wall"] / row["wall"]
        add("N=3000: whole tavrel-cli dump at least 1.5x faster than ipmitool",
            "%.3f s vs %.3f s: %.2fx" % (row["wall"], ref["wall"], ratio), ">= 1.5x", ratio >= 1.5,
            "200 ms first pass included")
    worst = max(table[n]["tavrel"]["cpuVsIpmitool"] for n in sizes if n >= 500)
    add("CPU per entry no higher than ipmitool's (every N >= 500)",
        "worst tavrel/ipmitool CPU ratio %.3f" % worst, "<= 1", worst <= 1, "user+sys of the whole process")
    if slopes:
        t, r = slopes["tavrel"]["cpuUs"], slopes[REFERENCE]["cpuUs"]
        add("CPU per entry no higher than ipmitool's (slope %d->%d)" % (SLOPE_LOW, SLOPE_HIGH),
            "%.2f us vs %.2f us per entry" % (t, r), "<=", t <= r, "fixed CPU costs cancel")
    small, large = min(n for n in sizes if n >= 500), max(sizes)
    rs, rl = table[small]["tavrel"]["rssKb"], table[large]["tavrel"]["rssKb"]
    add("memory flat in N (tavrel RSS at %d <= at %d)" % (large, small),
        "%d KB vs %d KB (median peak RSS)" % (rl, rs), "<=", rl <= rs, "ru_maxrss of the process")
    return targets


# ---- Output ----------------------------------------------------------------------

def formatTable(table, slopes, sizes):
    lines = []
    header = ("| N | tool | median wall s | min-max s | entries/s | walk-only entries/s | CPU s per 1000 | "
              "peak RSS KB | speed vs ipmitool | CPU vs ipmitool | ipmi_sim CPU s per 1000 |")
    lines.append(header)
    lines.append("|" + "---|" * (header.count("|") - 1))
    for n in sizes:
        for tool in TOOLS:
            row = table[n][tool]
            walkRate = row.get("walkRate")
            lines.append("| %d | %s | %.4f | %.4f-%.4f | %.0f | %s | %.4f | %d | %.2fx | %.2fx | %.4f |" % (
                n, LABELS[tool], row["wall"], row["wallMin"], row["wallMax"], row["rate"],
                "%.0f" % walkRate if walkRate else "-", row["cpuPer1000"], row["rssKb"],
                row["speedVsIpmitool"], row["cpuVsIpmitool"], row["bmcCpuPer1000"]))
    if slopes:
        lines.append("")
        lines.append("Cost per entry, slope between N = %d and N = %d (microseconds per entry):" % (
            SLOPE_LOW, SLOPE_HIGH))
        lines.append("")
        lines.append("| tool | whole process | walk alone | CPU | whole vs loop | walk vs loop |")
        lines.append("|---|---|---|---|---|---|")
        loop = slopes["loop"]
        for tool in ALL_TOOLS:
            s = slopes[tool]
            walk = "%.2f" % s["walkUs"] if s["walkUs"] is not None else "-"
            walkRatio = "%.3fx" % (s["walkUs"] / loop["walkUs"]) if s["walkUs"] is not None else "-"
            lines.append("| %s | %.2f | %s | %.2f | %.3fx | %s |" % (
                LABELS[tool], s["wallUs"], walk, s["cpuUs"], s["wallUs"] / loop["wallUs"], walkRatio))
    return "\n".join(lines)


def formatTargets(targets):
    lines = ["| target | measured | goal | result |", "|---|---|---|---|"]
    for t in targets:
        lines.append("| %s | %s | %s | %s |" % (t["target"], t["measured"], t["goal"],
                                                "met" if t["met"] else "MISSED"))
    return "\n".join(lines)


def commandOutput(cmd):
    try:
        done = subprocess.run(cmd, capture_output=True, timeout=30, check=False)
    except (OSError, subprocess.TimeoutExpired):
        return ""
    return (done.stdout + done.stderr).decode(errors="replace")


def machineInfo():
    model = ""
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    memKb = 0
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                memKb = int(line.split()[1])
    versions = {}
    for package in ("openipmi", "ipmitool", "freeipmi-tools"):
        versions[package] = commandOutput(["dpkg-query", "-W", "-f", "${Version}", package]).strip()
    simLine = [line for line in commandOutput(["ipmi_sim", "-v"]).splitlines() if "version" in line]
    return {
        "nproc": os.cpu_count(),
        "cpu": model,
        "memoryGiB": round(memKb / 1024 / 1024, 1),
        "kernel": platform.release(),
        "os": commandOutput(["sh", "-c", ". /etc/os-release && echo $PRETTY_NAME"]).strip(),
        "versions": versions,
        "ipmiSim": simLine[0].strip() if simLine else "",
        "ipmitool": commandOutput(["ipmitool", "-V"]).strip(),
        "ipmiSel": commandOutput(["ipmi-sel", "--version"]).splitlines()[0].strip(),
    }


def writePlot(table, sizes):
    """docs/benchmarks.png: entries/s against N, one line per tool."""
    plotSizes = [n for n in sizes if n > 1]
    dataPath = os.path.join(OUT_DIR, "rates.dat")
    with open(dataPath, "w") as f:
        f.write("# N " + " ".join(TOOLS) + " tavrel-walk loop-walk\n")
        for n in plotSizes:
            values = [table[n][t]["rate"] for t in TOOLS]
            values += [table[n]["tavrel"]["walkRate"], table[n]["loop"]["walkRate"]]
            f.write("%d %s\n" % (n, " ".join("?" if v is None else "%.1f" % v for v in values)))
    script = os.path.join(OUT_DIR, "rates.gp")
    columns = [(2, "tavrel-cli dump (whole process)"), (3, "ipmitool sel writeraw"), (4, "ipmitool sel list"),
               (5, "ipmi-sel --hex-dump"), (6, "stop-and-wait loop (whole process)"),
               (7, "tavrel walk alone"), (8, "stop-and-wait loop, walk alone")]
    plots = ", ".join("'%s' using 1:%d with linespoints lw 2 title '%s'" % (dataPath, c, t) for c, t in columns)
    with open(script, "w") as f:
        f.write("set terminal pngcairo noenhanced size 900,640 font 'sans,10'\n")
        f.write("set output '%s'\n" % PLOT_PATH)
        f.write("set title 'SEL dump from ipmi_sim on loopback: entries per second (median of rounds)'\n")
        f.write("set xlabel 'SEL entries (N)'\nset ylabel 'entries per second'\n")
        f.write("set datafile missing '?'\nset logscale xy\nset grid\nset key outside below center maxrows 4\n")
        f.write("set xrange [%d:%d]\n" % (plotSizes[0] * 0.8, plotSizes[-1] * 1.25))
        f.write("set xtics (%s) rotate by -45\n" % ", ".join("'%d' %d" % (n, n) for n in plotSizes))
        f.write("plot %s\n" % plots)
    done = subprocess.run(["gnuplot", script], capture_output=True, check=False)
    if done.returncode != 0:
        raise RuntimeError("gnuplot: %s" % done.stderr.decode(errors="replace"))


BEGIN_MARK = "<!-- generated by bench/run_bench.py: begin -->"
END_MARK = "<!-- generated by bench/run_bench.py: end -->"


def writeDoc(generated):
    """Replaces the generated part of docs/benchmarks.md, keeping the rest."""
    block = BEGIN_MARK + "\n" + generated.rstrip() + "\n" + END_MARK
    if os.path.exists(DOC_PATH):
        with open(DOC_PATH) as f:
            text = f.read()
        if BEGIN_MARK in text and END_MARK in text:
            head = text.split(BEGIN_MARK)[0]
            tail = text.split(END_MARK, 1)[1]
            text = head + block + tail
        else:
            text = text.rstrip() + "\n\n" + block + "\n"
    else:
        text = "# Benchmarks\n\n" + block + "\n"
    with open(DOC_PATH, "w") as f:
        f.write(text)


def generatedSection(result, table, slopes, targets):
    info = result["machine"]
    v = info["versions"]
    sizes = result["sizes"]
    failed = ["N=%d %s: %s" % (n, f["tool"], f["error"].strip().splitlines()[-1])
              for n in sizes for f in result["failures"][n]]
    lines = [
        "Run of %s, %d rounds per size (plus one discarded warm-up run of each tool), sizes %s, "
        "placement %s (%s)%s; the whole run took %.0f s." % (
            result["started"], result["rounds"], ", ".join(map(str, sizes)), result["placement"], result["where"],
            ", ipmi_sim without persistence (-p)" if result["nopersist"] else "", result["seconds"]),
        "Failed runs (retried): %s." % ("; ".join(failed) if failed else "none"),
        "",
        "Machine: %d CPUs (nproc), %s, %.1f GiB memory, kernel %s, %s." % (
            info["nproc"], info["cpu"], info["memoryGiB"], info["kernel"], info["os"]),
        "Peers: openipmi %s (%s), ipmitool %s (%s), freeipmi-tools %s (%s)." % (
            v["openipmi"], info["ipmiSim"], v["ipmitool"], info["ipmitool"], v["freeipmi-tools"], info["ipmiSel"]),
        "",
        "Command: `%s`" % result["command"],
        "",
        "ipmi_sim load times: " + ", ".join("N=%d %.1f s" % (n, result["loadSeconds"][n]) for n in sizes) + ".",
        "Idle share of all CPUs during the timed rounds (other work on the machine shows here): "
        + ", ".join("N=%d %.0f %%" % (n, 100 * result["idle"][n]) for n in sizes) + ".",
        "",
        "### Results",
        "",
        formatTable(table, slopes, sizes),
        "",
        "### Targets",
        "",
        formatTargets(targets),
        "",
        "![entries per second against N](benchmarks.png)",
    ]
    return "\n".join(lines)


def report(result, writeDocs):
    """Figures from the raw runs of result: table and targets on stdout,
    and with writeDocs the plot and the generated part of the document."""
    sizes = result["sizes"]
    table, slopes = summarize(result["runs"], sizes)
    targets = evaluateTargets(table, slopes, sizes)
    print(formatTable(table, slopes, sizes))
    print()
    print(formatTargets(targets))
    if writeDocs:
        writePlot(table, sizes)
        writeDoc(generatedSection(result, table, slopes, targets))
        print("\nwrote %s and %s" % (os.path.relpath(DOC_PATH, ROOT), os.path.relpath(PLOT_PATH, ROOT)))
    return table, slopes, targets


def loadResults(path):
    """A results file as written by a run, with its sizes as numbers again."""
    with open(path) as f:
        result = json.load(f)
    for key in ("runs", "loadSeconds", "idle", "failures"):
        result[key] = {int(n): value for n, value in result[key].items()}
    return result


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=DEFAULT_ROUNDS)
    parser.add_argument("--sizes", default=None, help="comma-separated SEL sizes (default %s)"
                        % ",".join(map(str, DEFAULT_SIZES)))
    parser.add_argument("--largest", type=int, default=None, help="replace the largest default size")
    parser.add_argument("--no-doc", action="store_true", help="do not touch docs/")
    parser.add_argument("--placement", choices=PLACEMENTS, default="same",
                        help="CPUs of emulator and tools (default: all on one CPU)")
    parser.add_argument("--nopersist", action="store_true",
                        help="run ipmi_sim with -p: loads large SELs faster")
    parser.add_argument("--from-results", metavar="FILE", default=None,
                        help="measure nothing: report the runs of an earlier results file")
    args = parser.parse_args(argv)
    if args.from_results:
        report(loadResults(args.from_results), not args.no_doc)
        return 0
    sizes = [int(s) for s in args.sizes.split(",")] if args.sizes else list(DEFAULT_SIZES)
    if args.largest:
        sizes = [n for n in sizes if n < args.largest] + [args.largest]
    sizes = sorted(set(sizes))
    if not 1 <= args.rounds <= MAX_ROUNDS or sizes[0] < 1 or sizes[-1] > 65534:
        parser.error("rounds within 1..%d and sizes within 1..65534" % MAX_ROUNDS)
    for program in (TAVREL_CLI, WALK_LOOP, RUN_MEASURED):
        if not os.access(program, os.X_OK):
            parser.error("%s is missing: build the native preset first" % program)
    os.makedirs(OUT_DIR, exist_ok=True)

    began = time.monotonic()
    started = time.strftime("%Y-%m-%d %H:%M")

    def log(text):
        print("[%6.1f s] %s" % (time.monotonic() - began, text), file=sys.stderr, flush=True)

    allRuns, loads, idle, failures = {}, {}, {}, {}
    for index, n in enumerate(sizes):
        allRuns[n], loads[n], idle[n], failures[n] = benchSize(n, index, args.rounds, log, args.nopersist,
                                                                args.placement)
    emulatorCpus, toolCpus = placeCpus(args.placement)
    result = {
        "started": started,
        "seconds": time.monotonic() - began,
        "command": "make bench" if os.environ.get("MAKELEVEL") else
                   " ".join(["python3 bench/run_bench.py"] + argv),
        "machine": machineInfo(),
        "sizes": sizes,
        "rounds": args.rounds,
        "placement": args.placement,
        "where": "not pinned" if toolCpus is None else "ipmi_sim on CPU %s, the tools on CPU %s" % (
            ",".join(map(str, sorted(emulatorCpus))), ",".join(map(str, sorted(toolCpus)))),
        "nopersist": args.nopersist,
        "loadSeconds": loads,
        "idle": idle,
        "failures": failures,
        "runs": allRuns,
    }
    resultsPath = os.path.join(OUT_DIR, "results.json")
    with open(resultsPath, "w") as f:
        json.dump(result, f, indent=1)
    table, slopes, targets = report(result, not args.no_doc)
    with open(resultsPath, "w") as f:
        json.dump(dict(result, table=table, slopes=slopes, targets=targets), f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
