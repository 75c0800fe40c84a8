#!/usr/bin/env python3
"""Reads what the project needs to know of a Windows binary from its PE headers, without
running it: its machine type, exports, imports and version resource; and checks the 32-bit
build against the oldest Windows it targets.

  VeskPeCheck.py machine FILE            i686 or x86_64
  VeskPeCheck.py exports FILE            exported names, one a line
  VeskPeCheck.py imports FILE            DLL!function, one a line (DLL in upper case)
  VeskPeCheck.py version FILE            the fixed file version, e.g. 1.0.0.0
  VeskPeCheck.py check-legacy FILE...    i686, and every import in legacy-imports.txt
  VeskPeCheck.py check-hook [--without NAME] FILE...
                                         exports the four entry points (all but NAME)
                                         under plain names, and no decorated name

Exit status 0 when all is well, 1 when a check finds a fault, 2 when a file is not a
Windows binary this tool knows (the message says which and why).
"""
import os
import struct
import sys

MACHINES = {0x014C: "i686", 0x8664: "x86_64"}
HOOK_ENTRY_POINTS = ("InstallTrayHook", "UninstallTrayHook", "AddMonitor", "RemoveMonitor")
LEGACY_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "legacy-imports.txt")


class NotPe(Exception):
    pass


class Pe:
    def __init__(self, path):
        self.path = path
        try:
            with open(path, "rb") as f:
                self.data = f.read()
        except OSError as e:
            raise NotPe(f"{path}: cannot be read: {e.strerror}")
        d = self.data
        if len(d) < 0x40 or d[:2] != b"MZ":
            raise NotPe(f"{path}: not a Windows executable (no MZ header)")
        (pe,) = struct.unpack_from("<I", d, 0x3C)
        if pe + 24 > len(d) or d[pe : pe + 4] != b"PE\0\0":
            raise NotPe(f"{path}: not a Windows executable (no PE header)")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", d, pe + 4)
        if machine not in MACHINES:
            raise NotPe(f"{path}: unknown machine type 0x{machine:04X} (neither i686 nor x86_64)")
        self.machine = MACHINES[machine]
        optional = pe + 24
        (magic,) = struct.unpack_from("<H", d, optional)
        if magic not in (0x10B, 0x20B):
            raise NotPe(f"{path}: unknown optional header 0x{magic:04X}")
        self.wide = magic == 0x20B
        directories = optional + (112 if self.wide else 96)
        count = struct.unpack_from("<I", d, directories - 4)[0]
        self.directories = [
            struct.unpack_from("<II", d, directories + 8 * i) for i in range(min(count, 16))
        ]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            size, rva, raw_size, raw = struct.unpack_from("<IIII", d, table + 40 * i + 8)
            self.sections.append((rva, max(size, raw_size), raw))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise NotPe(f"{self.path}: address 0x{rva:X} lies in no section")

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at : self.data.index(b"\0", at)].decode("ascii", "replace")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def exports(self):
        rva, size = self.directory(0)
        if not size:
            return []
        at = self.offset(rva)
        (names,) = struct.unpack_from("<I", self.data, at + 24)
        (name_table,) = struct.unpack_from("<I", self.data, at + 32)
        table = self.offset(name_table)
        return [self.text(struct.unpack_from("<I", self.data, table + 4 * i)[0]) for i in range(names)]

    def imports(self):
        rva, size = self.directory(1)
        result = []
        if not size:
            return result
        at = self.offset(rva)
        thunk_size, ordinal_flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if not name:
                return result
            dll = self.text(name).upper()
            thunk = self.offset(lookup or first)
            while True:
                (entry,) = struct.unpack_from("<Q" if self.wide else "<I", self.data, thunk)
                if not entry:
                    break
                if entry & ordinal_flag:
                    result.append(f"{dll}!#{entry & 0xFFFF}")
                else:
                    result.append(f"{dll}!{self.text((entry & 0x7FFFFFFF) + 2)}")
                thunk += thunk_size
            at += 20

    def version(self):
        """The fixed file version of the first version resource, or None."""
        rva, size = self.directory(2)
        if not size:
            return None
        base = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, directory + 16 + 8 * i)

        for ident, target in entries(base):
            if ident != 16:  # RT_VERSION
                continue
            level = target
            while level & 0x80000000:  # down the first name and the first language
                level = next(entries(base + (level & 0x7FFFFFFF)))[1]
            data_rva, data_size = struct.unpack_from("<II", self.data, base + level)
            block = self.data[self.offset(data_rva) : self.offset(data_rva) + data_size]
            fixed = block.find(struct.pack("<I", 0xFEEF04BD))
            if fixed < 0:
                return None
            ms, ls = struct.unpack_from("<II", block, fixed + 8)
            return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
        return None


def legacy_allowed():
    allowed = set()
    with open(LEGACY_LIST, encoding="utf-8") as f:
        dll = None
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            if line.startswith("[") and line.endswith("]"):
                dll = line[1:-1].upper()
            else:
                allowed.update(f"{dll}!{name}" for name in line.split())
    return allowed


def check_legacy(paths):
    allowed = legacy_allowed()
    faults = []
    for path in paths:
        pe = Pe(path)
        if pe.machine != "i686":
            faults.append(f"{path}: built for {pe.machine}, not i686")
        faults += [f"{path}: imports {name}, which Windows 2000/XP lacks"
                   for name in sorted(set(pe.imports()) - allowed)]
    return faults


def check_hook(paths):
    without = None
    if paths[:1] == ["--without"]:
        without, paths = paths[1], paths[2:]
    faults = []
    for path in paths:
        exports = set(Pe(path).exports())
        faults += [f"{path}: does not export {name} under its plain name"
                   for name in HOOK_ENTRY_POINTS if name not in exports and name != without]
        faults += [f"{path}: exports the decorated name {name}"
                   for name in sorted(exports) if "@" in name]
    return faults


def main(argv):
    if len(argv) < 3 or argv[1] not in ("machine", "exports", "imports", "version",
                                        "check-legacy", "check-hook"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    command, paths = argv[1], argv[2:]
    try:
        if command in ("check-legacy", "check-hook"):
            faults = (check_legacy if command == "check-legacy" else check_hook)(paths)
            for fault in faults:
                print(fault, file=sys.stderr)
            return 1 if faults else 0
        pe = Pe(paths[0])
        if command == "machine":
            print(pe.machine)
        elif command == "exports":
            print("\n".join(pe.exports()))
        elif command == "imports":
            print("\n".join(pe.imports()))
        else:
            version = pe.version()
            if version is None:
                print(f"{paths[0]}: has no version resource", file=sys.stderr)
                return 1
            print(version)
        return 0
    except NotPe as e:
        print(e, file=sys.stderr)
        return 2
    except (struct.error, ValueError, IndexError, StopIteration):
        print(f"{paths[0] if len(paths) == 1 else ' '.join(paths)}: damaged PE headers",
              file=sys.stderr)
        return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except BrokenPipeError:
        sys.exit(1)
