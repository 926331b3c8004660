#!/usr/bin/env python3
"""Feeds the native installer hostile files as livery.ini and aircraft.cfg: random bytes, NUL
bytes, a 10 MB line, 100,000 sections, a 1 MB section header, every byte value, lines ended by
CR alone. Each run must end with a defined exit status and keep every byte aircraft.cfg had
(the entry is appended after them, or nothing changes); some cases also check the exact
result. Under the sanitizer build any report ends the program, and so fails the case."""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end import KEYS, LIVERY, entry, livery_ini  # noqa: E402

rng = random.Random(7)
GOOD = livery_ini(LIVERY)
AIRCRAFT = b"[fltsim.0]\r\ntitle=House\r\n[General]\r\natc_type=X\r\n"
EVERY_BYTE = b"<" + bytes(b for b in range(1, 256) if b not in (10, 13)) + b">"


def noise(n, variant):
    return random.Random(variant).randbytes(n)


def hundred_thousand_sections():
    return b"".join(b"[fltsim.%d]\ntitle=t%d\n" % (n, n) for n in range(100000))


# name, livery.ini, aircraft.cfg, allowed statuses, exact aircraft.cfg afterwards (or None)
CASES = [
    *[(f"random bytes as livery.ini ({variant})", noise(4096 << (variant % 4), variant), AIRCRAFT, {1}, AIRCRAFT)
      for variant in range(4)],
    *[(f"random bytes as aircraft.cfg ({variant})", GOOD, noise(4096 << (variant % 4), 100 + variant), {0, 4}, None)
      for variant in range(4)],
    ("random bytes as both", noise(65536, 9), noise(65536, 10), {0, 1, 4}, None),
    ("NUL bytes in livery values: a value ends at its NUL",
     b"[fltsim.0]\r\ntitle=Jet\0hidden\r\nmodel\0x=1\r\natc_id=N1\0\r\n", AIRCRAFT, {0},
     AIRCRAFT + entry(1, {"title": "Jet", "atc_id": "N1"})),
    ("NUL bytes in aircraft section names and keys",
     GOOD, b"[fltsim.0\0]\r\ntitle=A\r\n[fltsim.0]\r\nti\0tle=B\r\n", {0}, None),
    ("a single 10 MB line as aircraft.cfg", GOOD, b"x" * (10 << 20), {0}, None),
    ("a single 10 MB line as livery.ini", b"[fltsim.0]title=" + b"y" * (10 << 20), AIRCRAFT, {1}, AIRCRAFT),
    ("a 10 MB description", livery_ini({**LIVERY, "description": "d" * (10 << 20)}), AIRCRAFT, {0},
     AIRCRAFT + entry(1, {**LIVERY, "description": "d" * (10 << 20)})),
    ("100,000 sections", GOOD, hundred_thousand_sections(), {0},
     hundred_thousand_sections() + entry(100000, LIVERY, eol="\n")),
    ("a 1 MB section header", GOOD, b"[" + b"h" * (1 << 20) + b"]\r\nk=v\r\n" + AIRCRAFT, {0}, None),
    ("a 1 MB section header in livery.ini", b"[" + b"h" * (1 << 20) + b"]\r\n" + GOOD, AIRCRAFT, {0},
     AIRCRAFT + entry(1, LIVERY)),
    ("a value with every byte from 0x01 to 0xFF",
     GOOD.replace(b"description=A sunrise", b"description=" + EVERY_BYTE + b" sunrise"), AIRCRAFT, {0}, None),
    ("lines ended by CR alone", b"[fltsim.0]\r" + b"".join(f"{k}={v}\r".encode() for k, v in LIVERY.items()),
     b"\r\r\r[fltsim.0]\rtitle=A\r\r", {0}, b"\r\r\r[fltsim.0]\rtitle=A\r\r" + entry(1, LIVERY, eol="\r")),
    ("a UTF-16 aircraft.cfg is left alone", GOOD, "\ufeff[fltsim.0]\r\ntitle=A\r\n".encode("utf-16-le"), {4}, None),
    ("an empty aircraft.cfg", GOOD, b"", {0}, entry(0, LIVERY)),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    args = parser.parse_args()
    scratch = tempfile.mkdtemp(prefix="livery-hostile-")
    passed = failed = 0
    try:
        for name, livery, aircraft, statuses, exact in CASES:
            root = tempfile.mkdtemp(dir=scratch)
            os.makedirs(os.path.join(root, "Livery"))
            with open(os.path.join(root, "Livery", "livery.ini"), "wb") as f:
                f.write(livery)
            with open(os.path.join(root, "aircraft.cfg"), "wb") as f:
                f.write(aircraft)
            exe = os.path.join(root, "Livery", "installer")
            shutil.copy2(args.program, exe)
            result = subprocess.run([exe], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
            with open(os.path.join(root, "aircraft.cfg"), "rb") as f:
                after = f.read()
            problems = []
            if result.returncode not in statuses:
                problems.append(f"exit status {result.returncode}, expected one of {sorted(statuses)}")
            if result.returncode == 0 and not after.startswith(aircraft):
                problems.append("bytes that aircraft.cfg had are gone")
            if result.returncode != 0 and after != aircraft:
                problems.append("aircraft.cfg changed although nothing was installed")
            if exact is not None and after != exact:
                problems.append(f"aircraft.cfg is not as expected: {after[-300:]!r}")
            if name.startswith("a value with every byte") and (b"description=" + EVERY_BYTE + b" sunrise") not in after:
                problems.append("the value did not arrive whole")
            if sorted(os.listdir(root)) != ["Livery", "aircraft.cfg"]:
                problems.append(f"left behind: {os.listdir(root)}")
            if result.stdout:
                problems.append(result.stdout.decode(errors="replace")[:2000])
            shutil.rmtree(root)
            if problems:
                failed += 1
                print(f"FAIL {name}")
                for p in problems:
                    print(f"     {p}")
            else:
                passed += 1
                print(f"ok   {name} (status {result.returncode})")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
