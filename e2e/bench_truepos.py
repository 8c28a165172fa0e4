#!/usr/bin/env python3
"""Calibration accuracy end to end: how far from the touched point the
pointer lands after a calibration through TRUEPOS.EXE.

  e2e/bench_truepos.py [--build DIR]

For each simulated panel (offset and scaled against the screen; the same
turned by a small angle) a fresh Wine machine runs the driver stand-in and
TOUCH.EXE on COM1 = the simulated controller; TRUEPOS.EXE takes the four
target touches at the panel's raw positions and OK keeps the result.  Then
25 touches on a 5 x 5 grid of screen points (the centres of a 5 x 5 split
of the screen) go through the controller, and a full-screen test window
logs where each button-down lands.  Prints the mean and maximum distance
in pixels between the landing and the touched point, per panel.  Needs the
x64 build (cmake --build --preset win64); ZAVIR_E2E_DISPLAY picks the X
display.  Figures only: nothing here passes or fails on them.
"""
import argparse
import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import cases  # noqa: E402
import cases_truepos as tp  # noqa: E402
from cases import SCREEN_W, SCREEN_H, zavirsim  # noqa: E402

# (screenshot name, what, panel): raw = offset + scale * pixel, turned
# about the screen's centre in the second case.
PANELS = [
    ("scaled", "offset and scale", zavirsim.Panel(offset=(700, 900), scale=(13.5, 18.25))),
    ("turned", "offset, scale, turned 1.5 degrees",
     zavirsim.Panel(offset=(700, 900), scale=(13.5, 18.25), degrees=1.5)),
]


def grid(w=SCREEN_W, h=SCREEN_H, n=5):
    """The centres of an n x n split of the screen, row by row."""
    xs = [(2 * i + 1) * w // (2 * n) for i in range(n)]
    ys = [(2 * j + 1) * h // (2 * n) for j in range(n)]
    return [(x, y) for y in ys for x in xs]


def calibrate(rig, panel):
    """One calibration attempt on the panel's raw positions of the targets,
    kept with OK; returns the corners the tool stored."""
    rig.start_tool()
    rig.attempt([panel.raw(*pixel) for pixel in tp.target_centres()])
    rig.press(tp.IDC_OK)
    rig.wait_tool_exit()
    stored = tp.stored_settings(rig.kit)
    return tuple(stored[name] for name in tp.CORNER_NAMES)


def landings(kit, controller, panel, points):
    """Where the button goes down for a tap on each screen point."""
    kit.spawn_zdrive("testwindow", "C:\\bench.log")
    kit.wait_for("the test window", lambda: os.path.exists(kit.machine.c_drive("bench.log"))
                 and "ready" in kit.text_file("bench.log"), timeout=30)
    landed = []
    for n, point in enumerate(points):
        controller.tap(*panel.raw(*point))
        kit.wait_for("tap %d" % (n + 1), lambda: sum(
            e.startswith("up") for e in kit.text_file("bench.log")) >= n + 1, timeout=30)
        down = [e for e in kit.text_file("bench.log") if e.startswith("down")][-1]
        landed.append(tuple(int(v) for v in down.split()[1:3]))
    return landed


def run_panel(args, display, template, slug, name, panel):
    kit = cases.Kit(args.bin, os.path.join(args.root, "bench_truepos"), template, display,
                    args.screenshots, "bench_truepos", log=lambda text: None)
    try:
        rig = tp.Rig(kit, tp.SEEDED)
        corners = calibrate(rig, panel)
        points = grid()
        landed = landings(kit, rig.controller, panel, points)
        kit.screenshot(slug)
    finally:
        kit.close()
    errors = [math.hypot(lx - x, ly - y) for (x, y), (lx, ly) in zip(points, landed)]
    worst = max(range(len(errors)), key=lambda i: errors[i])
    print("%s: mean %.2f px, max %.2f px (touch at %s landed at %s)" % (
        name, sum(errors) / len(errors), errors[worst], points[worst], landed[worst]), flush=True)
    print("  corners stored: %s" % ", ".join(
        "%s %d" % pair for pair in zip(tp.CORNER_NAMES, corners)))
    print("  largest |dx| %d px, |dy| %d px" % (
        max(abs(lx - x) for (x, _), (lx, _) in zip(points, landed)),
        max(abs(ly - y) for (_, y), (_, ly) in zip(points, landed))))
    return errors


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    with cases.bench_machines(parser, argv) as (args, display, template):
        print("screen %d x %d; grid %s" % (SCREEN_W, SCREEN_H, grid()), flush=True)
        for slug, name, panel in PANELS:
            run_panel(args, display, template, slug, name, panel)
    return 0


if __name__ == "__main__":
    sys.exit(main())
