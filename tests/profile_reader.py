"""What a profile reader sees in a file: the first occurrence of each section and of each key
in it, values with blanks trimmed and one outer pair of like quotes removed. Used to compare
files written by Wine, which rewrites them in its own layout, with the expected ones."""

import re

BLANKS = " \t\v"


def read_profile(data: bytes) -> dict:
    if data[:2] in (b"\xff\xfe", b"\xfe\xff"):
        return {}
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    sections: dict = {}
    current = None
    for line in re.split(rb"\r\n|\n|\r", data):
        stripped = line.lstrip(b" \t\v")
        if stripped.startswith(b"["):
            name = stripped[1:].split(b"]", 1)[0].strip(b" \t\v").lower()
            current = None if name in sections else sections.setdefault(name, {})
            continue
        if current is None or stripped.startswith(b";") or b"=" not in line:
            continue
        key, value = line.split(b"=", 1)
        key = key.strip(b" \t\v").lower()
        value = value.strip(b" \t\v")
        if len(value) >= 2 and value[:1] in (b'"', b"'") and value[-1:] == value[:1]:
            value = value[1:-1]
        current.setdefault(key, value)
    return sections
