"""Reads the version resource and the application manifest back from a PE32
program and compares them with what the build meant to put there.

Usage: pe_resources.py PROGRAM --version V --description D --product-name P
                       --internal-name I --original-filename F --manifest FILE

Prints what differs and exits with status 1, or 0 when everything matches.
"""

import argparse
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_VERSION = 16
RT_MANIFEST = 24
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
VFT_APP = 1
VOS_NT_WINDOWS32 = 0x40004
US_ENGLISH_UTF16 = "040904B0"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}


class Image:
    """A PE file's bytes, addressed by relative virtual address."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        # The data directories follow the fixed part of the optional header,
        # which is longer in PE32+.
        directories = optional + (96 if magic == 0x10B else 112)
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for index in range(sections):
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * index + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"address {rva:#x} lies in no section")

    def resources(self):
        """Every resource as {(type, name): {language: bytes}}; names and
        types given by number stay numbers."""
        if self.resource_rva == 0:
            return {}
        base = self.offset(self.resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for index in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * index)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield key, target

        found = {}
        for kind, names in entries(0):
            for name, languages in entries(names & 0x7FFFFFFF):
                for language, leaf in entries(languages & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset(rva)
                    found.setdefault((kind, name), {})[language] = self.data[at:at + size]
        return found


def version_block(data, at=0):
    """One block of a version resource: (key, value bytes, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    # Text values count UTF-16 units, binary ones bytes.
    value = data[value_at:value_at + value_length * (2 if kind == 1 else 1)]
    children = []
    child = (value_at + len(value) + 3) & ~3
    while child < end:
        block = version_block(data, child)
        children.append(block)
        child = (block[3] + 3) & ~3
    return key, value, children, end


def read_version(data):
    """The fixed file information and the strings of a version resource."""
    key, value, children, _ = version_block(data)
    if key != "VS_VERSION_INFO":
        raise ValueError(f"the version resource is named {key!r}")
    signature, _, file_ms, file_ls, product_ms, product_ls, _, flags, os, kind, subtype = struct.unpack_from(
        "<11I", value)
    if signature != VS_FIXEDFILEINFO_SIGNATURE:
        raise ValueError(f"fixed file information signature {signature:#x}")

    def numbers(most, least):
        return f"{most >> 16}.{most & 0xFFFF}.{least >> 16}.{least & 0xFFFF}"

    fixed = {"file version": numbers(file_ms, file_ls), "product version": numbers(product_ms, product_ls),
             "flags": flags, "os": os, "type": kind, "subtype": subtype}
    strings = {}
    translations = []
    for name, _, tables, _ in children:
        if name == "StringFileInfo":
            for table, _, entries, _ in tables:
                strings[table] = {entry: text.decode("utf-16-le").rstrip("\0") for entry, text, _, _ in entries}
        elif name == "VarFileInfo":
            translations = [struct.unpack_from("<HH", pairs, i) for _, pairs, _, _ in tables
                            for i in range(0, len(pairs), 4)]
    return fixed, strings, translations


def manifest_differences(manifest):
    """What a manifest gets wrong: it must run the program with the caller's
    rights and declare every Windows from Vista on."""
    namespaces = {"v3": "urn:schemas-microsoft-com:asm.v3",
                  "compatibility": "urn:schemas-microsoft-com:compatibility.v1"}
    try:
        root = ElementTree.fromstring(manifest)
    except ElementTree.ParseError as error:
        return [f"the manifest is not XML: {error}"]
    levels = [element.get("level") for element in root.iterfind(".//v3:requestedExecutionLevel", namespaces)]
    systems = [element.get("Id") for element in root.iterfind(".//compatibility:supportedOS", namespaces)]
    problems = []
    if levels != ["asInvoker"]:
        problems.append(f"requested execution levels {levels}, expected ['asInvoker']")
    missing = [name for guid, name in SUPPORTED_OS.items() if guid not in systems]
    unknown = [guid for guid in systems if guid not in SUPPORTED_OS]
    if missing or unknown or len(systems) != len(SUPPORTED_OS):
        problems.append(f"the manifest's supported systems lack {missing} and add {unknown}, "
                        f"{len(systems)} entries in all")
    return problems


def differences(program, expected):
    """What the program's resources get wrong, as lines of text."""
    with open(program, "rb") as file:
        resources = Image(file.read()).resources()
    problems = []

    versions = resources.get((RT_VERSION, 1), {})
    if len(versions) != 1:
        problems.append(f"{len(versions)} version resources with ID 1, expected one")
    for data in versions.values():
        fixed, strings, translations = read_version(data)
        numbers = ".".join((expected.version.split(".") + ["0"] * 4)[:4])
        expected_fixed = {"file version": numbers, "product version": numbers,
                          "flags": 0, "os": VOS_NT_WINDOWS32, "type": VFT_APP, "subtype": 0}
        if fixed != expected_fixed:
            problems.append(f"fixed file information {fixed}, expected {expected_fixed}")
        expected_strings = {US_ENGLISH_UTF16: {
            "FileDescription": expected.description,
            "FileVersion": expected.version,
            "InternalName": expected.internal_name,
            "OriginalFilename": expected.original_filename,
            "ProductName": expected.product_name,
            "ProductVersion": expected.version,
        }}
        if strings != expected_strings:
            problems.append(f"version strings {strings}, expected {expected_strings}")
        if translations != [(0x409, 1200)]:
            problems.append(f"translations {translations}, expected US English in UTF-16")

    # The loader reads the manifest of an .exe from RT_MANIFEST resource 1.
    manifests = list(resources.get((RT_MANIFEST, 1), {}).values())
    with open(expected.manifest, "rb") as file:
        source = file.read()
    if len(manifests) != 1:
        problems.append(f"{len(manifests)} manifest resources with ID 1, expected one")
    elif manifests[0] != source:
        problems.append(f"the manifest resource is not {expected.manifest} byte for byte")
    else:
        problems += manifest_differences(manifests[0])
    others = sorted(str(key) for key in resources if key not in ((RT_VERSION, 1), (RT_MANIFEST, 1)))
    if others:
        problems.append(f"unexpected resources (type, name): {', '.join(others)}")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    for option in ("version", "description", "product-name", "internal-name", "original-filename", "manifest"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()
    try:
        problems = differences(args.program, args)
    except (ValueError, struct.error, UnicodeDecodeError) as error:
        problems = [f"unreadable resources: {error}"]
    for problem in problems:
        print(f"FAILED: {args.program}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
