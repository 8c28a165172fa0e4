// Start-up of the uninstaller: the hidden window every program of the
// suite keeps, then dialog 114, which does the removal while it initialises
// and ends before it is ever shown.
#include <windows.h>

#include "main_window.h"
#include "resource.h"
#include "uninstal.h"

namespace {

const char kClassName[] = "Halvern XR Uninstall 1.10";
const char kWindowTitle[] = "Halvern XR Uninstall";

// Returning FALSE throughout: the dialog sets no focus and handles no
// command, so its buttons are never acted on.
INT_PTR CALLBACK UninstallDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    (void)wParam;
    (void)lParam;
    switch (msg) {
        case WM_INITDIALOG:
            RemoveInstallation();
            EndDialog(dialog, 0);
            break;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    (void)show;
    if (!RegisterMainWindowClass(instance, kClassName)) return 0;
    // Never shown and never used again; it only marks the running program.
    CreateHiddenMainWindow(instance, kClassName, kWindowTitle);

    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UNINSTAL), NULL, UninstallDialogProc, 0);
    return 0;
}
