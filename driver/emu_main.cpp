// ZAVIREMU: the user-mode stand-in for the kernel driver.  A named-pipe
// server with one thread per client; every request goes through the shared
// state under one lock, and what it asks of the pointer is done here with
// SendInput or a posted button message.
#include <windows.h>

#include "emu_core.h"
#include "settings.h"

namespace {

CRITICAL_SECTION g_lock;
EmuState g_state;
HANDLE g_log = INVALID_HANDLE_VALUE;
// --qpc: each log line starts with the performance counter in nanoseconds.
BOOL g_stamped = FALSE;
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
    SendInput(1, &input, sizeof input);
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
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    return 0;
}

// Each listener keeps one pipe instance waiting; two of them mean a client
// always finds one while the other hands its connection over.
DWORD WINAPI Listen(LPVOID) {
    for (;;) {
        HANDLE pipe = CreateNamedPipeA(ZAVIR_PIPE_NAME, PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, 256, 256, 0, NULL);
        if (pipe == INVALID_HANDLE_VALUE) {
            Sleep(100);
            continue;
        }
        if (!ConnectNamedPipe(pipe, NULL) && GetLastError() != ERROR_PIPE_CONNECTED) {
            CloseHandle(pipe);
            continue;
        }
        HANDLE thread = CreateThread(NULL, 0, ServeClient, pipe, 0, NULL);
        if (thread)
            CloseHandle(thread);
        else
            CloseHandle(pipe);
    }
}

void LoadStartCorners(CornerSet* corners) {
    TouchSettings settings;
    ZeroMemory(&settings, sizeof settings);
    DefaultCorners(corners);
    if (!LoadSettingValues(&settings, kCornerValues)) return;
    CornerSet stored = {settings.LeftUpX,  settings.LeftUpY,  settings.RightUpX,
                        settings.RightUpY, settings.RightDnX, settings.RightDnY,
                        settings.LeftDnX,  settings.LeftDnY};
    // Stored corners that cannot map anything would leave the pointer dead.
    if (CornersUsable(&stored)) *corners = stored;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    char logPath[MAX_PATH];
    if (!ParseEmuOptions(commandLine, logPath, sizeof logPath, &g_stamped)) return 2;
    QueryPerformanceFrequency(&g_frequency);
    if (logPath[0]) {
        g_log = CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
        if (g_log == INVALID_HANDLE_VALUE) return 3;
        SetFilePointer(g_log, 0, NULL, FILE_END);
    }
    InitializeCriticalSection(&g_lock);
    CornerSet corners;
    LoadStartCorners(&corners);
    InitEmuState(&g_state, &corners, GetSystemMetrics(SM_CXSCREEN),
                 GetSystemMetrics(SM_CYSCREEN));
    HANDLE second = CreateThread(NULL, 0, Listen, NULL, 0, NULL);
    if (second) CloseHandle(second);
    Listen(NULL);
    return 0;
}
