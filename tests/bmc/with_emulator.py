#!/usr/bin/env python3
"""Runs one command against a BMC emulator of its own and stops the emulator
by pid afterwards, whatever the command did.

    with_emulator.py --address 127.0.9.50 --state DIR --entries N -- COMMAND...

The command sees TAVREL_EMULATOR_ADDRESS and TAVREL_EMULATOR_ENTRIES; its
exit code is passed on.
"""
import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmcsim  # noqa: E402


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", required=True)
    parser.add_argument("--state", required=True)
    parser.add_argument("--entries", type=int, default=50)
    parser.add_argument("--max", type=int, default=None, help="SEL capacity (default: the entries)")
    parser.add_argument("--timeout", type=float, default=120, help="seconds the command may run")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    with bmcsim.Emulator(args.address, bmcsim.sampleRecords(args.entries), args.state, maxEntries=args.max,
                         dieWithParent=True):
        env = dict(os.environ, TAVREL_EMULATOR_ADDRESS=args.address, TAVREL_EMULATOR_ENTRIES=str(args.entries))
        try:
            return subprocess.run(command, env=env, timeout=args.timeout).returncode
        except subprocess.TimeoutExpired:
            print("with_emulator: %s ran longer than %g s" % (command[0], args.timeout), file=sys.stderr)
            return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
