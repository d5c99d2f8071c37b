"""Reading a PE file the way the inspector and the builder's tests need it: the headers, the
sections, the resource tree and the certificate table. Every offset is checked against the file,
so that a damaged installer gives a ValueError rather than a wrong answer."""

import struct

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
MACHINES = {0x14C: "x86", 0x8664: "x64"}
DLL_TERMINAL_SERVER_AWARE = 0x8000
RESOURCE_ENTRY, CERTIFICATE_ENTRY = 2, 4


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = self._unpack("<I", 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, nsections, self.timestamp, _, _, opt_size,
         self.characteristics) = self._unpack("<HHIIIHH", pe + 4)
        opt = pe + 24
        self.magic = self._unpack("<H", opt)[0]
        if self.magic not in (0x10B, 0x20B):
            raise ValueError(f"unknown optional header magic {self.magic:#x}")
        self.pe32plus = self.magic == 0x20B
        self.checksum_at = opt + 64
        self.checksum, self.subsystem, self.dll_characteristics = self._unpack("<IHH", self.checksum_at)
        self.image_base = self._unpack("<Q" if self.pe32plus else "<I", opt + (24 if self.pe32plus else 28))[0]
        dirs = opt + (112 if self.pe32plus else 96)
        count = self._unpack("<I", dirs - 4)[0]
        if dirs + 8 * count > opt + opt_size:
            raise ValueError("data directory beyond the optional header")
        self.directories = [self._unpack("<II", dirs + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(nsections):
            name, vsize, va, raw_size, raw_ptr = self._unpack("<8sIIII", opt + opt_size + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"), va, max(vsize, raw_size),
                                  raw_ptr, raw_size))

    def _unpack(self, fmt, at):
        if at < 0 or at + struct.calcsize(fmt) > len(self.data):
            raise ValueError(f"file cut short at offset {at:#x}")
        return struct.unpack_from(fmt, self.data, at)

    @property
    def arch(self):
        return MACHINES.get(self.machine, f"machine {self.machine:#x}")

    def offset(self, rva):
        for _, va, size, raw_ptr, raw_size in self.sections:
            if va <= rva < va + size:
                if rva - va >= raw_size:
                    raise ValueError(f"RVA {rva:#x} lies in uninitialised data")
                return raw_ptr + rva - va
        raise ValueError(f"RVA {rva:#x} outside every section")

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def resources(self):
        """{(type, name): {language: bytes}}; types and names are ints or upper-case strings."""
        if len(self.directories) <= RESOURCE_ENTRY or not self.directories[RESOURCE_ENTRY][0]:
            return {}
        base = self.offset(self.directories[RESOURCE_ENTRY][0])

        def entries(offset):
            named, ids = self._unpack("<HH", base + offset + 12)
            for i in range(named + ids):
                key, target = self._unpack("<II", base + offset + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    length = self._unpack("<H", at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield key, target

        found = {}
        for rtype, names in entries(0):
            for name, languages in entries(names & 0x7FFFFFFF):
                for language, leaf in entries(languages & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        raise ValueError("resource tree deeper than three levels")
                    data_rva, size = self._unpack("<II", base + leaf)
                    start = self.offset(data_rva)
                    if start + size > len(self.data):
                        raise ValueError(f"resource {rtype}/{name} beyond the end of the file")
                    found.setdefault((rtype, name), {})[language] = self.data[start:start + size]
        return found

    def resource_section_offset(self):
        """File offset of the raw data of the section that holds the resource directory."""
        rva = self.directories[RESOURCE_ENTRY][0]
        for _, va, size, raw_ptr, _ in self.sections:
            if va <= rva < va + size:
                return raw_ptr
        raise ValueError("resource directory outside every section")

    def resource(self, rtype, name):
        languages = self.resources().get((rtype, name))
        if not languages:
            return None
        if len(languages) != 1:
            raise ValueError(f"resource {rtype}/{name} exists in several languages")
        return next(iter(languages.values()))

    def certificate_table(self):
        """The raw certificate table of a signed file (its directory entry holds a file offset,
        not an RVA); None for an unsigned one."""
        if len(self.directories) <= CERTIFICATE_ENTRY:
            return None
        offset, size = self.directories[CERTIFICATE_ENTRY]
        if not offset and not size:
            return None
        if offset + size > len(self.data):
            raise ValueError("certificate table beyond the end of the file")
        return self.data[offset:offset + size]
