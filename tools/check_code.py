#!/usr/bin/env python3
"""Checks that Windows 9x executables run on a 486.

Disassembles every instruction of each executable's code and refuses any that
the i486 (with its x87) does not have: cmov, fcmov, fcomi, cmpxchg8b, rdtsc,
cpuid, sysenter, multi-byte NOPs, endbr32, MMX and SSE, ...  The rule is a
list of what the 486 has, so an instruction nobody thought of is refused too.
Also refuses static constructors and destructors, which the programs' own
start-up does not run: the linker's lists of them after the code must be
empty.

usage: check_code.py [--objdump OBJDUMP] EXE...
"""
import argparse
import os
import re
import struct
import subprocess
import sys

# Prefixes objdump prints as words of their own.
PREFIXES = {'rep', 'repz', 'repe', 'repnz', 'repne', 'lock', 'data16', 'addr16',
            'cs', 'ds', 'es', 'fs', 'gs', 'ss'}

CONDITIONS = ['o', 'no', 'b', 'nae', 'c', 'ae', 'nb', 'nc', 'e', 'z', 'ne', 'nz', 'be', 'na',
              'a', 'nbe', 's', 'ns', 'p', 'pe', 'np', 'po', 'l', 'nge', 'ge', 'nl', 'le', 'ng',
              'g', 'nle']

# The 8086 to 386 instructions and the 486's own (bswap, cmpxchg, xadd, invd,
# wbinvd, invlpg), as objdump names them in Intel syntax.  ud2 is here
# because its only job is the invalid-opcode fault, which 0F 0B raises on a
# 486 just the same.  cpuid is not: the first 486s fault on it.
I486_INTEGER = set('''
    aaa aad aam aas adc add and arpl bound bsf bsr bswap bt btc btr bts call cbw cdq clc
    cld cli clts cmc cmp cmps cmpsb cmpsw cmpsd cmpxchg cwd cwde daa das dec div enter hlt
    idiv imul in inc ins insb insw insd int int3 into invd invlpg iret iretw iretd jcxz
    jecxz jmp lahf lar lds lea leave les lfs lgdt lgs lidt lldt lmsw lods lodsb lodsw lodsd
    loop loope loopz loopne loopnz lsl lss ltr mov movs movsb movsw movsd movsx movzx mul
    neg nop not or out outs outsb outsw outsd pop popa popad popf popfd popfw push pusha
    pushad pushf pushfd pushfw rcl rcr ret retf rol ror sahf sal sar sbb scas scasb scasw
    scasd sgdt shl shld shr shrd sidt sldt smsw stc std sti stos stosb stosw stosd str sub
    test ud2 verr verw wait fwait wbinvd xadd xchg xlat xlatb xor
'''.split()) | {'j' + c for c in CONDITIONS} | {'set' + c for c in CONDITIONS}

# 8087, 287 and 387: the 486DX has them on chip, the 486SX with a 487.
I486_X87 = set('''
    f2xm1 fabs fadd faddp fbld fbstp fchs fclex fnclex fcom fcomp fcompp fcos fdecstp fdiv
    fdivp fdivr fdivrp ffree fiadd ficom ficomp fidiv fidivr fild fimul fincstp finit fninit
    fist fistp fisub fisubr fld fld1 fldcw fldenv fldl2e fldl2t fldlg2 fldln2 fldpi fldz
    fmul fmulp fnop fpatan fprem fprem1 fptan frndint frstor fsave fnsave fscale fsin
    fsincos fsqrt fst fstcw fnstcw fstenv fnstenv fstp fstsw fnstsw fsub fsubp fsubr fsubrp
    ftst fucom fucomp fucompp fxam fxch fxtract fyl2x fyl2xp1
'''.split())

I486 = I486_INTEGER | I486_X87

VECTOR_REGISTER = re.compile(r'\b[xyz]?mm\d+\b')


def refusal(text):
    """Why the 486 cannot run this disassembled instruction, or None."""
    words = text.split()
    while words and words[0] in PREFIXES:
        words = words[1:]
    if not words:
        return None
    mnemonic, operands = words[0], ' '.join(words[1:])
    if mnemonic not in I486:
        return 'not an i486 instruction'
    if mnemonic == 'nop' and operands:
        return 'a multi-byte NOP (0F 1F), which the 486 lacks'
    if VECTOR_REGISTER.search(operands):
        return 'uses an MMX or SSE register'
    return None


def read_sections(path):
    """(name, address, size, bytes, is code) of each section of a PE image."""
    with open(path, 'rb') as f:
        data = f.read()
    pe = struct.unpack_from('<I', data, 0x3c)[0]
    count, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
    magic = struct.unpack_from('<H', data, pe + 24)[0]
    base = struct.unpack_from('<I' if magic == 0x10b else '<Q', data,
                              pe + 24 + (28 if magic == 0x10b else 24))[0]
    sections = []
    table = pe + 24 + optional_size
    for i in range(count):
        raw_name, size, rva, raw_size, raw_at = struct.unpack_from('<8sIIII', data, table + 40 * i)
        flags = struct.unpack_from('<I', data, table + 40 * i + 36)[0]
        name = raw_name.rstrip(b'\0').decode('ascii', 'replace')
        body = data[raw_at:raw_at + min(size, raw_size)]
        sections.append((name, base + rva, size, body, bool(flags & 0x20000020)))
    return sections


def constructor_lists_end(body, word):
    """Where the linker's constructor and destructor lists (-1, entries, 0
    each) start after the code, which the constant data may follow, or None
    unless both are empty."""
    empty = b'\xff' * word + b'\0' * word
    at = body.find(empty + empty)
    while at >= 0 and at % word:
        at = body.find(empty + empty, at + 1)
    return at if at >= 0 else None


def disassemble(objdump, path, start, stop):
    out = subprocess.run([objdump, '-d', '-M', 'intel', '--insn-width=15',
                          '--start-address=%#x' % start, '--stop-address=%#x' % stop, path],
                         check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        fields = line.split('\t')
        if len(fields) >= 3 and fields[0].strip().endswith(':'):
            yield int(fields[0].strip()[:-1], 16), fields[2].strip()


def check(objdump, path):
    """(number of instructions, problems) of one executable."""
    problems, count = [], 0
    for name, address, size, body, is_code in read_sections(path):
        if not is_code:
            continue
        stop = address + size
        if name == '.text':
            end = constructor_lists_end(body, 4)
            if end is None:
                problems.append("static constructors or destructors, which nothing runs "
                                "(the code is not followed by the linker's empty lists)")
                continue
            stop = address + end
        for at, text in disassemble(objdump, path, address, stop):
            count += 1
            why = refusal(text)
            if why:
                problems.append(f"{at:#x}: {text}: {why}")
    return count, problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--objdump', default='i686-w64-mingw32-objdump')
    parser.add_argument('exes', nargs='+')
    args = parser.parse_args()
    failures = []
    for exe in args.exes:
        name = os.path.basename(exe)
        count, problems = check(args.objdump, exe)
        if problems:
            failures.extend(f"{name}: {p}" for p in problems)
        else:
            print(f"{name}: {count} instructions, all on the i486; no static constructors")
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
