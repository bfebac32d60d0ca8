#!/usr/bin/env python3
"""Writes a PostOwl profile into a settings file, as the program itself would.

    postowl_profile.py [--append] FILE PROFILE KEY=VALUE...

FILE is replaced (mode 0600) by one section PROFILE holding the given keys;
with --append the section is added after those already in FILE.
Password and SMSPassword are given plain and stored scrambled. The format is
Qt's INI format as QSettings reads it on Linux.
"""
import os
import sys

SCRAMBLE_KEY = b"q2m7x4kz9w1p5rj8tn3vb6cyh"
NUL_MARKER = b"X'00'"
SCRAMBLED_KEYS = ("Password", "SMSPassword")


def scramble(text):
    """XOR with the key position by position; a NUL is stored as X'00'."""
    data = text.encode("latin-1").replace(NUL_MARKER, b"\0")
    if len(data) > len(SCRAMBLE_KEY):
        return ""  # the program cannot read such a password back either
    mixed = bytes(c ^ k for c, k in zip(data, SCRAMBLE_KEY))
    return mixed.replace(b"\0", NUL_MARKER).decode("latin-1")


def ini_key(name):
    """A section or key name as QSettings escapes it."""
    out = []
    for ch in name:
        code = ord(ch)
        if ch == "/":
            out.append("\\")
        elif ch.isascii() and (ch.isalnum() or ch in "_-."):
            out.append(ch)
        elif code <= 0xFF:
            out.append("%%%02X" % code)
        else:
            out.append("%%U%04X" % code)
    return "".join(out)


def ini_value(text):
    """A text value as QSettings writes it: control characters as escapes,
    a hex digit right after a \\x escape escaped too, quotes where needed."""
    named = {"\a": "\\a", "\b": "\\b", "\f": "\\f", "\n": "\\n", "\r": "\\r", "\t": "\\t", "\v": "\\v"}
    out = []
    escape_next_hex = False
    for ch in text:
        code = ord(ch)
        if escape_next_hex and ch in "0123456789abcdefABCDEF":
            out.append("\\x%x" % code)
            continue
        escape_next_hex = False
        if ch == "\0":
            out.append("\\0")
            escape_next_hex = True
        elif ch in named:
            out.append(named[ch])
        elif ch in "\"\\":
            out.append("\\" + ch)
        elif code <= 0x1F or code == 0x7F:
            out.append("\\x%x" % code)
            escape_next_hex = True
        else:
            out.append(ch)
    value = "".join(out)
    if text.startswith("@"):
        value = "@" + value  # a leading @ would mark a Qt type
    if any(c in text for c in ";,=") or value.startswith(" ") or value.endswith(" "):
        value = '"' + value + '"'
    return value


def main(argv):
    append = len(argv) > 1 and argv[1] == "--append"
    if append:
        argv = argv[:1] + argv[2:]
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    path, profile = argv[1], argv[2]
    lines = ["[%s]" % ini_key(profile)]
    for item in argv[3:]:
        key, sep, value = item.partition("=")
        if not sep:
            sys.stderr.write("not KEY=VALUE: %s\n" % item)
            return 2
        if key in SCRAMBLED_KEYS and value.strip(" "):
            value = scramble(value)
        lines.append("%s=%s" % (ini_key(key), ini_value(value)))
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    # The file holds passwords, scrambled but not encrypted: owner only.
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | (os.O_APPEND if append else os.O_TRUNC), 0o600)
    separator = "\n" if os.fstat(fd).st_size > 0 else ""
    with os.fdopen(fd, "w", encoding="utf-8", newline="\n") as out:
        out.write(separator + "\n".join(lines) + "\n")
    os.chmod(path, 0o600)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
