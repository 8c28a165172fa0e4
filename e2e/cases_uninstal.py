"""End-to-end cases of UNINSTAL.EXE: a machine left with the Windows 2000
form of the driver (service entries, driver file, program files in the
all-users Programs folder) and the suite's own entries, then the removal."""
import os
import shutil
import subprocess

import cases
from cases import expect_equal

SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\zavir"
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
RUN_SERVICES_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\RunServices"
SETTINGS_KEY = r"HKLM\Software\corvale\zavir"
SHELL_FOLDERS_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"

# The driver's parameters as a Windows 2000 installation leaves them; the
# uninstaller deletes them by name whatever they hold.
PARAMETERS = ["LupX", "LupY", "RupX", "RupY", "RdnX", "RdnY", "LdnX", "LdnY", "ComPort",
              "ComBaud", "MouseDataQueueSize", "NumberOfButtons", "PointDeivceBaseName",
              "SampleRate", "RightButton", "Mode", "B_Len", "B_st", "B_Lst", "Beep", "First"]
SETTINGS = {"ComPort": 2, "ComBaud": 19200, "LeftUpX": 17, "RightDnY": 1001}
DIALOG_TITLE = "Halvern XR Uninstall Utility For WINDOWS 2000"
RUN_SERVICES_VALUE = r"C:\windows\system32\STARTVXD.EXE"


def _reg_file(lines):
    return "REGEDIT4\r\n\r\n" + "\r\n".join(lines) + "\r\n"


def _dword(name, value):
    return '"%s"=dword:%08x' % (name, value)


def win2000_entries(suite_entries=True):
    """The .reg text of everything a Windows 2000 driver installation
    leaves in the registry and, with suite_entries, the settings key and
    the RunServices entry that setup writes."""
    lines = ["[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\zavir]",
             '"DisplayName"="zavir"', _dword("ErrorControl", 1), '"Group"="Pointer Port"',
             '"ImagePath"="System32\\\\DRIVERS\\\\ZAVIR.SYS"',
             # Started on demand only: Wine's service manager must not try
             # to load the dummy driver file at a new session.
             _dword("Start", 3), _dword("Tag", 1), _dword("Type", 1), "",
             "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\zavir\\Parameters]"]
    for n, name in enumerate(PARAMETERS):
        lines.append('"%s"="PointerPort"' % name if name == "PointDeivceBaseName"
                     else _dword(name, n * 10))
    lines += ["", "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\zavir\\Enum]",
              _dword("Count", 1), _dword("NextInstance", 1), "",
              "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]",
              '"Zavir"="C:\\\\ProgramData\\\\ZAVIR\\\\TOUCH.EXE"', ""]
    if not suite_entries:
        return _reg_file(lines)
    lines += ["[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices]",
              '"Zavir"="%s"' % RUN_SERVICES_VALUE.replace("\\", "\\\\"), "",
              "[HKEY_LOCAL_MACHINE\\Software\\corvale\\zavir]"]
    lines += [_dword(name, value) for name, value in SETTINGS.items()]
    return _reg_file(lines)


def linux_path(machine, windows_path):
    """A C: path of the machine as a Linux path (Wine keeps the case of
    the folders it made)."""
    drive, _, rest = windows_path.partition(":")
    if drive.upper() != "C":
        raise AssertionError("not on drive C: %r" % windows_path)
    return machine.c_drive(*[p for p in rest.split("\\") if p])


def common_programs(kit):
    values = kit.machine.reg_query(SHELL_FOLDERS_KEY) or {}
    for name, (_, data) in values.items():
        if name.lower() == "common programs":
            return data
    raise AssertionError("no common Programs folder in %r" % values)


class Installation:
    """The paths of one seeded machine."""

    def __init__(self, kit):
        self.kit = kit
        self.driver_file = kit.machine.c_drive("windows", "system32", "drivers", "ZAVIR.SYS")
        self.folder = os.path.join(linux_path(kit.machine, common_programs(kit)), "ZAVIR")
        self.programs = [os.path.join(self.folder, n) for n in ("TOUCH.EXE", "UNINSTAL.EXE")]

    def seed(self, suite_entries=True):
        reg = os.path.join(self.kit.work, "win2000.reg")
        with open(reg, "w", newline="") as f:
            f.write(win2000_entries(suite_entries))
        self.kit.machine.reg(["import", self.kit.machine.windows_path(reg)])
        with open(self.driver_file, "wb") as f:
            f.write(b"MZ not a real driver")
        os.makedirs(self.folder, exist_ok=True)
        for path in self.programs:
            shutil.copyfile(self.kit.exe(os.path.basename(path)), path)

    def present(self):
        """What of the removable installation is there, by name."""
        m = self.kit.machine
        found = []
        for key in (SERVICE_KEY + r"\Parameters", SERVICE_KEY + r"\Enum", SERVICE_KEY):
            if m.reg_query(key) is not None:
                found.append(key)
        if "Zavir" in (m.reg_query(RUN_KEY) or {}):
            found.append(RUN_KEY + r"\Zavir")
        for path in [self.driver_file] + self.programs + [self.folder]:
            if os.path.exists(path):
                found.append(path)
        return found

    def kept(self):
        """The suite's own entries that the removal must leave."""
        m = self.kit.machine
        stored = m.reg_query(SETTINGS_KEY) or {}
        settings = {k: cases.harness.reg_number(v) for k, v in stored.items()}
        services = (m.reg_query(RUN_SERVICES_KEY) or {}).get("Zavir", (None, None))[1]
        return settings, services


def run_uninstal(kit, exe, cwd=None):
    """Runs UNINSTAL.EXE to its end while ZDRIVE watches for message
    boxes; its exit code and what the watcher saw.  cwd: its current
    directory (a Linux folder)."""
    # Wine shows the uninstaller's own dialog for a moment although it ends
    # before it is shown (Windows never shows it); only that one is passed over.
    watcher = kit.spawn_zdrive("nobox", DIALOG_TITLE, stdin=subprocess.PIPE)
    kit.wait_line(watcher, "watching", timeout=30)
    result = kit.machine.wine([exe], timeout=60, cwd=cwd)
    watcher.stdin.write("stop\n")
    watcher.stdin.flush()
    kit.wait_for("the watcher", lambda: watcher.poll() is not None, timeout=15)
    return result.returncode, [line for line in kit.output_of(watcher) if line != "watching"]


def uninstal_removes_win2000_driver(kit):
    """Everything of the Windows 2000 driver goes; the settings key and the
    RunServices entry stay; exit code 0; no message box.  A service key that
    still holds a key of its own stays with it (Windows 9x would delete the
    two together)."""
    inst = Installation(kit)
    inst.seed()
    seeded = inst.present()
    expect_equal(len(seeded), 8, "seeded entries and files %r" % seeded)
    kept_before = inst.kept()
    expect_equal(kept_before, (SETTINGS, RUN_SERVICES_VALUE), "seeded settings and RunServices")
    code, watched = run_uninstal(kit, kit.exe("UNINSTAL.EXE"))
    expect_equal(code, 0, "exit code")
    expect_equal(watched, ["no message box"], "message boxes while it ran")
    expect_equal(inst.present(), [], "left behind")
    expect_equal(inst.kept(), kept_before, "settings and RunServices after the removal")
    # Other Run entries and the Run key itself are not the uninstaller's.
    if kit.machine.reg_query(RUN_KEY) is None:
        raise AssertionError("the Run key went")

    inst.seed()
    kit.machine.reg_add(SERVICE_KEY + r"\Security", "Security", "REG_DWORD", 1)
    code, watched = run_uninstal(kit, kit.exe("UNINSTAL.EXE"))
    expect_equal((code, inst.present()), (0, [SERVICE_KEY]), "exit code and what is left")
    if not kit.machine.reg_query(SERVICE_KEY + r"\Security"):
        raise AssertionError("the service key's own key went")


def uninstal_on_a_clean_machine(kit):
    """Nothing installed: every step fails in silence, exit code 0, and a
    second run over a removed installation does the same."""
    inst = Installation(kit)
    expect_equal(inst.present(), [], "a clean machine")
    # Program files at the root of the current drive, where "\ZAVIR" would
    # lead: not the uninstaller's, as the Programs folder is known.
    root = kit.machine.c_drive("ZAVIR")
    os.makedirs(root)
    for name in ("TOUCH.EXE", "UNINSTAL.EXE"):
        with open(os.path.join(root, name), "wb") as f:
            f.write(b"some other program")
    for run in (1, 2):
        code, watched = run_uninstal(kit, kit.exe("UNINSTAL.EXE"), cwd=kit.machine.c_drive())
        expect_equal(code, 0, "exit code of run %d" % run)
        expect_equal(watched, ["no message box"], "message boxes in run %d" % run)
    expect_equal(sorted(os.listdir(root)), ["TOUCH.EXE", "UNINSTAL.EXE"], "files at the root")


def uninstal_from_program_folder(kit):
    """Started from the program folder, as a user would from the Start
    menu: its own file, and so the folder, stay; the rest goes."""
    inst = Installation(kit)
    inst.seed()
    own = inst.programs[1]
    code, watched = run_uninstal(kit, kit.machine.windows_path(own))
    expect_equal(code, 0, "exit code")
    expect_equal(watched, ["no message box"], "message boxes while it ran")
    expect_equal(inst.present(), [own, inst.folder], "left behind")


CASES = {f.__name__: f for f in (uninstal_removes_win2000_driver, uninstal_on_a_clean_machine,
                                 uninstal_from_program_folder)}


def removal(demo):
    """The uninstaller removes the Windows 2000 driver's leftovers."""
    kit = demo.kit
    inst = Installation(kit)
    # The settings that setup wrote earlier in the demo stay as they are.
    inst.seed(suite_entries=False)
    before = inst.present()
    say("    seeded: %d entries and files of a Windows 2000 installation" % len(before))
    code, watched = run_uninstal(kit, kit.exe("UNINSTAL.EXE"))
    after = inst.present()
    drive = kit.machine.c_drive()
    for item in before:
        if item.startswith(drive):
            item_name = "C:\\" + os.path.relpath(item, drive).replace("/", "\\")
        else:
            item_name = item
        say("    %s %s" % ("removed" if item not in after else "kept   ", item_name))
    settings, services = inst.kept()
    say("    kept the settings key (%d values) and RunServices Zavir=%s" % (len(settings),
                                                                                 services))
    say("    exit code %d, %s" % (code, ", ".join(watched)))


def say(text):
    print(text, flush=True)


DEMO_STEPS = [removal]
