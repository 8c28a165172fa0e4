"""End-to-end cases of the setup medium: the start-up loader standing in
for the kernel driver, and the medium folder's SETUP.EXE installing a
suite that works after the restart."""
import os
import shutil
import subprocess
import time

import cases
import cases_setup
import cases_standin
import cases_touch
import harness
import zavirsim
from cases import expect_equal
from cases_setup import DIALOG, NEXT, REBOOT, STATUS

MEDIUM_PROGRAMS = ("SETUP.EXE", "TOUCH.EXE", "TRUEPOS.EXE", "UNINSTAL.EXE", "CONFIG.EXE",
                   "STARTVXD.EXE")
LOADER_WINDOW = "Halvern XR Loader"
WM_CLOSE, WM_ENDSESSION, ENDSESSION_LOGOFF = 0x0010, 0x0016, 0x80000000
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
RUN_SERVICES_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\RunServices"


def medium_folder(kit):
    """The laid-out medium next to the programs (build/win64/medium)."""
    folder = os.path.join(os.path.dirname(kit.bin_dir), "medium")
    missing = [n for n in MEDIUM_PROGRAMS if not os.path.exists(os.path.join(folder, n))]
    if missing:
        raise AssertionError("the medium lacks %s (build the medium target)" % missing)
    return folder


def programs_running(kit):
    """The .EXE names of the machine's running processes, upper case."""
    names = []
    for pid in kit.machine.leftover_processes():
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                args = f.read().decode("utf-8", "replace").split("\0")
        except OSError:
            continue
        for arg in args:
            base = arg.replace("\\", "/").rsplit("/", 1)[-1].upper()
            if base.endswith(".EXE"):
                names.append(base)
                break
    return names


def install_from_medium(kit, shot=None):
    """Copies the medium into the machine and runs its SETUP.EXE from there
    through every page with the choices it offers; Reboot at the end.  In
    the release's machine (ZAVIR_E2E_FLOPPY, where its floppy is mounted)
    the floppy is drive A: and setup is A:\\SETUP.EXE.  Returns the medium's
    Linux path."""
    medium = os.environ.get("ZAVIR_E2E_FLOPPY")
    if medium:
        os.symlink(medium, os.path.join(kit.machine.prefix, "dosdevices", "a:"))
        wizard = cases_setup.Wizard(kit, medium, shots=shot, program="A:\\SETUP.EXE")
    else:
        medium = kit.machine.c_drive("MEDIUM")
        shutil.copytree(medium_folder(kit), medium)
        wizard = cases_setup.Wizard(kit, medium, shots=shot)
    wizard.wait_page("welcome")
    for page in ("port", "rightbutton", "summary"):
        wizard.screenshot(wizard.page)
        wizard.go(NEXT, page)
    wizard.screenshot(wizard.page)
    wizard.click(NEXT)
    kit.wait_for("the installation to finish", lambda: wizard.wait_page("install")
                 and wizard.text(STATUS) == "Installation Driver OK !!"
                 and wizard.controls[REBOOT]["enabled"], timeout=60)
    wizard.screenshot("install")
    wizard.click(REBOOT)
    expect_equal(wizard.exit_code(), 0, "setup's exit code after Reboot")
    return medium


def startup_entries(kit):
    """The programs the RunServices and Run entries start, from their
    quoted command lines."""
    run = (kit.machine.reg_query(RUN_KEY) or {}).get("Zavir")
    services = (kit.machine.reg_query(RUN_SERVICES_KEY) or {}).get("Zavir")
    if not run or not services:
        raise AssertionError("start-up entries missing: Run %r, RunServices %r" % (run, services))
    for _, command in (run, services):
        if len(command) < 2 or command[0] != '"' or command[-1] != '"':
            raise AssertionError("start-up entry not quoted: %r" % command)
    return services[1][1:-1], run[1][1:-1]


def restart_windows(kit):
    """The restart Reboot asked for: a new Wine session on the same machine.
    Wine's start of a session runs the RunServices entries, as Windows 9x
    does before log-on, so the loader comes up by itself; the Run entry
    (the log-on's part, which Wine's session start leaves out) is started
    here from its registry value.  Returns the Run entry's process."""
    loader, touch = startup_entries(kit)
    kit.machine.restart()
    kit.zdrive("waitpipe", 30000, timeout=60)
    running = programs_running(kit)
    if "STARTVXD.EXE" not in running:
        raise AssertionError("the pipe is served, but not by the loader: %r" % running)
    touch_proc = kit.machine.spawn([touch])
    kit.zdrive("find", "Halvern Driver", "Halvern", 20000, timeout=50)
    return touch_proc


def touches_reach_a_window(kit, controller, shot=None):
    """Touches on COM1 reach a full-screen test window as button messages
    (through TOUCH and whatever serves the driver)."""
    # The status window hides itself on TOUCH's tenth tick.
    kit.wait_for("TOUCH's status window to hide", lambda: kit.zdrive(
        "find", DIALOG, "Halvern XR Driver", 0, expect_ok=False)[0].endswith("visible=0"),
        timeout=30)
    kit.spawn_zdrive("testwindow", "C:\\window.log")
    kit.wait_for("the test window", lambda: os.path.exists(kit.machine.c_drive("window.log"))
                 and "ready" in kit.text_file("window.log"))
    centre = (cases.SCREEN_W // 2, cases.SCREEN_H // 2)
    corner = (cases.SCREEN_W - 1, cases.SCREEN_H - 1)
    controller.write(zavirsim.touch_packet(512, 512))
    kit.wait_for("a button-down at the centre",
                 lambda: "down %d %d" % centre in kit.text_file("window.log"), timeout=20)
    controller.write(zavirsim.touch_packet(1024, 1024))
    kit.wait_for("a move to the corner",
                 lambda: "move %d %d" % corner in kit.text_file("window.log"), timeout=20)
    if shot:
        shot("touched")
    controller.write(zavirsim.RELEASE)
    kit.wait_for("the button-up", lambda: kit.text_file("window.log")[-1].startswith("up"),
                 timeout=20)
    log = kit.text_file("window.log")
    return [e for e in log[log.index("down %d %d" % centre):]
            if not e.startswith("move") or e == "move %d %d" % corner]


# ---------------------------------------------------------------- cases

def startvxd_stands_in_for_the_driver(kit):
    """Without a kernel driver to load, STARTVXD serves the driver's
    requests itself; a second STARTVXD, or a ZAVIREMU, finds the pipe
    taken and ends at once; STARTVXD ends when its user asks."""
    loader = kit.machine.spawn([kit.exe("STARTVXD.EXE")])
    kit.zdrive("waitpipe", 20000, timeout=50)
    lines = kit.zdrive("session", "corners", 0, 0, 1024, 0, 1024, 1024, 0, 1024,
                       "packet", *cases.packet_words(300, 700), "packet", *cases.RELEASE_WORDS,
                       "rawpos")
    expect_equal(lines[0], "open standin=1", "connection")
    expect_equal(cases.session_output(lines, "rawpos"), ["rawpos ok=1 300 700"], "raw position")
    second = kit.machine.wine([kit.exe("STARTVXD.EXE")], timeout=30)
    expect_equal(second.returncode, 0, "a second loader's exit code")
    emu = kit.machine.wine([kit.exe("ZAVIREMU.EXE")], timeout=30)
    expect_equal(emu.returncode, 4, "ZAVIREMU's exit code beside the loader")
    if not harness.is_running(loader.pid):
        raise AssertionError("the first loader ended")
    lines = kit.zdrive("session", "packet", *cases.packet_words(5, 6), "packet",
                       *cases.RELEASE_WORDS, "rawpos")
    expect_equal(cases.session_output(lines, "rawpos"), ["rawpos ok=1 5 6"],
                 "the first loader still serves")
    # By now the loader has made its end event too.
    cases_standin.expect_own_security(kit, ["security", "mutex", "event"])
    # Any program can send it these; the system doesn't confirm a session
    # end (Wine never does), so it serves on.
    for message, wparam, lparam in ((WM_ENDSESSION, 1, ENDSESSION_LOGOFF),
                                    (WM_ENDSESSION, 0, 0), (WM_ENDSESSION, 1, 0),
                                    (WM_CLOSE, 0, 0)):
        kit.zdrive("send", LOADER_WINDOW, LOADER_WINDOW, message, wparam, lparam)
    lines = kit.zdrive("session", "rawpos")
    expect_equal(cases.session_output(lines, "rawpos"), ["rawpos ok=1 5 6"],
                 "the loader after messages any program can send")
    kit.zdrive("find", LOADER_WINDOW, LOADER_WINDOW, 0)  # its window too
    # Its user's end event ends it, and a touch still down then is let go.
    cases_standin.start_window(kit)
    held = kit.spawn_zdrive("session", "packet", *cases.packet_words(512, 512), "hold",
                            stdin=subprocess.PIPE)
    kit.wait_for("the touch held", lambda: "holding" in kit.output_of(held))
    cases_standin.wait_window_event(kit, "down 512 384")
    kit.zdrive("endloader")
    kit.wait_for("the loader to end", lambda: loader.poll() is not None, timeout=30)
    expect_equal(loader.returncode, 0, "the loader's exit code when asked to end")
    cases_standin.wait_window_event(kit, "up 512 384")
    held.kill()

    # Two loaders started at the same moment: one serves, the other ends.
    pair = [kit.machine.spawn([kit.exe("STARTVXD.EXE")]) for _ in range(2)]
    kit.wait_for("one of two loaders to end", lambda: any(p.poll() is not None for p in pair),
                 timeout=30)
    kit.zdrive("waitpipe", 20000, timeout=50)
    lines = kit.zdrive("session", "packet", *cases.packet_words(7, 8), "packet",
                       *cases.RELEASE_WORDS, "rawpos")
    expect_equal(cases.session_output(lines, "rawpos"), ["rawpos ok=1 7 8"], "one of two loaders")
    expect_equal(sorted(p.poll() is None for p in pair), [False, True], "loaders left serving")


def medium_installs_a_working_suite(kit):
    """SETUP.EXE from a copy of the medium folder, every page, Reboot; after
    the restart the RunServices entry's STARTVXD stands in for the driver
    and TOUCH, started from the program folder as the Run entry names it,
    turns touches on COM1 into a window's button messages."""
    controller = kit.pty(baud=9600)
    kit.machine.map_com_ports({1: controller.path}, serialcomm={"\\Device\\Serial0": "COM1"})
    install_from_medium(kit, shot=lambda step: kit.screenshot("setup-" + step))
    loader, touch = startup_entries(kit)
    expect_equal(loader.upper(), "C:\\WINDOWS\\SYSTEM32\\STARTVXD.EXE", "RunServices entry")
    if not touch.upper().endswith("\\ZAVIR\\TOUCH.EXE"):
        raise AssertionError("Run entry %r" % touch)
    # The medium carries no ZAVIR.VXD: setup's copy of it failed silently.
    system = kit.machine.c_drive("windows", "system32")
    copied = sorted(n for n in os.listdir(system) if n.upper() in ("ZAVIR.VXD", "STARTVXD.EXE"))
    expect_equal(copied, ["STARTVXD.EXE"], "setup's files in the system directory")
    for name in ("TOUCH.EXE", "TRUEPOS.EXE", "UNINSTAL.EXE", "CONFIG.EXE"):
        if not cases_setup.linux_path(kit, touch[:-len("TOUCH.EXE")] + name):
            raise AssertionError("%s not in the program folder" % name)
    restart_windows(kit)
    running = programs_running(kit)
    for name in ("STARTVXD.EXE", "TOUCH.EXE"):
        expect_equal(running.count(name), 1, "%s processes after the restart %r" % (name, running))
    events = touches_reach_a_window(kit, controller, shot=kit.screenshot)
    centre = (cases.SCREEN_W // 2, cases.SCREEN_H // 2)
    corner = (cases.SCREEN_W - 1, cases.SCREEN_H - 1)
    expect_equal(events, ["down %d %d" % centre, "move %d %d" % corner, "up %d %d" % corner],
                 "button and move messages the window received")


def start_touch_timed(kit):
    """TOUCH.EXE started; returns it and the seconds until its status
    window showed, which is after its driver open."""
    watch = cases_touch.watch_status_window(kit)
    started = time.monotonic()
    touch = cases_touch.start_touch(kit)
    # The watch's own time-out says "timeout never shown": match the line.
    kit.wait_for("TOUCH's status window shown", lambda: watch.poll() is not None
                 or "shown" in kit.output_of(watch), timeout=90)
    if "shown" not in kit.output_of(watch):
        raise AssertionError("TOUCH's status window: %s" % kit.output_of(watch))
    return touch, time.monotonic() - started


def touch_starts_the_loader(kit):
    """Windows 2000 and later never run the RunServices entry: with
    STARTVXD.EXE in the system directory and nothing serving the driver's
    pipe, TOUCH starts the loader itself and touches on COM1 reach a
    window.  The loader serves on after TOUCH ends, and the next TOUCH
    uses it without starting another."""
    controller = cases_touch.service_machine(kit, stand_in=False)
    shutil.copy(kit.exe("STARTVXD.EXE"), kit.machine.c_drive("windows", "system32"))
    expect_equal(kit.zdrive("waitpipe", 0, expect_ok=False), ["pipe missing"],
                 "the pipe before TOUCH")
    expect_equal(programs_running(kit).count("STARTVXD.EXE"), 0, "loaders before TOUCH")
    touch, first = start_touch_timed(kit)
    kit.log("status window shown %.2f s after TOUCH started, starting the loader" % first)
    expect_equal(programs_running(kit).count("STARTVXD.EXE"), 1, "loaders TOUCH started")
    events = touches_reach_a_window(kit, controller, shot=kit.screenshot)
    centre = (cases.SCREEN_W // 2, cases.SCREEN_H // 2)
    corner = (cases.SCREEN_W - 1, cases.SCREEN_H - 1)
    expect_equal(events, ["down %d %d" % centre, "move %d %d" % corner, "up %d %d" % corner],
                 "button and move messages the window received")

    kit.machine.end(touch)
    lines = kit.zdrive("session", "packet", *cases.packet_words(5, 6), "packet",
                       *cases.RELEASE_WORDS, "rawpos")
    expect_equal(lines[0], "open standin=1", "connection after TOUCH ended")
    expect_equal(cases.session_output(lines, "rawpos"), ["rawpos ok=1 5 6"],
                 "the loader after TOUCH ended")
    touch, second = start_touch_timed(kit)
    kit.log("status window shown %.2f s after TOUCH started, the loader serving" % second)
    expect_equal(programs_running(kit).count("STARTVXD.EXE"), 1, "loaders after TOUCH's restart")
    kit.machine.end(touch)


def touch_on_windows_98_wants_its_driver(kit):
    """On Windows 98 (as Wine reports it to TOUCH and TRUEPOS) only the
    kernel driver will do: without it each says so at once, though a
    stand-in serves and the loader is in the system directory; neither uses
    the one nor starts the other."""
    cases_touch.service_machine(kit)
    shutil.copy(kit.exe("STARTVXD.EXE"), kit.machine.c_drive("windows", "system32"))
    for program in ("TOUCH.EXE", "TRUEPOS.EXE"):
        kit.machine.reg_add(r"HKCU\Software\Wine\AppDefaults\%s" % program, "Version",
                            "REG_SZ", "win98")
    first = kit.zdrive("firstwindow", kit.machine.windows_path(kit.exe("TOUCH.EXE")), 30000,
                       timeout=60)
    kit.log("TOUCH's first window: %s" % first)
    cases_touch.answer_box(kit, "Load VXD Message", "Cannot Load ZAVIR.VXD", "win98-no-driver")
    kit.wait_for("TOUCH to end", lambda: "TOUCH.EXE" not in programs_running(kit), timeout=20)
    truepos = kit.machine.spawn([kit.exe("TRUEPOS.EXE")])
    cases_touch.answer_box(kit, "Load VXD Message", "Cannot Load ZAVIR.VXD",
                           "win98-truepos-no-driver")
    kit.wait_for("TRUEPOS to end", lambda: truepos.poll() is not None, timeout=30)
    expect_equal(truepos.returncode, 0, "TRUEPOS's exit code")
    expect_equal(programs_running(kit).count("STARTVXD.EXE"), 0, "loaders started")
    expect_equal(kit.emu_log(), [], "requests at the stand-in")


CASES = {f.__name__: f for f in (startvxd_stands_in_for_the_driver,
                                 medium_installs_a_working_suite, touch_starts_the_loader,
                                 touch_on_windows_98_wants_its_driver)}
