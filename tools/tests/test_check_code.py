"""The 486 code check refuses what a 486 cannot run, and nothing it can."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import check_code  # noqa: E402


class RefusalTest(unittest.TestCase):
    def test_what_newer_processors_added_is_refused(self):
        cases = [
            ("cmove  ecx,ebx", "not an i486"),
            ("cmovle eax,DWORD PTR [esp+0x4]", "not an i486"),
            ("fcmovbe st,st(1)", "not an i486"),
            ("fcomi  st,st(1)", "not an i486"),
            ("fucomip st,st(1)", "not an i486"),
            ("cmpxchg8b QWORD PTR [esi]", "not an i486"),
            ("rdtsc", "not an i486"),
            ("cpuid", "not an i486"),
            ("sysenter", "not an i486"),
            ("endbr32", "not an i486"),
            ("lock cmpxchg8b QWORD PTR [esi]", "not an i486"),
            ("shlx   eax,ecx,edx", "not an i486"),
            ("(bad)", "not an i486"),
            ("nop    DWORD PTR [eax+eax*1+0x0]", "multi-byte NOP"),
            ("data16 cs nop WORD PTR [eax+eax*1+0x0]", "multi-byte NOP"),
            ("movd   mm0,eax", "not an i486"),
            ("movsd  xmm0,QWORD PTR [eax]", "MMX or SSE"),
        ]
        for text, reason in cases:
            with self.subTest(text=text):
                self.assertIn(reason, check_code.refusal(text) or "")

    def test_the_486s_own_instructions_pass(self):
        for text in ["mov    eax,DWORD PTR [esp+0x4]", "rep stos DWORD PTR es:[edi],eax",
                     "lock xadd DWORD PTR [ecx],eax", "bswap  eax", "cmpxchg DWORD PTR [ecx],edx",
                     "fucompp", "fnstsw ax", "sahf", "fistp  QWORD PTR [esp]", "nop",
                     "xchg   ax,ax", "lea    esi,[esi+eiz*1+0x0]", "ja     0x401000",
                     "setne  al", "movs   BYTE PTR es:[edi],BYTE PTR ds:[esi]", "ud2"]:
            with self.subTest(text=text):
                self.assertIsNone(check_code.refusal(text))


class ConstructorListTest(unittest.TestCase):
    EMPTY = b"\xff\xff\xff\xff\0\0\0\0"

    def test_code_ending_in_two_empty_lists_ends_before_them(self):
        for after in [b"", b"\x01\0\0\0" + 2 * self.EMPTY]:
            with self.subTest(after=after):
                body = b"\xc3\x90\x90\x90" + 2 * self.EMPTY + after
                self.assertEqual(check_code.constructor_lists_end(body, 4), 4)
        self.assertIsNone(check_code.constructor_lists_end(b"\xc3\x90" + 2 * self.EMPTY, 4))

    def test_a_constructor_in_the_list_is_found(self):
        body = b"\xc3\x90" + b"\xff\xff\xff\xff\xc0\x35\x40\x00\0\0\0\0" + self.EMPTY
        self.assertIsNone(check_code.constructor_lists_end(body, 4))


if __name__ == "__main__":
    unittest.main()
