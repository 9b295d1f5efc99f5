#!/usr/bin/env python3
"""Static checks of the 32-bit Windows product: Quillon.dll and its sibling Brindle.dll.

Checks the machine type, the exported names (exact, undecorated), the version resource, and that
only DLLs every Windows installation has are imported (no MinGW run-time DLLs).

usage: check-dll.py BIN_DIR
"""
import struct
import sys
from pathlib import Path

I386 = 0x14C
QUILLON_EXPORTS = {"CreateIPCapture", "CreateIPCaptureEx", "DeleteIPCapture", "DeleteIPCaptureEx",
                   "InitCapabilityQuery", "StartCapabilityQuery", "TerminateCapabilityQuery",
                   "UninitCapabilityQuery"}
BRINDLE_EXPORTS = {"_ParseMpegHeader@16"}
VERSION = (1, 0, 1, 0)
SYSTEM_DLLS = {"kernel32.dll", "ws2_32.dll", "winhttp.dll", "ole32.dll", "oleaut32.dll",
               "msvcrt.dll", "advapi32.dll", "user32.dll", "shell32.dll", "ntdll.dll",
               "ucrtbase.dll", "bcrypt.dll", "crypt32.dll", "iphlpapi.dll"}
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections = struct.unpack_from("<HH", data, pe + 4)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            size, address, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((address, max(size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError(f"address {rva:#x} outside every section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return set()
        base = self.offset(rva)
        count = struct.unpack_from("<I", self.data, base + 24)[0]
        names = struct.unpack_from("<I", self.data, base + 32)[0]
        return {self.text(struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)[0])
                for i in range(count)}

    def imports(self):
        rva, size = self.directories[1]
        result = set()
        entry = self.offset(rva) if size else None
        while entry is not None:
            name = struct.unpack_from("<I", self.data, entry + 12)[0]
            if name == 0:
                break
            result.add(self.text(name).lower())
            entry += 20
        return result

    def version(self):
        marker = struct.pack("<I", FIXED_FILE_INFO_SIGNATURE)
        at = self.data.find(marker)
        if at < 0:
            return None
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", self.data, at + 8)
        split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        return split(file_ms, file_ls), split(product_ms, product_ls)


def check(path, exports, needs_version):
    problems = []
    if not path.exists():
        return [f"{path.name}: missing"]
    pe = Pe(path.read_bytes())
    if pe.machine != I386:
        problems.append(f"{path.name}: machine {pe.machine:#x}, not i386")
    if pe.exports() != exports:
        problems.append(f"{path.name}: exports {sorted(pe.exports())}, expected {sorted(exports)}")
    foreign = sorted(pe.imports() - SYSTEM_DLLS)
    if foreign:
        problems.append(f"{path.name}: imports non-system DLLs {foreign}")
    if needs_version and pe.version() != (VERSION, VERSION):
        problems.append(f"{path.name}: version resource {pe.version()}, expected {VERSION} twice")
    return problems


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    bin_dir = Path(sys.argv[1])
    problems = check(bin_dir / "Quillon.dll", QUILLON_EXPORTS, True)
    # The driver loads its MPEG-4 header reader from its own folder: the two ship together.
    problems += check(bin_dir / "Brindle.dll", BRINDLE_EXPORTS, False)
    if not (bin_dir / "host_c_test.exe").exists():
        problems.append("host_c_test.exe: missing (the C host must build for i686)")
    for problem in problems:
        print("check-dll:", problem)
    if not problems:
        print(f"check-dll: {bin_dir}: exports, version 1.0.1.0 and imports as expected")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
