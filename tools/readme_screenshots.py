#!/usr/bin/env python3
"""Copies the dialogs that the end-to-end cases photographed under Wine into
docs/screenshots/ for the README, cut to the dialog (the Xvfb desktop
around it is black).  Run after `ctest --preset win64 -L e2e`."""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHOTS = os.path.join(ROOT, "build", "win64", "screenshots")
DOCS = os.path.join(ROOT, "docs", "screenshots")

# picture -> (case screenshot, ImageMagick options before the trim)
PICTURES = {
    "touch-status-window": ("touch_status_window-1-starting.png", ["-crop", "400x240+312+264"]),
    "touch-no-driver-message": ("touch_without_driver-no-driver-message.png", []),
    "truepos-target-stage": ("truepos_calibrate_ok-target-stage.png", ["-resize", "50%"]),
    "truepos-review-stage": ("truepos_calibrate_ok-review-stage.png", ["-resize", "50%"]),
    "setup-121-welcome": ("setup_full_install-121-welcome.png", []),
    "setup-122-port": ("setup_full_install-122-port-chosen.png", []),
    "setup-124-right-button": ("setup_full_install-124-rightbutton.png", []),
    "setup-114-summary": ("setup_full_install-114-summary.png", []),
    "setup-125-installation": ("setup_full_install-125-install.png", []),
    "setup-touch-running-message": ("setup_refuses_while_touch_runs-touch-running.png", []),
    "config-viewer": ("config_shows_stored_settings-viewer.png", []),
    "config-finder": ("config_finder_names_and_stores_the_clean_setting-finder.png", []),
    "config-touch-test": ("config_touch_test_marks_each_touch-touch-test.png", ["-resize", "50%"]),
}


def main():
    os.makedirs(DOCS, exist_ok=True)
    missing = []
    for name, (shot, options) in sorted(PICTURES.items()):
        source = os.path.join(SHOTS, shot)
        if not os.path.exists(source):
            missing.append(shot)
            continue
        trim = [] if "-resize" in options else ["-bordercolor", "black", "-border", "1", "-trim"]
        subprocess.run(["convert", source] + options + ["+repage"] + trim +
                       ["+repage", os.path.join(DOCS, name + ".png")], check=True)
        print("docs/screenshots/%s.png" % name)
    if missing:
        print("not photographed yet (run the e2e cases): " + ", ".join(missing))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
