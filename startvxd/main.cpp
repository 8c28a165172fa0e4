// STARTVXD: loads the kernel driver when Windows starts and keeps it loaded
// (a dynamically loaded driver stays while a handle to it is open); where
// there is no driver to load, it serves the driver stand-in's pipe
// instead.  It shows nothing and takes no arguments; exit code 0 always.
#include <windows.h>

#include "emu_server.h"
#include "loader.h"
#include "standin_pipe.h"
#include "zavir.h"

namespace {

const char kClassName[] = "Halvern XR Loader";

typedef DWORD(WINAPI* RegisterServiceProcessFn)(DWORD, DWORD);
const DWORD kSimpleService = 1;

const int kShuttingDown = 0x2000;  // SM_SHUTTINGDOWN
// Every kind of message Windows 95 knows.  Today's headers fold later kinds
// (raw input) into QS_ALLINPUT, which Windows 2000 and 9x refuse: the wait
// would fail at once, every time, and the loader spin.
const DWORD kLoaderWakeMask = QS_KEY | QS_MOUSE | QS_POSTMESSAGE | QS_TIMER | QS_PAINT |
                              QS_HOTKEY | QS_SENDMESSAGE;
static_assert(kLoaderWakeMask == 0xFF, "no kind of message newer than Windows 95");

// Any program on the desktop can post this window anything: it ends only
// at a session's end the system confirms, or through its end event.
LRESULT CALLBACK LoaderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ENDSESSION:
            if (LoaderSessionEnds(message, wParam, lParam, !IsWindows9x(),
                                  GetSystemMetrics(kShuttingDown) != 0))
                PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
            return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Where the stand-in serves, the event gets its security: only the user
// (and SYSTEM and administrators) may set it.  One that existed before
// is someone else's and isn't listened to.
HANDLE CreateNewEvent(const char* name) {
    HANDLE event = CreateEventA(StandInSecurity(), FALSE, FALSE, name);
    if (event && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(event);
        return NULL;
    }
    return event;
}

// The user's name, or where someone else took it first, one nobody can
// guess, published for setup.  What was published stays till log-off; once
// the loader ends, setup finds no event there and asks the user's name too.
HANDLE CreateEndEvent() {
    char name[LOADER_END_EVENT_SIZE];
    if (!LoaderEndEventName(name)) return NULL;
    HANDLE event = CreateNewEvent(name);
    DWORD random[2];
    if (event || !StandInSecurity() || !StandInRandom((BYTE*)random, sizeof random)) return event;
    // The name leaves room for this part.
    wsprintfA(name + lstrlenA(name), ".%08lX%08lX", random[0], random[1]);
    event = CreateNewEvent(name);
    if (event && !PublishLoaderEndName(name)) {
        CloseHandle(event);
        event = NULL;
    }
    return event;
}

// FALSE once WM_QUIT came.
BOOL DispatchWaitingMessages() {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return FALSE;
        DispatchMessageA(&message);
    }
    return TRUE;
}

HANDLE OpenDevice(void*) { return OpenZavirDevice(); }

void CloseDevice(void*, HANDLE device) { CloseHandle(device); }

int StartStandIn(void*) { return StartDriverStandIn(NULL); }

// A never-shown top-level window: the shutdown messages go only to those.
void WaitForSessionEnd(void* context) {
    HINSTANCE instance = (HINSTANCE)context;
    // Windows 9x ends the processes of a user at log-off unless they are
    // registered as service processes; the other systems have no such call.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    RegisterServiceProcessFn registerService =
        kernel ? (RegisterServiceProcessFn)(void*)GetProcAddress(kernel, "RegisterServiceProcess")
               : NULL;
    if (registerService) registerService(0, kSimpleService);

    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = LoaderWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    RegisterClassExA(&wc);
    CreateWindowExA(0, kClassName, kClassName, WS_OVERLAPPED, 0, 0, 0, 0, NULL, NULL, instance,
                    NULL);
    HANDLE end = CreateEndEvent();
    DWORD count = end ? 1 : 0;
    while (DispatchWaitingMessages()) {
        DWORD woke = MsgWaitForMultipleObjects(count, &end, FALSE, INFINITE, kLoaderWakeMask);
        if (count == 1 && woke == WAIT_OBJECT_0) break;
    }
    if (end) CloseHandle(end);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    LoaderPlatform platform = {instance, OpenDevice, CloseDevice, StartStandIn,
                               WaitForSessionEnd};
    if (RunLoader(&platform) == kLoaderServedStandIn) StopDriverStandIn();
    return 0;
}
