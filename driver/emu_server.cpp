// The driver stand-in's pipe server and pointer injection; the request
// logic is emu_core.
#include <windows.h>

#include "emu_core.h"
#include "emu_server.h"
#include "settings.h"
#include "standin_pipe.h"

#ifndef STACK_SIZE_PARAM_IS_A_RESERVATION
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000
#endif
#ifndef SDDL_REVISION_1
#define SDDL_REVISION_1 1
#endif

namespace {

typedef HANDLE(WINAPI* CreateNamedPipeFn)(LPCSTR, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                          LPSECURITY_ATTRIBUTES);
typedef BOOL(WINAPI* ConnectNamedPipeFn)(HANDLE, LPOVERLAPPED);
typedef BOOL(WINAPI* DisconnectNamedPipeFn)(HANDLE);
typedef UINT(WINAPI* SendInputFn)(UINT, LPINPUT, int);
typedef BOOL(WINAPI* CancelIoFn)(HANDLE);
typedef BOOLEAN(WINAPI* GenRandomFn)(PVOID, ULONG);
typedef BOOL(WINAPI* AcquireContextFn)(ULONG_PTR*, LPCSTR, LPCSTR, DWORD, DWORD);
typedef BOOL(WINAPI* CryptGenRandomFn)(ULONG_PTR, DWORD, BYTE*);

// Looked up at run time: Windows 95 lacks SendInput and CancelIo, and
// Windows 9x has the pipe server calls only as failing stubs.
CreateNamedPipeFn g_createNamedPipe;
ConnectNamedPipeFn g_connectNamedPipe;
DisconnectNamedPipeFn g_disconnectNamedPipe;
SendInputFn g_sendInput;
CancelIoFn g_cancelIo;

template <typename Fn>
void Resolve(Fn* fn, const char* module, const char* name) {
    *fn = (Fn)(void*)SystemFunction(module, name);
}

CRITICAL_SECTION g_lock;
EmuState g_state;
// Held by the stand-in that serves; one per user in the session, so that
// nobody else's stand-in keeps the user's own from serving.
const char kStandInMutexPrefix[] = "ZavirDriverStandIn.";
HANDLE g_serving = NULL;
const RequestLog* g_requestLog = NULL;  // none: no request is logged

// The left button's state is kept before a press and after a release: a
// stand-in killed between the two leaves a release for the next to send,
// never a button held.
void SendMouse(DWORD flags, LONG pixelX, LONG pixelY) {
    if (flags == MOUSEEVENTF_LEFTDOWN) KeepButtonHeld(TRUE);
    INPUT input;
    ZeroMemory(&input, sizeof input);
    input.type = INPUT_MOUSE;
    input.mi.dx = AbsoluteInputCoordinate(pixelX, GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = AbsoluteInputCoordinate(pixelY, GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = flags;
    if (g_sendInput) g_sendInput(1, &input, sizeof input);
    if (flags == MOUSEEVENTF_LEFTUP) KeepButtonHeld(FALSE);
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
    case kEmuRightClick:
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, action->pixelX, action->pixelY);
        SendMouse(MOUSEEVENTF_RIGHTDOWN, 0, 0);
        SendMouse(MOUSEEVENTF_RIGHTUP, 0, 0);
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

// One client connection at a time on one pipe instance, which the slot
// keeps for the stand-in's whole life: the name can never fall free while
// it serves.
struct ClientSlot {
    HANDLE pipe;
    HANDLE event;  // manual-reset, for the instance's overlapped operations
};

ClientSlot g_slots[kStandInMaxClients];
DWORD g_lastClient;  // under g_lock

BOOL SameCorners(const CornerSet* a, const CornerSet* b) {
    return a->LeftUpX == b->LeftUpX && a->LeftUpY == b->LeftUpY && a->RightUpX == b->RightUpX &&
           a->RightUpY == b->RightUpY && a->RightDnX == b->RightDnX &&
           a->RightDnY == b->RightDnY && a->LeftDnX == b->LeftDnX && a->LeftDnY == b->LeftDnY;
}

void StartIo(const ClientSlot* slot, OVERLAPPED* io) {
    ZeroMemory(io, sizeof *io);
    io->hEvent = slot->event;
    ResetEvent(slot->event);
}

// The end of an overlapped operation that its call (`done`, with the
// thread's last error) started, waited for at most `ms`.  One that does not
// end in time is cancelled, and waited for until the cancel lands: its
// OVERLAPPED and buffer are ours until then.
BOOL FinishIo(const ClientSlot* slot, OVERLAPPED* io, BOOL done, DWORD ms, DWORD* bytes) {
    *bytes = 0;
    if (!done && GetLastError() != ERROR_IO_PENDING) return FALSE;
    if (!done && WaitForSingleObject(slot->event, ms) != WAIT_OBJECT_0) {
        g_cancelIo(slot->pipe);
        GetOverlappedResult(slot->pipe, io, bytes, TRUE);
        return FALSE;
    }
    return GetOverlappedResult(slot->pipe, io, bytes, FALSE);
}

BOOL WaitForClient(const ClientSlot* slot) {
    OVERLAPPED io;
    StartIo(slot, &io);
    if (g_connectNamedPipe(slot->pipe, &io)) return TRUE;
    // A client may have come between the instance's start and this call.
    if (GetLastError() == ERROR_PIPE_CONNECTED) return TRUE;
    DWORD ignored;
    return FinishIo(slot, &io, FALSE, INFINITE, &ignored);
}

// One request frame, read in as many pieces as the client writes it in.
BOOL ReadFrame(const ClientSlot* slot, ZavirWireRequest* request) {
    BYTE* data = (BYTE*)request;
    DWORD got = 0;
    DWORD firstByteAt = 0;
    while (got < sizeof *request) {
        DWORD wait = FrameWaitMs(got, got == 0 ? 0 : GetTickCount() - firstByteAt);
        OVERLAPPED io;
        StartIo(slot, &io);
        BOOL done = ReadFile(slot->pipe, data + got, sizeof *request - got, NULL, &io);
        DWORD read = 0;
        if (!FinishIo(slot, &io, done, wait, &read) || read == 0) return FALSE;
        if (got == 0) firstByteAt = GetTickCount();
        got += read;
    }
    return TRUE;
}

BOOL WriteAnswer(const ClientSlot* slot, const ZavirWireAnswer* answer) {
    OVERLAPPED io;
    StartIo(slot, &io);
    BOOL done = WriteFile(slot->pipe, answer, sizeof *answer, NULL, &io);
    DWORD written = 0;
    return FinishIo(slot, &io, done, kStandInFrameMs, &written) && written == sizeof *answer;
}

// Serves one client until it goes away, is dropped, or sends something
// that is not a frame; then undoes what it left in force.
void ServeClient(const ClientSlot* slot) {
    EnterCriticalSection(&g_lock);
    DWORD client = ++g_lastClient;
    if (client == 0) client = ++g_lastClient;
    LeaveCriticalSection(&g_lock);
    ZavirWireRequest request;
    while (ReadFrame(slot, &request)) {
        ZavirWireAnswer answer;
        EmuAction action;
        EnterCriticalSection(&g_lock);
        if (g_requestLog) g_requestLog->write(&request);
        SetEmuScreenSize(&g_state, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        CornerSet before = g_state.corners;
        HandleRequest(&g_state, client, &request, &answer, &action);
        Perform(&action);
        if (!SameCorners(&before, &g_state.corners)) KeepCornersInForce(&g_state.corners);
        LeaveCriticalSection(&g_lock);
        if (!WriteAnswer(slot, &answer)) break;
    }
    EmuAction undo;
    EnterCriticalSection(&g_lock);
    EmuClientGone(&g_state, client, &undo);
    Perform(&undo);
    LeaveCriticalSection(&g_lock);
}

char g_pipeName[ZAVIR_PIPE_NAME_SIZE];
DWORD g_pipeMode;
SECURITY_ATTRIBUTES g_pipeSecurity;

HANDLE CreatePipeInstance(BOOL first) {
    return g_createNamedPipe(g_pipeName, StandInPipeOpenMode(first), g_pipeMode,
                             kStandInMaxClients, 256, 256, 0, &g_pipeSecurity);
}

// The slot's life: its instance (the first slot's comes made), then one
// client after another.
DWORD WINAPI RunSlot(LPVOID parameter) {
    ClientSlot* slot = (ClientSlot*)parameter;
    while (slot->pipe == NULL || slot->pipe == INVALID_HANDLE_VALUE) {
        slot->pipe = CreatePipeInstance(FALSE);
        if (slot->pipe == INVALID_HANDLE_VALUE) Sleep(1000);
    }
    for (;;) {
        if (WaitForClient(slot))
            ServeClient(slot);
        else
            Sleep(100);  // nothing to serve; never a busy loop
        g_disconnectNamedPipe(slot->pipe);
    }
}

typedef BOOL(WINAPI* ConvertStringSecurityDescriptorFn)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR*,
                                                       PULONG);

// The pipe's security descriptor (StandInPipeSddl for this user), from
// advapi32 functions of Windows 2000 and later; NULL where it can't be
// built, and then the stand-in doesn't serve: a pipe with the default
// security would let other users read it.
PSECURITY_DESCRIPTOR BuildPipeSecurity(const char* sid) {
    ConvertStringSecurityDescriptorFn convertStringSecurityDescriptor;
    Resolve(&convertStringSecurityDescriptor, "advapi32.dll",
            "ConvertStringSecurityDescriptorToSecurityDescriptorA");
    if (!convertStringSecurityDescriptor) return NULL;
    char sddl[320];
    int length = StandInPipeSddl(sid, GetVersion(), sddl, sizeof sddl);
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (length == 0 || !convertStringSecurityDescriptor(sddl, SDDL_REVISION_1, &descriptor, NULL))
        return NULL;
    return descriptor;
}

// The serving mutex, made with the pipe's security (in g_serving): FALSE
// when another stand-in of this user serves.  The name is known, so someone
// else may have taken it ahead; that must not lock the user out, so what
// they hold (a mutex not this user's, one this user may not open, another
// kind of object) is passed over.
BOOL TakeServingMutex(const char* sid) {
    char name[sizeof kStandInMutexPrefix + 192];
    lstrcpyA(name, kStandInMutexPrefix);
    lstrcatA(name, sid);
    BYTE user[USER_SID_SIZE];
    BOOL known = FALSE;
    g_serving = CreateMutexA(&g_pipeSecurity, FALSE, name);
    if (!g_serving) return TRUE;
    if (GetLastError() == ERROR_ALREADY_EXISTS && (!CurrentUserSid(user, sizeof user) ||
                                                   ObjectOwnedBy(g_serving, user, &known) ||
                                                   !known)) {
        CloseHandle(g_serving);
        g_serving = NULL;
        return FALSE;
    }
    return TRUE;
}

// Windows 2000 has no RtlGenRandom; its CryptoAPI draws from the same
// source.  The provider serves this one start and goes with the process.
BOOL CryptoApiRandom(BYTE* random, DWORD size) {
    AcquireContextFn acquire;
    CryptGenRandomFn generate;
    Resolve(&acquire, "advapi32.dll", "CryptAcquireContextA");
    Resolve(&generate, "advapi32.dll", "CryptGenRandom");
    ULONG_PTR provider;
    return acquire && generate &&
           acquire(&provider, NULL, NULL, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
           generate(provider, size, random);
}

// A name nobody can guess, from the system's random source; FALSE where
// there is none.
BOOL MakePipeName(char* name) {
    BYTE random[ZAVIR_PIPE_RANDOM_BYTES];
    if (!StandInRandom(random, sizeof random)) return FALSE;
    FormatStandInPipeName(name, CurrentSessionId(), random);
    SecureZeroMemory(random, sizeof random);
    return TRUE;
}

}  // namespace

BOOL StandInRandom(BYTE* random, DWORD size) {
    GenRandomFn genRandom;
    Resolve(&genRandom, "advapi32.dll", "SystemFunction036");
    return genRandom ? genRandom(random, size) != 0 : CryptoApiRandom(random, size);
}

namespace {

// Ends a start that can't serve: lets go of the serving mutex (so that a
// later stand-in may serve), of the pipe instance if there is one and of
// the pipe's security descriptor.
int GiveUp(int result, HANDLE pipe) {
    if (pipe != NULL && pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    if (g_serving) CloseHandle(g_serving);
    g_serving = NULL;
    if (g_pipeSecurity.lpSecurityDescriptor) LocalFree(g_pipeSecurity.lpSecurityDescriptor);
    g_pipeSecurity.lpSecurityDescriptor = NULL;
    return result;
}

// The client slots' threads, the first with the first instance; each
// further slot makes its own instance.  FALSE when not even the first
// slot could start.
BOOL StartSlots(HANDLE first) {
    for (DWORD i = 0; i < kStandInMaxClients; ++i) {
        ClientSlot* slot = &g_slots[i];
        slot->pipe = i == 0 ? first : NULL;
        slot->event = CreateEventA(NULL, TRUE, FALSE, NULL);
        HANDLE thread = NULL;
        // Windows 2000 takes the size as the stack's first commit instead.
        if (slot->event)
            thread = CreateThread(NULL, kStandInStackBytes, RunSlot, slot,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
        if (!thread) {
            if (slot->event) CloseHandle(slot->event);
            slot->event = NULL;
            if (i == 0) return FALSE;
            continue;
        }
        CloseHandle(thread);
    }
    return TRUE;
}

}  // namespace

int StartDriverStandIn(const RequestLog* log) {
    Resolve(&g_createNamedPipe, "kernel32.dll", "CreateNamedPipeA");
    Resolve(&g_connectNamedPipe, "kernel32.dll", "ConnectNamedPipe");
    Resolve(&g_disconnectNamedPipe, "kernel32.dll", "DisconnectNamedPipe");
    Resolve(&g_sendInput, "user32.dll", "SendInput");
    Resolve(&g_cancelIo, "kernel32.dll", "CancelIo");
    if (!g_createNamedPipe || !g_connectNamedPipe || !g_disconnectNamedPipe || !g_cancelIo)
        return kStandInNoPipe;
    // Serving from above the user's usual level would let any program of
    // the user click into elevated windows.
    TokenFacts token;
    LearnTokenFacts(&token);
    if (!StandInMayServe(&token)) return kStandInElevated;
    char sid[192];
    if (!CurrentUserSidText(sid, sizeof sid)) return kStandInNoPipe;
    g_pipeSecurity.nLength = sizeof g_pipeSecurity;
    g_pipeSecurity.bInheritHandle = FALSE;
    g_pipeSecurity.lpSecurityDescriptor = BuildPipeSecurity(sid);
    // Two servers would split the clients and their state between them.
    // Stand-ins starting together (the loader at start-up and a program
    // that starts it) settle it with a named mutex held while serving.
    if (!g_pipeSecurity.lpSecurityDescriptor || !TakeServingMutex(sid) ||
        !MakePipeName(g_pipeName))
        return GiveUp(kStandInNoPipe, NULL);
    g_pipeMode = StandInPipeMode(GetVersion());
    // The first instance says whether this stand-in may serve at all: it
    // fails where named pipes can't be served and, on Windows, where
    // anyone else has already taken the name.
    HANDLE first = CreatePipeInstance(TRUE);
    if (first == INVALID_HANDLE_VALUE) return GiveUp(kStandInNoPipe, NULL);
    if (log && !log->open()) return GiveUp(kStandInNoLog, first);
    g_requestLog = log;
    InitializeCriticalSection(&g_lock);
    CornerSet corners;
    LoadStartCorners(&corners);
    InitEmuState(&g_state, &corners, GetSystemMetrics(SM_CXSCREEN),
                 GetSystemMetrics(SM_CYSCREEN));
    g_state.rightButton = LoadRightButtonSetting();
    // The stand-in before was killed with a touch down.
    if (ButtonKeptHeld()) SendMouse(MOUSEEVENTF_LEFTUP, 0, 0);
    if (!StartSlots(first)) return GiveUp(kStandInNoPipe, first);
    // Published last: a client that finds the name finds it served.  One
    // that can't find it would find no stand-in while this one held the
    // user's mutex: the user locked out for the session.  The slots serve
    // already, so the process ends with them (both callers end at once).
    if (!PublishStandInName(g_pipeName)) return kStandInNoPipe;
    return kStandInServing;
}

LPSECURITY_ATTRIBUTES StandInSecurity() {
    return g_pipeSecurity.lpSecurityDescriptor ? &g_pipeSecurity : NULL;
}

void StopDriverStandIn() {
    WithdrawStandInName(g_pipeName);
    EnterCriticalSection(&g_lock);
    EmuAction undo;
    EmuClientGone(&g_state, g_state.pressingClient, &undo);
    Perform(&undo);
    // The lock stays taken: no request the process still reads may press
    // anything again before it ends.
}
