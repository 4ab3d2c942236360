"""Reads the timed code of a PE32 program from its file and compares it with
the same assembly sources assembled as i386 ELF objects, whose bytes the
i386 suite checks in the running program. Needs no wine, so the PE32 code is
checked on hosts that cannot run it.

Usage: pe_code_bytes.py PROGRAM OBJECT...

Each section of an object that defines a symbol must lie in the program
byte for byte, at an address aligned as the object asks, wherever the
program holds any of the object's symbols; the 32-bit addresses in it must
point where the object's relocations say, and the absolute ones must be in
the program's base relocations, so that they follow the program when Windows
loads it elsewhere. An object none of whose symbols the program holds is not
linked into it and is passed over; at least one object must be found.

Prints what differs and exits with status 1, or 0 when everything matches.
"""

import struct
import sys

from pe_resources import Image

R_386_32 = 1
R_386_PC32 = 2
IMAGE_REL_BASED_HIGHLOW = 3
SHT_PROGBITS = 1
SHT_SYMTAB = 2
SHT_REL = 9
STB_GLOBAL = 1
STT_SECTION = 3
STT_FILE = 4
SHN_LORESERVE = 0xFF00


class Program(Image):
    """A PE32 file with its COFF symbol table and its base relocations."""

    def __init__(self, data):
        super().__init__(data)
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        symbols_at, count = struct.unpack_from("<II", data, pe + 12)
        optional = pe + 24
        self.image_base = struct.unpack_from("<I", data, optional + 28)[0]
        relocations_rva, relocations_size = struct.unpack_from("<II", data, optional + 96 + 5 * 8)
        strings = symbols_at + 18 * count
        # The symbols' values count from the start of their section.
        self.symbols = {}
        index = 0
        while index < count:
            raw, value, section, _, _, aux = struct.unpack_from("<8sIhHBB", data, symbols_at + 18 * index)
            if raw[:4] == b"\0\0\0\0":
                at = strings + struct.unpack_from("<I", raw, 4)[0]
                raw = data[at:data.index(b"\0", at)]
            if section > 0:
                name = raw.rstrip(b"\0").decode()
                # A static name that two objects share says nothing.
                address = self.image_base + self.sections[section - 1][0] + value
                self.symbols[name] = None if name in self.symbols else address
            index += 1 + aux
        self.relocated = set()
        at = self.offset(relocations_rva) if relocations_size else 0
        end = at + relocations_size
        while at < end:
            page, size = struct.unpack_from("<II", data, at)
            for entry in struct.unpack_from(f"<{(size - 8) // 2}H", data, at + 8):
                if entry >> 12 == IMAGE_REL_BASED_HIGHLOW:
                    self.relocated.add(self.image_base + page + (entry & 0xFFF))
            at += size

    def read(self, address, size):
        at = self.offset(address - self.image_base)
        return self.data[at:at + size]


class Object:
    """A relocatable ELF32 file: its sections, symbols and relocations."""

    def __init__(self, data):
        if data[:4] != b"\x7fELF" or data[4] != 1:
            raise ValueError("not a 32-bit ELF file")
        shoff, = struct.unpack_from("<I", data, 0x20)
        count, names = struct.unpack_from("<HH", data, 0x30)
        self.sections = [struct.unpack_from("<10I", data, shoff + 40 * i) for i in range(count)]
        self.data = data
        names_at = self.sections[names][4]
        self.names = [self.text(names_at + section[0]) for section in self.sections]
        self.symbols = []
        for section in self.sections:
            if section[1] == SHT_SYMTAB:
                strings_at = self.sections[section[6]][4]
                for at in range(section[4], section[4] + section[5], 16):
                    name, value, _, info, _, index = struct.unpack_from("<IIIBBH", data, at)
                    self.symbols.append((self.text(strings_at + name), value, info >> 4, info & 0xF, index))

    def text(self, at):
        return self.data[at:self.data.index(b"\0", at)].decode()

    def contents(self, index):
        _, kind, _, _, offset, size, _, _, align, _ = self.sections[index]
        return self.data[offset:offset + size] if kind == SHT_PROGBITS else None, align

    def relocations(self, index):
        """(offset, type, symbol) of every relocation in section `index`."""
        for section in self.sections:
            if section[1] == SHT_REL and section[7] == index:
                for at in range(section[4], section[4] + section[5], 8):
                    offset, info = struct.unpack_from("<II", self.data, at)
                    yield offset, info & 0xFF, self.symbols[info >> 8]

    def labels_in(self, index):
        """The named addresses in section `index`, as the program names them:
        global symbols carry PE32's underscore, local labels do not."""
        return [("_" + name if bind == STB_GLOBAL else name, value) for name, value, bind, kind, shndx in self.symbols
                if shndx == index and kind not in (STT_SECTION, STT_FILE) and name]


def differences(program, obj, name):
    """What the program gets wrong of one object, or None where the program
    holds none of its symbols."""
    # Where each section of the object lies in the program, by its symbols.
    bases, problems = {}, []
    # Index 0 holds the undefined symbols, the highest the absolute ones.
    for index in range(1, min(len(obj.sections), SHN_LORESERVE)):
        for symbol, value in obj.labels_in(index):
            address = program.symbols.get(symbol)
            if address is None:
                continue
            base = bases.setdefault(index, address - value)
            if base != address - value:
                problems.append(f"{symbol} lies {address - value - base:+d} bytes from where its section puts it")
    if not bases:
        return None
    for index, base in bases.items():
        expected, align = obj.contents(index)
        if expected is None:
            continue
        section = f"{name} {obj.names[index]}"
        if base % max(align, 1):
            problems.append(f"{section} starts at {base:#x}, not aligned to {align} bytes")
        actual = bytearray(program.read(base, len(expected)))
        expected = bytearray(expected)
        for offset, kind, (symbol, value, _, _, shndx) in obj.relocations(index):
            addend, = struct.unpack_from("<i", expected, offset)
            if shndx == 0:
                target = program.symbols.get("_" + symbol)
            else:
                target = bases[shndx] + value if shndx in bases else None
            where = base + offset
            if target is None or kind not in (R_386_32, R_386_PC32):
                problems.append(f"{section}+{offset:#x}: cannot place relocation type {kind} against {symbol or shndx}")
                continue
            wanted = (target + addend - (where if kind == R_386_PC32 else 0)) & 0xFFFFFFFF
            struct.pack_into("<I", expected, offset, wanted)
            if (where in program.relocated) != (kind == R_386_32):
                problems.append(f"{section}+{offset:#x}: the program's base relocations "
                                f"{'lack' if kind == R_386_32 else 'hold'} the address of {symbol or obj.names[shndx]}")
        if actual != expected:
            first = next(i for i in range(len(expected)) if actual[i:i + 1] != expected[i:i + 1])
            problems.append(f"{section}+{first:#x}: the program holds {actual[first:first + 16].hex(' ')}, "
                            f"the object {expected[first:first + 16].hex(' ')}")
    return problems


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    with open(sys.argv[1], "rb") as file:
        program = Program(file.read())
    found, problems = 0, []
    for path in sys.argv[2:]:
        with open(path, "rb") as file:
            result = differences(program, Object(file.read()), path)
        if result is not None:
            found += 1
            problems += result
    if not found:
        problems.append("holds the symbols of none of the objects")
    for problem in problems:
        print(f"FAILED: {sys.argv[1]}: {problem}")
    if not problems:
        print(f"{sys.argv[1]}: the code of {found} objects matches their i386 assembly")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
