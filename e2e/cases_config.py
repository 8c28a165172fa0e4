"""The settings viewer CONFIG.EXE under Wine: what a user reads in it."""
import cases
from cases import expect_equal

DIALOG, TITLE = "#32770", "Halvern XR Settings"
REPORT, CLOSE = 1080, 1081
SETTINGS_KEY = "HKLM\\software\\corvale\\zavir"


def open_viewer(kit):
    proc = kit.machine.spawn([kit.exe("CONFIG.EXE")])
    lines = kit.zdrive("waitpage", DIALOG, TITLE, 30000, REPORT, CLOSE, timeout=60)
    report = [line for line in lines if line.startswith("control id=%d " % REPORT)]
    expect_equal(len(report), 1, "the report control")
    return proc, report[0]


def close_viewer(kit, proc):
    kit.zdrive("click", DIALOG, TITLE, CLOSE)
    kit.wait_for("CONFIG.EXE to end", lambda: proc.poll() is not None, timeout=30)
    expect_equal(proc.returncode, 0, "CONFIG.EXE's exit code")


def expect_in(text, part, what):
    if part not in text:
        raise AssertionError("%s: %r not in %r" % (what, part, text))


def config_shows_stored_settings(kit):
    """The stored values with their meanings, read only."""
    kit.machine.reg_add(SETTINGS_KEY, "LeftUpX", "REG_DWORD", 0xFFFFFFFD)
    kit.machine.reg_add(SETTINGS_KEY, "ComPort", "REG_DWORD", 2)
    before = kit.machine.reg_query(SETTINGS_KEY)
    proc, report = open_viewer(kit)
    expect_in(report, "software\\corvale\\zavir (read only)", "report heading")
    expect_in(report, "LeftUpX\t-3\traw X at the upper-left corner", "stored value")
    expect_in(report, "LeftUpY\tmissing", "missing value")
    kit.screenshot("viewer")
    close_viewer(kit, proc)
    expect_equal(kit.machine.reg_query(SETTINGS_KEY), before, "settings after viewing")


def config_without_settings(kit):
    """A machine without the suite is told so plainly."""
    proc, report = open_viewer(kit)
    expect_in(report, "software\\corvale\\zavir is missing", "report without settings")
    expect_in(report, "run SETUP.EXE", "advice without settings")
    close_viewer(kit, proc)
    expect_equal(kit.machine.reg_query(SETTINGS_KEY), None, "settings key after viewing")


CASES = {f.__name__: f for f in (config_shows_stored_settings, config_without_settings)}
