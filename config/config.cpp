// CONFIG.EXE: shows the suite's stored settings, finds the controller's
// port and rate, and tests the touch against the stored corners.
#include <windows.h>

#include "main_window.h"
#include "pages.h"
#include "report.h"
#include "resource.h"

namespace {

const char kNoTouchText[] =
    "Start TOUCH.EXE first: the touch test needs it.";
const char kNoTouchCaption[] = "Touch Test";

void ShowReport(HWND dialog) {
    static char report[REPORT_SIZE];
    BuildSettingsReport(report);
    SetDlgItemTextA(dialog, IDC_REPORT, report);
}

void OpenPage(HWND dialog, int page, DLGPROC procedure) {
    DialogBoxParamA((HINSTANCE)GetModuleHandleA(NULL), MAKEINTRESOURCEA(page), dialog, procedure,
                    0);
    // The finder may have stored a port and rate.
    ShowReport(dialog);
}

void TestTouch(HWND dialog) {
    if (!FindTouchService()) {
        MessageBoxA(dialog, kNoTouchText, kNoTouchCaption, MB_ICONINFORMATION | MB_OK);
        return;
    }
    OpenPage(dialog, IDD_TOUCH_TEST, TouchTestDialogProc);
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            // Columns: name, value, meaning (tab stops in dialog units).
            static const INT kTabStops[2] = {52, 96};
            SendDlgItemMessageA(dialog, IDC_REPORT, EM_SETTABSTOPS, 2, (LPARAM)kTabStops);
            ShowReport(dialog);
            // Focus on Close rather than on the text, which would show it
            // all selected.
            SetFocus(GetDlgItem(dialog, IDC_CLOSE));
            return FALSE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_FIND: OpenPage(dialog, IDD_FINDER, FinderDialogProc); break;
                case IDC_TEST: TestTouch(dialog); break;
                case IDC_CLOSE:
                case IDCANCEL: EndDialog(dialog, 0); break;
            }
            return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONFIG), NULL, ConfigDialogProc, 0);
    return 0;
}
