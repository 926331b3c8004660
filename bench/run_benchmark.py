#!/usr/bin/env python3
"""Times one install into aircraft files of 10, 100, 1,000 and 10,000 titled entries: the native
program against one `cp` of the same file, and the 64-bit .exe under Wine (when given) against
Wine's own start-up, its time on an aircraft file with one entry. Every install goes into a fresh
copy of the file; the figures are medians. For comparison only, it also times the native program with fsync stubbed out (LD_PRELOAD), to
show what the flushing of the 21 rewrites costs on this disk. Prints a table and whether the
targets hold:
  linear growth   install(10,000) <= 12 x install(1,000)
  near the limit  install(10,000) <= 30 x cp(10,000)
  ahead of Wine   install < Wine's install - Wine's start-up, at 1,000 and 10,000"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from end_to_end import LIVERY, livery_ini  # noqa: E402
from sample_aircraft import aircraft_cfg, aircraft_folder  # noqa: E402
import wine  # noqa: E402

SIZES = [10, 100, 1000, 10000]


def no_flush_library(scratch):
    """A library that turns fsync into a no-op, or None without a C compiler."""
    source = os.path.join(scratch, "no_flush.c")
    library = os.path.join(scratch, "no_flush.so")
    with open(source, "w") as f:
        f.write("int fsync(int fd) { (void)fd; return 0; }\n")
    if shutil.which("cc") and subprocess.run(["cc", "-shared", "-fPIC", "-o", library, source]).returncode == 0:
        return library
    return None


def median_time(prepare, command, runs, env=None):
    times = []
    for _ in range(runs):
        prepare()
        start = time.perf_counter()
        result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        times.append(time.perf_counter() - start)
        if result.returncode != 0:
            raise SystemExit(f"{' '.join(command)} ended with status {result.returncode}:\n"
                             f"{result.stdout.decode(errors='replace')[-2000:]}")
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True, help="the native program")
    parser.add_argument("--exe", help="LiveryInstaller.exe (64-bit) to time under Wine")
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--wineprefix")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--dir", help="where the aircraft folders go (default: a temporary folder)")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="livery-bench-", dir=args.dir)
    wine_env = None
    try:
        aircraft, livery, native, cfg = aircraft_folder(scratch, args.program, livery_ini(LIVERY))
        if args.exe:
            reason = wine.why_not_runnable(args.wine)
            if reason:
                print(f"Wine not timed: {reason}")
                args.exe = None
            else:
                shutil.copy2(args.exe, os.path.join(livery, "installer.exe"))
                wine_env = wine.environment(os.path.abspath(args.wineprefix or os.path.join(scratch, "wineprefix")))
                wine.boot(args.wine, wine_env)
                # One wineserver for the whole benchmark, as on a desktop where Wine is running;
                # the one that made the prefix must have gone first.
                subprocess.run(["/usr/lib/wine/wineserver", "-w"], env=wine_env)
                subprocess.Popen(["/usr/lib/wine/wineserver", "-p", "-f"], env=wine_env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
                time.sleep(1)
        wine_command = [args.wine, os.path.join(livery, "installer.exe")]

        stub = no_flush_library(scratch)
        stub_env = dict(os.environ, LD_PRELOAD=stub) if stub else None
        rows = []
        for entries in [1] + SIZES:
            source = os.path.join(scratch, f"aircraft-{entries}.cfg")
            with open(source, "wb") as f:
                f.write(aircraft_cfg(entries))

            def fresh():
                shutil.copyfile(source, cfg)

            def nothing():
                pass

            row = {"entries": entries, "bytes": os.path.getsize(source)}
            row["native"] = median_time(fresh, [native], args.runs)
            if stub_env:
                row["unflushed"] = median_time(fresh, [native], args.runs, env=stub_env)
            row["cp"] = median_time(nothing, ["cp", source, os.path.join(scratch, "copy.cfg")], args.runs)
            if args.exe:
                fresh()
                subprocess.run(wine_command, env=wine_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)  # warm-up
                row["wine"] = median_time(fresh, wine_command, args.runs, env=wine_env)
            rows.append(row)

        startup = rows[0].get("wine")
        print(f"Medians of {args.runs} runs, in milliseconds; each install into a fresh copy.")
        header = f"{'entries':>8} {'bytes':>10} {'native':>9} {'cp':>7} {'native/cp':>9} {'no-fsync':>9}"
        if args.exe:
            header += f" {'wine':>9} {'wine-start':>10}"
        print(header)
        for row in rows[1:]:
            line = (f"{row['entries']:>8} {row['bytes']:>10} {row['native'] * 1000:>9.1f} {row['cp'] * 1000:>7.1f}"
                    f" {row['native'] / row['cp']:>9.1f} {row.get('unflushed', float('nan')) * 1000:>9.1f}")
            if args.exe:
                line += f" {row['wine'] * 1000:>9.1f} {(row['wine'] - startup) * 1000:>10.1f}"
            print(line)
        print("no-fsync: the native program with fsync stubbed out, for comparison only: what the 21 "
              "flushed rewrites cost beyond their writing")
        if args.exe:
            print(f"Wine's start-up (an aircraft file with one entry): {startup * 1000:.1f} ms")

        by = {row["entries"]: row for row in rows}
        growth = by[10000]["native"] / by[1000]["native"]
        limit = by[10000]["native"] / by[10000]["cp"]
        print(f"linear growth:  install(10,000) / install(1,000) = {growth:.1f} (target <= 12): "
              f"{'met' if growth <= 12 else 'NOT met'}")
        print(f"near the limit: install(10,000) / cp(10,000) = {limit:.1f} (target <= 30): "
              f"{'met' if limit <= 30 else 'NOT met'}")
        if args.exe:
            for n in (1000, 10000):
                peer = by[n]["wine"] - startup
                print(f"ahead of Wine at {n}: native {by[n]['native'] * 1000:.1f} ms vs Wine less start-up "
                      f"{peer * 1000:.1f} ms: {'met' if by[n]['native'] < peer else 'NOT met'}")
    finally:
        if wine_env:
            subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=wine_env)
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
