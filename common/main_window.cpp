#include "main_window.h"

namespace {

const WORD kProgramIcon = 101;

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

BOOL RegisterMainWindowClass(HINSTANCE instance, const char* className) {
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = 0;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kProgramIcon));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszClassName = className;
    return RegisterClassExA(&wc) != 0;
}

HWND CreateHiddenMainWindow(HINSTANCE instance, const char* className, const char* title) {
    return CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, -1000, -1000, -1000, -1000,
                           NULL, NULL, instance, NULL);
}
