// CONFIG.EXE: shows the suite's stored settings, read only.
#include <windows.h>

#include "report.h"
#include "resource.h"

namespace {

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            static char report[REPORT_SIZE];
            BuildSettingsReport(report);
            // Columns: name, value, meaning (tab stops in dialog units).
            static const INT kTabStops[2] = {52, 96};
            SendDlgItemMessageA(dialog, IDC_REPORT, EM_SETTABSTOPS, 2, (LPARAM)kTabStops);
            SetDlgItemTextA(dialog, IDC_REPORT, report);
            // Focus on Close rather than on the text, which would show it
            // all selected.
            SetFocus(GetDlgItem(dialog, IDC_CLOSE));
            return FALSE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_CLOSE || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
            return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONFIG), NULL, ConfigDialogProc, 0);
    return 0;
}
