"""A reader of Windows executables (PE32 and PE32+) in plain Python: what a release check needs without running
the file: its machine, header fields and flags, sections, imported functions, every resource as bytes, the version
block, the debug link to a separate symbols file and where a signature lies. It reads such symbols files too (the
same headers)."""

import struct
import zlib

MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
SUBSYSTEM_WINDOWS_GUI = 2
RT_VERSION = 16

# DllCharacteristics flags
HIGH_ENTROPY_VA = 0x0020
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
# File header characteristics
RELOCS_STRIPPED = 0x0001
LARGE_ADDRESS_AWARE = 0x0020
# Section characteristics
MEM_EXECUTE = 0x20000000
MEM_WRITE = 0x80000000


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
        (machine, sections, self.timestamp, self.symbol_table, self.symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.machine = MACHINES.get(machine, hex(machine))
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError("unknown optional header magic %#x" % magic)
        self.format = "PE32" if magic == 0x10B else "PE32+"
        (os_major, os_minor, image_major, image_minor, sub_major, sub_minor, _win32, self.image_size,
         self.headers_size, self.checksum, self.subsystem, self.dll_characteristics) = struct.unpack_from(
            "<6HIIIIHH", data, optional + 40)
        self.os_version = (os_major, os_minor)
        self.subsystem_version = (sub_major, sub_minor)
        self._checksum_at = optional + 64
        directories = optional + (96 if magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self._dirs = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        table = optional + optional_size
        self._sections = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(sections)]
        self._flags = [struct.unpack_from("<I", data, table + 40 * i + 36)[0] for i in range(sections)]

    def sections(self):
        """[(name, virtual address, virtual size, characteristics)] in table order; long names (/n) are read from
        the COFF string table."""
        out = []
        strings = self.symbol_table + 18 * self.symbol_count
        for (name, size, address, _raw_size, _raw), flags in zip(self._sections, self._flags):
            name = name.rstrip(b"\0").decode("ascii")
            if name.startswith("/") and self.symbol_table:
                name = self._cstring(strings + int(name[1:]))
            out.append((name, address, size, flags))
        return out

    def symbols(self):
        """The names in the COFF symbol table (a symbols file has one; a stripped exe has none)."""
        strings = self.symbol_table + 18 * self.symbol_count
        names, index = [], 0
        while index < self.symbol_count:
            at = self.symbol_table + 18 * index
            raw = self.data[at:at + 8]
            if raw[:4] == b"\0\0\0\0":
                names.append(self._cstring(strings + struct.unpack_from("<I", raw, 4)[0]))
            else:
                names.append(raw.rstrip(b"\0").decode("latin-1"))
            index += 1 + self.data[at + 17]
        return names

    def section_data(self, name):
        """The raw bytes of the first section called name."""
        for (_n, _size, _address, raw_size, raw), (found, *_rest) in zip(self._sections, self.sections()):
            if found == name:
                return self.data[raw:raw + raw_size]
        raise KeyError(name)

    def computed_checksum(self):
        """The header checksum as Windows' CheckSumMappedFile computes it: 16-bit one's complement sum of the file
        with the checksum field read as 0, plus the file's length."""
        data = self.data[:self._checksum_at] + b"\0\0\0\0" + self.data[self._checksum_at + 4:]
        if len(data) % 2:
            data += b"\0"
        total = sum(struct.unpack("<%dH" % (len(data) // 2), data))
        while total >> 16:
            total = (total & 0xFFFF) + (total >> 16)
        return total + len(self.data)

    def debug_link(self):
        """(file name, CRC32) from the .gnu_debuglink section, which names the separate symbols file."""
        data = self.section_data(".gnu_debuglink")
        name = data[:data.index(b"\0")]
        crc_at = (len(name) + 1 + 3) & ~3
        return name.decode("ascii"), struct.unpack_from("<I", data, crc_at)[0]

    def certificate_table(self):
        """(file offset, size) of the Authenticode signature; (0, 0) in a file that carries none."""
        return self._dirs[4] if len(self._dirs) > 4 else (0, 0)

    def _offset(self, rva):
        for _name, size, address, raw_size, raw in self._sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("RVA %#x lies in no section" % rva)

    def _cstring(self, offset):
        return self.data[offset:self.data.index(b"\0", offset)].decode("ascii")

    def imports(self):
        """{DLL name: [function names, or "#ordinal"]} in table order."""
        rva, size = self._dirs[1] if len(self._dirs) > 1 else (0, 0)
        wide = self.format == "PE32+"
        thunk_size, by_ordinal = (8, 1 << 63) if wide else (4, 1 << 31)
        out = {}
        offset = self._offset(rva) if size else None
        while offset is not None:
            thunks, _time, _chain, name, first = struct.unpack_from("<IIIII", self.data, offset)
            if not (thunks or name or first):
                break
            functions = out.setdefault(self._cstring(self._offset(name)), [])
            at = self._offset(thunks or first)
            while True:
                thunk = struct.unpack_from("<Q" if wide else "<I", self.data, at)[0]
                if not thunk:
                    break
                if thunk & by_ordinal:
                    functions.append("#%d" % (thunk & 0xFFFF))
                else:
                    functions.append(self._cstring(self._offset(thunk & 0x7FFFFFFF) + 2))
                at += thunk_size
            offset += 20
        return out

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


def crc32_of(data):
    """The CRC a .gnu_debuglink section holds for its file."""
    return zlib.crc32(data) & 0xFFFFFFFF
