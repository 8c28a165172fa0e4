#!/usr/bin/env python3
"""The suite's life under Wine, step by step, with screenshots.

  e2e/demo.py [--build DIR] [--no-build]

Builds the x64 programs (unless --no-build), starts a virtual display and
a fresh Wine machine whose COM1 is the simulated controller, then runs the
steps in STEPS in the order of a life of the suite.  A step whose program
is not built yet says so and is skipped; each program adds its step where
the life of the suite puts it.  Screenshots go to DIR/screenshots/demo-*.png.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import cases  # noqa: E402
import harness  # noqa: E402

# Programs and packages the demo needs on the Linux side.
TOOLS = {"Xvfb": "xvfb", "import": "imagemagick", "x86_64-w64-mingw32-g++": "mingw-w64",
         "cmake": "cmake"}


def say(text):
    print(text, flush=True)


class Demo:
    def __init__(self, build):
        self.build = build
        self.bin = os.path.join(build, "bin")
        self.work = os.path.join(build, "demo")
        self.shots = os.path.join(build, "screenshots")
        self.display = None
        self.kit = None
        self.controller = None
        self.shot_count = 0

    def built(self, exe):
        return os.path.exists(os.path.join(self.bin, exe))

    def screenshot(self, what):
        self.shot_count += 1
        path = self.kit.machine.screenshot("demo-%02d-%s" % (self.shot_count, what))
        say("    screenshot %s" % os.path.relpath(path, SOURCE))


# ---------------------------------------------------------------- steps

def prepare(demo):
    """A virtual display, a fresh Wine machine, COM1 on the simulator."""
    number = os.environ.get("ZAVIR_E2E_DISPLAY")
    demo.display = harness.Display(int(number.lstrip(":")) if number else None,
                                   os.path.join(demo.work, "xvfb.log")).start()
    say("    display %s" % demo.display.name)
    root = os.environ.get("ZAVIR_E2E_WINE_ROOT") or os.path.join(demo.work, "wine")
    template = harness.make_template(os.path.join(root, "template"), demo.display.name,
                                     log=lambda t: say("    " + t))
    demo.kit = cases.Kit(demo.bin, os.path.join(root, "demo"), template, demo.display.name,
                         demo.shots, "demo", log=lambda t: None)
    demo.controller = demo.kit.pty(baud=9600)
    demo.kit.machine.map_com_ports({1: demo.controller.path},
                                   serialcomm={"\\Device\\Serial0": "COM1"})
    say("    COM1 is the simulated controller on %s" % demo.controller.path)
    demo.screenshot("empty-desktop")


def driver_stand_in(demo):
    """The driver stand-in serves the programs in place of the kernel driver."""
    demo.kit.start_emu("zaviremu.log")
    say("    ZAVIREMU.EXE listening; its request log is C:\\zaviremu.log")


def not_yet(exe, what):
    def step(demo):
        if demo.built(exe):
            say("    %s is built; its demo step is still to be written" % exe)
        else:
            say("    %s is not built yet: %s skipped" % (exe, what))
    step.__doc__ = "%s (%s)" % (what[0].upper() + what[1:], exe)
    return step


def summary(demo):
    """What the stand-in saw."""
    log = demo.kit.emu_log()
    say("    %d requests reached the stand-in; the last ones:" % len(log))
    for line in log[-3:]:
        say("      " + line)


def program_steps(module, exe, what, fallback=None):
    """The steps a program's case module gives the demo, else a note (or
    the fallback step) while they are still to be written."""
    steps = cases.DEMO_STEPS.get(module)
    if steps:
        return steps
    return [fallback] if fallback else [not_yet(exe, what)]


# The life of the suite, in order.
STEPS = ([prepare]
         + program_steps("cases_setup", "SETUP.EXE", "the setup wizard through all its pages")
         + [driver_stand_in]
         + program_steps("cases_touch", "TOUCH.EXE",
                         "the touch service forwarding the controller's packets")
         + program_steps("cases_truepos", "TRUEPOS.EXE",
                         "a calibration with four simulated touches and OK")
         + program_steps("cases_config", "CONFIG.EXE",
                         "the touch test and the controller finder")
         + program_steps("cases_uninstal", "UNINSTAL.EXE", "the uninstaller")
         + [summary])


def check_tools():
    missing = sorted({pkg for tool, pkg in TOOLS.items() if not shutil.which(tool)})
    if not os.path.exists(harness.WINE):
        missing.append("wine64")
    return missing


def build(build_dir):
    say("building the x64 programs")
    subprocess.run(["cmake", "--preset", "win64"], cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "win64"], cwd=SOURCE, check=True,
                   stdout=subprocess.DEVNULL)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build", "win64"))
    parser.add_argument("--no-build", action="store_true")
    args = parser.parse_args(argv)
    missing = check_tools()
    if missing:
        say("missing Debian packages: %s" % " ".join(missing))
        return 2
    if not args.no_build:
        build(args.build)
    demo = Demo(os.path.abspath(args.build))
    os.makedirs(demo.work, exist_ok=True)
    started = time.monotonic()
    try:
        for number, step in enumerate(STEPS, 1):
            say("step %d: %s" % (number, (step.__doc__ or step.__name__).strip().split("\n")[0]))
            step(demo)
    except Exception as error:
        say("demo failed: %s" % error)
        return 1
    finally:
        if demo.kit:
            demo.kit.close()
        if demo.display:
            demo.display.stop()
    say("demo done in %.0f s; screenshots in %s" % (time.monotonic() - started,
                                                    os.path.relpath(demo.shots, SOURCE)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
