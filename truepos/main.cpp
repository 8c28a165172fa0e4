// The calibration tool's entry: the program's hidden window, then the
// calibration screen as a modal dialog without owner.
#include <windows.h>

#include "main_window.h"
#include "resource.h"
#include "screen.h"

namespace {

const char kClassName[] = "Halvern XR TruePos 1.10";
const char kWindowTitle[] = "Halvern XR TruePos";

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
    (void)previous;
    (void)commandLine;
    (void)showCommand;
    ResetCalibrationState();

    if (!RegisterMainWindowClass(instance, kClassName)) return 0;
    // Never shown; it only gives the process its top-level window.
    CreateHiddenMainWindow(instance, kClassName, kWindowTitle);

    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CALIBRATION), NULL, CalibrationDialogProc, 0);
    // The dialog closes the driver on OK and Cancel; any other end leaves
    // it (or an open still waiting) to be let go of here.
    AbandonZavirOpen(&g_screen.opening);
    CloseZavirDriver(&g_screen.driver);
    return 0;
}
