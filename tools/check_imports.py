#!/usr/bin/env python3
"""Checks that Windows 9x executables load on Windows 95 and 98 SE.

For each executable: a PE32 file for i386, GUI subsystem, OS and subsystem
version 4.0, no ASLR or NX flags, no thread-local storage directory, imports
from Windows' own KERNEL32, USER32, GDI32, ADVAPI32 and SHELL32 only (a clean
Windows 95 has no C runtime DLL), and every imported function on the suite's
allow-list.  The allow-list itself may only hold functions of those five DLLs
that Windows 98 SE exports and that work there, and no Unicode (...W)
function.  Prints each executable's imports.

usage: check_imports.py [--objdump OBJDUMP] [--unused] EXE...
With --unused, also fails on allow-list entries that none of the given
executables imports, so that the list holds only what the suite calls.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import textwrap

HERE = os.path.dirname(os.path.abspath(__file__))
EXPORTS = os.path.join(HERE, 'win98', 'win98se-exports.json')
ALLOWED = os.path.join(HERE, 'win98', 'allowed-imports.txt')
SYSTEM_DLLS = ('kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll')


def load_reference():
    with open(EXPORTS) as f:
        data = json.load(f)
    exports = {dll.lower(): set(names) for dll, names in data['exports'].items()}
    broken = {dll.lower(): set(names) for dll, names in data['present_but_not_working'].items()}
    return exports, broken


def load_allowed(exports, broken, path=ALLOWED):
    allowed, problems = set(), []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.split('#', 1)[0].strip()
            if not line:
                continue
            dll, _, name = line.partition('!')
            dll = dll.lower()
            where = f"{path}:{number}: {line}"
            if dll not in SYSTEM_DLLS:
                problems.append(f"{where}: not one of the five system DLLs")
            elif name not in exports.get(dll, ()):
                problems.append(f"{where}: not exported by Windows 98 SE")
            elif name in broken.get(dll, ()):
                problems.append(f"{where}: exported by Windows 98 SE but does not work there")
            elif name.endswith('W') and name[:-1] + 'A' in exports[dll]:
                problems.append(f"{where}: a Unicode function, a stub on Windows 9x")
            allowed.add((dll, name))
    return allowed, problems


def read_pe(objdump, path):
    out = subprocess.run([objdump, '-p', path], check=True, capture_output=True,
                         text=True).stdout
    header = {}
    for key in ('Magic', 'MajorOSystemVersion', 'MinorOSystemVersion',
                'MajorSubsystemVersion', 'MinorSubsystemVersion', 'Subsystem',
                'DllCharacteristics'):
        m = re.search(r'^%s\s+(\S+)' % key, out, re.M)
        header[key] = m.group(1) if m else None
    tls = re.search(r'^Entry 9 ([0-9a-f]+) ([0-9a-f]+) ', out, re.M)
    header['TlsDirectory'] = tls.group(1) if tls else None
    fmt = re.search(r'file format (\S+)', out)
    header['format'] = fmt.group(1) if fmt else None
    imports, dll = [], None
    for line in out.splitlines():
        m = re.match(r'\s*DLL Name: (\S+)', line)
        if m:
            dll = m.group(1)
            continue
        m = re.match(r'\s+[0-9a-f]+\s+\d+\s+(\S+)\s*$', line)
        if dll and m:
            imports.append((dll, m.group(1)))
        elif dll and not line.strip():
            dll = None
    return header, imports


def check_header(header):
    problems = []
    if header['format'] != 'pei-i386' or header['Magic'] != '010b':
        problems.append(f"not a PE32 i386 image ({header['format']}, magic {header['Magic']})")
    for key in ('MajorOSystemVersion', 'MajorSubsystemVersion'):
        if header[key] != '4':
            problems.append(f"{key} is {header[key]}, Windows 9x needs 4")
    for key in ('MinorOSystemVersion', 'MinorSubsystemVersion'):
        if header[key] != '0':
            problems.append(f"{key} is {header[key]}, Windows 9x needs 0")
    if header['Subsystem'] is None or int(header['Subsystem'], 16) != 2:
        problems.append(f"subsystem {header['Subsystem']} is not Windows GUI (2)")
    flags = int(header['DllCharacteristics'] or '0', 16)
    if flags & 0x40:
        problems.append("dynamic base (ASLR) flag set")
    if flags & 0x100:
        problems.append("NX compatibility flag set")
    if int(header.get('TlsDirectory') or '0', 16):
        problems.append("a thread-local storage directory (TLS data or callbacks), "
                        "which the programs' own start-up has no part in")
    return problems


def check_imports(imports, allowed):
    problems = []
    for dll in sorted({dll.lower() for dll, _ in imports} - set(SYSTEM_DLLS)):
        problems.append(f"imports from {dll}, which is not one of the five system DLLs")
    for dll, name in imports:
        if dll.lower() in SYSTEM_DLLS and (dll.lower(), name) not in allowed:
            problems.append(f"imports {dll.lower()}!{name}, which is not on the allow-list")
    return problems


def import_listing(imports):
    by_dll = {}
    for dll, name in imports:
        by_dll.setdefault(dll.upper(), []).append(name)
    lines = []
    for dll in sorted(by_dll):
        text = f"  {dll}: " + ' '.join(sorted(by_dll[dll]))
        lines.extend(textwrap.wrap(text, 100, subsequent_indent='      '))
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--objdump', default='i686-w64-mingw32-objdump')
    parser.add_argument('--unused', action='store_true')
    parser.add_argument('exes', nargs='+')
    args = parser.parse_args()
    exports, broken = load_reference()
    allowed, failures = load_allowed(exports, broken)
    used = set()
    for exe in args.exes:
        header, imports = read_pe(args.objdump, exe)
        used.update((dll.lower(), name) for dll, name in imports)
        problems = check_header(header) + check_imports(imports, allowed)
        name = os.path.basename(exe)
        print(f"{name}: {len(imports)} imports")
        print('\n'.join(import_listing(imports)))
        if problems:
            failures.extend(f"{name}: {p}" for p in problems)
        else:
            print(f"{name}: all from Windows' own DLLs and available on Windows 98 SE")
    if args.unused:
        failures.extend("allow-list entry %s!%s is imported by none of the programs" % entry
                        for entry in sorted(allowed - used))
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
