"""Reading a Windows program file (PE) without running it: its machine, its
resources (manifest, version information), its import table, its
DllCharacteristics and the names of its symbol table."""

import struct
import xml.etree.ElementTree as ElementTree

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664

# DllCharacteristics
HIGH_ENTROPY_VA = 0x20
DYNAMIC_BASE = 0x40
NX_COMPAT = 0x100

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


class PeFile:
    """The headers and sections of one PE file, read from its bytes."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections = struct.unpack_from("<HH", data, pe + 4)
        self._symbol_table, self._symbol_count = struct.unpack_from(
            "<II", data, pe + 12)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        # At the same place in PE32 and PE32+.
        self.dll_characteristics = struct.unpack_from("<H", data,
                                                      optional + 70)[0]
        self.wide = magic == 0x20B  # PE32+: 64-bit fields
        self._directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        table = optional + optional_size
        self._spans = []
        for i in range(sections):
            virtual_size, rva, raw_size, raw = struct.unpack_from(
                "<IIII", data, table + 40 * i + 8)
            self._spans.append((rva, max(virtual_size, raw_size), raw))

    def symbols(self):
        """The names in the COFF symbol table, which a program that was not
        stripped keeps (the packages' copies are stripped)."""
        names = set()
        strings = self._symbol_table + 18 * self._symbol_count
        i = 0
        while i < self._symbol_count:
            record = self._symbol_table + 18 * i
            short = self.data[record:record + 8]
            if short[:4] == b"\0\0\0\0":
                start = strings + struct.unpack_from("<I", short, 4)[0]
                name = self.data[start:self.data.index(b"\0", start)]
            else:
                name = short.rstrip(b"\0")
            names.add(name.decode("ascii", "replace"))
            i += 1 + self.data[record + 17]  # and its auxiliary records
        return names

    def directory(self, index):
        """The RVA of data directory `index` (0 when there is none)."""
        return struct.unpack_from("<I", self.data,
                                  self._directories + 8 * index)[0]

    def offset(self, rva):
        for start, size, raw in self._spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def text_at(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def resources(self):
        """{(type id, name id): [data of each language]} of the resource
        section (named entries are left out: ours are numbered)."""
        resource_rva = self.directory(2)
        if resource_rva == 0:
            return {}
        base = self.offset(resource_rva)
        data = self.data

        def entries(directory):
            named, numbered = struct.unpack_from("<12xHH", data,
                                                 base + directory)
            for i in range(named + numbered):
                yield struct.unpack_from("<II", data,
                                         base + directory + 16 + 8 * i)

        found = {}
        for kind, kind_dir in entries(0):
            for name, name_dir in entries(kind_dir & 0x7FFFFFFF):
                if kind & 0x80000000 or name & 0x80000000:
                    continue
                for _, leaf in entries(name_dir & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", data, base + leaf)
                    start = self.offset(rva)
                    found.setdefault((kind, name), []).append(
                        data[start:start + size])
        return found

    def imports(self):
        """{library name in lower case: set of function names} that the
        program imports (imports by ordinal as "#<n>")."""
        found = {}
        descriptor = self.directory(1)
        if descriptor == 0:
            return found
        thunk_size, ordinal_flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
        thunk_format = "<Q" if self.wide else "<I"
        while True:
            lookup, _, _, name, first = struct.unpack_from(
                "<IIIII", self.data, self.offset(descriptor))
            if name == 0:
                return found
            names = found.setdefault(self.text_at(name).lower(), set())
            thunk = lookup or first
            while True:
                entry = struct.unpack_from(thunk_format, self.data,
                                           self.offset(thunk))[0]
                if entry == 0:
                    break
                if entry & ordinal_flag:
                    names.add(f"#{entry & 0xFFFF}")
                else:
                    names.add(self.text_at((entry & 0x7FFFFFFF) + 2))
                thunk += thunk_size
            descriptor += 20


class VersionNode:
    """One block of a VS_VERSIONINFO resource: key, value, children."""

    def __init__(self, data, start):
        length, value_length, is_text = struct.unpack_from("<HHH", data, start)
        if length < 6 or start + length > len(data):
            raise ValueError(f"version block at {start} has length {length}")
        end = start + length
        key_end = start + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        self.key = data[start + 6:key_end].decode("utf-16-le")
        value_start = _aligned(key_end + 2)
        if is_text:
            text = data[value_start:end]
            stop = next((i for i in range(0, len(text) - 1, 2)
                         if text[i:i + 2] == b"\0\0"), len(text))
            self.value = text[:stop].decode("utf-16-le")
            value_end = value_start + 2 * value_length
        else:
            self.value = data[value_start:value_start + value_length]
            value_end = value_start + value_length
        self.children = []
        child = _aligned(value_end)
        while child < end:
            node = VersionNode(data, child)
            self.children.append(node)
            child = _aligned(child + node.length)
        self.length = length

    def child(self, key):
        matches = [c for c in self.children if c.key == key]
        if len(matches) != 1:
            raise AssertionError(f"{len(matches)} blocks {key!r} in "
                                 f"{self.key!r}")
        return matches[0]


def _aligned(offset):
    return (offset + 3) & ~3


def version_numbers(high, low):
    return (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def execution_level(manifest):
    """(level, uiAccess) that a manifest requests."""
    root = ElementTree.fromstring(manifest)
    if root.tag != ASM_V1 + "assembly":
        raise AssertionError(f"manifest root is {root.tag}")
    levels = list(root.iter(ASM_V3 + "requestedExecutionLevel"))
    if len(levels) != 1:
        raise AssertionError(f"{len(levels)} requestedExecutionLevel elements")
    return levels[0].get("level"), levels[0].get("uiAccess")
