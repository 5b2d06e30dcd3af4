#!/usr/bin/env python3
"""Writes an address past the end of the image into the empty export-table place of an ordinal.

Usage: wild_export.py DLL ORDINAL

GetProcAddress then hands out a non-null address that no code lies at, as it can for a missing
ordinal of a DLL whose ordinals have gaps. The ordinal must lie inside the table and have no
function.
"""
import struct
import sys


def main() -> int:
    path, ordinal = sys.argv[1], int(sys.argv[2])
    image = bytearray(open(path, "rb").read())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE image")
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    if struct.unpack_from("<H", image, optional)[0] != 0x10B:
        sys.exit(f"{path}: not a 32-bit image")
    size_of_image = struct.unpack_from("<I", image, optional + 56)[0]
    export_rva = struct.unpack_from("<I", image, optional + 96)[0]
    section_table = optional + optional_size

    def offset_of(rva: int) -> int:
        for i in range(sections):
            entry = section_table + 40 * i
            virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", image, entry + 8)
            if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
                return raw_offset + rva - virtual_address
        sys.exit(f"{path}: RVA {rva:#x} lies in no section")

    directory = offset_of(export_rva)
    base, count = struct.unpack_from("<II", image, directory + 16)
    functions = struct.unpack_from("<I", image, directory + 28)[0]
    index = ordinal - base
    if not 0 <= index < count:
        sys.exit(f"{path}: ordinal {ordinal} lies outside the table ({base}..{base + count - 1})")
    slot = offset_of(functions) + 4 * index
    if struct.unpack_from("<I", image, slot)[0] not in (0, size_of_image + 0x100000):
        sys.exit(f"{path}: ordinal {ordinal} has a function")
    struct.pack_into("<I", image, slot, size_of_image + 0x100000)
    open(path, "wb").write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main())
