// The calibration screen: one full-screen modal dialog that shows four
// targets in turn, takes the driver's raw position after each lifted
// finger and then lets the user keep, repeat or drop the result.
#ifndef TRUEPOS_SCREEN_H
#define TRUEPOS_SCREEN_H

#include <windows.h>

#include "calibration.h"
#include "zavir.h"

struct CalibrationScreen {
    ZavirDriver driver;   // open from the dialog's start to OK or Cancel
    ZavirOpening opening; // while waiting for the stand-in to serve
    BOOL waiting;         // the driver is not open yet: no target is shown
    LONG acquiring;       // 1 while releases are taken as readings
    LONG stage;           // readings taken in the current attempt, 0 to 4
    BOOL pointerHidden;   // our one hide of the pointer is in force
    int width, height;    // screen size, read when the dialog starts
    char displayText[64];
};

// Where one control goes for a given screen size (its top-left corner, in
// pixels; the dialog's client area is the whole screen).
struct ControlPlacement {
    int id;
    int x;
    int y;
};
enum { kPlacedControlCount = 17 };
void ComputeLayout(int width, int height, ControlPlacement placements[kPlacedControlCount]);

// The process-wide state, all zero at program start.
extern CalibrationScreen g_screen;
extern CalibrationValues g_values;
void ResetCalibrationState();

INT_PTR CALLBACK CalibrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
