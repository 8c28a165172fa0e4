// The calibration tool's entry: the program's hidden window, then the
// calibration screen as a modal dialog without owner.
#include <windows.h>

#include "resource.h"
#include "screen.h"

namespace {

const char kClassName[] = "Halvern XR TruePos 1.10";
const char kWindowTitle[] = "Halvern XR TruePos";

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
    (void)previous;
    (void)commandLine;
    (void)showCommand;
    ResetCalibrationState();

    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = 0;
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_TRUEPOS));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExA(&wc)) return 0;

    // Never shown; it only gives the process its top-level window.
    CreateWindowExA(0, kClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, -1000, -1000, -1000, -1000,
                    NULL, NULL, instance, NULL);

    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CALIBRATION), NULL, CalibrationDialogProc, 0);
    // The dialog closes the driver on OK and Cancel; any other end leaves
    // it to be closed here.
    CloseZavirDriver(&g_screen.driver);
    return 0;
}
