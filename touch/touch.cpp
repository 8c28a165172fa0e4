// Program start, the hidden main window and the status window whose dialog
// procedure is the whole service.
#include "touch.h"

#include "main_window.h"
#include "resource.h"

TouchSettings g_settings;
// Both closed (INVALID_HANDLE_VALUE) by ResetTouchState, WinMain's first step.
HANDLE g_port;
ZavirDriver g_driver;
HWND g_mainWindow = NULL;
HICON g_appIcon = NULL;
LONG g_tickCounter = 0;

namespace {

// The setup wizard recognises a running service by this window, so both
// strings are fixed.
// A window that blocks start-up; no program of the suite creates it.
const char kMarkerClass[] = "Halvern Driver Load";
const char kMarkerTitle[] = "Halvern Load";

const char kTrayTip[] = "Halvern XR";
const int kTrayTipLimit = 12;

const UINT_PTR kServiceTimer = 1;
const UINT kServicePeriodMs = 20;
// Goes on with a driver open that waits for the stand-in.
const UINT_PTR kOpenTimer = 2;

ZavirOpening g_opening;
BOOL g_trayIconShown = FALSE;
// Sent to every top-level window when the taskbar is made anew (Explorer
// restarted), which forgets every icon it showed.
UINT g_taskbarCreated = 0;

#if defined(_WIN32) && !defined(_WIN64)
// Windows 95 and 98 without a newer shell take only this record size.
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "first-version tray record");
#endif

void FillTrayRecord(NOTIFYICONDATAA* data, HWND dialog) {
    ZeroMemory(data, sizeof *data);
    // The first shell version's record, which every shell takes.
    data->cbSize = NOTIFYICONDATAA_V1_SIZE;
    data->hWnd = dialog;
    data->uID = 0;
    data->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data->uCallbackMessage = WM_TRAYICON;
    data->hIcon = g_appIcon;
    lstrcpynA(data->szTip, kTrayTip, kTrayTipLimit);
}

// Start-up failed: tell the user, end the dialog and close the hidden
// window so that nothing of the service is left.
void AbortStart(HWND dialog, const char* text, const char* caption) {
    MessageBoxA(dialog, text, caption, MB_ICONEXCLAMATION);
    if (g_port != INVALID_HANDLE_VALUE) {
        CloseHandle(g_port);
        g_port = INVALID_HANDLE_VALUE;
    }
    EndDialog(dialog, -1);
    SendMessageA(g_mainWindow, WM_CLOSE, 0, 0);
}

void StartService(HWND dialog) {
    SetTimer(dialog, kServiceTimer, kServicePeriodMs, NULL);
    SetClassLongPtrA(dialog, GCLP_HICON, (LONG_PTR)g_appIcon);
    AddTrayIcon(dialog);
    g_tickCounter = 0;
}

void OnDriverOpenStep(HWND dialog, ZavirOpenStep step) {
    switch (step) {
        case kZavirOpened:
            StartService(dialog);
            break;
        case kZavirOpenFailed: {
            const char* refusal = ZavirRefusal(&g_opening);
            AbortStart(dialog, refusal ? refusal : "Cannot Load ZAVIR.VXD", "Load VXD Message");
            break;
        }
        case kZavirOpenWaiting:
            // The stand-in is busy or starting: the window shows meanwhile.
            SetTimer(dialog, kOpenTimer, ZAVIR_OPEN_POLL_MS, NULL);
            break;
    }
}

void OnInitDialog(HWND dialog) {
    LoadSettingValues(&g_settings, kTouchValues);
    if (OpenSerialPort() != 0) {
        AbortStart(dialog, "Cannot Open COM Port", "Open Driver Message");
        return;
    }
    OnDriverOpenStep(dialog, BeginZavirOpen(&g_driver, &g_opening));
}

void OnOpenTimer(HWND dialog) {
    ZavirOpenStep step = ContinueZavirOpen(&g_driver, &g_opening);
    if (step == kZavirOpenWaiting) return;
    KillTimer(dialog, kOpenTimer);
    OnDriverOpenStep(dialog, step);
}

void OnDestroy(HWND dialog) {
    AbandonZavirOpen(&g_opening);
    DeleteTrayIcon(dialog);
    if (g_port != INVALID_HANDLE_VALUE) {
        CloseHandle(g_port);
        g_port = INVALID_HANDLE_VALUE;
    }
    CloseZavirDriver(&g_driver);
    EndDialog(dialog, 0);
}

void OnTrayIcon(HWND dialog, LPARAM lParam) {
    if (lParam != WM_LBUTTONDOWN && lParam != WM_RBUTTONDOWN) return;
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    // Past the hand-over for good: the window stays shown, and the next
    // tick skips the port.
    g_tickCounter = TICK_TRAY_PRESS;
}

}  // namespace

void ResetTouchState(void) {
    ZeroMemory(&g_settings, sizeof g_settings);
    g_port = INVALID_HANDLE_VALUE;
    ZeroMemory(&g_driver, sizeof g_driver);
    g_driver.handle = INVALID_HANDLE_VALUE;
    ZeroMemory(&g_opening, sizeof g_opening);
    g_trayIconShown = FALSE;
    g_taskbarCreated = 0;
    g_mainWindow = NULL;
    g_appIcon = NULL;
    g_tickCounter = 0;
}

void AddTrayIcon(HWND dialog) {
    NOTIFYICONDATAA data;
    FillTrayRecord(&data, dialog);
    Shell_NotifyIconA(NIM_ADD, &data);
    g_trayIconShown = TRUE;
}

void DeleteTrayIcon(HWND dialog) {
    NOTIFYICONDATAA data;
    FillTrayRecord(&data, dialog);
    Shell_NotifyIconA(NIM_DELETE, &data);
    g_trayIconShown = FALSE;
}

void OnTaskbarCreated(HWND dialog) {
    if (g_trayIconShown) AddTrayIcon(dialog);
}

INT_PTR CALLBACK StatusDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(dialog);
            return TRUE;
        case WM_TIMER:
            if (wParam == kOpenTimer)
                OnOpenTimer(dialog);
            else
                OnTimerTick(dialog);
            return TRUE;
        case WM_DESTROY:
            OnDestroy(dialog);
            return TRUE;
        case WM_TRAYICON:
            OnTrayIcon(dialog, lParam);
            return TRUE;
        default:
            if (message != 0 && message == g_taskbarCreated) {
                OnTaskbarCreated(dialog);
                return TRUE;
            }
            // WM_COMMAND and WM_CLOSE included: the service can't be
            // stopped or hidden from its window.
            return FALSE;
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    (void)show;
    ResetTouchState();

    HWND marker = FindWindowA(kMarkerClass, kMarkerTitle);
    if (marker != NULL) {
        SetForegroundWindow(marker);
        MessageBoxA(NULL, "Halvern XR Driver Already Load ......", "Halvern XR", MB_OK);
        return 1;
    }
    if (!RegisterMainWindowClass(instance, kTouchServiceClass)) return 0;
    g_mainWindow = CreateHiddenMainWindow(instance, kTouchServiceClass, kTouchServiceTitle);
    g_appIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_TOUCH));
    g_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    // The dialog's modal loop is the program's only message loop.
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_STATUS), NULL, StatusDialogProc, 0);
    return 0;
}
