#!/usr/bin/env python3
"""Checks LiveryInstaller.exe itself: PE32 or PE32+, the Windows GUI subsystem, imports of
exactly KERNEL32.dll and msvcrt.dll, one icon group holding exactly the eight images of a
plain application window, and the manifest as written. Reads the file with objdump (MinGW
binutils) and wrestool/icotool (icoutils)."""

import argparse
import os
import re
import subprocess
import sys
import tempfile

ICON_IMAGES = [(32, 32, 4), (16, 16, 4), (48, 48, 8), (32, 32, 8), (16, 16, 8), (48, 48, 32), (32, 32, 32), (16, 16, 32)]


CHECKS = 9  # magic, subsystem, imports, resource types, icon groups, icon images, manifests, manifest, its words


def output(*command):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE).stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--pe32plus", action="store_true", help="expect a 64-bit PE32+ image")
    parser.add_argument("--manifest", required=True)
    args = parser.parse_args()
    problems = []

    headers = output(args.objdump, "-p", args.exe).decode()
    magic = re.search(r"^Magic\s+(\w+)", headers, re.M).group(1)
    if magic != ("020b" if args.pe32plus else "010b"):
        problems.append(f"magic {magic}: not {'PE32+' if args.pe32plus else 'PE32'}")
    subsystem = re.search(r"^Subsystem\s+(\w+)", headers, re.M).group(1)
    if int(subsystem, 16) != 2:
        problems.append(f"subsystem {subsystem}, not Windows GUI (2)")
    imports = sorted(re.findall(r"DLL Name: (\S+)", headers))
    if imports != ["KERNEL32.dll", "msvcrt.dll"]:
        problems.append(f"imports {imports}")

    listing = output("wrestool", "-l", args.exe).decode()
    types = sorted({int(t) for t in re.findall(r"--type=(\d+)", listing)})
    if types != [3, 14, 24]:
        problems.append(f"resource types {types}, expected icons (3), one icon group (14), a manifest (24)")
    groups = re.findall(r"--type=14 --name=(\S+)", listing)
    if len(groups) != 1:
        problems.append(f"{len(groups)} icon groups")
    with tempfile.TemporaryDirectory() as scratch:
        icon = os.path.join(scratch, "group.ico")
        subprocess.run(["wrestool", "-x", "-t", "14", "-o", icon, args.exe], check=True)
        images = [tuple(int(v) for v in m) for m in
                  re.findall(r"--width=(\d+) --height=(\d+) --bit-depth=(\d+)", output("icotool", "-l", icon).decode())]
        if images != ICON_IMAGES:
            problems.append(f"icon images {images}, expected {ICON_IMAGES}")
    manifests = re.findall(r"--type=24 --name=(\S+)", listing)
    if manifests != ["1"]:
        problems.append(f"manifest resources {manifests}, expected one, named 1")
    embedded = output("wrestool", "-x", "--raw", "-t", "24", "-n", "1", args.exe)
    with open(args.manifest, "rb") as f:
        if embedded != f.read():
            problems.append(f"the embedded manifest differs from {args.manifest}")
    for word in (b"trustInfo", b"requestedExecutionLevel", b"dependency", b"activeCodePage", b"longPathAware"):
        if word in embedded:
            problems.append(f"the manifest declares {word.decode()}")

    size = os.path.getsize(args.exe)
    for p in problems:
        print(f"FAIL {p}")
    print(f"{os.path.basename(args.exe)}: {'PE32+' if args.pe32plus else 'PE32'}, {size} bytes, imports {imports}")
    print(f"{max(0, CHECKS - len(problems))} passed, {len(problems)} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
