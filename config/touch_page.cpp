// The touch test's full-screen page.  It only listens: touches reach it as
// the pointer input the driver makes of them, and the driver is asked for
// nothing but the raw position.  Calibration mode and the corners in force
// are never touched, so closing the page leaves everything as it was.
#include "corner_map.h"
#include "pages.h"
#include "resource.h"
#include "touch_test.h"

namespace {

// Goes on with a driver open that waits for the stand-in.
const UINT_PTR kOpenTimer = 1;
const int kMarkSize = 8;
const int kMargin = 10;
const int kButtonWidth = 90;
const int kButtonHeight = 24;

const char kHowTo[] =
    "Touch the screen anywhere: each touch leaves a mark, a cross where the pointer landed "
    "and a circle where the stored corners put it. Esc or End test ends the test.";
const char kTitle[] = "Halvern XR Touch Test";
const char kNoDriverText[] = "Cannot Load ZAVIR.VXD";
const char kNoDriverCaption[] = "Load VXD Message";

ZavirDriver g_driver;
ZavirOpening g_opening;
CornerSet g_corners;
BOOL g_haveCorners;
TouchTrail g_trail;
int g_width, g_height;

void PlaceControls(HWND dialog) {
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, g_width, g_height, SWP_FRAMECHANGED);
    SetWindowPos(GetDlgItem(dialog, IDC_TEST_LINE), NULL, kMargin, kMargin,
                 g_width - kButtonWidth - 3 * kMargin, 2 * kButtonHeight, SWP_NOZORDER);
    SetWindowPos(GetDlgItem(dialog, IDC_TEST_END), NULL, g_width - kButtonWidth - kMargin,
                 kMargin, kButtonWidth, kButtonHeight, SWP_NOZORDER);
}

void LoadStoredCorners() {
    TouchSettings settings;
    ZeroMemory(&settings, sizeof settings);
    g_haveCorners = LoadSettingValues(&settings, kCornerValues);
    CornersFromSettings(&settings, &g_corners);
}

void StartPage(HWND dialog) {
    ClearTrail(&g_trail);
    LoadStoredCorners();
    g_width = GetSystemMetrics(SM_CXSCREEN);
    g_height = GetSystemMetrics(SM_CYSCREEN);
    PlaceControls(dialog);
    SetWindowTextA(dialog, kTitle);
    SetDlgItemTextA(dialog, IDC_TEST_LINE, kHowTo);
    SetFocus(GetDlgItem(dialog, IDC_TEST_END));
    ZavirOpenStep step = BeginZavirOpen(&g_driver, &g_opening);
    if (step == kZavirOpenWaiting) SetTimer(dialog, kOpenTimer, ZAVIR_OPEN_POLL_MS, NULL);
    if (step == kZavirOpenFailed) {
        MessageBoxA(dialog, kNoDriverText, kNoDriverCaption, MB_ICONEXCLAMATION | MB_OK);
        EndDialog(dialog, -1);
    }
}

void OnOpenTimer(HWND dialog) {
    ZavirOpenStep step = ContinueZavirOpen(&g_driver, &g_opening);
    if (step == kZavirOpenWaiting) return;
    KillTimer(dialog, kOpenTimer);
    if (step == kZavirOpenFailed) {
        MessageBoxA(dialog, kNoDriverText, kNoDriverCaption, MB_ICONEXCLAMATION | MB_OK);
        EndDialog(dialog, -1);
    }
}

void OnTouchLifted(HWND dialog, LPARAM where) {
    POINT pointer = {(short)LOWORD(where), (short)HIWORD(where)};
    ClientToScreen(dialog, &pointer);
    LONG rawX = 0, rawY = 0;
    BOOL haveRaw = IsZavirDriverOpen(&g_driver) && ReadRawPosition(&g_driver, &rawX, &rawY);
    TouchMark mark;
    MeasureTouch(g_haveCorners ? &g_corners : NULL, haveRaw, rawX, rawY, pointer.x, pointer.y,
                 g_width, g_height, &mark);
    AddMark(&g_trail, &mark);
    char line[200];
    FormatTouchLine(&mark, g_trail.total, line, sizeof line);
    SetDlgItemTextA(dialog, IDC_TEST_LINE, line);
    InvalidateRect(dialog, NULL, TRUE);
}

void DrawMark(HDC dc, HPEN pointerPen, HPEN mappedPen, const TouchMark* m) {
    if (m->mapped) {
        SelectObject(dc, mappedPen);
        MoveToEx(dc, m->mappedX, m->mappedY, NULL);
        LineTo(dc, m->pointerX, m->pointerY);
        Ellipse(dc, m->mappedX - kMarkSize, m->mappedY - kMarkSize, m->mappedX + kMarkSize + 1,
                m->mappedY + kMarkSize + 1);
    }
    SelectObject(dc, pointerPen);
    MoveToEx(dc, m->pointerX - kMarkSize, m->pointerY, NULL);
    LineTo(dc, m->pointerX + kMarkSize + 1, m->pointerY);
    MoveToEx(dc, m->pointerX, m->pointerY - kMarkSize, NULL);
    LineTo(dc, m->pointerX, m->pointerY + kMarkSize + 1);
}

// The screen and the client area are one, so marks go where they were
// taken in screen pixels.
void PaintTrail(HWND dialog) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    HPEN pointerPen = CreatePen(PS_SOLID, 2, RGB(192, 0, 0));
    HPEN mappedPen = CreatePen(PS_SOLID, 1, RGB(0, 0, 160));
    HGDIOBJ oldPen = SelectObject(dc, pointerPen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    for (int i = 0; i < g_trail.count; ++i)
        DrawMark(dc, pointerPen, mappedPen, TrailMark(&g_trail, i));
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(mappedPen);
    DeleteObject(pointerPen);
    EndPaint(dialog, &paint);
}

void EndPage(HWND dialog) {
    KillTimer(dialog, kOpenTimer);
    AbandonZavirOpen(&g_opening);
    CloseZavirDriver(&g_driver);
    EndDialog(dialog, 0);
}

}  // namespace

INT_PTR CALLBACK TouchTestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            StartPage(dialog);
            return FALSE;
        case WM_TIMER:
            if (wParam == kOpenTimer) OnOpenTimer(dialog);
            return TRUE;
        case WM_LBUTTONUP:
            OnTouchLifted(dialog, lParam);
            return TRUE;
        case WM_PAINT:
            PaintTrail(dialog);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_TEST_END || LOWORD(wParam) == IDCANCEL) EndPage(dialog);
            return TRUE;
    }
    return FALSE;
}
