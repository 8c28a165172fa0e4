// The driver stand-in's pipe server and pointer injection; the request
// logic is emu_core.
#include <windows.h>

#include "emu_core.h"
#include "emu_server.h"
#include "settings.h"

#ifndef FILE_FLAG_FIRST_PIPE_INSTANCE
#define FILE_FLAG_FIRST_PIPE_INSTANCE 0x00080000
#endif

namespace {

typedef HANDLE(WINAPI* CreateNamedPipeFn)(LPCSTR, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                          LPSECURITY_ATTRIBUTES);
typedef BOOL(WINAPI* ConnectNamedPipeFn)(HANDLE, LPOVERLAPPED);
typedef BOOL(WINAPI* DisconnectNamedPipeFn)(HANDLE);
typedef BOOL(WINAPI* WaitNamedPipeFn)(LPCSTR, DWORD);
typedef UINT(WINAPI* SendInputFn)(UINT, LPINPUT, int);

// Looked up at run time: Windows 95 lacks SendInput, and Windows 9x has
// the pipe server calls only as failing stubs.
CreateNamedPipeFn g_createNamedPipe;
ConnectNamedPipeFn g_connectNamedPipe;
DisconnectNamedPipeFn g_disconnectNamedPipe;
WaitNamedPipeFn g_waitNamedPipe;
SendInputFn g_sendInput;

template <typename Fn>
void Resolve(Fn* fn, const char* module, const char* name) {
    HMODULE handle = GetModuleHandleA(module);
    if (!handle) handle = LoadLibraryA(module);
    *fn = handle ? (Fn)(void*)GetProcAddress(handle, name) : NULL;
}

CRITICAL_SECTION g_lock;
EmuState g_state;
HANDLE g_log = INVALID_HANDLE_VALUE;
// Stamped log: each line starts with the performance counter in
// nanoseconds, so latencies can be measured against other clocks.
BOOL g_stamped = FALSE;
// Held by the stand-in that serves; its name is one for the whole session.
const char kStandInMutexName[] = "ZavirDriverStandIn";
HANDLE g_serving = NULL;
LARGE_INTEGER g_frequency;

void WriteLogLine(const ZavirWireRequest* request) {
    if (g_log == INVALID_HANDLE_VALUE) return;
    char line[112];
    int length;
    if (g_stamped) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        length = FormatStampedRequestLine(
            line, sizeof line - 2, CounterToNanoseconds(now.QuadPart, g_frequency.QuadPart),
            request);
    } else {
        length = FormatRequestLine(line, sizeof line - 2, request);
    }
    line[length++] = '\r';
    line[length++] = '\n';
    DWORD written = 0;
    // The file is opened unbuffered by us: each line reaches it at once.
    WriteFile(g_log, line, (DWORD)length, &written, NULL);
}

void SendMouse(DWORD flags, LONG pixelX, LONG pixelY) {
    INPUT input;
    ZeroMemory(&input, sizeof input);
    input.type = INPUT_MOUSE;
    input.mi.dx = AbsoluteInputCoordinate(pixelX, GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = AbsoluteInputCoordinate(pixelY, GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = flags;
    if (g_sendInput) g_sendInput(1, &input, sizeof input);
}

// The top-level window under a screen point: a calibration touch belongs
// to the dialog's face, never to one of its controls.
HWND TopLevelWindowAt(POINT point) {
    HWND window = WindowFromPoint(point);
    while (window && (GetWindowLongA(window, GWL_STYLE) & WS_CHILD)) {
        HWND parent = GetParent(window);
        if (!parent) break;
        window = parent;
    }
    return window;
}

void Perform(const EmuAction* action) {
    switch (action->kind) {
    case kEmuNothing:
        break;
    case kEmuMove:
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, action->pixelX, action->pixelY);
        break;
    case kEmuMoveAndPress:
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, action->pixelX, action->pixelY);
        SendMouse(MOUSEEVENTF_LEFTDOWN, 0, 0);
        break;
    case kEmuLift:
        SendMouse(MOUSEEVENTF_LEFTUP, 0, 0);
        break;
    case kEmuCalibrationUp: {
        POINT point = {action->pixelX, action->pixelY};
        HWND window = TopLevelWindowAt(point);
        if (!window) break;
        ScreenToClient(window, &point);
        PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(point.x, point.y));
        break;
    }
    }
}

BOOL ReadFrame(HANDLE pipe, void* data, DWORD size) {
    BYTE* p = (BYTE*)data;
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(pipe, p, size, &got, NULL) || got == 0) return FALSE;
        p += got;
        size -= got;
    }
    return TRUE;
}

DWORD WINAPI ServeClient(LPVOID parameter) {
    HANDLE pipe = (HANDLE)parameter;
    ZavirWireRequest request;
    // A client that goes away, even halfway through a frame, just ends
    // its own thread.
    while (ReadFrame(pipe, &request, sizeof request)) {
        ZavirWireAnswer answer;
        EmuAction action;
        EnterCriticalSection(&g_lock);
        WriteLogLine(&request);
        HandleRequest(&g_state, &request, &answer, &action);
        Perform(&action);
        LeaveCriticalSection(&g_lock);
        DWORD written = 0;
        if (!WriteFile(pipe, &answer, sizeof answer, &written, NULL) || written != sizeof answer)
            break;
    }
    g_disconnectNamedPipe(pipe);
    CloseHandle(pipe);
    return 0;
}

char g_pipeName[ZAVIR_PIPE_NAME_SIZE];

HANDLE CreatePipeInstance(DWORD firstFlag) {
    return g_createNamedPipe(g_pipeName, PIPE_ACCESS_DUPLEX | firstFlag,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                             PIPE_UNLIMITED_INSTANCES, 256, 256, 0, NULL);
}

// Each listener keeps one pipe instance waiting; two of them mean a client
// always finds one while the other hands its connection over.  The first
// listener starts with the instance made by StartDriverStandIn.
DWORD WINAPI Listen(LPVOID parameter) {
    HANDLE pipe = (HANDLE)parameter;
    for (;;) {
        if (!pipe) pipe = CreatePipeInstance(0);
        if (pipe == INVALID_HANDLE_VALUE) {
            pipe = NULL;
            Sleep(100);
            continue;
        }
        HANDLE connected = pipe;
        pipe = NULL;
        if (!g_connectNamedPipe(connected, NULL) && GetLastError() != ERROR_PIPE_CONNECTED) {
            CloseHandle(connected);
            continue;
        }
        HANDLE thread = CreateThread(NULL, 0, ServeClient, connected, 0, NULL);
        if (thread)
            CloseHandle(thread);
        else
            CloseHandle(connected);
    }
}

// Ends a start that can't serve: lets go of the serving mutex (so that a
// later stand-in may serve) and of the pipe instance if there is one.
int GiveUp(int result, HANDLE pipe) {
    if (pipe != NULL && pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    if (g_serving) CloseHandle(g_serving);
    g_serving = NULL;
    return result;
}

}  // namespace

int StartDriverStandIn(const char* logPath, BOOL stampedLog) {
    Resolve(&g_createNamedPipe, "kernel32.dll", "CreateNamedPipeA");
    Resolve(&g_connectNamedPipe, "kernel32.dll", "ConnectNamedPipe");
    Resolve(&g_disconnectNamedPipe, "kernel32.dll", "DisconnectNamedPipe");
    Resolve(&g_waitNamedPipe, "kernel32.dll", "WaitNamedPipeA");
    Resolve(&g_sendInput, "user32.dll", "SendInput");
    if (!g_createNamedPipe || !g_connectNamedPipe || !g_disconnectNamedPipe || !g_waitNamedPipe)
        return kStandInNoPipe;
    // Two servers would split the clients and their state between them.
    // Stand-ins starting together (the loader at start-up and a program
    // that starts it) settle it with a named mutex held while serving; one
    // started later also finds the pipe served.  Wine doesn't refuse a
    // second first instance, so both checks are needed there.
    g_serving = CreateMutexA(NULL, FALSE, kStandInMutexName);
    if (g_serving && GetLastError() == ERROR_ALREADY_EXISTS) return GiveUp(kStandInNoPipe, NULL);
    StandInPipeName(g_pipeName);
    BOOL found = g_waitNamedPipe(g_pipeName, 1);
    if (PipeAlreadyServed(found, found ? ERROR_SUCCESS : GetLastError()))
        return GiveUp(kStandInNoPipe, NULL);
    // The first instance says whether this stand-in may serve at all: it
    // fails where named pipes can't be served and, on Windows, where
    // another stand-in has just taken the name.
    HANDLE first = CreatePipeInstance(FILE_FLAG_FIRST_PIPE_INSTANCE);
    if (first == INVALID_HANDLE_VALUE) return GiveUp(kStandInNoPipe, NULL);
    if (logPath && logPath[0]) {
        g_log = CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
        if (g_log == INVALID_HANDLE_VALUE) return GiveUp(kStandInNoLog, first);
        SetFilePointer(g_log, 0, NULL, FILE_END);
        g_stamped = stampedLog && QueryPerformanceFrequency(&g_frequency);
    }
    InitializeCriticalSection(&g_lock);
    CornerSet corners;
    LoadStartCorners(&corners);
    InitEmuState(&g_state, &corners, GetSystemMetrics(SM_CXSCREEN),
                 GetSystemMetrics(SM_CYSCREEN));
    HANDLE listener = CreateThread(NULL, 0, Listen, first, 0, NULL);
    if (!listener) return GiveUp(kStandInNoPipe, first);
    CloseHandle(listener);
    listener = CreateThread(NULL, 0, Listen, NULL, 0, NULL);
    if (listener) CloseHandle(listener);
    return kStandInServing;
}

int RunDriverStandIn(const char* logPath, BOOL stampedLog) {
    int result = StartDriverStandIn(logPath, stampedLog);
    if (result != kStandInServing) return result;
    for (;;) Sleep(INFINITE);
}
