#!/usr/bin/env python3
"""Generates the VKR device's parameter definition rows from their Markdown table.

Usage: gen_device_table.py [TABLE.md [REPO_ROOT]]

TABLE.md (by default parameters/DeviceParameterTable.md of the repository holding this script) is a
Markdown document holding the device parameter table: a header line that starts
"| # | Id | Name | Type | Minimum | Maximum | Default | Value | P | Flags | Kind | HART read |
HART write | String id | Type information |", followed by one line per definition call. Every cell
is checked against the forms the table uses; anything else stops the run with the line named.

Writes two files under REPO_ROOT (by default that repository), both committed (the build never runs
this script; the CTest device_table_check regenerates them elsewhere and compares):
- parameters/DeviceParameterTable.inc: one DeviceParameterRow initialiser per definition, in
  definition order;
- tests/parameters/DeviceParameterTableExpected.inc: the table's lines as they stand and the FNV-1a
  checksum of those lines, which the table test compares with the rows rendered back to text.
Run it by hand when the table changes, then build and run the parameters tests.
"""

import os
import re
import sys

HEADER = ('| # | Id | Name | Type | Minimum | Maximum | Default | Value | P | Flags | Kind | '
          'HART read | HART write | String id | Type information |')

TYPES = {
    'R4': 'VT_R4',
    'BSTR': 'VT_BSTR',
    'BOOL': 'VT_BOOL',
    'UI1': 'VT_UI1',
    'UI2': 'VT_UI2',
    'UI4': 'VT_UI4',
    'ARRAY UI1': 'VT_ARRAY | VT_UI1',
}
TEXT_TYPES = ('BSTR', 'ARRAY UI1')

NUMBER = re.compile(r'-?(0|[1-9][0-9]*)(\.[0-9]+)?$')
QUOTED = re.compile(r'"([^"\\]*)"$')
HART_READ = re.compile(r'(\d+): (\d+)\+(\d+)$')
HART_WRITE = re.compile(r'(\d+) \((\d+)\): (\d+)\+(\d+)$')
STRING_ID = re.compile(r'`([A-Za-z_][A-Za-z0-9_]*,?)`$')
TYPE_INFO = re.compile(r'"([^"\\]+)", (\d+)$')
FLAGS = re.compile(r'0x[0-9A-F]{1,8}$')


class TableError(Exception):
    pass


def fnv1a64(data: bytes) -> int:
    h = 0xcbf29ce484222325
    for b in data:
        h ^= b
        h = (h * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return h


def cpp_text(s: str) -> str:
    # Only printable ASCII without quote or backslash reaches here (checked by the patterns).
    if any(ord(c) < 0x20 or ord(c) > 0x7E for c in s):
        raise TableError(f'text {s!r} holds characters outside printable ASCII')
    return '"' + s + '"'


def value_cell(cell: str, type_name: str, where: str):
    """A Minimum/Maximum/Default/Value cell as the C++ DefinitionValue initialiser."""
    if cell == 'empty':
        return '{"", 0}'
    m = QUOTED.match(cell)
    if m:
        if type_name not in TEXT_TYPES:
            raise TableError(f'{where}: quoted value {cell} in a numeric row')
        return '{' + cpp_text(m.group(1)) + ', 0}'
    if NUMBER.match(cell):
        if type_name in TEXT_TYPES:
            raise TableError(f'{where}: bare number {cell} in a text row')
        # The literal as written: the compiler gives the nearest double, as the table means.
        return '{nullptr, ' + cell + '}'
    raise TableError(f'{where}: unreadable value {cell!r}')


def unsigned_cell(cell: str, where: str, limit: int) -> int:
    if not re.fullmatch(r'0|[1-9][0-9]*', cell):
        raise TableError(f'{where}: {cell!r} is not an unsigned number')
    v = int(cell)
    if v > limit:
        raise TableError(f'{where}: {cell} is out of range')
    return v


def parse_row(line: str, expected_position: int):
    if not line.startswith('| ') or not line.endswith(' |'):
        raise TableError(f'row {expected_position}: not a table line: {line!r}')
    cells = [c.strip() for c in line[2:-2].split(' | ')]
    if len(cells) != 15:
        raise TableError(f'row {expected_position}: {len(cells)} cells instead of 15')
    (pos, pid, name, typ, vmin, vmax, vdef, vval, persist, flags, kind, hread, hwrite, sid,
     tinfo) = cells
    where = f'row {expected_position}'
    if unsigned_cell(pos, where, 10**6) != expected_position:
        raise TableError(f'{where}: position {pos} out of order')
    pid = unsigned_cell(pid, where, 0xFFFFFFFE)
    m = QUOTED.match(name)
    if not m or not m.group(1):
        raise TableError(f'{where}: name {name!r} is not a quoted text')
    name = m.group(1)
    if typ not in TYPES:
        raise TableError(f'{where}: unknown type {typ!r}')
    values = [value_cell(c, typ, f'{where}, {col}')
              for c, col in zip((vmin, vmax, vdef, vval), ('Minimum', 'Maximum', 'Default', 'Value'))]
    persist = unsigned_cell(persist, where, 1)
    if not FLAGS.match(flags):
        raise TableError(f'{where}: flag word {flags!r} is not upper-case hex with 0x')
    kind = unsigned_cell(kind, where, 0xFFFF)

    if hread == 'none' and hwrite == 'none':
        address = None
    else:
        r = HART_READ.match(hread)
        w = HART_WRITE.match(hwrite)
        if not r or not w:
            raise TableError(f'{where}: HART address {hread!r} / {hwrite!r} unreadable')
        address = [int(x) for x in r.groups()] + [int(x) for x in w.groups()]
        if any(x > 0xFFFF for x in address):
            raise TableError(f'{where}: HART address number out of range')

    if sid == 'name':
        string_id = None
    else:
        m = STRING_ID.match(sid)
        if not m:
            raise TableError(f'{where}: string id {sid!r} unreadable')
        string_id = m.group(1)

    if tinfo == 'none':
        type_info = ('TypeInformationForm::None', None, 0)
    elif tinfo == 'empty':
        type_info = ('TypeInformationForm::Empty', None, 0)
    else:
        m = TYPE_INFO.match(tinfo)
        if not m:
            raise TableError(f'{where}: type information {tinfo!r} unreadable')
        type_info = ('TypeInformationForm::BitString', m.group(1),
                     unsigned_cell(m.group(2), where, 0xFFFFFFFF))

    addr = ('true, {' + ', '.join(str(x) for x in address) + '}') if address else 'false, {}'
    return (f'    {{{expected_position}, {pid}, {cpp_text(name)}, {TYPES[typ]},\n'
            f'     {{{", ".join(values)}}},\n'
            f'     {persist}, {flags}, {kind}, {addr},\n'
            f'     {cpp_text(string_id) if string_id else "nullptr"}, {type_info[0]}, '
            f'{cpp_text(type_info[1]) if type_info[1] else "nullptr"}, {type_info[2]}}},\n')


def read_table(path: str):
    with open(path, encoding='utf-8') as f:
        lines = [l.rstrip('\n') for l in f]
    starts = [i for i, l in enumerate(lines) if l.strip() == HEADER]
    if len(starts) != 1:
        raise TableError(f'expected one table header, found {len(starts)}')
    i = starts[0] + 1
    if not re.fullmatch(r'\|(---\|)+', lines[i].strip()):
        raise TableError('the header is not followed by the separator line')
    rows = []
    for line in lines[i + 1:]:
        line = line.strip()
        if not line.startswith('|'):
            break
        rows.append(line)
    if not rows:
        raise TableError('the table has no rows')
    return rows


def main(argv):
    if len(argv) > 3 or any(a.startswith('-') for a in argv[1:]):
        print(__doc__, file=sys.stderr)
        return 2
    repository = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
    source = argv[1] if len(argv) >= 2 else os.path.join(repository, 'parameters', 'DeviceParameterTable.md')
    root = argv[2] if len(argv) == 3 else repository
    try:
        lines = read_table(source)
        rows = [parse_row(line, n) for n, line in enumerate(lines, 1)]
    except (OSError, TableError) as e:
        print(f'gen_device_table: {e}', file=sys.stderr)
        return 1

    table = os.path.join(root, 'parameters', 'DeviceParameterTable.inc')
    os.makedirs(os.path.dirname(table), exist_ok=True)
    with open(table, 'w', encoding='ascii', newline='\n') as f:
        f.write('// The VKR device\'s parameter definitions, one row per definition call, in definition order.\n')
        f.write('// Generated by scripts/gen_device_table.py; do not edit by hand.\n')
        f.write('// Row: position, id, name, VARTYPE, {minimum, maximum, default, value}, persistence,\n')
        f.write('// flag word, kind code, addressed, {HART read command, bit offset, bit length, write command,\n')
        f.write('// command bit length, bit offset, bit length}, string id (null: the name), type information.\n')
        f.write(''.join(rows))

    checksum = fnv1a64('\n'.join(lines).encode('utf-8'))
    expected = os.path.join(root, 'tests', 'parameters', 'DeviceParameterTableExpected.inc')
    os.makedirs(os.path.dirname(expected), exist_ok=True)
    with open(expected, 'w', encoding='ascii', newline='\n') as f:
        f.write('// The device parameter table\'s lines as written, for the table test.\n')
        f.write('// Generated by scripts/gen_device_table.py; do not edit by hand.\n')
        f.write(f'constexpr unsigned long long kExpectedTableChecksum = 0x{checksum:016X}ULL;\n')
        f.write('constexpr const char* kExpectedTableLines[] = {\n')
        for line in lines:
            if '\\' in line or any(ord(c) < 0x20 or ord(c) > 0x7E for c in line):
                print(f'gen_device_table: line {line!r} holds characters the test data cannot carry',
                      file=sys.stderr)
                return 1
            f.write('    R"row(' + line + ')row",\n')
        f.write('};\n')
    print(f'{len(rows)} rows, checksum 0x{checksum:016X}')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
