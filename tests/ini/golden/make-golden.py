#!/usr/bin/env python3
"""Writes the golden files of the INI text format: for each case an input file and the
bytes that loading it and saving it again must give. The expected lines are written here by
hand, so the files do not depend on the code they check. Run it from anywhere; it rewrites
the .ini files beside it."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def utf16(lines, big_endian=False, ends=None):
    """Mark, then the lines with a line end between two lines (CR LF unless given)."""
    codec = "utf-16-be" if big_endian else "utf-16-le"
    out = b"\xfe\xff" if big_endian else b"\xff\xfe"
    for i, line in enumerate(lines):
        if i > 0:
            out += (ends[(i - 1) % len(ends)] if ends else "\r\n").encode(codec)
        out += line.encode(codec, "surrogatepass")
    return out


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


SETTINGS = ["; settings", "Mode=1", "[VeskTrayServer]", "Registration Method=2", "",
            "[ Other ]", "list = a, b ,c,", "flag", "[VeskTrayServer]",
            "Registration Method = 3"]

write("settings-example.input.ini", utf16(SETTINGS))
write("settings-example.expected.ini", utf16(
    ["[VeskTrayServer]", "Registration Method = 2,3", "", "[ Other ]", "list = a,b,c",
     "flag = "]))
# The same lines big-endian, with every line-end form the reader accepts.
write("settings-example-mixed-ends.input.ini",
      utf16(SETTINGS, big_endian=True, ends=["\n", "\r", "\n\r", "\r\n"]))
# Loaded twice into one document.
write("settings-example-twice.expected.ini", utf16(
    ["[VeskTrayServer]", "Registration Method = 2,3,2,3", "", "[ Other ]",
     "list = a,b,c,a,b,c", "flag = ,"]))

# Each line kind under a header named after it, so that the output shows what each became.
LINE_KINDS_IN = [
    "before=1", " [before]", "[before]x",
    "[empty]", "",
    "[blanks]", "   ",
    "[bracket-pair]", "[]",
    "[blank-before]", " [a]",
    "[blank-after]", "[a] ",
    "[bracket-key]", "[a]=x",
    "[a=b]", "k=1",
    "[ a ]", "k=2",
    "[a]", "k=3",
    "[no-equals]", "k",
    "[equals-at-end]", "k=",
    "[empty-name]", "=v",
    "[blanks-around]", "k = a , b",
    "[comma-at-end]", "k=a,",
    "[comma-only]", "k=,",
    "[comma-then-blank]", "k=a, ",
    "[two-commas]", "k=a,,b",
    "[second-equals]", "k=a=b",
    "[quotes]", 'k="x,y"',
    "[semicolon]", ";note",
    "[controls]", "\tk\x01=\x1fv\x7f , \u00a0w\u00a0",
    "[empty]", "late=1",
]
LINE_KINDS_OUT = [
    "[empty]", "late = 1", "",
    "[blanks]", " = ", "",
    "[bracket-pair]", "[] = ", "",
    "[blank-before]", "[a] = ", "",
    "[blank-after]", "[a] = ", "",
    "[bracket-key]", "[a] = x", "",
    "[a=b]", "k = 1", "",
    "[ a ]", "k = 2", "",
    "[a]", "k = 3", "",
    "[no-equals]", "k = ", "",
    "[equals-at-end]", "k = ", "",
    "[empty-name]", " = v", "",
    "[blanks-around]", "k = a,b", "",
    "[comma-at-end]", "k = a", "",
    "[comma-only]", "k = ", "",
    "[comma-then-blank]", "k = a,", "",
    "[two-commas]", "k = a,,b", "",
    "[second-equals]", "k = a=b", "",
    "[quotes]", 'k = "x,y"', "",
    "[semicolon]", ";note = ", "",
    "[controls]", "k = v\x7f,\u00a0w\u00a0",
]
write("line-kinds.input.ini", utf16(LINE_KINDS_IN))
write("line-kinds.expected.ini", utf16(LINE_KINDS_OUT))

# Nothing to keep: no header at all.
write("no-sections.input.ini", utf16(["k=1", "", "; only comments", "[x"]))
write("no-sections.expected.ini", b"\xff\xfe")
