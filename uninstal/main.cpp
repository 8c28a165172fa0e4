// Start-up of the uninstaller: the hidden window every program of the
// suite keeps, then dialog 114, which does the removal while it initialises
// and ends before it is ever shown.
#include <windows.h>

#include "resource.h"
#include "uninstal.h"

namespace {

const char kClassName[] = "Halvern XR Uninstall 1.10";
const char kWindowTitle[] = "Halvern XR Uninstall";

HINSTANCE g_instance;

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

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
    g_instance = instance;

    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = 0;
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = g_instance;
    wc.hIcon = LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_UNINSTAL));
    wc.hIconSm = LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_UNINSTAL));
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExA(&wc)) return 0;

    // Never shown and never used again; it only marks the running program.
    CreateWindowExA(0, kClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, -1000, -1000, -1000, -1000,
                    NULL, NULL, g_instance, NULL);

    DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_UNINSTAL), NULL, UninstallDialogProc, 0);
    return 0;
}
