// Windows, dialogs and the user: dialogs built from the program's own
// templates, controls with text, visibility, enabled state, check marks,
// positions and focus, timers, message boxes, the cursor display counter,
// beeps, tray icon calls and restarts.  Messages are delivered at once:
// there is no queue, so a posted message is handled before the call returns.
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "fake_rc.h"
#include "fake_state.h"

using fake::internal::DialogTemplate;
using fake::internal::Format;
using fake::internal::Lower;
using fake::internal::Quote;
using fake::internal::Record;

namespace fake {
namespace {

struct Win {
    WindowInfo info;
    DLGPROC dlgProc = nullptr;
    WNDPROC wndProc = nullptr;
    std::vector<HWND> children;
    bool isDialog = false;
    bool ended = false;
    INT_PTR result = 0;
    bool foreign = false;
    bool shownByProgram = false;
    DWORD processId = 0;  // another program's; 0 for the program under test
};

std::map<int, DialogTemplate> g_templates;
std::map<HWND, Win> g_windows;
std::vector<HWND> g_order;  // creation order
uintptr_t g_nextWindow = 0x10000;
HWND g_focus = nullptr;
std::map<int, std::function<void(HWND)>> g_scripts;
// Registered message names (lower case), numbered from 0xC000 as Windows does.
std::map<std::string, UINT> g_registeredMessages;
int g_leftOpen = 0;
std::vector<MessageBoxInfo> g_boxes;
int g_boxAnswer = IDOK;
int g_cursor = 0;
std::vector<UINT> g_beeps;
std::vector<TrayCall> g_tray;
std::vector<UINT> g_exits;
int g_screenW = 1024, g_screenH = 768;
bool g_failRegister = false;
std::vector<ClassInfo> g_classes;
std::vector<TimerInfo> g_timers;

const HINSTANCE kInstance = (HINSTANCE)0x400000;

Win* Find(HWND h) {
    auto it = g_windows.find(h);
    return it == g_windows.end() ? nullptr : &it->second;
}

Win* Live(HWND h) {
    Win* w = Find(h);
    return w && w->info.alive ? w : nullptr;
}

std::string Describe(HWND h) {
    if (h == nullptr) return "NULL";
    if (h == HWND_TOPMOST) return "HWND_TOPMOST";
    Win* w = Find(h);
    if (!w) return Format("%p", (void*)h);
    if (w->isDialog) return Format("dialog %d", w->info.templateId);
    if (w->info.parent) return Format("control %d", w->info.id);
    return "window " + Quote(w->info.text.c_str());
}

HWND NewWindow(const WindowInfo& info) {
    HWND h = (HWND)(g_nextWindow++);
    Win w;
    w.info = info;
    w.info.hwnd = h;
    w.info.alive = true;
    g_windows[h] = w;
    g_order.push_back(h);
    return h;
}

// Dialog units to pixels for the 10-point System font: 8 x 16 base units.
int DuX(int du) { return du * 2; }
int DuY(int du) { return du * 2; }

bool IsButtonType(const Win& w, DWORD type) {
    return Lower(w.info.className) == "button" && (w.info.style & BS_TYPEMASK) == type;
}

void KillTimersOf(HWND h) {
    for (size_t i = 0; i < g_timers.size();)
        if (g_timers[i].hwnd == h)
            g_timers.erase(g_timers.begin() + i);
        else
            ++i;
}

void DestroyTree(HWND h) {
    Win* w = Find(h);
    if (!w || !w->info.alive) return;
    for (HWND child : w->children) DestroyTree(child);
    w->info.alive = false;
    w->info.visible = false;
    KillTimersOf(h);
    if (g_focus == h) g_focus = nullptr;
}

// The other automatic radio buttons of the control's group, the way the
// dialog manager walks a group: back to the control that starts it, on to
// the next one that starts another, both round the end of the list, so the
// controls before the first group start belong to the last group (as in
// Windows and Wine); hidden or disabled ones are passed by.
void ClearRadioGroup(Win& parent, HWND clicked) {
    std::vector<HWND>& kids = parent.children;
    size_t count = kids.size();
    size_t index = 0;
    while (index < count && kids[index] != clicked) ++index;
    if (index == count) return;
    auto startsGroup = [&](size_t i) { return (Find(kids[i])->info.style & WS_GROUP) != 0; };
    size_t first = index;
    size_t steps = 0;
    while (!startsGroup(first) && steps < count) {
        first = (first + count - 1) % count;
        ++steps;
    }
    for (size_t k = 0; k < count; ++k) {
        size_t i = (first + k) % count;
        Win* c = Find(kids[i]);
        if (k > 0 && startsGroup(i)) break;
        if (kids[i] == clicked || !c->info.visible || !c->info.enabled) continue;
        if (IsButtonType(*c, BS_AUTORADIOBUTTON)) c->info.checked = 0;
    }
}

LRESULT ControlMessage(Win& w, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case BM_SETCHECK:
            w.info.checked = (int)wParam;
            return 0;
        case BM_GETCHECK:
            return w.info.checked;
        case WM_SETTEXT:
            w.info.text = lParam ? (const char*)lParam : "";
            return TRUE;
        case WM_GETTEXTLENGTH:
            return (LRESULT)w.info.text.size();
        case WM_GETTEXT: {
            if (wParam == 0) return 0;
            size_t n = std::min(w.info.text.size(), (size_t)wParam - 1);
            memcpy((char*)lParam, w.info.text.data(), n);
            ((char*)lParam)[n] = 0;
            return (LRESULT)n;
        }
        case BM_CLICK:
            Click(w.info.parent, w.info.id);
            return 0;
        default:
            return 0;
    }
}

LRESULT Deliver(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    Win* w = Live(h);
    if (!w) return 0;
    if (w->isDialog) {
        DLGPROC proc = w->dlgProc;
        INT_PTR handled = proc(h, msg, wParam, lParam);
        // What the default dialog procedure does with what the program
        // left to it.
        if (!handled && msg == WM_CLOSE && Live(h))
            Deliver(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return handled;
    }
    if (w->info.parent) return ControlMessage(*w, msg, wParam, lParam);
    if (w->wndProc) return w->wndProc(h, msg, wParam, lParam);
    if (w->foreign && msg == WM_CLOSE && w->processId) internal::AskToClose(w->processId);
    return 0;
}

}  // namespace

namespace internal {
void ResetWindows() {
    // Templates stay: a test program loads its script once.
    g_windows.clear();
    g_order.clear();
    g_registeredMessages.clear();
    g_focus = nullptr;
    g_scripts.clear();
    g_leftOpen = 0;
    g_boxes.clear();
    g_boxAnswer = IDOK;
    g_cursor = 0;
    g_beeps.clear();
    g_tray.clear();
    g_exits.clear();
    g_screenW = 1024;
    g_screenH = 768;
    g_failRegister = false;
    g_classes.clear();
    g_timers.clear();
}

HWND AddProgramWindow(const std::string& className, DWORD processId) {
    HWND h = AddForeignWindow(className, className);
    Find(h)->processId = processId;
    return h;
}

void EndProgramWindow(HWND hwnd) {
    if (Win* w = Find(hwnd)) w->info.alive = false;
}
}  // namespace internal

void LoadResourceScript(const std::string& rcPath, const std::string& headerPath) {
    std::ifstream rc(rcPath), header(headerPath);
    std::stringstream rcText, headerText;
    rcText << rc.rdbuf();
    headerText << header.rdbuf();
    // The control classes' names, which every program's script includes
    // from common/ beside the program's folder.
    std::string programs = rcPath.substr(0, rcPath.find_last_of('/'));
    programs = programs.substr(0, programs.find_last_of('/') + 1);
    std::ifstream classes(programs + "common/dialog_classes.h");
    headerText << "\n" << classes.rdbuf();
    std::string error;
    if (!rc || !header ||
        !internal::ParseResourceScript(rcText.str(), headerText.str(), &g_templates, &error)) {
        fprintf(stderr, "cannot read %s: %s\n", rcPath.c_str(), error.c_str());
        abort();
    }
}

WindowInfo Window(HWND h) {
    Win* w = Find(h);
    return w ? w->info : WindowInfo();
}

std::vector<HWND> DialogsOf(int templateId) {
    std::vector<HWND> out;
    for (HWND h : g_order) {
        Win* w = Find(h);
        if (w->isDialog && w->info.templateId == templateId) out.push_back(h);
    }
    return out;
}

HWND LiveDialog(int templateId) {
    for (HWND h : DialogsOf(templateId))
        if (Find(h)->info.alive) return h;
    return nullptr;
}

HWND Control(HWND dialog, int id) {
    Win* d = Find(dialog);
    if (!d) return nullptr;
    for (HWND c : d->children)
        if (Find(c)->info.id == id) return c;
    return nullptr;
}

std::vector<WindowInfo> Controls(HWND dialog) {
    std::vector<WindowInfo> out;
    if (Win* d = Find(dialog))
        for (HWND c : d->children) out.push_back(Find(c)->info);
    return out;
}

std::string Text(HWND dialog, int id) { return Window(Control(dialog, id)).text; }
bool Visible(HWND dialog, int id) { return Window(Control(dialog, id)).visible; }
bool Enabled(HWND dialog, int id) { return Window(Control(dialog, id)).enabled; }
int Checked(HWND dialog, int id) { return Window(Control(dialog, id)).checked; }
HWND Focus() { return g_focus; }
int FocusId() {
    Win* w = Find(g_focus);
    return w ? w->info.id : 0;
}

void OnDialog(int templateId, std::function<void(HWND)> script) {
    g_scripts[templateId] = std::move(script);
}
int DialogsLeftOpen() { return g_leftOpen; }

void Click(HWND dialog, int id) {
    Win* d = Live(dialog);
    HWND h = Control(dialog, id);
    Win* c = Live(h);
    if (!d || !c || !c->info.visible || !c->info.enabled || !d->info.enabled) {
        Record("Click", Format("%d ignored", id));
        return;
    }
    Record("Click", Format("%d", id));
    if (IsButtonType(*c, BS_AUTOCHECKBOX)) c->info.checked = c->info.checked ? 0 : 1;
    if (IsButtonType(*c, BS_AUTORADIOBUTTON)) {
        c->info.checked = 1;
        ClearRadioGroup(*d, h);
    }
    if (Lower(c->info.className) == "button") g_focus = h;
    Deliver(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)h);
}

bool Tick(HWND hwnd, UINT_PTR id) {
    for (const TimerInfo& t : g_timers) {
        if (t.hwnd == hwnd && t.id == id) {
            Deliver(hwnd, WM_TIMER, id, 0);
            return true;
        }
    }
    return false;
}

std::vector<TimerInfo> Timers() { return g_timers; }

LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return Deliver(hwnd, msg, wParam, lParam);
}

void PressEscape(HWND dialog) { Deliver(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0); }
void PressClose(HWND dialog) { Deliver(dialog, WM_CLOSE, 0, 0); }

const std::vector<MessageBoxInfo>& MessageBoxes() { return g_boxes; }
void SetMessageBoxAnswer(int answer) { g_boxAnswer = answer; }
int CursorCount() { return g_cursor; }
const std::vector<UINT>& Beeps() { return g_beeps; }
const std::vector<TrayCall>& TrayCalls() { return g_tray; }
const std::vector<UINT>& ExitWindowsCalls() { return g_exits; }

HWND AddForeignWindow(const std::string& className, const std::string& title) {
    WindowInfo info;
    info.className = className;
    info.text = title;
    info.visible = true;
    HWND h = NewWindow(info);
    Find(h)->foreign = true;
    return h;
}

void SetScreenSize(int width, int height) {
    g_screenW = width;
    g_screenH = height;
}
void FailRegisterClass(bool fail) { g_failRegister = fail; }
std::vector<ClassInfo> RegisteredClasses() { return g_classes; }

std::vector<WindowInfo> TopLevelWindows() {
    std::vector<WindowInfo> out;
    for (HWND h : g_order) {
        Win* w = Find(h);
        if (!w->isDialog && !w->info.parent && !w->foreign) out.push_back(w->info);
    }
    return out;
}

HINSTANCE Instance() { return kInstance; }

}  // namespace fake

using namespace fake;

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
    Record("RegisterClassExA", Quote(wc->lpszClassName));
    if (g_failRegister) return 0;
    g_classes.push_back({*wc, wc->lpszClassName ? wc->lpszClassName : ""});
    return (ATOM)g_classes.size();
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    Record("CreateWindowExA",
           Format("ex=0x%x, %s, %s, style=0x%x, %d, %d, %d, %d, parent=%s, menu=%p, param=%p",
                  exStyle, Quote(className).c_str(), Quote(title).c_str(), style, x, y, width,
                  height, Describe(parent).c_str(), (void*)menu, param));
    (void)instance;
    const ClassInfo* cls = nullptr;
    for (const ClassInfo& c : g_classes)
        if (Lower(c.name) == Lower(className ? className : "")) cls = &c;
    if (!cls) {
        SetLastError(1407);  // ERROR_CANNOT_FIND_WND_CLASS
        return nullptr;
    }
    WindowInfo info;
    info.className = cls->name;
    info.text = title ? title : "";
    info.style = style;
    info.exStyle = exStyle;
    info.visible = (style & WS_VISIBLE) != 0;
    info.x = x;
    info.y = y;
    info.width = width;
    info.height = height;
    HWND h = NewWindow(info);
    Find(h)->wndProc = cls->wc.lpfnWndProc;
    return h;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    Record("DestroyWindow", Describe(hwnd));
    Win* w = Live(hwnd);
    if (!w) return FALSE;
    Deliver(hwnd, WM_DESTROY, 0, 0);
    DestroyTree(hwnd);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    (void)wParam;
    (void)lParam;
    if (msg == WM_CLOSE) DestroyWindow(hwnd);
    return 0;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    Record("LoadIconA", Format("%s, %s", instance ? "module" : "NULL", Quote(name).c_str()));
    return (HICON)(0x70000 + (ULONG_PTR)(IS_INTRESOURCE(name) ? (ULONG_PTR)name : 1));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    Record("LoadCursorA", Format("%s, %s", instance ? "module" : "NULL", Quote(name).c_str()));
    return (HCURSOR)(0x80000 + (ULONG_PTR)(IS_INTRESOURCE(name) ? (ULONG_PTR)name : 1));
}

HBITMAP WINAPI LoadBitmapA(HINSTANCE instance, LPCSTR name) {
    Record("LoadBitmapA", Format("%s, %s", instance ? "module" : "NULL", Quote(name).c_str()));
    return (HBITMAP)(0x90000 + (ULONG_PTR)(IS_INTRESOURCE(name) ? (ULONG_PTR)name : 1));
}

HANDLE WINAPI LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy,
                         UINT flags) {
    Record("LoadImageA", Format("%s, %s, type=%u, %d, %d, 0x%x", instance ? "module" : "NULL",
                                Quote(name).c_str(), type, cx, cy, flags));
    return (HANDLE)(0xA0000 + (ULONG_PTR)(IS_INTRESOURCE(name) ? (ULONG_PTR)name : 1));
}

HGDIOBJ WINAPI GetStockObject(int object) {
    Record("GetStockObject", Format("%d", object));
    return (HGDIOBJ)(ULONG_PTR)(0xB0000 + object);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc,
                               LPARAM param) {
    int id = IS_INTRESOURCE(name) ? (int)(ULONG_PTR)name : 0;
    Record("DialogBoxParamA", Format("%s, owner=%s, param=%ld", Quote(name).c_str(),
                                     Describe(owner).c_str(), (long)param));
    (void)instance;
    auto t = g_templates.find(id);
    if (t == g_templates.end()) return -1;
    const DialogTemplate& tpl = t->second;

    WindowInfo info;
    info.className = "#32770";
    info.text = tpl.caption;
    info.style = tpl.style;
    info.exStyle = tpl.exStyle;
    info.width = DuX(tpl.width);
    info.height = DuY(tpl.height);
    if (tpl.style & DS_CENTER) {
        info.x = (g_screenW - info.width) / 2;
        info.y = (g_screenH - info.height) / 2;
    } else {
        info.x = DuX(tpl.x);
        info.y = DuY(tpl.y);
    }
    info.templateId = id;
    HWND dialog = NewWindow(info);
    {
        Win& d = g_windows[dialog];
        d.isDialog = true;
        d.dlgProc = proc;
    }
    for (const auto& c : tpl.controls) {
        WindowInfo ci;
        ci.parent = dialog;
        ci.id = c.id;
        ci.className = c.className;
        ci.text = c.text;
        ci.style = c.style;
        ci.exStyle = c.exStyle;
        ci.visible = (c.style & WS_VISIBLE) != 0;
        ci.enabled = (c.style & WS_DISABLED) == 0;
        ci.x = DuX(c.x);
        ci.y = DuY(c.y);
        ci.width = DuX(c.width);
        ci.height = DuY(c.height);
        HWND child = NewWindow(ci);
        g_windows[dialog].children.push_back(child);
    }

    HWND firstTab = nullptr;
    for (HWND c : g_windows[dialog].children) {
        const WindowInfo& ci = g_windows[c].info;
        if ((ci.style & WS_TABSTOP) && ci.visible && ci.enabled) {
            firstTab = c;
            break;
        }
    }
    HWND focusBefore = g_focus;
    INT_PTR setFocus = proc(dialog, WM_INITDIALOG, (WPARAM)firstTab, param);
    Win* d = Find(dialog);
    if (!d->ended) {
        if (!d->shownByProgram) d->info.visible = (tpl.style & WS_VISIBLE) != 0;
        if (setFocus && g_focus == focusBefore && firstTab) g_focus = firstTab;
        auto script = g_scripts.find(id);
        if (script != g_scripts.end()) script->second(dialog);
        d = Find(dialog);
        if (!d->ended) {
            ++g_leftOpen;
            d->ended = true;
            d->result = -1;
        }
    }
    INT_PTR result = d->result;
    if (d->info.alive) {
        Deliver(dialog, WM_DESTROY, 0, 0);
        DestroyTree(dialog);
    }
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Record("EndDialog", Format("%s, %ld", Describe(dialog).c_str(), (long)result));
    Win* d = Live(dialog);
    if (!d || !d->isDialog) return FALSE;
    if (!d->ended) {
        d->ended = true;
        d->result = result;
    }
    d->info.visible = false;
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    HWND h = Control(dialog, id);
    if (!h) SetLastError(1421);  // ERROR_CONTROL_ID_NOT_FOUND
    return Live(h) ? h : nullptr;
}

// A child whose place (set by SetWindowPos, sized by its template) holds the
// point in the parent's client area; the parent itself when none does.
HWND WINAPI ChildWindowFromPoint(HWND parent, POINT point) {
    Record("ChildWindowFromPoint", Format("%s, %ld, %ld", Describe(parent).c_str(),
                                          (long)point.x, (long)point.y));
    Win* p = Live(parent);
    if (!p) return nullptr;
    for (HWND h : g_order) {
        Win* c = Live(h);
        if (c && c->info.parent == parent && point.x >= c->info.x &&
            point.x < c->info.x + c->info.width && point.y >= c->info.y &&
            point.y < c->info.y + c->info.height)
            return h;
    }
    return parent;
}

int WINAPI GetDlgCtrlID(HWND hwnd) {
    Win* w = Find(hwnd);
    return w ? w->info.id : 0;
}

BOOL WINAPI ShowWindow(HWND hwnd, int command) {
    Record("ShowWindow", Format("%s, %s", Describe(hwnd).c_str(),
                                command == SW_HIDE ? "SW_HIDE"
                                : command == SW_SHOW ? "SW_SHOW"
                                                     : std::to_string(command).c_str()));
    Win* w = Live(hwnd);
    if (!w) return FALSE;
    BOOL was = w->info.visible;
    w->info.visible = command != SW_HIDE;
    w->shownByProgram = true;
    if (!w->info.visible && g_focus == hwnd) g_focus = nullptr;
    return was;
}

BOOL WINAPI IsWindowVisible(HWND hwnd) {
    Win* w = Live(hwnd);
    return w && w->info.visible;
}

BOOL WINAPI IsWindow(HWND hwnd) { return Live(hwnd) != nullptr; }

BOOL WINAPI EnableWindow(HWND hwnd, BOOL enable) {
    Record("EnableWindow", Format("%s, %d", Describe(hwnd).c_str(), enable ? 1 : 0));
    Win* w = Live(hwnd);
    if (!w) return FALSE;
    BOOL wasDisabled = !w->info.enabled;
    w->info.enabled = enable != 0;
    if (!enable && g_focus == hwnd) g_focus = nullptr;
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND hwnd) {
    Win* w = Live(hwnd);
    return w && w->info.enabled;
}

HWND WINAPI SetFocus(HWND hwnd) {
    Record("SetFocus", Describe(hwnd));
    HWND before = g_focus;
    Win* w = Live(hwnd);
    if (hwnd && (!w || !w->info.enabled)) return nullptr;
    g_focus = hwnd;
    return before;
}

HWND WINAPI GetFocus(void) { return g_focus; }

BOOL WINAPI SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags) {
    Record("SetWindowPos", Format("%s, %s, %d, %d, %d, %d, 0x%x", Describe(hwnd).c_str(),
                                  Describe(after).c_str(), x, y, cx, cy, flags));
    Win* w = Live(hwnd);
    if (!w) return FALSE;
    if (!(flags & SWP_NOMOVE)) {
        w->info.x = x;
        w->info.y = y;
    }
    if (!(flags & SWP_NOSIZE)) {
        w->info.width = cx;
        w->info.height = cy;
    }
    if (!(flags & SWP_NOZORDER) && after == HWND_TOPMOST) w->info.exStyle |= WS_EX_TOPMOST;
    if (flags & SWP_SHOWWINDOW) w->info.visible = true;
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
    Win* w = Live(hwnd);
    if (!w) return FALSE;
    rect->left = w->info.x;
    rect->top = w->info.y;
    rect->right = w->info.x + w->info.width;
    rect->bottom = w->info.y + w->info.height;
    return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
    Record("GetSystemMetrics", Format("%d", index));
    if (index == SM_CXSCREEN) return g_screenW;
    if (index == SM_CYSCREEN) return g_screenH;
    return 0;
}

BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text) {
    Record("SetWindowTextA", Describe(hwnd) + ", " + Quote(text));
    Win* w = Live(hwnd);
    if (!w) return FALSE;
    w->info.text = text ? text : "";
    return TRUE;
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR buffer, int max) {
    Win* w = Live(hwnd);
    if (!w || max <= 0) return 0;
    lstrcpynA(buffer, w->info.text.c_str(), max);
    return lstrlenA(buffer);
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    Record("SetDlgItemTextA", Format("%s, %d, %s", Describe(dialog).c_str(), id,
                                     Quote(text).c_str()));
    Win* w = Live(Control(dialog, id));
    if (!w) return FALSE;
    w->info.text = text ? text : "";
    return TRUE;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int max) {
    return (UINT)GetWindowTextA(Control(dialog, id), buffer, max);
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Record("SendMessageA", Format("%s, 0x%x, %lu, %ld", Describe(hwnd).c_str(), msg,
                                  (unsigned long)wParam, (long)lParam));
    return Deliver(hwnd, msg, wParam, lParam);
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
    Record("RegisterWindowMessageA", fake::internal::Quote(name));
    std::string key = fake::internal::Lower(name);
    auto it = g_registeredMessages.find(key);
    if (it != g_registeredMessages.end()) return it->second;
    UINT id = 0xC000 + (UINT)g_registeredMessages.size();
    g_registeredMessages[key] = id;
    return id;
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Record("PostMessageA", Format("%s, 0x%x, %lu, %ld", Describe(hwnd).c_str(), msg,
                                  (unsigned long)wParam, (long)lParam));
    if (!Live(hwnd)) return FALSE;
    Deliver(hwnd, msg, wParam, lParam);
    return TRUE;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam,
                                   LPARAM lParam) {
    Record("SendDlgItemMessageA", Format("%s, %d, 0x%x, %lu, %ld", Describe(dialog).c_str(), id,
                                         msg, (unsigned long)wParam, (long)lParam));
    HWND h = Control(dialog, id);
    Win* w = Live(h);
    if (!w) return 0;
    return ControlMessage(*w, msg, wParam, lParam);
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
    return SendDlgItemMessageA(dialog, id, BM_SETCHECK, check, 0) == 0;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    Win* w = Live(Control(dialog, id));
    return w ? (UINT)w->info.checked : 0;
}

int WINAPI ShowCursor(BOOL show) {
    Record("ShowCursor", show ? "TRUE" : "FALSE");
    g_cursor += show ? 1 : -1;
    return g_cursor;
}

BOOL WINAPI MessageBeep(UINT type) {
    Record("MessageBeep", Format("0x%x", type));
    g_beeps.push_back(type);
    return TRUE;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Record("MessageBoxA", Format("%s, %s, %s, 0x%x", Describe(owner).c_str(), Quote(text).c_str(),
                                 Quote(caption).c_str(), type));
    g_boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
    // A box's modal loop goes on dispatching the thread's timers, to
    // windows it has disabled too; one tick each, and no box in a box.
    static bool inBox = false;
    if (!inBox) {
        inBox = true;
        std::vector<TimerInfo> live = g_timers;
        for (const TimerInfo& t : live) Tick(t.hwnd, t.id);
        inBox = false;
    }
    return g_boxAnswer;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR title) {
    Record("FindWindowA", Quote(className) + ", " + Quote(title));
    for (HWND h : g_order) {
        Win* w = Find(h);
        if (!w->info.alive || w->info.parent) continue;
        if (className && Lower(w->info.className) != Lower(className)) continue;
        if (title && Lower(w->info.text) != Lower(title)) continue;
        return h;
    }
    return nullptr;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
    Record("GetWindowThreadProcessId", Describe(hwnd));
    Win* w = Live(hwnd);
    if (!w) return 0;
    DWORD process = w->processId ? w->processId : GetCurrentProcessId();
    if (processId) *processId = process;
    return process + 2;
}

BOOL WINAPI SetForegroundWindow(HWND hwnd) {
    Record("SetForegroundWindow", Describe(hwnd));
    return Live(hwnd) != nullptr;
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    Record("SetTimer", Format("%s, %lu, %u, %s", Describe(hwnd).c_str(), (unsigned long)id,
                              elapse, proc ? "proc" : "NULL"));
    if (!Live(hwnd)) return 0;
    for (TimerInfo& t : g_timers) {
        if (t.hwnd == hwnd && t.id == id) {
            t.period = elapse;
            return id;
        }
    }
    g_timers.push_back({hwnd, id, elapse});
    return id;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
    Record("KillTimer", Format("%s, %lu", Describe(hwnd).c_str(), (unsigned long)id));
    for (size_t i = 0; i < g_timers.size(); ++i) {
        if (g_timers[i].hwnd == hwnd && g_timers[i].id == id) {
            g_timers.erase(g_timers.begin() + i);
            return TRUE;
        }
    }
    return FALSE;
}

ULONG_PTR WINAPI SetClassLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    Record("SetClassLongPtrA", Format("%s, %d, %p", Describe(hwnd).c_str(), index, (void*)value));
    return 0;
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reserved) {
    Record("ExitWindowsEx", Format("0x%x, %u", flags, reserved));
    g_exits.push_back(flags);
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) { return Live(hwnd) != nullptr; }

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    (void)name;
    return kInstance;
}

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
    TrayCall call;
    call.message = message;
    call.cbSize = data->cbSize;
    call.hwnd = data->hWnd;
    call.id = data->uID;
    call.flags = data->uFlags;
    call.callback = data->uCallbackMessage;
    call.icon = data->hIcon;
    call.tip.assign(data->szTip, strnlen(data->szTip, sizeof data->szTip));
    Record("Shell_NotifyIconA",
           Format("%u, cbSize=%u, %s, id=%u, flags=%u, callback=0x%x, tip=%s", message,
                  data->cbSize, Describe(data->hWnd).c_str(), data->uID, data->uFlags,
                  data->uCallbackMessage, Quote(call.tip.c_str()).c_str()));
    g_tray.push_back(call);
    return TRUE;
}

BOOL WINAPI GetCursorPos(LPPOINT point) {
    point->x = 0;
    point->y = 0;
    return TRUE;
}
