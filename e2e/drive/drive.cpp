// ZDRIVE: the end-to-end tests' hands inside Wine.  A console program that
// talks to the driver stand-in through common/ and drives other programs'
// windows from outside, printing one line per result for the harness.
//
//   ZDRIVE waitpipe MS                     wait until the stand-in listens
//   ZDRIVE session STEP...                 one driver connection, steps in order:
//       handover | packet B1 B2 B3 B4 | corners X1 Y1 .. X4 Y4 | calib C N
//       rawpos | cursor | sleep MS | hold (until a line on stdin)
//       request CODE INSIZE OUTSIZE W0 W1 W2 W3     (through common/)
//   ZDRIVE frame CODE INSIZE OUTSIZE W0..W3 | halfframe   raw pipe frames
//   ZDRIVE stall BYTES                     send the first BYTES of a frame and wait; says
//                                          when (if ever) the stand-in drops the pipe
//   ZDRIVE pipesecurity                    the owner and DACL of the stand-in's pipe and
//                                          of its serving mutex (SDDL)
//   ZDRIVE readonlykey PATH                from now on everyone may only read the key
//                                          HKLM\PATH, as a standard user finds it
//   ZDRIVE squat OWNER                     serve and publish a pipe of its own, owned by
//                                          OWNER (an SDDL SID, or "me"), and answer every
//                                          request with success until a line on stdin
//   ZDRIVE screen | display W H            the screen's size; change the display mode
//   ZDRIVE find CLASS TITLE [MS] | controls CLASS TITLE | click CLASS TITLE ID
//   ZDRIVE check CLASS TITLE ID 0|1 | close CLASS TITLE
//   ZDRIVE send CLASS TITLE MSG WPARAM LPARAM   send a window a message, print its result
//   ZDRIVE press CLASS TITLE ID            click and return once the owner has handled it
//   ZDRIVE waitpage CLASS TITLE MS ID...   wait for a visible window holding every control
//                                          ID (and none of the -ID), then list its controls
//   ZDRIVE window CLASS TITLE              a plain top-level window, until ended
//   ZDRIVE msgbox [MS] | answer ID [MS]
//   ZDRIVE nobox [TITLE]                   watch for message boxes until a line (or the
//                                          end) on stdin; fails on the first one seen
//                                          that is not a dialog titled TITLE
//   ZDRIVE testwindow LOGFILE              full-screen window logging buttons and moves
//   ZDRIVE testdialog LOGFILE              a window with a button and a check box;
//                                          the button shows a message box
//   ZDRIVE readcom N COUNT MS [BAUD]       read COUNT bytes from COMn, print them in hex
//   ZDRIVE bench COUNT                      time COUNT raw-position requests
//   ZDRIVE watch CLASS TITLE MS            when the window is first shown, and how long
//                                          after that it was hidden
//   ZDRIVE qpc                             the performance counter in nanoseconds
//   ZDRIVE firstwindow EXE MS              start EXE; how long until its first window
//                                          (or message box) shows
//   ZDRIVE broadcast NAME                  post the registered message NAME to every
//                                          top-level window
//   ZDRIVE trayremove CLASS TITLE ID       take the window's tray icon away
//   ZDRIVE endloader                       ask the user's loader to end, as setup does
//   ZDRIVE hogpipe                         take every instance of the stand-in's pipe
//                                          (at most 64) until a line on stdin
// CLASS or TITLE "-" matches any.  Exit code 0 on success, 1 on failure.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sddl.h>

#include "standin_pipe.h"
#include "zavir.h"
#include "zavir_wire.h"

namespace {

void Out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
}

DWORD Number(const char* text) { return (DWORD)strtoul(text, NULL, 0); }

const char* OrNull(const char* text) { return strcmp(text, "-") == 0 ? NULL : text; }

HWND FindWindowWithin(const char* cls, const char* title, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND w = FindWindowA(OrNull(cls), OrNull(title));
        if (w || GetTickCount() - start >= ms) return w;
        Sleep(50);
    }
}

void TextOf(HWND w, char* text, int size) {
    DWORD_PTR length = 0;
    text[0] = '\0';
    // WM_GETTEXT, not GetWindowText: it reaches other processes' controls.
    SendMessageTimeoutA(w, WM_GETTEXT, size, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &length);
    text[size - 1] = '\0';
    for (char* p = text; *p; ++p)
        if (*p == '\r' || *p == '\n' || *p == '"') *p = ' ';
}

BOOL CALLBACK PrintControl(HWND w, LPARAM) {
    char cls[128], text[512];
    GetClassNameA(w, cls, sizeof cls);
    TextOf(w, text, sizeof text);
    RECT r;
    GetWindowRect(w, &r);
    DWORD_PTR checked = 0;
    LONG style = GetWindowLongA(w, GWL_STYLE);
    if (lstrcmpiA(cls, "Button") == 0)
        SendMessageTimeoutA(w, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &checked);
    Out("control id=%d class=\"%s\" text=\"%s\" visible=%d enabled=%d checked=%d "
        "style=0x%08lx rect=%ld,%ld,%ld,%ld",
        GetDlgCtrlID(w), cls, text, IsWindowVisible(w) ? 1 : 0, IsWindowEnabled(w) ? 1 : 0,
        (int)checked, (unsigned long)style, r.left, r.top, r.right, r.bottom);
    return TRUE;
}

struct MessageBoxSearch {
    HWND found;
};

BOOL CALLBACK FindMessageBox(HWND w, LPARAM parameter) {
    char cls[32];
    GetClassNameA(w, cls, sizeof cls);
    if (strcmp(cls, "#32770") == 0 && IsWindowVisible(w) && GetDlgItem(w, 0xFFFF)) {
        ((MessageBoxSearch*)parameter)->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND MessageBoxWithin(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MessageBoxSearch search = {NULL};
        EnumWindows(FindMessageBox, (LPARAM)&search);
        if (search.found || GetTickCount() - start >= ms) return search.found;
        Sleep(50);
    }
}

void PrintMessageBox(HWND box) {
    char caption[256], text[1024];
    // Wine shows a box before its initialisation has filled in the text,
    // and answers no WM_GETTEXT meanwhile: on a slow machine (the release's
    // emulated PC) the box is found empty for seconds.
    for (int tries = 0; tries < 200 && IsWindow(box); ++tries) {
        TextOf(GetDlgItem(box, 0xFFFF), text, sizeof text);
        if (text[0]) break;
        Sleep(50);
    }
    TextOf(box, caption, sizeof caption);
    TextOf(GetDlgItem(box, 0xFFFF), text, sizeof text);
    Out("msgbox caption=\"%s\" text=\"%s\"", caption, text);
}

volatile LONG g_stopWatching = 0;

DWORD WINAPI WaitForStdinLine(LPVOID) {
    char line[64];
    fgets(line, sizeof line, stdin);
    InterlockedExchange(&g_stopWatching, 1);
    return 0;
}

struct BoxWatch {
    const char* ignoredTitle;
    HWND found;
};

// The title straight from the window, without a message: the dialog may
// belong to a thread that is busy in its initialisation.
BOOL CALLBACK FindOtherBox(HWND w, LPARAM parameter) {
    BoxWatch* watch = (BoxWatch*)parameter;
    MessageBoxSearch search = {NULL};
    FindMessageBox(w, (LPARAM)&search);
    if (!search.found) return TRUE;
    WCHAR title[256];
    char narrow[256];
    InternalGetWindowText(w, title, 256);
    WideCharToMultiByte(CP_ACP, 0, title, -1, narrow, sizeof narrow, NULL, NULL);
    if (watch->ignoredTitle && strcmp(narrow, watch->ignoredTitle) == 0) return TRUE;
    watch->found = w;
    return FALSE;
}

// Polls often enough to catch a box that some program shows and takes down
// again at once.  Wine maps a visible dialog for a moment even when it ends
// during its initialisation; such a dialog is named by its title to be
// passed over.
int NoBox(const char* ignoredTitle) {
    HANDLE reader = CreateThread(NULL, 0, WaitForStdinLine, NULL, 0, NULL);
    if (reader) CloseHandle(reader);
    Out("watching");
    for (;;) {
        BoxWatch watch = {ignoredTitle, NULL};
        EnumWindows(FindOtherBox, (LPARAM)&watch);
        if (watch.found) {
            PrintMessageBox(watch.found);
            return 1;
        }
        if (!reader || g_stopWatching) break;
        Sleep(10);
    }
    Out("no message box");
    return 0;
}

int Click(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!button) {
        Out("no control %d", id);
        return 1;
    }
    // Posted, so that a modal loop the click opens does not hold us.
    PostMessageA(button, BM_CLICK, 0, 0);
    Out("clicked %d", id);
    return 0;
}

// A visible top-level window of the class and title whose controls match
// the wanted ids: each positive id present, each negative id absent.
struct PageSearch {
    const char* cls;
    const char* title;
    char** ids;
    int idCount;
    HWND found;
};

BOOL CALLBACK FindPage(HWND w, LPARAM parameter) {
    PageSearch* search = (PageSearch*)parameter;
    char cls[128], title[256];
    GetClassNameA(w, cls, sizeof cls);
    TextOf(w, title, sizeof title);
    if (!IsWindowVisible(w)) return TRUE;
    if (search->cls && lstrcmpiA(cls, search->cls) != 0) return TRUE;
    if (search->title && strcmp(title, search->title) != 0) return TRUE;
    for (int i = 0; i < search->idCount; ++i) {
        long id = strtol(search->ids[i], NULL, 0);
        BOOL present = id >= 0 ? GetDlgItem(w, (int)id) != NULL : GetDlgItem(w, (int)-id) != NULL;
        if (present != (id >= 0)) return TRUE;
    }
    search->found = w;
    return FALSE;
}

int WaitPage(const char* cls, const char* title, DWORD ms, char** ids, int idCount) {
    DWORD start = GetTickCount();
    for (;;) {
        PageSearch search = {OrNull(cls), OrNull(title), ids, idCount, NULL};
        EnumWindows(FindPage, (LPARAM)&search);
        if (search.found) {
            Out("page %p", (void*)search.found);
            EnumChildWindows(search.found, PrintControl, 0);
            return 0;
        }
        if (GetTickCount() - start >= ms) break;
        Sleep(50);
    }
    Out("no page");
    return 1;
}

LRESULT CALLBACK PlainWindowProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(w, message, wParam, lParam);
}

// Stands in for another program's main window (found by class and title).
int PlainWindow(const char* cls, const char* title) {
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = PlainWindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = cls;
    if (!RegisterClassA(&wc)) return 1;
    HWND w = CreateWindowExA(0, cls, title, WS_OVERLAPPEDWINDOW, 40, 40, 200, 100, NULL, NULL,
                             wc.hInstance, NULL);
    if (!w) return 1;
    Out("window ready");
    MSG m;
    while (GetMessageA(&m, NULL, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return 0;
}

int WaitPipe(DWORD ms) {
    char name[ZAVIR_PIPE_NAME_SIZE];
    DWORD start = GetTickCount();
    for (;;) {
        if (PublishedStandInName(name) && WaitNamedPipeA(name, 200)) {
            Out("pipe ready");
            return 0;
        }
        if (GetTickCount() - start >= ms) break;
        Sleep(50);
    }
    Out("pipe missing");
    return 1;
}

int RequestStep(ZavirDriver* d, DWORD code, DWORD inSize, DWORD outSize, char** w) {
    DWORD in[4] = {Number(w[0]), Number(w[1]), Number(w[2]), Number(w[3])};
    DWORD out[4] = {0, 0, 0, 0};
    BOOL ok = ZavirRequest(d, code, in, inSize, out, outSize);
    Out("request 0x%06lx ok=%d out=%lu,%lu", (unsigned long)code, ok ? 1 : 0,
        (unsigned long)out[0], (unsigned long)out[1]);
    return 0;
}

int Session(int argc, char** argv) {
    ZavirDriver d;
    if (!OpenZavirDriver(&d)) {
        Out("open failed");
        return 1;
    }
    Out("open standin=%d", d.viaStandIn ? 1 : 0);
    int i = 0;
    while (i < argc) {
        const char* step = argv[i++];
        int left = argc - i;
        if (strcmp(step, "handover") == 0) {
            SendHandOver(&d);
            Out("handover");
        } else if (strcmp(step, "packet") == 0 && left >= 4) {
            PacketRecord p = {{Number(argv[i]), Number(argv[i + 1]), Number(argv[i + 2]),
                               Number(argv[i + 3])}};
            i += 4;
            SendPacket(&d, &p);
            Out("packet");
        } else if (strcmp(step, "corners") == 0 && left >= 8) {
            CornerSet c = {(LONG)Number(argv[i]),     (LONG)Number(argv[i + 1]),
                           (LONG)Number(argv[i + 2]), (LONG)Number(argv[i + 3]),
                           (LONG)Number(argv[i + 4]), (LONG)Number(argv[i + 5]),
                           (LONG)Number(argv[i + 6]), (LONG)Number(argv[i + 7])};
            i += 8;
            SendCorners(&d, &c);
            Out("corners");
        } else if (strcmp(step, "calib") == 0 && left >= 2) {
            SetCalibrationMode(&d, Number(argv[i]), Number(argv[i + 1]));
            i += 2;
            Out("calib");
        } else if (strcmp(step, "rawpos") == 0) {
            LONG x = -1, y = -1;
            BOOL ok = ReadRawPosition(&d, &x, &y);
            Out("rawpos ok=%d %ld %ld", ok ? 1 : 0, x, y);
        } else if (strcmp(step, "cursor") == 0) {
            POINT p = {-1, -1};
            GetCursorPos(&p);
            Out("cursor %ld %ld left=%d", p.x, p.y, (GetAsyncKeyState(VK_LBUTTON) & 0x8000) ? 1 : 0);
        } else if (strcmp(step, "sleep") == 0 && left >= 1) {
            Sleep(Number(argv[i++]));
        } else if (strcmp(step, "hold") == 0) {
            Out("holding");
            char line[64];
            fgets(line, sizeof line, stdin);
        } else if (strcmp(step, "request") == 0 && left >= 7) {
            RequestStep(&d, Number(argv[i]), Number(argv[i + 1]), Number(argv[i + 2]), argv + i + 3);
            i += 7;
        } else {
            Out("bad step %s", step);
            CloseZavirDriver(&d);
            return 1;
        }
    }
    CloseZavirDriver(&d);
    Out("closed");
    return 0;
}

HANDLE OpenPipe() {
    char name[ZAVIR_PIPE_NAME_SIZE];
    PublishedStandInName(name);
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0,
                       NULL);
}

// Writes one frame straight onto the pipe, bypassing the client's checks.
int Frame(char** argv) {
    HANDLE pipe = OpenPipe();
    if (pipe == INVALID_HANDLE_VALUE) return 1;
    ZavirWireRequest r;
    r.code = Number(argv[0]);
    r.inSize = Number(argv[1]);
    r.outSize = Number(argv[2]);
    for (int i = 0; i < 4; ++i) r.in[i] = Number(argv[3 + i]);
    ZavirWireAnswer a;
    ZeroMemory(&a, sizeof a);
    DWORD n = 0, got = 0;
    BOOL sent = WriteFile(pipe, &r, sizeof r, &n, NULL);
    BOOL answered = sent && ReadFile(pipe, &a, sizeof a, &got, NULL) && got == sizeof a;
    Out("frame answered=%d ok=%lu returned=%lu", answered ? 1 : 0, (unsigned long)a.ok,
        (unsigned long)a.bytesReturned);
    CloseHandle(pipe);
    return answered ? 0 : 1;
}

// Starts a request and vanishes halfway through its frame.
int HalfFrame() {
    HANDLE pipe = OpenPipe();
    if (pipe == INVALID_HANDLE_VALUE) return 1;
    DWORD code = kPacketRequest, n = 0;
    WriteFile(pipe, &code, sizeof code, &n, NULL);
    CloseHandle(pipe);
    Out("half frame sent");
    return 0;
}

// The first bytes of a frame (none: a client that never sends), then a
// wait for an answer that can't come, until the stand-in drops the pipe.
int Stall(DWORD bytes) {
    char name[ZAVIR_PIPE_NAME_SIZE];
    PublishedStandInName(name);
    HANDLE pipe = OpenPipe();
    // An instance a client has just left is free again a moment later.
    if (pipe == INVALID_HANDLE_VALUE && WaitNamedPipeA(name, 5000)) pipe = OpenPipe();
    ZavirWireRequest r = {kPacketRequest, 16, 16, {1, 2, 3, 4}};
    DWORD n = 0;
    if (pipe == INVALID_HANDLE_VALUE || bytes > sizeof r) {
        Out("open failed %lu", (unsigned long)GetLastError());
        return 1;
    }
    if (bytes > 0) WriteFile(pipe, &r, bytes, &n, NULL);
    Out("stalled after %lu bytes", (unsigned long)n);
    DWORD start = GetTickCount();
    ZavirWireAnswer a;
    BOOL answered = ReadFile(pipe, &a, sizeof a, &n, NULL) && n > 0;
    Out("%s after %lu ms", answered ? "answered" : "dropped", (unsigned long)(GetTickCount() - start));
    return 0;
}

BOOL PrintSecurity(const char* what, HANDLE object) {
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    union {
        SECURITY_DESCRIPTOR sd;
        BYTE bytes[4096];
    } buffer;
    DWORD needed = 0;
    LPSTR text = NULL;
    if (object == NULL || object == INVALID_HANDLE_VALUE ||
        !GetKernelObjectSecurity(object, parts, &buffer.sd, sizeof buffer, &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(&buffer.sd, SDDL_REVISION_1, parts,
                                                              &text, NULL))
        return FALSE;
    Out("%s %s", what, text);
    return TRUE;
}

// The pipe's security, and its serving mutex's (named for the user).
int PipeSecurity() {
    BYTE sid[USER_SID_SIZE];
    LPSTR sidText = NULL;
    char mutexName[256] = "";
    if (CurrentUserSid(sid, sizeof sid) && ConvertSidToStringSidA((PSID)sid, &sidText))
        wsprintfA(mutexName, "ZavirDriverStandIn.%s", sidText);
    HANDLE mutex = OpenMutexA(READ_CONTROL, FALSE, mutexName);
    // A loader's end event, when a loader serves.
    char eventName[LOADER_END_EVENT_SIZE];
    HANDLE event = LoaderEndEventName(eventName) ? OpenEventA(READ_CONTROL, FALSE, eventName) : NULL;
    BOOL ok = PrintSecurity("security", OpenPipe()) && PrintSecurity("mutex", mutex);
    return ok && (!event || PrintSecurity("event", event)) ? 0 : 1;
}

int ReadOnlyKey(const char* path) {
    HKEY key;
    PSECURITY_DESCRIPTOR sd = NULL;
    BOOL ok = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC | KEY_READ, &key) ==
              ERROR_SUCCESS;
    if (ok) {
        ok = ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)",
                                                                  SDDL_REVISION_1, &sd, NULL) &&
             RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    if (sd) LocalFree(sd);
    // The proof: full access, which a program that writes asks for, is refused.
    BOOL refused = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) ==
                   ERROR_ACCESS_DENIED;
    Out("readonly set=%d refused=%d", ok ? 1 : 0, refused ? 1 : 0);
    return ok && refused ? 0 : 1;
}

DWORD WINAPI AnswerEveryone(LPVOID parameter) {
    HANDLE pipe = (HANDLE)parameter;
    for (;;) {
        if (!ConnectNamedPipe(pipe, NULL) && GetLastError() != ERROR_PIPE_CONNECTED) return 1;
        ZavirWireRequest r;
        DWORD n = 0;
        while (ReadFile(pipe, &r, sizeof r, &n, NULL) && n == sizeof r) {
            ZavirWireAnswer a;
            ZeroMemory(&a, sizeof a);
            a.ok = 1;
            WriteFile(pipe, &a, sizeof a, &n, NULL);
        }
        DisconnectNamedPipe(pipe);
    }
}

// Another user's program that took the pipe's name first, and the names
// of the user's serving mutex and of their loader's end event.
int Squat(const char* owner) {
    char me[256] = "";
    if (!CurrentUserSidText(me, sizeof me)) return 1;
    if (strcmp(owner, "me") == 0) owner = me;
    char sddl[400];
    wsprintfA(sddl, "O:%sD:(A;;GA;;;WD)", owner);
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                              &sa.lpSecurityDescriptor, NULL))
        return 1;
    char mutexName[300];
    wsprintfA(mutexName, "ZavirDriverStandIn.%s", me);
    char eventName[LOADER_END_EVENT_SIZE];
    if (!CreateMutexA(&sa, FALSE, mutexName) || !LoaderEndEventName(eventName) ||
        !CreateEventA(&sa, FALSE, FALSE, eventName))
        return 1;
    // Taken as a program of the user could: a name of its own, published.
    char name[ZAVIR_PIPE_NAME_SIZE];
    const BYTE random[ZAVIR_PIPE_RANDOM_BYTES] = {0x5a};
    FormatStandInPipeName(name, CurrentSessionId(), random);
    PublishStandInName(name);
    HANDLE pipe = CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 256,
                                   256, 0, &sa);
    if (pipe == INVALID_HANDLE_VALUE) {
        Out("squat failed %lu", (unsigned long)GetLastError());
        return 1;
    }
    HANDLE server = CreateThread(NULL, 0, AnswerEveryone, pipe, 0, NULL);
    if (server) CloseHandle(server);
    Out("squatting %s", sddl);
    char line[64];
    fgets(line, sizeof line, stdin);
    return 0;
}

int Screen() {
    Out("screen %d %d", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    return 0;
}

int ChangeDisplay(DWORD width, DWORD height) {
    DEVMODEA mode;
    ZeroMemory(&mode, sizeof mode);
    mode.dmSize = sizeof mode;
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    LONG result = ChangeDisplaySettingsA(&mode, 0);
    Out("display result=%ld", result);
    Screen();
    return result == DISP_CHANGE_SUCCESSFUL ? 0 : 1;
}

HANDLE g_windowLog = INVALID_HANDLE_VALUE;

void LogLine(const char* text) {
    DWORD n = 0;
    WriteFile(g_windowLog, text, lstrlenA(text), &n, NULL);
}

// The test window draws where the pointer went (screenshots show no
// pointer): a trail of moves, a ring where the button went down.
struct TrailPoint {
    POINT p;
    BOOL pressed;
};
TrailPoint g_trail[256];
int g_trailCount = 0;
BOOL g_buttonDown = FALSE;

void AddToTrail(HWND w, POINT p, BOOL ring) {
    if (g_trailCount == 256) {
        MoveMemory(g_trail, g_trail + 1, sizeof g_trail - sizeof g_trail[0]);
        --g_trailCount;
    }
    g_trail[g_trailCount].p = p;
    g_trail[g_trailCount].pressed = ring;
    ++g_trailCount;
    InvalidateRect(w, NULL, TRUE);
}

void PaintTrail(HWND w) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    HPEN line = CreatePen(PS_SOLID, 3, RGB(255, 255, 0));
    HPEN ring = CreatePen(PS_SOLID, 3, RGB(255, 0, 0));
    HGDIOBJ old = SelectObject(dc, line);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    for (int i = 0; i < g_trailCount; ++i) {
        POINT p = g_trail[i].p;
        ScreenToClient(w, &p);
        // Each touch is its own line.
        if (i == 0 || g_trail[i].pressed)
            MoveToEx(dc, p.x, p.y, NULL);
        else
            LineTo(dc, p.x, p.y);
        if (g_trail[i].pressed) {
            SelectObject(dc, ring);
            Ellipse(dc, p.x - 12, p.y - 12, p.x + 13, p.y + 13);
            SelectObject(dc, line);
        }
    }
    if (g_trailCount > 0) {
        // Cross-hair at the last position.
        POINT p = g_trail[g_trailCount - 1].p;
        ScreenToClient(w, &p);
        MoveToEx(dc, p.x - 20, p.y, NULL);
        LineTo(dc, p.x + 21, p.y);
        MoveToEx(dc, p.x, p.y - 20, NULL);
        LineTo(dc, p.x, p.y + 21);
    }
    SelectObject(dc, old);
    DeleteObject(line);
    DeleteObject(ring);
    EndPaint(w, &ps);
}

LRESULT CALLBACK TestWindowProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    const char* name = NULL;
    switch (message) {
    case WM_PAINT: PaintTrail(w); return 0;
    case WM_LBUTTONDOWN: name = "down"; break;
    case WM_LBUTTONUP: name = "up"; break;
    case WM_RBUTTONDOWN: name = "rdown"; break;
    case WM_RBUTTONUP: name = "rup"; break;
    case WM_MOUSEMOVE: name = "move"; break;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    if (name) {
        POINT p = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        ClientToScreen(w, &p);
        static POINT lastMove = {-1, -1};
        if (message == WM_MOUSEMOVE) {
            if (p.x == lastMove.x && p.y == lastMove.y) return 0;
            lastMove = p;
        }
        char line[96];
        wsprintfA(line, "%s %ld %ld\r\n", name, p.x, p.y);
        LogLine(line);
        if (message == WM_LBUTTONDOWN) g_buttonDown = TRUE;
        if (message == WM_LBUTTONUP) g_buttonDown = FALSE;
        if (message == WM_LBUTTONDOWN || (message == WM_MOUSEMOVE && g_buttonDown))
            AddToTrail(w, p, message == WM_LBUTTONDOWN);
        return 0;
    }
    return DefWindowProcA(w, message, wParam, lParam);
}

int TestWindow(const char* logPath) {
    g_windowLog = CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (g_windowLog == INVALID_HANDLE_VALUE) return 1;
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = TestWindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(GRAY_BRUSH);
    wc.lpszClassName = "ZavirTestWindow";
    if (!RegisterClassA(&wc)) return 1;
    HWND w = CreateWindowExA(0, "ZavirTestWindow", "Zavir Test Window", WS_POPUP | WS_VISIBLE, 0,
                             0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                             NULL, NULL, wc.hInstance, NULL);
    if (!w) return 1;
    SetForegroundWindow(w);
    LogLine("ready\r\n");
    Out("window ready");
    MSG m;
    while (GetMessageA(&m, NULL, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    CloseHandle(g_windowLog);
    return 0;
}

// A small window with controls for the driving commands to work on.
LRESULT CALLBACK TestDialogProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONUP: {
        // A release on the window's face (not on a control), in screen
        // coordinates.
        POINT p = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        ClientToScreen(w, &p);
        char line[64];
        wsprintfA(line, "up %ld %ld\r\n", p.x, p.y);
        LogLine(line);
        return 0;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            int answer = MessageBoxA(w, "Button pressed", "Zavir Test", MB_OKCANCEL);
            BOOL checked = IsDlgButtonChecked(w, 100) == BST_CHECKED;
            char line[64];
            wsprintfA(line, "answer %d checked %d\r\n", answer, checked ? 1 : 0);
            LogLine(line);
            return 0;
        }
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(w, message, wParam, lParam);
}

int TestDialog(const char* logPath) {
    g_windowLog = CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (g_windowLog == INVALID_HANDLE_VALUE) return 1;
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = TestDialogProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "ZavirTestDialog";
    if (!RegisterClassA(&wc)) return 1;
    HWND w = CreateWindowExA(0, wc.lpszClassName, "Zavir Test Dialog",
                             WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 100, 100, 300, 200, NULL,
                             NULL, wc.hInstance, NULL);
    if (!w) return 1;
    CreateWindowExA(0, "Static", "Touch settings", WS_CHILD | WS_VISIBLE, 10, 10, 200, 20, w,
                    (HMENU)200, wc.hInstance, NULL);
    CreateWindowExA(0, "Button", "Beep", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 10, 40, 100,
                    20, w, (HMENU)100, wc.hInstance, NULL);
    CreateWindowExA(0, "Button", "OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 10, 80, 80, 24,
                    w, (HMENU)IDOK, wc.hInstance, NULL);
    CreateWindowExA(0, "Button", "Later", WS_CHILD | WS_VISIBLE | WS_DISABLED, 100, 80, 80, 24,
                    w, (HMENU)300, wc.hInstance, NULL);
    LogLine("ready\r\n");
    Out("dialog ready");
    MSG m;
    while (GetMessageA(&m, NULL, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    CloseHandle(g_windowLog);
    return 0;
}

int ReadCom(int port, DWORD count, DWORD ms, DWORD baud) {
    char name[16];
    wsprintfA(name, "\\\\.\\COM%d", port);
    HANDLE h = CreateFileA(name, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        Out("open %s failed %lu", name, (unsigned long)GetLastError());
        return 1;
    }
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(h, &dcb);
    COMMTIMEOUTS t = {50, 0, 50, 0, 0};
    SetCommTimeouts(h, &t);
    Out("opened %s", name);
    BYTE data[1024];
    DWORD have = 0, start = GetTickCount();
    if (count > sizeof data) count = sizeof data;
    while (have < count && GetTickCount() - start < ms) {
        DWORD got = 0;
        if (!ReadFile(h, data + have, count - have, &got, NULL)) break;
        have += got;
    }
    CloseHandle(h);
    char line[3 * 1024 + 16] = "bytes";
    int length = 5;
    for (DWORD i = 0; i < have; ++i) length += wsprintfA(line + length, " %02x", data[i]);
    Out("%s", line);
    return have == count ? 0 : 1;
}

// Round trips to the driver: a figure, not a test.
int Bench(DWORD count) {
    ZavirDriver d;
    if (!OpenZavirDriver(&d) || count == 0) return 1;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    LONG x = 0, y = 0;
    DWORD failed = 0;
    for (DWORD i = 0; i < count; ++i)
        if (!ReadRawPosition(&d, &x, &y)) ++failed;
    QueryPerformanceCounter(&end);
    CloseZavirDriver(&d);
    double us = (double)(end.QuadPart - start.QuadPart) * 1e6 / (double)frequency.QuadPart;
    Out("bench requests=%lu failed=%lu total_us=%ld per_request_us=%ld", (unsigned long)count,
        (unsigned long)failed, (long)us, (long)(us / count));
    return failed == 0 ? 0 : 1;
}

// Polls every 5 ms: the interval between showing and hiding is what is
// asked for, to within a few milliseconds.
int Watch(const char* cls, const char* title, DWORD ms) {
    DWORD start = GetTickCount();
    HWND w = NULL;
    Out("watching");
    while (!(w && IsWindowVisible(w))) {
        if (GetTickCount() - start >= ms) {
            Out("timeout %s", w ? "never shown" : "no window");
            return 1;
        }
        Sleep(5);
        w = FindWindowA(OrNull(cls), OrNull(title));
    }
    DWORD shown = GetTickCount();
    Out("shown");
    while (IsWindow(w) && IsWindowVisible(w)) {
        if (GetTickCount() - start >= ms) {
            Out("timeout still shown");
            return 1;
        }
        Sleep(5);
    }
    Out("%s after %lu ms", IsWindow(w) ? "hidden" : "gone", (unsigned long)(GetTickCount() - shown));
    return 0;
}

struct ProcessWindow {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND w, LPARAM parameter) {
    ProcessWindow* search = (ProcessWindow*)parameter;
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner != search->process || !IsWindowVisible(w)) return TRUE;
    search->found = w;
    return FALSE;
}

// From the start of the process to its first visible top-level window.
int FirstWindow(const char* exe, DWORD ms) {
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    DWORD start = GetTickCount();
    if (!CreateProcessA(exe, NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started)) {
        Out("not started %lu", (unsigned long)GetLastError());
        return 1;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    ProcessWindow search = {started.dwProcessId, NULL};
    while (!search.found) {
        if (GetTickCount() - start >= ms) {
            Out("no window");
            return 1;
        }
        Sleep(5);
        EnumWindows(FindProcessWindow, (LPARAM)&search);
    }
    DWORD elapsed = GetTickCount() - start;
    char cls[64], title[256];
    GetClassNameA(search.found, cls, sizeof cls);
    TextOf(search.found, title, sizeof title);
    Out("first window after %lu ms class=\"%s\" title=\"%s\"", (unsigned long)elapsed, cls,
        title);
    return 0;
}

int TrayRemove(HWND w, UINT id) {
    NOTIFYICONDATAA data;
    ZeroMemory(&data, sizeof data);
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = w;
    data.uID = id;
    BOOL removed = Shell_NotifyIconA(NIM_DELETE, &data);
    Out("tray icon removed=%d", removed ? 1 : 0);
    return removed ? 0 : 1;
}

// Every instance taken: a client that comes now finds the pipe busy.
int HogPipe() {
    const int kMost = 64;
    HANDLE held[kMost];
    int count = 0;
    BOOL busy = FALSE;
    while (count < kMost && !busy) {
        HANDLE pipe = OpenPipe();
        if (pipe != INVALID_HANDLE_VALUE)
            held[count++] = pipe;
        else if (GetLastError() == ERROR_PIPE_BUSY)
            busy = TRUE;
        else
            break;
    }
    Out("holding %d busy=%d", count, busy ? 1 : 0);
    char line[64];
    fgets(line, sizeof line, stdin);
    for (int i = 0; i < count; ++i) CloseHandle(held[i]);
    Out("released");
    return busy ? 0 : 1;
}

unsigned long long NowNanoseconds() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    unsigned long long f = (unsigned long long)frequency.QuadPart;
    unsigned long long c = (unsigned long long)now.QuadPart;
    return c / f * 1000000000ULL + c % f * 1000000000ULL / f;
}

int Usage() {
    Out("usage: see the comment at the top of drive.cpp");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const char* command = argv[1];
    char** rest = argv + 2;
    int left = argc - 2;
    if (strcmp(command, "waitpipe") == 0 && left >= 1) return WaitPipe(Number(rest[0]));
    if (strcmp(command, "session") == 0) return Session(left, rest);
    if (strcmp(command, "frame") == 0 && left >= 7) return Frame(rest);
    if (strcmp(command, "halfframe") == 0) return HalfFrame();
    if (strcmp(command, "stall") == 0 && left >= 1) return Stall(Number(rest[0]));
    if (strcmp(command, "pipesecurity") == 0) return PipeSecurity();
    if (strcmp(command, "endloader") == 0) return AskLoaderToEnd() ? 0 : 1;
    if (strcmp(command, "readonlykey") == 0 && left >= 1) return ReadOnlyKey(rest[0]);
    if (strcmp(command, "squat") == 0 && left >= 1) return Squat(rest[0]);
    if (strcmp(command, "display") == 0 && left >= 2)
        return ChangeDisplay(Number(rest[0]), Number(rest[1]));
    if (strcmp(command, "screen") == 0) return Screen();
    if (strcmp(command, "testwindow") == 0 && left >= 1) return TestWindow(rest[0]);
    if (strcmp(command, "testdialog") == 0 && left >= 1) return TestDialog(rest[0]);
    if (strcmp(command, "bench") == 0 && left >= 1) return Bench(Number(rest[0]));
    if (strcmp(command, "waitpage") == 0 && left >= 3)
        return WaitPage(rest[0], rest[1], Number(rest[2]), rest + 3, left - 3);
    if (strcmp(command, "window") == 0 && left >= 2) return PlainWindow(rest[0], rest[1]);
    if (strcmp(command, "watch") == 0 && left >= 3) return Watch(rest[0], rest[1], Number(rest[2]));
    if (strcmp(command, "firstwindow") == 0 && left >= 2)
        return FirstWindow(rest[0], Number(rest[1]));
    if (strcmp(command, "broadcast") == 0 && left >= 1) {
        UINT message = RegisterWindowMessageA(rest[0]);
        BOOL posted = message && PostMessageA(HWND_BROADCAST, message, 0, 0);
        Out("broadcast %s=%d", rest[0], posted ? 1 : 0);
        return posted ? 0 : 1;
    }
    if (strcmp(command, "hogpipe") == 0) return HogPipe();
    if (strcmp(command, "qpc") == 0) {
        Out("qpc %llu", NowNanoseconds());
        return 0;
    }
    if (strcmp(command, "readcom") == 0 && left >= 3)
        return ReadCom((int)Number(rest[0]), Number(rest[1]), Number(rest[2]),
                       left >= 4 ? Number(rest[3]) : 9600);
    if (strcmp(command, "nobox") == 0) return NoBox(left >= 1 ? rest[0] : NULL);
    if (strcmp(command, "msgbox") == 0 || strcmp(command, "answer") == 0) {
        BOOL answer = command[0] == 'a';
        if (answer && left < 1) return Usage();
        DWORD ms = left > (answer ? 1 : 0) ? Number(rest[answer ? 1 : 0]) : 5000;
        HWND box = MessageBoxWithin(ms);
        if (!box) {
            Out("no message box");
            return 1;
        }
        PrintMessageBox(box);
        return answer ? Click(box, (int)Number(rest[0])) : 0;
    }
    if (left < 2) return Usage();
    DWORD wait = (strcmp(command, "find") == 0 && left >= 3) ? Number(rest[2]) : 3000;
    HWND w = FindWindowWithin(rest[0], rest[1], wait);
    if (!w) {
        Out("no window");
        return 1;
    }
    if (strcmp(command, "find") == 0) {
        char title[256];
        TextOf(w, title, sizeof title);
        Out("window %p title=\"%s\" visible=%d", (void*)w, title, IsWindowVisible(w) ? 1 : 0);
        return 0;
    }
    if (strcmp(command, "controls") == 0) {
        EnumChildWindows(w, PrintControl, 0);
        return 0;
    }
    if (strcmp(command, "close") == 0) {
        PostMessageA(w, WM_CLOSE, 0, 0);
        Out("closed");
        return 0;
    }
    if (strcmp(command, "click") == 0 && left >= 3) return Click(w, (int)Number(rest[2]));
    if (strcmp(command, "trayremove") == 0 && left >= 3) return TrayRemove(w, Number(rest[2]));
    if (strcmp(command, "send") == 0 && left >= 5) {
        DWORD_PTR result = 0;
        LRESULT sent = SendMessageTimeoutA(w, Number(rest[2]), (WPARAM)Number(rest[3]),
                                           (LPARAM)(DWORD_PTR)Number(rest[4]),
                                           SMTO_ABORTIFHUNG, 5000, &result);
        Out("sent %d result=%ld", sent ? 1 : 0, (long)result);
        return sent ? 0 : 1;
    }
    if (strcmp(command, "press") == 0 && left >= 3) {
        HWND button = GetDlgItem(w, (int)Number(rest[2]));
        if (!button) {
            Out("no control %s", rest[2]);
            return 1;
        }
        DWORD_PTR ignored = 0;
        // Sent: the owner's WM_COMMAND has run when this returns.
        if (!SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored)) {
            Out("press timed out");
            return 1;
        }
        Out("pressed %s", rest[2]);
        return 0;
    }
    if (strcmp(command, "check") == 0 && left >= 4) {
        HWND box = GetDlgItem(w, (int)Number(rest[2]));
        if (!box) return Usage();
        DWORD_PTR state = 0;
        SendMessageTimeoutA(box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
        DWORD want = Number(rest[3]) ? BST_CHECKED : BST_UNCHECKED;
        if (state != want) {
            // A click, so that the owner hears of it as it would of a user.
            SendMessageTimeoutA(box, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
            SendMessageTimeoutA(box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
        }
        Out("checked %d", (int)state);
        return state == want ? 0 : 1;
    }
    return Usage();
}
