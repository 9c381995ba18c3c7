#!/usr/bin/env python3
"""Checks shipped PE files: ASLR (DYNAMIC_BASE, with the relocations it
needs), DEP (NX_COMPAT), 64-bit ASLR (HIGH_ENTROPY_VA) for PE32+, and no
COFF symbol table. Prints one line per failure; exit 1 on any."""
import struct
import sys

DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA = 0x40, 0x100, 0x20
BASE_RELOCATION = 5


def problems(path):
    with open(path, 'rb') as f:
        data = f.read()
    pe = struct.unpack_from('<I', data, 0x3c)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        return ['not a PE file']
    symbols_at, symbols = struct.unpack_from('<II', data, pe + 12)
    optional = pe + 24
    pe32_plus = struct.unpack_from('<H', data, optional)[0] == 0x20b
    flags = struct.unpack_from('<H', data, optional + 70)[0]
    directories = optional + (112 if pe32_plus else 96)
    relocations = struct.unpack_from('<I', data, directories + 8 * BASE_RELOCATION + 4)[0]
    found = []
    wanted = [('DYNAMIC_BASE', DYNAMIC_BASE), ('NX_COMPAT', NX_COMPAT)]
    if pe32_plus:
        wanted.append(('HIGH_ENTROPY_VA', HIGH_ENTROPY_VA))
    found += [f'no {name}' for name, bit in wanted if not flags & bit]
    if not relocations:
        found.append('no relocations (ASLR cannot move it)')
    if symbols_at or symbols:
        found.append(f'a symbol table of {symbols} symbols')
    return found


failed = False
for path in sys.argv[1:]:
    for problem in problems(path):
        print(f'FAIL: {path}: {problem}')
        failed = True
sys.exit(1 if failed else 0)
