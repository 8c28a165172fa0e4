#!/usr/bin/env python3
"""Start-up time of TOUCH.EXE and TRUEPOS.EXE: from the program's start to
its first window (or message box) on the screen, for each way the driver
can be found under Wine.

  e2e/bench_startup.py [--build DIR] [--runs N]

Paths: the driver stand-in serving; the stand-in busy (every instance of
its pipe taken); the loader STARTVXD.EXE in the system directory with
nothing serving yet; nothing at all; and Windows 98 as Wine reports it to
the program, with a stand-in serving that it must not use.  A kernel
driver can't be loaded under Wine, so that path is not here.  Each run
gets a fresh Wine machine; ZDRIVE starts the program and times it inside
Wine.  Needs the x64 build (cmake --build --preset win64).  Figures only:
nothing here passes or fails on them.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import cases  # noqa: E402
import cases_touch  # noqa: E402


def serving(kit):
    kit.start_emu()


def busy(kit):
    kit.start_emu()
    hog = kit.spawn_zdrive("hogpipe", stdin=subprocess.PIPE)
    kit.wait_line(hog, "holding", timeout=30)
    if "busy=1" not in kit.output_of(hog)[-1]:
        return "the stand-in never turned a client away: %s" % kit.output_of(hog)[-1]
    return None


def loader(kit):
    shutil.copy(kit.exe("STARTVXD.EXE"), kit.machine.c_drive("windows", "system32"))


def nothing(kit):
    pass


def windows_98(kit, program):
    kit.start_emu()
    kit.machine.reg_add(r"HKCU\Software\Wine\AppDefaults\%s" % program, "Version", "REG_SZ",
                        "win98")


PATHS = [
    ("stand-in serving", serving),
    ("stand-in busy", busy),
    ("loader to be started", loader),
    ("nothing at all", nothing),
    ("Windows 98, no driver", windows_98),
]
PROGRAMS = ["TOUCH.EXE", "TRUEPOS.EXE"]


def one_run(args, display, template, program, prepare):
    kit = cases.Kit(args.bin, os.path.join(args.root, "bench_startup"), template, display,
                    args.screenshots, "bench_startup", log=lambda text: None)
    try:
        if program == "TOUCH.EXE":
            cases_touch.service_machine(kit, stand_in=False)
        problem = prepare(kit, program) if prepare is windows_98 else prepare(kit)
        if problem:
            return None, problem
        lines = kit.zdrive("firstwindow", kit.machine.windows_path(kit.exe(program)), 30000,
                           timeout=60, expect_ok=False)
        match = re.match(r"first window after (\d+) ms class=\"([^\"]*)\" title=\"([^\"]*)\"",
                         lines[-1] if lines else "")
        if not match:
            return None, "no window: %s" % lines
        return int(match.group(1)), "%s \"%s\"" % (match.group(2), match.group(3))
    finally:
        kit.close()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=3)
    with cases.bench_machines(parser, argv) as (args, display, template):
        print("first window after the start, ms (median / max of %d runs)" % args.runs)
        for path, prepare in PATHS:
            for program in PROGRAMS:
                times, what = [], ""
                for _ in range(args.runs):
                    ms, what = one_run(args, display, template, program, prepare)
                    if ms is None:
                        break
                    times.append(ms)
                if times:
                    print("%-24s %-12s %5d / %5d   %s" % (path, program, statistics.median(times),
                                                         max(times), what), flush=True)
                else:
                    print("%-24s %-12s not produced: %s" % (path, program, what), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
