"""The Windows 98 import check refuses what Windows 98 can't load."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import check_imports  # noqa: E402


class AllowListTest(unittest.TestCase):
    def problems_of(self, *entries):
        exports, broken = check_imports.load_reference()
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            f.write("# a comment\n\n" + "\n".join(entries) + "\n")
        try:
            allowed, problems = check_imports.load_allowed(exports, broken, f.name)
        finally:
            os.remove(f.name)
        return allowed, problems

    def test_the_suites_own_list_is_clean(self):
        exports, broken = check_imports.load_reference()
        _, problems = check_imports.load_allowed(exports, broken)
        self.assertEqual(problems, [])

    def test_entries_windows_98_lacks_or_only_stubs_are_refused(self):
        cases = [
            ("kernel32.dll!GetTickCount64", "not exported"),
            ("kernel32.dll!AddVectoredExceptionHandler", "not exported"),
            ("advapi32.dll!OpenProcessToken", "does not work there"),
            ("kernel32.dll!CreateFileW", "Unicode"),
            ("user32.dll!MessageBoxW", "Unicode"),
            ("msvcrt.dll!malloc", "not one of the five system DLLs"),
            ("comctl32.dll!InitCommonControls", "not one of the five system DLLs"),
        ]
        for entry, reason in cases:
            with self.subTest(entry=entry):
                _, problems = self.problems_of(entry)
                self.assertEqual(len(problems), 1)
                self.assertIn(reason, problems[0])

    def test_ordinary_entries_pass_and_dll_names_ignore_case(self):
        allowed, problems = self.problems_of("KERNEL32.dll!CreateFileA", "shell32.dll!Shell_NotifyIconA")
        self.assertEqual(problems, [])
        self.assertIn(("kernel32.dll", "CreateFileA"), allowed)


class HeaderTest(unittest.TestCase):
    GOOD = {"format": "pei-i386", "Magic": "010b", "MajorOSystemVersion": "4",
            "MinorOSystemVersion": "0", "MajorSubsystemVersion": "4",
            "MinorSubsystemVersion": "0", "Subsystem": "00000002", "DllCharacteristics": "00000000"}

    def test_a_windows_95_gui_image_passes(self):
        self.assertEqual(check_imports.check_header(dict(self.GOOD)), [])

    def test_what_windows_9x_refuses_is_reported(self):
        cases = [
            ({"format": "pei-x86-64", "Magic": "020b"}, "not a PE32 i386"),
            ({"MajorOSystemVersion": "6"}, "MajorOSystemVersion is 6"),
            ({"MajorSubsystemVersion": "5", "MinorSubsystemVersion": "1"}, "MajorSubsystemVersion"),
            ({"Subsystem": "00000003"}, "not Windows GUI"),
            ({"DllCharacteristics": "00000140"}, "dynamic base"),
            ({"DllCharacteristics": "00000100"}, "NX"),
            ({"TlsDirectory": "00004000"}, "thread-local storage"),
        ]
        for change, reason in cases:
            with self.subTest(change=change):
                header = dict(self.GOOD)
                header.update(change)
                problems = check_imports.check_header(header)
                self.assertTrue(any(reason in p for p in problems), problems)


class ImportsTest(unittest.TestCase):
    ALLOWED = {("kernel32.dll", "CreateFileA"), ("user32.dll", "MessageBoxA")}

    def test_only_listed_functions_of_the_five_system_dlls_pass(self):
        imports = [("KERNEL32.dll", "CreateFileA"), ("USER32.dll", "MessageBoxA")]
        self.assertEqual(check_imports.check_imports(imports, self.ALLOWED), [])
        problems = check_imports.check_imports(
            imports + [("msvcrt.dll", "malloc"), ("msvcrt.dll", "free"),
                       ("KERNEL32.dll", "GetTickCount64")], self.ALLOWED)
        self.assertEqual(problems, [
            "imports from msvcrt.dll, which is not one of the five system DLLs",
            "imports kernel32.dll!GetTickCount64, which is not on the allow-list"])

    def test_the_listing_names_each_dll_once_with_its_functions(self):
        lines = check_imports.import_listing(
            [("USER32.dll", "MessageBoxA"), ("KERNEL32.dll", "ReadFile"),
             ("KERNEL32.dll", "CreateFileA")])
        self.assertEqual(lines, ["  KERNEL32.DLL: CreateFileA ReadFile", "  USER32.DLL: MessageBoxA"])


if __name__ == "__main__":
    unittest.main()
