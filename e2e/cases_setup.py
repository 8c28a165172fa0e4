"""The setup wizard under Wine, driven from outside as a person would: find
the page on screen, click its buttons, read its controls; then look at
the registry and the disk the way a second program would."""
import os
import re
import shutil

import cases
from cases import expect_equal

TITLE = "Halvern XR Setup Utility"
DIALOG = "#32770"
SETTINGS_KEY = r"HKLM\software\corvale\zavir"
MAKER_KEY = r"HKLM\software\corvale"
RUN_KEY = r"HKLM\software\Microsoft\Windows\CurrentVersion\Run"
RUN_SERVICES_KEY = r"HKLM\software\Microsoft\Windows\CurrentVersion\RunServices"
SHELL_FOLDERS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
MOUSE_KEY = r"HKCU\Control Panel\Mouse"
SYSTEM_DIR = "C:\\windows\\system32"

# Control ids of the pages.
BACK, NEXT, CANCEL, REBOOT = 1060, 1061, 1062, 1044
COM = {1: 1003, 2: 1004, 3: 1005, 4: 1006}
BAUD = {19200: 1007, 9600: 1008, 2400: 1009, 1200: 1010}
IRQ = {4: 1040, 3: 1041, 5: 1042, 7: 1043, 9: 1044, 10: 1045, 11: 1046, 12: 1047,
       13: 1048, 14: 1049, 15: 1050}
RIGHT_BUTTON, PORT_LINE, BUTTON_LINE, STATUS = 1024, 1067, 1068, 1072

# How each page is told apart: ids it holds, and (negative) ids it lacks.
PAGES = {
    "welcome": (NEXT, -BACK, -REBOOT),
    "port": (COM[1], BAUD[9600]),
    "rightbutton": (RIGHT_BUTTON,),
    "summary": (PORT_LINE,),
    "install": (STATUS,),
}

# The record in its order, with the values of a new key.
NEW_KEY_VALUES = [
    ("LeftUpX", 0), ("LeftUpY", 0), ("RightUpX", 1024), ("RightUpY", 0),
    ("RightDnX", 1024), ("RightDnY", 1024), ("LeftDnX", 0), ("LeftDnY", 1024),
    ("ComPort", 1), ("ComBase", 1016), ("ComIrq", 4), ("ComBaud", 9600), ("Mode", 1),
    ("RightButton", 0), ("BB_Len", 2), ("BB_st", 2), ("BB_Lst", 1), ("Beep", 0), ("First", 0),
]
PROGRAMS = ("TOUCH.EXE", "UNINSTAL.EXE", "TRUEPOS.EXE", "CONFIG.EXE")
MEDIUM_PROGRAMS = ("SETUP.EXE",) + PROGRAMS
SYSTEM_FILES = ("ZAVIR.VXD", "STARTVXD.EXE")

_CONTROL = re.compile(r'control id=(-?\d+) class="([^"]*)" text="([^"]*)" visible=(\d) '
                      r'enabled=(\d) checked=(\d)')


def parse_controls(lines):
    """ZDRIVE's control lines as {id: {text, visible, enabled, checked}}
    (controls without an id, -1 or 0xFFFF, are left out)."""
    controls = {}
    for line in lines:
        m = _CONTROL.search(line)
        if m and 0 < int(m.group(1)) < 0xFFFF:
            controls[int(m.group(1))] = {"class": m.group(2), "text": m.group(3),
                                         "visible": m.group(4) == "1",
                                         "enabled": m.group(5) == "1",
                                         "checked": m.group(6) == "1"}
    return controls


def make_medium(kit, folder="setupdisk", driver=True):
    """A setup medium inside the machine: the built programs, and small
    files standing in for the kernel driver and its loader (not built by
    this project).  Returns the Linux path of the folder."""
    path = kit.machine.c_drive(folder)
    os.makedirs(path, exist_ok=True)
    for name in MEDIUM_PROGRAMS:
        with open(kit.exe(name), "rb") as src, open(os.path.join(path, name), "wb") as dst:
            dst.write(src.read())
    contents = {"STARTVXD.EXE": b"MZ loader stand-in from the setup medium\r\n"}
    if driver:
        contents["ZAVIR.VXD"] = b"driver stand-in from the setup medium\r\n"
    for name, data in contents.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)
    return path


def linux_path(kit, windows_path):
    """A C: path of the machine on the Linux side, matching names without
    regard to case as Windows does; None when some part is missing."""
    if not windows_path.upper().startswith("C:\\"):
        return None
    here = kit.machine.c_drive()
    for part in [p for p in windows_path[3:].split("\\") if p]:
        names = {n.lower(): n for n in os.listdir(here)} if os.path.isdir(here) else {}
        if part.lower() not in names:
            return None
        here = os.path.join(here, names[part.lower()])
    return here


def system_file(kit, name):
    return linux_path(kit, SYSTEM_DIR + "\\" + name)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class Wizard:
    """One run of SETUP.EXE from a medium folder, seen from outside."""

    def __init__(self, kit, medium, shots=None, cwd=None, program=None):
        self.kit = kit
        self.shots = shots
        # Started from the medium, its current directory unless cwd names
        # another folder (a shortcut's or a command prompt's).
        self.proc = kit.machine.spawn([program or os.path.join(medium, "SETUP.EXE")],
                                      cwd=cwd or medium)
        self.controls = {}
        self.page = None

    def wait_page(self, name, timeout=30.0):
        """Waits until page `name` is on screen; its controls become
        self.controls."""
        ms = int(timeout * 1000)
        lines = self.kit.zdrive("waitpage", DIALOG, TITLE, ms, *PAGES[name],
                                timeout=timeout + 30, expect_ok=False)
        if not lines or not lines[0].startswith("page "):
            raise AssertionError("the %s page did not appear (setup %s)" % (
                name, "still running" if self.proc.poll() is None
                else "ended with %d" % self.proc.returncode))
        self.page = name
        self.controls = parse_controls(lines)
        return self.controls

    def read(self):
        """The current page's controls, read again."""
        return self.wait_page(self.page, timeout=10.0)

    def text(self, control_id):
        return self.controls[control_id]["text"]

    def checked_radios(self):
        """The port page's marked choices as (ports, irqs, bauds)."""
        def marked(table):
            return sorted(v for v, i in table.items() if self.controls[i]["checked"])
        return marked(COM), marked(IRQ), marked(BAUD)

    def press(self, control_id):
        """A click whose effect is complete when this returns (choice
        buttons and check boxes)."""
        self.kit.zdrive("press", DIALOG, TITLE, control_id)
        return self.read()

    def click(self, control_id):
        """A click on a page button: the page closes, so the click is
        posted and the caller waits for what comes next."""
        self.kit.zdrive("click", DIALOG, TITLE, control_id)

    def go(self, button, page):
        self.click(button)
        return self.wait_page(page)

    def screenshot(self, step):
        if self.shots is not None:
            self.shots(step)

    def exit_code(self, timeout=30.0):
        self.kit.wait_for("setup to end", lambda: self.proc.poll() is not None, timeout)
        return self.proc.returncode


# ---------------------------------------------------------------- checks

def settings_values(kit):
    """{name: number} of the settings key, or None without it; every value
    must be a REG_DWORD."""
    got = kit.machine.reg_query(SETTINGS_KEY)
    if got is None:
        return None
    for name, (kind, _) in got.items():
        if name and kind != "REG_DWORD":
            raise AssertionError("%s is %s, not REG_DWORD" % (name, kind))
    return {name: cases.harness.reg_number(entry) for name, entry in got.items() if name}


def expect_settings(kit, want, what):
    expect_equal(settings_values(kit), dict(want), what)


def expect_nothing_installed(kit, what):
    if kit.machine.reg_query(SETTINGS_KEY) is not None:
        raise AssertionError("%s: the settings key is still there" % what)
    if kit.machine.reg_query(MAKER_KEY) is not None:
        raise AssertionError("%s: software\\corvale is still there" % what)
    for name in SYSTEM_FILES:
        if system_file(kit, name):
            raise AssertionError("%s: %s is still in the system directory" % (what, name))


def programs_folder(kit):
    return kit.machine.reg_query(SHELL_FOLDERS_KEY)["Programs"][1]


def seed_double_click_values(kit):
    """Values other than setup's, so that its writes show."""
    kit.machine.reg_add(DESKTOP_KEY, "DoubleClickHeight", "REG_SZ", "4")
    kit.machine.reg_add(DESKTOP_KEY, "DoubleClickWidth", "REG_SZ", "4")
    kit.machine.reg_add(MOUSE_KEY, "DoubleClickSpeed", "REG_SZ", "400")


def run_to_page(wizard, page):
    """From the welcome page through Next to `page`."""
    order = ["welcome", "port", "rightbutton", "summary"]
    wizard.wait_page("welcome")
    for name in order[1:order.index(page) + 1]:
        wizard.go(NEXT, name)


# ---------------------------------------------------------------- cases

def install_through_every_page(kit, shots=None, choose=True, own_ports=True):
    """Every page in turn with the choices of a person; returns the
    Wizard after Reboot.  `shots(step)` takes a screenshot of each page.
    own_ports: the machine lists COM1 and COM2 (else it keeps its list)."""
    medium = make_medium(kit)
    if own_ports:
        # Setup looks for values named after the ports, as Windows 9x
        # lists them (Wine, like NT, names them \Device\SerialN: setup
        # then finds none and offers all four).
        kit.machine.set_serialcomm({"COM1": "COM1", "COM2": "COM2"})
    seed_double_click_values(kit)
    # From another folder: setup copies from the one that holds SETUP.EXE.
    wizard = Wizard(kit, medium, shots, cwd=kit.machine.c_drive("windows"))

    wizard.wait_page("welcome")
    expect_equal(wizard.controls[NEXT]["text"], "Next >> (&N)", "welcome page's Next")
    expect_equal(sorted(wizard.controls), [NEXT, CANCEL], "welcome page's buttons")
    wizard.screenshot("121-welcome")
    # Nothing is written before the welcome page's Next.
    expect_nothing_installed(kit, "on the welcome page")

    wizard.go(NEXT, "port")
    # The welcome page's Next made the key with a new key's values and put
    # the driver and its loader into the system directory.
    expect_settings(kit, NEW_KEY_VALUES, "settings after the welcome page")
    for name in SYSTEM_FILES:
        path = system_file(kit, name)
        if not path or read_bytes(path) != read_bytes(os.path.join(medium, name)):
            raise AssertionError("%s is not the medium's copy in the system directory" % name)
    if own_ports:
        visible = sorted(n for n, i in COM.items() if wizard.controls[i]["visible"])
        expect_equal(visible, [1, 2], "port buttons offered with COM1 and COM2 in serialcomm")
    expect_equal(wizard.checked_radios(), ([1], [4], [9600]), "marks of a new key's values")
    wizard.screenshot("122-port")
    chosen = dict(NEW_KEY_VALUES)
    if choose:
        # The automatic radio buttons clear across the port, IRQ and baud
        # choices; after every click the page shows exactly the current ones.
        for button, marks in ((COM[2], ([2], [3], [9600])),
                              (IRQ[10], ([2], [10], [9600])),
                              (COM[2], ([2], [10], [9600])),
                              (BAUD[19200], ([2], [10], [19200]))):
            wizard.press(button)
            expect_equal(wizard.checked_radios(), marks, "marks after a click on %d" % button)
        wizard.screenshot("122-port-chosen")
        chosen.update(ComPort=2, ComBase=760, ComIrq=10, ComBaud=19200, RightButton=1)

    wizard.go(NEXT, "rightbutton")
    expect_equal(wizard.controls[RIGHT_BUTTON]["checked"], False, "right button at first")
    if choose:
        wizard.press(RIGHT_BUTTON)
        expect_equal(wizard.controls[RIGHT_BUTTON]["checked"], True, "right button ticked")
    wizard.screenshot("124-rightbutton")

    wizard.go(NEXT, "summary")
    expect_equal((wizard.text(PORT_LINE), wizard.text(BUTTON_LINE)),
                 ("COM Port Setting : COM 2, IRQ 10", "Right Button Setting :  ON") if choose else
                 ("COM Port Setting : COM 1, IRQ 4", "Right Button Setting : OFF"),
                 "summary lines")
    wizard.screenshot("114-summary")
    # Choices reach the registry only through the summary's Next.
    expect_settings(kit, NEW_KEY_VALUES, "settings before the summary's Next")
    # Back and forth again: the right-button page shows the current choice.
    wizard.go(BACK, "rightbutton")
    expect_equal(wizard.controls[RIGHT_BUTTON]["checked"], choose, "right button after Back")
    wizard.go(NEXT, "summary")

    wizard.click(NEXT)
    kit.wait_for("the installation to finish", lambda: wizard.wait_page("install")
                 and wizard.text(STATUS) == "Installation Driver OK !!"
                 and wizard.controls[REBOOT]["enabled"], timeout=60)
    expect_equal(wizard.text(REBOOT), "Reboot  (&R)", "Reboot button")
    wizard.screenshot("125-install")

    expect_settings(kit, chosen, "settings after the installation")
    folder = programs_folder(kit)
    run = kit.machine.reg_query(RUN_KEY) or {}
    # Quoted: the folder's blanks must not let "C:\Documents.exe" start.
    expect_equal(run.get("Zavir"), ("REG_SZ", '"%s\\ZAVIR\\TOUCH.EXE"' % folder), "Run value")
    services = kit.machine.reg_query(RUN_SERVICES_KEY) or {}
    expect_equal(services.get("Zavir"), ("REG_SZ", '"%s\\STARTVXD.EXE"' % SYSTEM_DIR),
                 "RunServices value")
    desktop = kit.machine.reg_query(DESKTOP_KEY)
    mouse = kit.machine.reg_query(MOUSE_KEY)
    expect_equal((desktop["DoubleClickHeight"], desktop["DoubleClickWidth"],
                  mouse["DoubleClickSpeed"]),
                 (("REG_SZ", "40"), ("REG_SZ", "40"), ("REG_SZ", "500")), "double-click values")
    for name in PROGRAMS:
        path = linux_path(kit, folder + "\\ZAVIR\\" + name)
        if not path or read_bytes(path) != read_bytes(os.path.join(medium, name)):
            raise AssertionError("%s is not in the program folder %s\\ZAVIR" % (name, folder))
    for name in SYSTEM_FILES:
        if not system_file(kit, name):
            raise AssertionError("%s is not in the system directory" % name)

    wizard.click(REBOOT)
    expect_equal(wizard.exit_code(), 0, "setup's exit code after Reboot")
    return wizard


def setup_full_install(kit):
    """A first installation through every page: the choices, the
    registry, the files, and Reboot ending setup with 0."""
    install_through_every_page(kit, shots=kit.screenshot)
    # Reboot under Wine ends the session's windowed programs: nothing of
    # setup is left on screen.
    if kit.zdrive("find", DIALOG, TITLE, 500, expect_ok=False) != ["no window"]:
        raise AssertionError("a setup page is still on screen after Reboot")


def setup_cancel_on_clean_system(kit):
    """Cancel on the port, right-button and summary pages of a first
    installation (the last after a trip Back to the welcome page) leaves
    neither the settings, nor the maker's key, nor the two system files."""
    medium = make_medium(kit)
    for page in ("port", "rightbutton", "summary"):
        wizard = Wizard(kit, medium)
        if page == "summary":
            # Back to the welcome page first: its Next again drops the
            # unsaved choice, and the key stays this run's to take back.
            run_to_page(wizard, "port")
            wizard.press(COM[3])
            wizard.go(BACK, "welcome")
            wizard.go(NEXT, "port")
            expect_equal(wizard.checked_radios(), ([1], [4], [9600]), "choices after Back")
            wizard.go(NEXT, "rightbutton")
            wizard.go(NEXT, "summary")
        else:
            run_to_page(wizard, page)
        if settings_values(kit) is None:
            raise AssertionError("no settings key on the %s page" % page)
        wizard.click(CANCEL)
        expect_equal(wizard.exit_code(), 0, "exit code after Cancel on the %s page" % page)
        expect_nothing_installed(kit, "Cancel on the %s page" % page)


EARLIER = [("LeftUpX", 37), ("LeftUpY", 41), ("RightUpX", 990), ("RightUpY", 22),
           ("RightDnX", 1001), ("RightDnY", 987), ("LeftDnX", 25), ("LeftDnY", 1010),
           ("ComPort", 2), ("ComBase", 760), ("ComIrq", 3), ("ComBaud", 9600), ("Mode", 1),
           ("RightButton", 1), ("BB_Len", 5), ("BB_st", 6), ("BB_Lst", 7), ("Beep", 1),
           ("First", 1)]


def setup_cancel_keeps_earlier_install(kit):
    """Over an earlier installation, Cancel (after other choices on the
    port page, and on the port page itself) leaves its settings, its
    neighbours under the maker's key and its system files in place."""
    for name, value in EARLIER:
        kit.machine.reg_add(SETTINGS_KEY, name, "REG_DWORD", value)
    kit.machine.reg_add(MAKER_KEY + r"\other", "Kept", "REG_SZ", "yes")
    kit.machine.reg_add(RUN_KEY, "Zavir", "REG_SZ", "C:\\earlier\\TOUCH.EXE")
    for name in SYSTEM_FILES:
        with open(os.path.join(kit.machine.c_drive("windows", "system32"), name), "wb") as f:
            f.write(b"earlier installation's " + name.encode())
    medium = make_medium(kit)

    wizard = Wizard(kit, medium)
    run_to_page(wizard, "port")
    # The earlier choices are shown.
    expect_equal(wizard.checked_radios(), ([2], [3], [9600]), "earlier choices on the port page")
    wizard.press(COM[3])
    wizard.go(NEXT, "rightbutton")
    wizard.go(NEXT, "summary")
    expect_equal(wizard.text(PORT_LINE), "COM Port Setting : COM 3, IRQ 7", "summary port line")
    wizard.click(CANCEL)
    expect_equal(wizard.exit_code(), 0, "exit code after Cancel on the summary page")
    expect_settings(kit, EARLIER, "earlier settings after Cancel on the summary page")

    wizard = Wizard(kit, medium)
    run_to_page(wizard, "port")
    wizard.click(CANCEL)
    expect_equal(wizard.exit_code(), 0, "exit code after Cancel on the port page")
    expect_settings(kit, EARLIER, "earlier settings after Cancel on the port page")
    expect_equal(kit.machine.reg_query(MAKER_KEY + r"\other"), {"Kept": ("REG_SZ", "yes")},
                 "the maker's other key")
    expect_equal((kit.machine.reg_query(RUN_KEY) or {}).get("Zavir"),
                 ("REG_SZ", "C:\\earlier\\TOUCH.EXE"), "earlier Run value")
    for name in SYSTEM_FILES:
        if not system_file(kit, name):
            raise AssertionError("Cancel removed the earlier installation's %s" % name)


def setup_refuses_while_touch_runs(kit):
    """With the touch service's window present, setup shows only its
    message, ends with 1 and writes nothing."""
    medium = make_medium(kit)
    seed_double_click_values(kit)
    touch = kit.spawn_zdrive("window", "Halvern Driver", "Halvern")
    kit.wait_line(touch, "window ready", timeout=20)
    wizard = Wizard(kit, medium)
    box = kit.zdrive("msgbox", 20000)
    expect_equal(box, ['msgbox caption="Halvern Driver" '
                       'text="Halvern Driver Already Install , Please Uninstall Before Setup !!"'],
                 "setup's message")
    kit.screenshot("touch-running")
    if kit.zdrive("find", DIALOG, TITLE, 200, expect_ok=False) != ["no window"]:
        raise AssertionError("a setup page is shown beside the message")
    kit.zdrive("answer", 1, 5000)
    expect_equal(wizard.exit_code(), 1, "setup's exit code")
    expect_nothing_installed(kit, "setup refused")
    if "Zavir" in (kit.machine.reg_query(RUN_KEY) or {}):
        raise AssertionError("setup refused but wrote the Run value")
    mouse = kit.machine.reg_query(MOUSE_KEY)
    expect_equal(mouse["DoubleClickSpeed"], ("REG_SZ", "400"), "double-click speed untouched")
    kit.machine.end(touch)


def setup_over_a_running_loader(kit):
    """The loader runs for the whole session from the system directory:
    the welcome page's Next asks it to end and puts the medium's copy in
    its place, where a copy onto the running program would fail."""
    system = kit.machine.c_drive("windows", "system32")
    shutil.copy(kit.exe("STARTVXD.EXE"), system)
    loader = kit.machine.spawn([os.path.join(system, "STARTVXD.EXE")])
    kit.zdrive("waitpipe", 20000, timeout=50)
    medium = make_medium(kit)
    wizard = Wizard(kit, medium)
    run_to_page(wizard, "port")
    kit.wait_for("the loader to end", lambda: loader.poll() is not None, timeout=30)
    if read_bytes(system_file(kit, "STARTVXD.EXE")) != read_bytes(
            os.path.join(medium, "STARTVXD.EXE")):
        raise AssertionError("the running loader's file was not replaced")
    wizard.click(CANCEL)
    expect_equal(wizard.exit_code(), 0, "exit code after Cancel")


CASES = {f.__name__: f for f in (setup_full_install, setup_cancel_on_clean_system,
                                 setup_cancel_keeps_earlier_install,
                                 setup_refuses_while_touch_runs, setup_over_a_running_loader)}


# ---------------------------------------------------------------- demo

def demo_setup(demo):
    """The setup wizard through all its pages, leaving the suite installed.

    COM1 at 9600 baud as the wizard proposes, which is where the simulated
    controller is; a screenshot of each page."""
    def shot(step):
        demo.screenshot("setup-" + step)
    install_through_every_page(demo.kit, shots=shot, choose=False, own_ports=False)
    print("    setup installed the suite: settings in %s, programs in %s\\ZAVIR; "
          "Reboot ended setup" % (SETTINGS_KEY, programs_folder(demo.kit)), flush=True)
    # Wine's restart runs the Run entry at once; the demo's medium has no
    # working loader, so that TOUCH.EXE finds no driver yet and says so.
    box = demo.kit.zdrive("answer", 1, 10000, timeout=60, expect_ok=False)
    if box and box[0].startswith("msgbox"):
        print("    the restart started TOUCH.EXE before any driver was there: %s (answered)"
              % box[0], flush=True)


DEMO_STEPS = [demo_setup]
