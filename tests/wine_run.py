#!/usr/bin/env python3
"""Runs a Windows test program under Wine in the build tree's prefix; CTest's launcher for
the Windows build. Exits 77 (skipped) when Wine cannot run here.
Usage: wine_run.py LOADER PREFIX PROGRAM [ARGS...]"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine  # noqa: E402


def main():
    loader, prefix, command = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3:]
    reason = wine.why_not_runnable(loader)
    if reason:
        print(f"SKIP: {reason}")
        return wine.SKIP
    env = wine.environment(prefix)
    wine.boot(loader, env)
    return subprocess.run([loader] + command, env=env).returncode


if __name__ == "__main__":
    sys.exit(main())
