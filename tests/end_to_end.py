#!/usr/bin/env python3
"""The installer end to end: each case is a real aircraft folder with a livery folder in it.
The program is copied into the livery folder under some name, started from another working
directory with arbitrary arguments, and its exit status and the aircraft file afterwards are
compared with the expected ones.

The same table runs the native program (exact bytes compared) and the Windows .exe under
Wine (--wine LOADER): Wine's profile calls rewrite the whole file in their own layout, so
there what a reader sees is compared instead, section by section and key by key."""

import argparse
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine  # noqa: E402
from profile_reader import read_profile  # noqa: E402

KEYS = ["title", "sim", "model", "panel", "sound", "texture", "kb_checklists", "kb_reference", "atc_id",
        "atc_id_color", "atc_parking_types", "ui_manufacturer", "ui_type", "ui_variation", "description",
        "ui_typerole", "ui_createdby", "atc_heavy", "atc_airline", "atc_flight_number", "visual_damage"]

LIVERY = {
    "title": "Skyways 737-800 Sunrise", "sim": "Boeing737-800", "model": "", "panel": "", "sound": "",
    "texture": "Sunrise", "kb_checklists": "Boeing737-800_check", "kb_reference": "Boeing737-800_ref",
    "atc_id": "N737SW", "atc_id_color": "0xffffffff", "atc_parking_types": "GATE,RAMP",
    "ui_manufacturer": "Boeing", "ui_type": "737-800", "ui_variation": "Skyways Sunrise",
    "description": "A sunrise scheme; painted by hand, with care = love.", "ui_typerole": "Commercial Airliner",
    "ui_createdby": "Skyways Paint Shop", "atc_heavy": "0", "atc_airline": "Skyways",
    "atc_flight_number": "1723", "visual_damage": "1",
}

NOBODY = 65534


def livery_ini(values, eol="\r\n", before="", after=""):
    lines = "".join(f"{k}={v}{eol}" for k, v in values.items())
    return f"{before}[fltsim.0]{eol}{lines}{after}".encode()


def entry(number, values, eol="\r\n", title=None):
    """The section a run appends: the 21 keys in table order, absent ones empty."""
    values = dict(values)
    if title is not None:
        values["title"] = title
    return (f"[fltsim.{number}]{eol}" + "".join(f"{k}={values.get(k, '')}{eol}" for k in KEYS)).encode()


def aircraft_cfg(titles, eol="\r\n", general=True):
    """An aircraft file with one titled entry per title, then [General]."""
    out = ""
    for n, title in titles:
        out += f"[fltsim.{n}]{eol}title={title}{eol}sim=Boeing737-800{eol}texture={n}{eol}ui_variation=Paint {n}{eol}{eol}"
    if general:
        out += f"[General]{eol}atc_type=BOEING{eol}editable=1{eol}"
    return out.encode()


BASE = aircraft_cfg([(0, "Boeing 737-800 House"), (1, "Boeing 737-800 Blue"), (2, "Boeing 737-800 Red"),
                     (3, "Boeing 737-800 Green")])


class Case:
    def __init__(self, name, aircraft=BASE, livery=None, expected=None, status=0, runs=1, aircraft_dir="Boeing 737-800",
                 livery_dir="Sunrise Livery", prepare=None, unprivileged=False, memory_limit=None, any_state=False,
                 path_length=None, wine_note=None, file_size_limit=None, check=None):
        self.name, self.aircraft, self.status, self.runs = name, aircraft, status, runs
        self.livery = livery_ini(LIVERY) if livery is None else livery
        # None: the aircraft file must be as it was.
        self.expected = aircraft if expected is None else expected
        self.aircraft_dir, self.livery_dir = aircraft_dir, livery_dir
        self.prepare, self.unprivileged, self.memory_limit = prepare, unprivileged, memory_limit
        self.any_state = any_state  # memory exhaustion: any of the states a run passes through
        self.path_length = path_length  # make drive + directory exactly this long
        self.wine_note = wine_note  # why Wine cannot show this case, when it cannot
        self.file_size_limit = file_size_limit  # RLIMIT_FSIZE of the run, SIGXFSZ ignored
        self.check = check  # a further check of the aircraft folder: returns a problem or None


def lacking(*names):
    return {k: v for k, v in LIVERY.items() if k not in names}


LONG_DESCRIPTION = ("Long text " * 500)[:-1] + "."  # 5,000 characters
LONG_TITLE = "T" * 1500
EXISTING_1 = (b"[fltsim.0]\r\ntitle=House\r\nmodel=\r\n\r\n[fltsim.1]\r\ntitle=\r\nmodel=old\r\n"
              b"extra_key=keep me\r\n; a comment stays\r\n\r\n[General]\r\natc_type=BOEING\r\n")
EXISTING_1_AFTER = (b"[fltsim.0]\r\ntitle=House\r\nmodel=\r\n\r\n[fltsim.1]\r\ntitle=Skyways 737-800 Sunrise\r\n"
                    b"model=\r\nextra_key=keep me\r\n"
                    + "".join(f"{k}={LIVERY[k]}\r\n" for k in KEYS if k not in ("title", "model")).encode()
                    + b"; a comment stays\r\n\r\n[General]\r\natc_type=BOEING\r\n")
GAP = aircraft_cfg([(0, "A"), (1, "B"), (3, "D")])
LF = aircraft_cfg([(0, "A"), (1, "B")], eol="\n")
QUOTED = {**LIVERY, "title": '"Quoted Title"', "ui_variation": "'Single quoted'", "atc_airline": '"  Padded  "'}
QUOTED_AFTER = {**LIVERY, "title": "Quoted Title", "ui_variation": "Single quoted", "atc_airline": "  Padded  "}


def make_dangling(root):
    os.remove(os.path.join(root, "aircraft.cfg"))
    os.symlink("nowhere.cfg", os.path.join(root, "aircraft.cfg"))


def make_folder(root):
    os.remove(os.path.join(root, "aircraft.cfg"))
    os.mkdir(os.path.join(root, "aircraft.cfg"))


def remove_livery(root):
    os.remove(os.path.join(root, "Sunrise Livery", "livery.ini"))


def remove_aircraft(root):
    os.remove(os.path.join(root, "aircraft.cfg"))


def read_only(root):
    os.chmod(os.path.join(root, "aircraft.cfg"), 0o444)


def read_only_folder(root):
    os.chmod(root, 0o555)


def linked(root):
    os.rename(os.path.join(root, "aircraft.cfg"), os.path.join(root, "aircraft-real.cfg"))
    os.symlink("aircraft-real.cfg", os.path.join(root, "aircraft.cfg"))


def still_linked(root):
    if os.readlink(os.path.join(root, "aircraft.cfg")) != "aircraft-real.cfg":
        return "aircraft.cfg is no longer the link it was"
    return None


CASES = [
    Case("titled fltsim.0 to fltsim.3 gives fltsim.4", expected=BASE + entry(4, LIVERY)),
    Case("a gap at fltsim.2 is filled, fltsim.3 untouched", aircraft=GAP, expected=GAP + entry(2, LIVERY)),
    Case("an existing fltsim.1 with an empty title keeps its other keys", aircraft=EXISTING_1,
         expected=EXISTING_1_AFTER),
    Case("no fltsim section gives fltsim.0", aircraft=b"[General]\r\natc_type=BOEING\r\n",
         expected=b"[General]\r\natc_type=BOEING\r\n" + entry(0, LIVERY)),
    Case("missing atc_heavy and visual_damage are written empty", livery=livery_ini(lacking("atc_heavy", "visual_damage")),
         expected=BASE + entry(4, lacking("atc_heavy", "visual_damage"))),
    Case("other keys and other sections of the livery are ignored",
         livery=livery_ini({**LIVERY, "color": "red", "engine_type": "1"}, before="; by the paint shop\r\n",
                           after="[fltsim.1]\r\ntitle=Other\r\n[General]\r\natc_type=X\r\n"),
         expected=BASE + entry(4, LIVERY)),
    Case("quoted livery values arrive as a reader sees them", livery=livery_ini(QUOTED),
         expected=BASE + entry(4, QUOTED_AFTER)),
    Case("two runs install twice, as N and N+1", runs=2, expected=BASE + entry(4, LIVERY) + entry(5, LIVERY)),
    Case("a 5,000-character description arrives whole", livery=livery_ini({**LIVERY, "description": LONG_DESCRIPTION}),
         expected=BASE + entry(4, {**LIVERY, "description": LONG_DESCRIPTION})),
    Case("a title over 1023 characters counts as taken", aircraft=aircraft_cfg([(0, LONG_TITLE)]),
         expected=aircraft_cfg([(0, LONG_TITLE)]) + entry(1, LIVERY)),
    Case("folder names with spaces, [, ;, = and UTF-8", aircraft_dir="Jet [v2]; a=b \u00e9t\u00e9",
         livery_dir="Liv\u00e9ry [x]=1; y", expected=BASE + entry(4, LIVERY)),
    Case("an LF file keeps its line breaks", aircraft=LF, livery=livery_ini(LIVERY, eol="\n"),
         expected=LF + entry(2, LIVERY, eol="\n")),
    Case("a CR LF file keeps its line breaks, the livery's are its own", livery=livery_ini(LIVERY, eol="\n"),
         expected=BASE + entry(4, LIVERY)),
    Case("drive and directory of 243 characters just fit", path_length=243, expected=BASE + entry(4, LIVERY)),
    # Status 1: nothing to install.
    Case("no livery.ini: nothing written", prepare=remove_livery, status=1),
    Case("a livery without title: nothing written", livery=livery_ini(lacking("title")), status=1),
    Case("a livery with an empty title: nothing written", livery=livery_ini({**LIVERY, "title": ""}), status=1),
    Case("no livery.ini and no aircraft.cfg: the livery is checked first", prepare=lambda r: (remove_livery(r), remove_aircraft(r)),
         status=1, expected=b"<missing>"),
    # Status 2: the files cannot be located.
    Case("no aircraft.cfg: none is created", prepare=remove_aircraft, status=2, expected=b"<missing>"),
    Case("aircraft.cfg is a folder", prepare=make_folder, status=2, expected=b"<folder>"),
    Case("aircraft.cfg is a dangling link", prepare=make_dangling, status=2, expected=b"<missing>"),
    Case("drive and directory of 244 characters do not fit", path_length=244, status=2),
    Case("an executable path over 259 characters", path_length=300, status=2),
    # Status 3: memory runs out.
    Case("memory runs out while a value is held", memory_limit=64 << 20, any_state=True, status=3,
         livery=livery_ini({**LIVERY, "description": "x" * (200 << 20)}),
         wine_note="an address-space limit stops Wine itself from starting"),
    # Status 4: a write fails.
    Case("a read-only aircraft.cfg", prepare=read_only, unprivileged=True, status=4),
    Case("a read-only aircraft folder", prepare=read_only_folder, unprivileged=True, status=4),
    Case("a file-size limit below the new size", file_size_limit=len(BASE) + 40, status=4,
         wine_note="the limit reaches the wineserver the run starts, which crashes under it"),
    # Links are followed: the file they point to is updated and the link stays.
    Case("aircraft.cfg is a link", prepare=linked, check=still_linked, expected=BASE + entry(4, LIVERY)),
]


def as_nobody():
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


class Launcher:
    def __init__(self, program, wine_loader=None, wineprefix=None):
        self.program, self.wine, self.wineprefix = program, wine_loader, wineprefix
        self.env = wine.environment(wineprefix) if wine_loader else dict(os.environ)
        if wine_loader:
            wine.boot(wine_loader, self.env)
        self.nobody_env = None

    def _unprivileged_wine_env(self):
        # Wine runs only in a prefix its user owns, and a wineserver running as root writes
        # through permission bits: an unprivileged run gets a prefix of its own.
        if self.nobody_env is None:
            prefix = self.wineprefix + "-nobody"
            os.makedirs(prefix, exist_ok=True)
            os.chown(prefix, NOBODY, NOBODY)
            self.nobody_env = dict(self.env, WINEPREFIX=prefix, HOME=prefix)
            wine.boot(self.wine, self.nobody_env, preexec_fn=as_nobody)
        return self.nobody_env

    def close(self):
        if self.nobody_env:
            subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=self.nobody_env, preexec_fn=as_nobody,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def exe_name(self, short=False):
        if short:  # keeps the executable's own path within 259 characters
            return "i.exe" if self.wine else "i"
        return "Install Livery (copy).exe" if self.wine else "install livery copy"

    def drive_and_directory_length(self, folder):
        # Natively the path is the folder's own; under Wine it reads Z:\... with the same length + 2.
        return len(os.fsencode(folder)) + 1 + (2 if self.wine else 0)

    def run(self, exe, cwd, unprivileged, memory_limit, file_size_limit=None):
        command = ([self.wine] if self.wine else []) + [exe, "--force", "C:\\other\\livery.ini", "../x"]
        demote = unprivileged and os.geteuid() == 0
        env = self._unprivileged_wine_env() if demote and self.wine else self.env

        def child():
            if memory_limit:
                resource.setrlimit(resource.RLIMIT_AS, (memory_limit, memory_limit))
            if file_size_limit:
                resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            else:
                signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
            if demote:
                as_nobody()

        return subprocess.run(command, cwd=cwd, env=env, preexec_fn=child, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=300)


def snapshot(path):
    if os.path.isdir(path):
        return b"<folder>"
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b"<missing>"


def compare(launcher, case, actual):
    if case.any_state:
        # The original, or it with the first k of the 21 keys of fltsim.4 written.
        expected = read_profile(case.aircraft)
        got = read_profile(actual) if actual != b"<missing>" else {}
        extra = {k: v for k, v in got.items() if k not in expected}
        if set(extra) - {b"fltsim.4"}:
            return f"sections added: {sorted(extra)}"
        if actual[:len(case.aircraft)] != case.aircraft and not launcher.wine:
            return "the original bytes changed"
        written = list(extra.get(b"fltsim.4", {}))
        if written != [k.encode() for k in KEYS[:len(written)]]:
            return f"keys written out of order: {written}"
        return None
    if launcher.wine and case.expected[:1] != b"<":
        want, got = read_profile(case.expected), read_profile(actual)
        if want != got:
            for name in sorted(set(want) | set(got)):
                if want.get(name) != got.get(name):
                    return f"section {name!r}: expected {want.get(name)!r}, got {got.get(name)!r}"
        return None
    if actual != case.expected:
        return f"bytes differ:\n  expected {case.expected[:400]!r}\n  got      {actual[:400]!r}"
    return None


def run_case(launcher, case, scratch):
    root = tempfile.mkdtemp(prefix="case-", dir=scratch)
    os.chmod(root, 0o755)
    aircraft_folder = os.path.join(root, case.aircraft_dir)
    if case.path_length:
        # Folders whose names make drive + livery folder + separator exactly as long as asked.
        missing = case.path_length - launcher.drive_and_directory_length(os.path.join(root, case.livery_dir))
        parts = []
        while missing > 0:
            step = min(missing, 201)
            if missing - step == 1:
                step -= 1
            parts.append("p" * (step - 1))
            missing -= step
        aircraft_folder = os.path.join(root, *parts)
    livery_folder = os.path.join(aircraft_folder, case.livery_dir)
    os.makedirs(livery_folder)
    with open(os.path.join(aircraft_folder, "aircraft.cfg"), "wb") as f:
        f.write(case.aircraft)
    with open(os.path.join(livery_folder, "livery.ini"), "wb") as f:
        f.write(case.livery)
    exe = os.path.join(livery_folder, launcher.exe_name(short=bool(case.path_length)))
    shutil.copy2(launcher.program, exe)
    if case.path_length:
        length = launcher.drive_and_directory_length(livery_folder)
        assert length == case.path_length, (length, case.path_length)
    for dirpath, dirnames, _ in os.walk(root):
        for d in dirnames:
            os.chmod(os.path.join(dirpath, d), 0o777)
    if case.prepare:
        case.prepare(aircraft_folder)
    elsewhere = tempfile.mkdtemp(prefix="cwd-", dir=scratch)
    os.chmod(elsewhere, 0o755)

    statuses = []
    for _ in range(case.runs):
        result = launcher.run(exe, elsewhere, case.unprivileged, case.memory_limit, case.file_size_limit)
        statuses.append(result.returncode)
    actual = snapshot(os.path.join(aircraft_folder, "aircraft.cfg"))
    problems = []
    if statuses != [case.status] * case.runs:
        problems.append(f"exit status {statuses}, expected {case.status}")
    difference = compare(launcher, case, actual)
    if difference:
        problems.append(difference)
    if case.check:
        problem = case.check(aircraft_folder)
        if problem:
            problems.append(problem)
    leftovers = [n for n in os.listdir(aircraft_folder)
                 if n not in ("aircraft.cfg", case.livery_dir, "nowhere.cfg", "aircraft-real.cfg")]
    if leftovers:
        problems.append(f"left behind: {leftovers}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--wine", help="Wine loader to run the .exe with")
    parser.add_argument("--wineprefix")
    parser.add_argument("--sanitized", action="store_true", help="the program is built with sanitizers")
    parser.add_argument("-k", help="run only cases whose name holds this text")
    args = parser.parse_args()
    if args.wine:
        reason = wine.why_not_runnable(args.wine)
        if reason:
            print(f"SKIP: the whole table: {reason}")
            print(f"0 passed, 0 failed, {len(CASES)} skipped")
            return wine.SKIP
    launcher = Launcher(os.path.abspath(args.program), args.wine, args.wineprefix and os.path.abspath(args.wineprefix))
    passed = failed = skipped = 0
    scratch = tempfile.mkdtemp(prefix="livery-e2e-")
    os.chmod(scratch, 0o755)
    try:
        for case in CASES:
            if args.k and args.k not in case.name:
                continue
            if args.wine and case.wine_note:
                print(f"SKIP {case.name}: under Wine {case.wine_note}")
                skipped += 1
                continue
            if args.sanitized and case.memory_limit:
                print(f"SKIP {case.name}: sanitizers reserve more address space than the limit")
                skipped += 1
                continue
            problems = run_case(launcher, case, scratch)
            if problems:
                failed += 1
                print(f"FAIL {case.name}")
                for p in problems:
                    print(f"     {p}")
            else:
                passed += 1
                print(f"ok   {case.name}")
    finally:
        launcher.close()
        for dirpath, dirnames, _ in os.walk(scratch):
            for d in dirnames:
                if not os.path.islink(os.path.join(dirpath, d)):
                    os.chmod(os.path.join(dirpath, d), 0o777)
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
