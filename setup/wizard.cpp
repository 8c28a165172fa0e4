// The wizard's entry and frame: the check for a running touch service, the
// hidden window, the page sequence, and the welcome, right-button and
// summary pages.
#include "main_window.h"
#include "resource.h"
#include "setup.h"

TouchSettings Settings;
int PageResult;

namespace {

const char kAlreadyInstalled[] =
    "Halvern Driver Already Install , Please Uninstall Before Setup !!";
const char kSetupClass[] = "Halvern XR Setup 1.10";
const char kSetupTitle[] = "Halvern XR Setup";

// What ends each page and where the wizard goes from there.  A page that
// closed any other way (its template failed to load) ends the program.
struct PageStep {
    int page;
    int result;
    int next;
};
const PageStep kSequence[] = {
    {IDD_WELCOME, kResultNext, IDD_PORT},
    {IDD_WELCOME, kResultCancel, 0},
    {IDD_PORT, kResultNext, IDD_RIGHTBUTTON},
    {IDD_PORT, kResultBack, IDD_WELCOME},
    {IDD_PORT, kResultCancel, 0},
    {IDD_RIGHTBUTTON, kResultNext, IDD_SUMMARY},
    {IDD_RIGHTBUTTON, kResultBack, IDD_PORT},
    {IDD_RIGHTBUTTON, kResultCancel, 0},
    {IDD_SUMMARY, kResultInstall, IDD_INSTALL},
    {IDD_SUMMARY, kResultBack, IDD_RIGHTBUTTON},
    {IDD_SUMMARY, kResultCancel, 0},
    {IDD_INSTALL, kResultInstall, 0},
};

struct IrqText {
    LONG irq;
    const char* text;
};
const IrqText kIrqSuffixes[] = {
    {3, ", IRQ 3"},   {4, ", IRQ 4"},   {5, ", IRQ 5"},   {7, ", IRQ 7"},
    {9, ", IRQ 9"},   {10, ", IRQ 10"}, {11, ", IRQ 11"}, {12, ", IRQ 12"},
    {13, ", IRQ 13"}, {14, ", IRQ 14"}, {15, ", IRQ 15"},
};
const char* const kPortNames[] = {"COM 1", "COM 2", "COM 3", "COM 4"};

DLGPROC ProcOf(int page) {
    switch (page) {
        case IDD_WELCOME: return WelcomePageProc;
        case IDD_PORT: return PortPageProc;
        case IDD_RIGHTBUTTON: return RightButtonPageProc;
        case IDD_SUMMARY: return SummaryPageProc;
        default: return InstallPageProc;
    }
}

void ClosePage(HWND page, int result) {
    PageResult = result;
    EndDialog(page, result);
}

}  // namespace

void ResetSetupState(void) {
    ZeroMemory(&Settings, sizeof Settings);
    ZeroMemory(&Trace, sizeof Trace);
    SystemCopyFailed = FALSE;
    PageResult = kResultNone;
    CheckedPort = CheckedIrq = CheckedBaud = 0;
    ProgramsFolder[0] = '\0';
}

int NextPage(int page, int result) {
    for (size_t i = 0; i < sizeof kSequence / sizeof kSequence[0]; ++i)
        if (kSequence[i].page == page && kSequence[i].result == result) return kSequence[i].next;
    return 0;
}

void RunPages(HINSTANCE instance) {
    int page = IDD_WELCOME;
    while (page != 0) {
        // A page that could not be shown leaves the last page's result
        // behind; going on from it could skip a page, even the summary.
        if (DialogBoxParamA(instance, MAKEINTRESOURCEA(page), NULL, ProcOf(page), 0) == -1) break;
        if (page == IDD_SUMMARY && PageResult == kResultNext) PageResult = kResultInstall;
        page = NextPage(page, PageResult);
    }
}

void FormatPortLine(char* out, LONG comPort, LONG comIrq) {
    // A stored port outside 1-4 has no name here: the port part stays blank
    // and, without a port, no IRQ is shown either.
    const char* port = comPort >= 1 && comPort <= 4 ? kPortNames[comPort - 1] : "";
    wsprintfA(out, "COM Port Setting : %5s", port);
    if (port[0] == '\0') return;
    for (size_t i = 0; i < sizeof kIrqSuffixes / sizeof kIrqSuffixes[0]; ++i)
        if (kIrqSuffixes[i].irq == comIrq) lstrcatA(out, kIrqSuffixes[i].text);
}

void FormatButtonLine(char* out, LONG rightButton) {
    wsprintfA(out, "Right Button Setting : %3s", rightButton == 1 ? " ON" : "OFF");
}

// Only the page buttons end a page: Esc and the close box arrive as
// IDCANCEL and are passed over.
INT_PTR CALLBACK WelcomePageProc(HWND page, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            PageResult = kResultNone;
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_NEXT) {
                PrepareSettings(page);
                ClosePage(page, kResultNext);
            } else if (LOWORD(wParam) == IDC_CANCEL) {
                ClosePage(page, kResultCancel);
            }
            return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK RightButtonPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            PageResult = kResultNone;
            SendDlgItemMessageA(page, IDC_RIGHTBUTTON, BM_SETCHECK, Settings.RightButton == 1, 0);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_RIGHTBUTTON:
                    Settings.RightButton = Settings.RightButton == 1 ? 0 : 1;
                    SendDlgItemMessageA(page, IDC_RIGHTBUTTON, BM_SETCHECK,
                                        Settings.RightButton, 0);
                    break;
                case IDC_NEXT: ClosePage(page, kResultNext); break;
                case IDC_BACK: ClosePage(page, kResultBack); break;
                case IDC_CANCEL:
                    RollBackInstall();
                    ClosePage(page, kResultCancel);
                    break;
            }
            return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK SummaryPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG: {
            PageResult = kResultNone;
            char line[64];
            FormatPortLine(line, Settings.ComPort, Settings.ComIrq);
            SetDlgItemTextA(page, IDC_PORTLINE, line);
            FormatButtonLine(line, Settings.RightButton);
            SetDlgItemTextA(page, IDC_BUTTONLINE, line);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_NEXT:
                    SaveSettings();
                    ClosePage(page, kResultNext);
                    break;
                case IDC_BACK: ClosePage(page, kResultBack); break;
                case IDC_CANCEL:
                    RollBackInstall();
                    ClosePage(page, kResultCancel);
                    break;
            }
            return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ResetSetupState();
    HWND touch = FindTouchService();
    if (touch != NULL) {
        SetForegroundWindow(touch);
        MessageBoxA(NULL, kAlreadyInstalled, kTouchServiceClass, MB_OK);
        return 1;
    }

    if (!RegisterMainWindowClass(instance, kSetupClass)) return 0;
    // Never shown: it gives the program its class and icon.
    CreateHiddenMainWindow(instance, kSetupClass, kSetupTitle);

    RunPages(instance);
    return 0;
}
