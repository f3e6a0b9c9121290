"""A reader of Windows executables (PE32 and PE32+) in plain Python: what a release check needs without running
the file: its machine, subsystem, imported DLLs, every resource as bytes, and the version block."""

import struct

MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
SUBSYSTEM_WINDOWS_GUI = 2
RT_VERSION = 16


class PeFile:
    def __init__(self, data):
        if isinstance(data, str):
            with open(data, "rb") as f:
                data = f.read()
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        machine, sections, _time, _sym, _nsym, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        self.machine = MACHINES.get(machine, hex(machine))
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError("unknown optional header magic %#x" % magic)
        self.format = "PE32" if magic == 0x10B else "PE32+"
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self._dirs = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        table = optional + optional_size
        self._sections = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(sections)]

    def _offset(self, rva):
        for _name, size, address, raw_size, raw in self._sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("RVA %#x lies in no section" % rva)

    def _cstring(self, offset):
        return self.data[offset:self.data.index(b"\0", offset)].decode("ascii")

    def imports(self):
        """The names of the DLLs the file imports from, in table order."""
        rva, size = self._dirs[1] if len(self._dirs) > 1 else (0, 0)
        names = []
        offset = self._offset(rva) if size else None
        while offset is not None:
            thunks, _time, _chain, name, first = struct.unpack_from("<IIIII", self.data, offset)
            if not (thunks or name or first):
                break
            names.append(self._cstring(self._offset(name)))
            offset += 20
        return names

    def resources(self):
        """{(type, name, language): bytes} of every resource; ids are ints, names texts."""
        rva, size = self._dirs[2] if len(self._dirs) > 2 else (0, 0)
        out = {}
        if not size:
            return out
        base = self._offset(rva)

        def walk(offset, path):
            named, ids = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, path + (key,))
                else:
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
                    at = self._offset(data_rva)
                    out[path + (key,)] = self.data[at:at + data_size]

        walk(0, ())
        return out

    def version(self):
        """(fixed part as a dict, {string name: value}) of the US English version block."""
        block = self.resources()[(RT_VERSION, 1, 0x409)]
        fixed = None
        strings = {}

        def walk(offset, end, depth):
            nonlocal fixed
            while offset + 6 <= end:
                length, value_length, kind = struct.unpack_from("<HHH", block, offset)
                if length == 0:
                    break
                key_end = offset + 6
                while block[key_end:key_end + 2] != b"\0\0":
                    key_end += 2
                key = block[offset + 6:key_end].decode("utf-16-le")
                value = (key_end + 2 + 3) & ~3
                if depth == 0:
                    names = ("signature", "struc_version", "file_ms", "file_ls", "product_ms", "product_ls",
                             "flags_mask", "flags", "os", "type", "subtype", "date_ms", "date_ls")
                    fixed = dict(zip(names, struct.unpack_from("<13I", block, value)))
                    walk((value + value_length + 3) & ~3, offset + length, 1)
                elif depth == 3:
                    text = block[value:value + 2 * value_length].decode("utf-16-le") if kind == 1 else ""
                    strings[key] = text.rstrip("\0")
                else:
                    walk(value + (value_length if depth != 1 and kind == 0 else 0), offset + length, depth + 1)
                offset = (offset + length + 3) & ~3

        walk(0, len(block), 0)
        return fixed, strings
