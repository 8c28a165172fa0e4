"""The harness's own pieces that need no Wine: registry output parsing and
ending processes by id."""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import harness  # noqa: E402


class RegistryText(unittest.TestCase):
    QUERY = ("\r\nHKEY_LOCAL_MACHINE\\software\\corvale\\zavir\r\n"
             "    (Default)    REG_SZ    \r\n"
             "    LeftUpX    REG_DWORD    0xffffffd8\r\n"
             "    ComBaud    REG_DWORD    0x2580\r\n"
             "    Some Name    REG_SZ    C:\\Program Files\\ZAVIR    x\r\n"
             "    Blob    REG_BINARY    0102\r\n"
             "\r\nHKEY_LOCAL_MACHINE\\software\\corvale\\zavir\\sub\r\n")

    def test_query_output_becomes_values(self):
        values = harness.parse_reg_query(self.QUERY)
        self.assertEqual(values[""], ("REG_SZ", ""))
        self.assertEqual(values["ComBaud"], ("REG_DWORD", "0x2580"))
        self.assertEqual(values["Some Name"], ("REG_SZ", "C:\\Program Files\\ZAVIR    x"))
        self.assertEqual(values["Blob"], ("REG_BINARY", "0102"))
        self.assertEqual(len(values), 5)
        self.assertEqual(harness.parse_reg_query("\r\n"), {})

    def test_dword_numbers_are_signed(self):
        values = harness.parse_reg_query(self.QUERY)
        self.assertEqual(harness.reg_number(values["LeftUpX"]), -40)
        self.assertEqual(harness.reg_number(values["ComBaud"]), 9600)
        with self.assertRaises(harness.HarnessError):
            harness.reg_number(values["Blob"])

    def test_exports_are_utf16_with_crlf(self):
        text = 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\x]\r\n"Managed"="N"\r\n'
        raw = b"\xff\xfe" + text.encode("utf-16-le")
        self.assertEqual(harness.decode_reg_export(raw), text.replace("\r\n", "\n"))
        self.assertEqual(harness.decode_reg_export(text.encode()), text.replace("\r\n", "\n"))


class Processes(unittest.TestCase):
    def test_a_zombie_is_not_running(self):
        child = subprocess.Popen(["true"])
        deadline = time.monotonic() + 5
        while harness.process_state(child.pid) != "Z" and time.monotonic() < deadline:
            time.sleep(0.01)
        self.assertEqual(harness.process_state(child.pid), "Z")
        self.assertFalse(harness.is_running(child.pid))
        child.wait()
        self.assertIsNone(harness.process_state(child.pid))
        self.assertTrue(harness.is_running(os.getpid()))

    def test_a_process_that_ignores_sigterm_is_still_ended(self):
        stubborn = subprocess.Popen([sys.executable, "-c",
                                     "import signal, time\n"
                                     "signal.signal(signal.SIGTERM, signal.SIG_IGN)\n"
                                     "print('ready', flush=True)\n"
                                     "time.sleep(60)\n"], stdout=subprocess.PIPE)
        with stubborn.stdout:
            stubborn.stdout.readline()
            harness.end_process(stubborn, grace=0.2)
        self.assertIsNotNone(stubborn.returncode)
        self.assertIsNone(harness.process_state(stubborn.pid))

    def test_processes_are_found_by_their_environment(self):
        mark = "zavir-test-%d" % os.getpid()
        env = dict(os.environ, ZAVIR_MARK=mark)
        child = subprocess.Popen(["sleep", "30"], env=env)
        try:
            # Popen returns once the exec has begun; the kernel fills in the
            # new program's environment a moment later, so wait for it.
            found = []
            deadline = time.monotonic() + 10.0
            while not found and time.monotonic() < deadline:
                found = harness.pids_with_environment("ZAVIR_MARK", mark)
                if not found:
                    time.sleep(0.01)
            self.assertEqual(found, [child.pid])
            self.assertEqual(harness.pids_with_environment("ZAVIR_MARK", mark + "x"), [])
        finally:
            harness.end_process(child)
        self.assertEqual(harness.pids_with_environment("ZAVIR_MARK", mark), [])


if __name__ == "__main__":
    unittest.main()
