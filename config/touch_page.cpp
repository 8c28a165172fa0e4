// The touch test's full-screen page.  It only listens: touches reach it as
// the pointer input the driver makes of them, and the driver is asked for
// nothing but the raw position.  Calibration mode and the corners in force
// are never touched, so closing the page leaves everything as it was.
#include "corner_map.h"
#include "pages.h"
#include "resource.h"
#include "touch_test.h"

namespace {

const int kMarkSize = 8;
const int kMargin = 10;
const int kButtonWidth = 90;
const int kButtonHeight = 24;

const char kHowTo[] =
    "Touch anywhere: + is where the pointer landed, x where the stored corners put it. "
    "Esc ends.";
const char kTitle[] = "Halvern XR Touch Test";
const char kNoDriverText[] = "Cannot Load ZAVIR.VXD";
const char kNoDriverCaption[] = "Load VXD Message";

ZavirDriver g_driver;
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
    SendMessageA(dialog, WM_SETTEXT, 0, (LPARAM)kTitle);
    SetDlgItemTextA(dialog, IDC_TEST_LINE, kHowTo);
    SetFocus(GetDlgItem(dialog, IDC_TEST_END));
    // The touch service runs, so the driver or its stand-in is up; an
    // administrator in a standard user's session finds that user's.
    const char* refusal = NULL;
    if (!OpenZavirDriverWith(&g_driver, OtherUsersStandInName, &refusal)) {
        MessageBoxA(dialog, refusal ? refusal : kNoDriverText, kNoDriverCaption,
                    MB_ICONEXCLAMATION | MB_OK);
        EndDialog(dialog, -1);
    }
}

void OnTouchLifted(HWND dialog, LPARAM where) {
    POINT pointer = {(short)LOWORD(where), (short)HIWORD(where)};
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

void DrawLine(HDC dc, LONG x1, LONG y1, LONG x2, LONG y2) {
    MoveToEx(dc, x1, y1, NULL);
    LineTo(dc, x2, y2);
}

// A + where the pointer landed; an x where the corners put the touch,
// joined to the +.
void DrawMark(HDC dc, const TouchMark* m) {
    const LONG x = m->pointerX, y = m->pointerY;
    DrawLine(dc, x - kMarkSize, y, x + kMarkSize + 1, y);
    DrawLine(dc, x, y - kMarkSize, x, y + kMarkSize + 1);
    if (!m->mapped) return;
    const LONG mx = m->mappedX, my = m->mappedY;
    DrawLine(dc, mx - kMarkSize, my - kMarkSize, mx + kMarkSize + 1, my + kMarkSize + 1);
    DrawLine(dc, mx - kMarkSize, my + kMarkSize, mx + kMarkSize + 1, my - kMarkSize - 1);
    DrawLine(dc, mx, my, x, y);
}

void PaintTrail(HWND dialog) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    for (int i = 0; i < g_trail.count; ++i) DrawMark(dc, TrailMark(&g_trail, i));
    SelectObject(dc, oldPen);
    EndPaint(dialog, &paint);
}

void EndPage(HWND dialog) {
    CloseZavirDriver(&g_driver);
    EndDialog(dialog, 0);
}

}  // namespace

INT_PTR CALLBACK TouchTestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            StartPage(dialog);
            return FALSE;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:  // the tap after the right-button corner
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
