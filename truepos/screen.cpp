#include "screen.h"

#include "resource.h"

CalibrationScreen g_screen;
CalibrationValues g_values;

namespace {

const int kInstructionLines[] = {IDC_INSTRUCTION_1, IDC_INSTRUCTION_2, IDC_INSTRUCTION_3,
                                 IDC_INSTRUCTION_4, IDC_INSTRUCTION_5};
const int kResultLines[] = {IDC_RESULT_1, IDC_RESULT_2};
const int kTargets[kReadingCount] = {IDC_TARGET_TOPLEFT, IDC_TARGET_TOPRIGHT,
                                     IDC_TARGET_BOTTOMLEFT, IDC_TARGET_BOTTOMRIGHT};
// Everything but the logo, the label and the buttons starts hidden.
const int kHiddenAtStart[] = {IDC_TARGET_TOPLEFT, IDC_TARGET_TOPRIGHT, IDC_TARGET_BOTTOMLEFT,
                              IDC_TARGET_BOTTOMRIGHT, IDC_INSTRUCTION_1, IDC_INSTRUCTION_2,
                              IDC_INSTRUCTION_3, IDC_INSTRUCTION_4, IDC_INSTRUCTION_5,
                              IDC_RESULT_1, IDC_RESULT_2, IDC_BANNER};

const char kNoDriverText[] = "Cannot Load ZAVIR.VXD";
const char kNoDriverCaption[] = "Load VXD Message";
const char kNotSavedText[] = "Cannot Save Settings";
const char kNotSavedCaption[] = "Save Settings Message";

#define COUNT_OF(a) (int)(sizeof(a) / sizeof((a)[0]))

void Show(HWND dialog, int id, BOOL show) {
    ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

void ShowAll(HWND dialog, const int* ids, int count, BOOL show) {
    for (int i = 0; i < count; ++i) Show(dialog, ids[i], show);
}

void Enable(HWND dialog, int id, BOOL enable) { EnableWindow(GetDlgItem(dialog, id), enable); }

void Focus(HWND dialog, int id) { SetFocus(GetDlgItem(dialog, id)); }

void HidePointer() {
    ShowCursor(FALSE);
    g_screen.pointerHidden = TRUE;
}

// Undoes our own hide only, so that the system's display counter ends where
// it was whatever way the dialog is left.
void RestorePointer() {
    if (!g_screen.pointerHidden) return;
    ShowCursor(TRUE);
    g_screen.pointerHidden = FALSE;
}

void PlaceControls(HWND dialog, int width, int height) {
    ControlPlacement placements[kPlacedControlCount];
    ComputeLayout(width, height, placements);
    for (int i = 0; i < kPlacedControlCount; ++i)
        SetWindowPos(GetDlgItem(dialog, placements[i].id), NULL, placements[i].x, placements[i].y,
                     0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Goes on with a driver open that waits for the stand-in.
const UINT_PTR kOpenTimer = 1;

void TellNoDriver(HWND dialog) {
    const char* refusal = ZavirRefusal(&g_screen.opening);
    MessageBoxA(dialog, refusal ? refusal : kNoDriverText, kNoDriverCaption,
                MB_ICONEXCLAMATION | MB_OK);
    EndDialog(dialog, -1);
}

// With the driver open: the values to start from, and calibration mode.
void TakeDriver() {
    g_values.loaded = LoadCalibrationSettings(&g_values.settings);
    SetCalibrationMode(&g_screen.driver, 1, 0);
    TakeSavedCorners(&g_values);
    g_screen.acquiring = 1;
    g_screen.stage = 0;
}

// The full-screen face without a target yet; Cancel is there from the start.
typedef BOOL(WINAPI* ChangeWindowMessageFilterExFn)(HWND, UINT, DWORD, void*);
const DWORD kMessageFilterAllow = 1;  // MSGFLT_ALLOW

// Run as administrator, this window is above the stand-in that posts the
// calibration touches; only they are let through (Windows 7 and later).
void AcceptTouchesFromTheStandIn(HWND dialog) {
    HMODULE user = GetModuleHandleA("user32.dll");
    ChangeWindowMessageFilterExFn allow =
        user ? (ChangeWindowMessageFilterExFn)(void*)GetProcAddress(user,
                                                                  "ChangeWindowMessageFilterEx")
             : NULL;
    if (allow) allow(dialog, WM_LBUTTONUP, kMessageFilterAllow, NULL);
}

void PrepareScreen(HWND dialog) {
    AcceptTouchesFromTheStandIn(dialog);
    ShowAll(dialog, kHiddenAtStart, COUNT_OF(kHiddenAtStart), FALSE);
    Focus(dialog, IDC_CANCEL_BUTTON);
    Enable(dialog, IDC_OK_BUTTON, FALSE);
    Enable(dialog, IDC_RETRY_BUTTON, FALSE);

    g_screen.width = GetSystemMetrics(SM_CXSCREEN);
    g_screen.height = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, g_screen.width, g_screen.height, SWP_FRAMECHANGED);
    PlaceControls(dialog, g_screen.width, g_screen.height);
    wsprintfA(g_screen.displayText, "Display :  %d X %d", g_screen.width, g_screen.height);
    SetDlgItemTextA(dialog, IDC_DISPLAY_LABEL, g_screen.displayText);
}

void ShowFirstTarget(HWND dialog) {
    HidePointer();
    Show(dialog, IDC_TARGET_TOPLEFT, TRUE);
    ShowAll(dialog, kInstructionLines, COUNT_OF(kInstructionLines), TRUE);
    Show(dialog, IDC_BANNER, TRUE);
}

void StartDialog(HWND dialog) {
    // An administrator may calibrate in a standard user's session, through
    // that user's stand-in.
    ZavirOpenStep step =
        BeginZavirOpenWith(&g_screen.driver, &g_screen.opening, OtherUsersStandInName);
    if (step == kZavirOpenFailed) {
        TellNoDriver(dialog);
        return;
    }
    if (step == kZavirOpened) TakeDriver();
    PrepareScreen(dialog);
    if (step == kZavirOpened) {
        ShowFirstTarget(dialog);
        return;
    }
    // The stand-in is busy or starting: the screen shows meanwhile.
    g_screen.waiting = TRUE;
    SetTimer(dialog, kOpenTimer, ZAVIR_OPEN_POLL_MS, NULL);
}

void OnOpenTimer(HWND dialog) {
    ZavirOpenStep step = ContinueZavirOpen(&g_screen.driver, &g_screen.opening);
    if (step == kZavirOpenWaiting) return;
    KillTimer(dialog, kOpenTimer);
    g_screen.waiting = FALSE;
    if (step == kZavirOpenFailed) {
        TellNoDriver(dialog);
        return;
    }
    TakeDriver();
    ShowFirstTarget(dialog);
}

// Cancel before the driver was there: nothing was taken or changed.
void GiveUpWaiting(HWND dialog) {
    KillTimer(dialog, kOpenTimer);
    AbandonZavirOpen(&g_screen.opening);
    g_screen.waiting = FALSE;
    EndDialog(dialog, 0);
}

void FinishAttempt(HWND dialog) {
    SetCalibrationMode(&g_screen.driver, 0, 0);
    Enable(dialog, IDC_OK_BUTTON, TRUE);
    Enable(dialog, IDC_RETRY_BUTTON, TRUE);
    Focus(dialog, IDC_OK_BUTTON);
    g_screen.acquiring = 0;
    RestorePointer();
    Show(dialog, IDC_BANNER, FALSE);
    ShowAll(dialog, kInstructionLines, COUNT_OF(kInstructionLines), FALSE);
    ShowAll(dialog, kResultLines, COUNT_OF(kResultLines), TRUE);
}

// A lifted finger.  A release whose position request fails takes no
// reading: the answer's words were never filled, so the stage stays and
// there is no beep; the next touch tries again.
void TakeReading(HWND dialog) {
    if (!g_screen.acquiring || g_screen.stage < 0 || g_screen.stage >= kReadingCount) return;
    RawReading reading;
    if (!ReadRawPosition(&g_screen.driver, &reading.x, &reading.y)) return;
    int stage = g_screen.stage;
    g_values.readings[stage] = reading;
    Show(dialog, kTargets[stage], FALSE);
    if (stage + 1 < kReadingCount) {
        Show(dialog, kTargets[stage + 1], TRUE);
    } else {
        CornerSet corners;
        ComputeCorners(g_values.readings, &corners);
        CornersToSettings(&corners, &g_values.settings);
        SendCorners(&g_screen.driver, &corners);
        SetCalibrationMode(&g_screen.driver, 1, 1);
    }
    g_screen.stage = stage + 1;
    MessageBeep(0xFFFFFFFF);
    if (g_screen.stage == kReadingCount) FinishAttempt(dialog);
}

// A new attempt; the saved corners stay the ones taken at the start.
void Retry(HWND dialog) {
    HidePointer();
    Focus(dialog, IDC_CANCEL_BUTTON);
    Show(dialog, IDC_TARGET_TOPLEFT, TRUE);
    Enable(dialog, IDC_OK_BUTTON, FALSE);
    Enable(dialog, IDC_RETRY_BUTTON, FALSE);
    SetCalibrationMode(&g_screen.driver, 1, 0);
    g_screen.stage = 0;
    g_screen.acquiring = 1;
    ShowAll(dialog, kResultLines, COUNT_OF(kResultLines), FALSE);
    ShowAll(dialog, kInstructionLines, COUNT_OF(kInstructionLines), TRUE);
    Show(dialog, IDC_BANNER, TRUE);
}

// The new corners stay in force for this session whether or not they could
// be stored.  Values that were never loaded are not written: the five
// carried ones would go in as zeros.
void Accept(HWND dialog) {
    SetCalibrationMode(&g_screen.driver, 0, 0);
    g_screen.acquiring = 0;
    if (!g_values.loaded || !SaveCalibrationSettings(&g_values.settings))
        MessageBoxA(dialog, kNotSavedText, kNotSavedCaption, MB_ICONEXCLAMATION | MB_OK);
    CloseZavirDriver(&g_screen.driver);
    EndDialog(dialog, 0);
}

// Without loaded settings there are no earlier corners to give back, and
// zeros would collapse the pointer's mapping for the rest of the session.
void Drop(HWND dialog) {
    RestoreSavedCorners(&g_values);
    g_screen.acquiring = 0;
    if (g_values.loaded) {
        CornerSet corners;
        CornersFromSettings(&g_values.settings, &corners);
        SendCorners(&g_screen.driver, &corners);
    }
    SetCalibrationMode(&g_screen.driver, 0, 0);
    RestorePointer();
    CloseZavirDriver(&g_screen.driver);
    EndDialog(dialog, 0);
}

// OK and Retry belong to the review that follows a complete attempt; the
// buttons are disabled otherwise, and a stray command is ignored likewise.
BOOL Reviewing() { return !g_screen.acquiring && g_screen.stage == kReadingCount; }

BOOL OnCancel(HWND dialog, LPARAM where) {
    POINT point = {(short)LOWORD(where), (short)HIWORD(where)};
    return ChildWindowFromPoint(dialog, point) == GetDlgItem(dialog, IDC_CANCEL_BUTTON);
}

void Command(HWND dialog, int id) {
    switch (id) {
        case IDC_OK_BUTTON:
            if (Reviewing()) Accept(dialog);
            break;
        case IDC_RETRY_BUTTON:
            if (Reviewing()) Retry(dialog);
            break;
        case IDC_CANCEL_BUTTON:
            if (g_screen.waiting)
                GiveUpWaiting(dialog);
            else
                Drop(dialog);
            break;
        default:  // Escape and the close command included: only OK and Cancel end
            break;
    }
}

}  // namespace

void ComputeLayout(int w, int h, ControlPlacement p[kPlacedControlCount]) {
    const ControlPlacement table[kPlacedControlCount] = {
        {IDC_BANNER, w / 2 - 250, h / 2 - 100},
        {IDC_INSTRUCTION_1, w / 2 - 250, h / 2 - 80},
        {IDC_INSTRUCTION_2, w / 2 - 250, h / 2 - 60},
        {IDC_INSTRUCTION_3, w / 2 - 250, h / 2 - 40},
        {IDC_INSTRUCTION_4, w / 2 - 250, h / 2 - 20},
        {IDC_INSTRUCTION_5, w / 2 - 250, h / 2},
        {IDC_RESULT_1, w / 2 - 250, h / 2 - 80},
        {IDC_RESULT_2, w / 2 - 250, h / 2},
        {IDC_DISPLAY_LABEL, w / 2 - 250, h / 2 - 150},
        {IDC_OK_BUTTON, w / 2 - 255, h / 2 + 100},
        {IDC_CANCEL_BUTTON, w / 2 - 55, h / 2 + 100},
        {IDC_RETRY_BUTTON, w / 2 + 145, h / 2 + 100},
        {IDC_LOGO, w / 2 - 100, h / 10},
        // Each 32 x 32 target centred a tenth of the screen in from its
        // edges; the corner extrapolation depends on exactly these points.
        {IDC_TARGET_TOPLEFT, w / 10 - 16, h / 10 - 16},
        {IDC_TARGET_TOPRIGHT, w - w / 10 - 16, h / 10 - 16},
        {IDC_TARGET_BOTTOMLEFT, w / 10 - 16, h - h / 10 - 16},
        {IDC_TARGET_BOTTOMRIGHT, w - w / 10 - 16, h - h / 10 - 16},
    };
    for (int i = 0; i < kPlacedControlCount; ++i) p[i] = table[i];
}

void ResetCalibrationState() {
    ZeroMemory(&g_screen, sizeof g_screen);
    g_screen.driver.handle = INVALID_HANDLE_VALUE;
    ZeroMemory(&g_values, sizeof g_values);
}

INT_PTR CALLBACK CalibrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            StartDialog(dialog);
            break;
        case WM_COMMAND:
            Command(dialog, LOWORD(wParam));
            break;
        case WM_LBUTTONUP:
            // The stand-in gives every calibration touch to the dialog's
            // face: one on Cancel is a click on Cancel, and no reading.
            if (g_screen.acquiring && OnCancel(dialog, lParam))
                Command(dialog, IDC_CANCEL_BUTTON);
            else
                TakeReading(dialog);
            break;
        case WM_TIMER:
            if (wParam == kOpenTimer && g_screen.waiting) OnOpenTimer(dialog);
            break;
        case WM_ENDSESSION:
            // A calibration the session's end cuts short is given up as
            // Cancel would: the driver may serve on for the next user.
            if (wParam) Command(dialog, IDC_CANCEL_BUTTON);
            break;
        default:
            break;
    }
    // Focus is set by the program itself and everything else is left to
    // the default dialog processing.
    return FALSE;
}
