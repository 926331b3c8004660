#!/usr/bin/env python3
"""Kills the native installer with SIGKILL at random moments while it installs into a large
aircraft.cfg, and checks after every kill that the file is byte for byte one of the 22 states a
run passes through (the original, or it with the first k of the 21 keys written), and now and
then that the next run completes and leaves no temporary file. (A kill in the instant between
naming the new file and the rename leaves that name behind; the next write removes it.)"""

import re

import argparse
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end import KEYS, LIVERY, livery_ini  # noqa: E402
from sample_aircraft import aircraft_cfg, aircraft_folder  # noqa: E402


def states(original, number):
    header = f"[fltsim.{number}]\r\n".encode()
    lines = [f"{k}={LIVERY[k]}\r\n".encode() for k in KEYS]
    return [original] + [original + header + b"".join(lines[:k]) for k in range(1, 22)]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--kills", type=int, default=200)
    parser.add_argument("--entries", type=int, default=3000)
    parser.add_argument("--random-state", type=int, default=20261211)
    args = parser.parse_args()
    rng = random.Random(args.random_state)

    scratch = tempfile.mkdtemp(prefix="livery-crash-")
    try:
        aircraft, _, exe, cfg = aircraft_folder(scratch, args.program, livery_ini(LIVERY))
        original = aircraft_cfg(args.entries)
        expected = states(original, args.entries)
        index = {state: k for k, state in enumerate(expected)}

        def reset(content=original):
            with open(cfg, "wb") as f:
                f.write(content)

        # How long a whole run takes, so that kills land across all of it.
        durations = []
        for _ in range(3):
            reset()
            start = time.perf_counter()
            subprocess.run([exe], check=True)
            durations.append(time.perf_counter() - start)
        span = statistics.median(durations) * 1.1

        seen = [0] * 22
        failures = 0
        completed_before_kill = 0
        next_runs = 0
        named_at_kill = 0
        for i in range(args.kills):
            reset()
            process = subprocess.Popen([exe])
            time.sleep(rng.uniform(0, span))
            process.send_signal(signal.SIGKILL)
            code = process.wait()
            if code != -signal.SIGKILL:
                completed_before_kill += 1
            with open(cfg, "rb") as f:
                after = f.read()
            k = index.get(after)
            names = sorted(set(os.listdir(aircraft)) - {"aircraft.cfg", "Sunrise"})
            ours = [n for n in names if re.fullmatch(r"\.aircraft\.cfg\.tmp-[a-z0-9]{12}", n)]
            leftovers = [n for n in names if n not in ours]
            named_at_kill += bool(ours)
            if k is None or leftovers:
                failures += 1
                print(f"FAIL kill {i}: state {'unknown' if k is None else k}, left behind {leftovers}")
                continue
            seen[k] += 1
            if i % 10 == 0:
                # The next run completes: a titled partial entry counts as taken, so it adds N+1.
                next_runs += 1
                result = subprocess.run([exe])
                with open(cfg, "rb") as f:
                    final = f.read()
                number = args.entries + (1 if k >= 1 else 0)
                want = after + b"".join(states(b"", number)[21:])
                left = sorted(set(os.listdir(aircraft)) - {"aircraft.cfg", "Sunrise"})
                if left:
                    failures += 1
                    print(f"FAIL kill {i}: the next run left {left}")
                if result.returncode != 0 or final != want:
                    failures += 1
                    print(f"FAIL kill {i}: the next run gave status {result.returncode} and "
                          f"{'the expected file' if final == want else 'another file'}")
        print(f"aircraft.cfg of {len(original)} bytes, {args.entries} entries; a run takes {span / 1.1 * 1000:.0f} ms")
        print(f"{args.kills} kills: states seen (k keys written) {dict((k, n) for k, n in enumerate(seen) if n)}; "
              f"{completed_before_kill} runs had finished before their kill; {next_runs} next runs checked; "
              f"{named_at_kill} kills found a named temporary file")
        print(f"{args.kills - failures} passed, {failures} failed")
        return 1 if failures else 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
