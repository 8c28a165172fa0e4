#include "standin_pipe.h"

#include "zavir.h"

#ifndef SECURITY_SQOS_PRESENT
#define SECURITY_SQOS_PRESENT 0x00100000
#endif
#ifndef SECURITY_IDENTIFICATION
#define SECURITY_IDENTIFICATION (1 << 16)
#endif

namespace {

typedef BOOL(WINAPI* CancelIoFn)(HANDLE);
typedef BOOL(WINAPI* ServerSessionFn)(HANDLE, ULONG*);

// Looked up at run time: Windows 95 lacks CancelIo, and only Windows Vista
// and later can name a pipe server's session.
FARPROC Kernel32Function(const char* name) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? GetProcAddress(kernel, name) : NULL;
}

BOOL ServerSessionOf(HANDLE pipe, DWORD* session) {
    ServerSessionFn query = (ServerSessionFn)(void*)Kernel32Function("GetNamedPipeServerSessionId");
    ULONG id = 0;
    if (!query || !query(pipe, &id)) return FALSE;
    *session = id;
    return TRUE;
}

DWORD TimeLeft(DWORD deadline) {
    DWORD left = deadline - GetTickCount();
    return (LONG)left > 0 ? left : 0;
}

// One overlapped read or write, finished or abandoned by the deadline.
// The count comes from the record even when the call finishes at once.
BOOL TransferBy(HANDLE pipe, HANDLE event, BOOL writing, BYTE* data, DWORD size, DWORD deadline,
                DWORD* moved) {
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = event;
    *moved = 0;
    BOOL finished = writing ? WriteFile(pipe, data, size, NULL, &overlapped)
                            : ReadFile(pipe, data, size, NULL, &overlapped);
    if (!finished && GetLastError() != ERROR_IO_PENDING) return FALSE;
    if (finished || WaitForSingleObject(event, TimeLeft(deadline)) == WAIT_OBJECT_0)
        return GetOverlappedResult(pipe, &overlapped, moved, FALSE);
    // The record and the buffer belong to the system until the cancelled
    // operation has finished.  Every system that serves the pipe (NT 4 and
    // later) has CancelIo.
    CancelIoFn cancel = (CancelIoFn)(void*)Kernel32Function("CancelIo");
    if (cancel) cancel(pipe);
    GetOverlappedResult(pipe, &overlapped, moved, TRUE);
    return FALSE;
}

StandInOutcome MoveAll(HANDLE pipe, HANDLE event, BOOL writing, void* data, DWORD size,
                       DWORD deadline) {
    BYTE* p = (BYTE*)data;
    while (size > 0) {
        DWORD moved = 0;
        if (!TransferBy(pipe, event, writing, p, size, deadline, &moved) || moved == 0 ||
            moved > size)
            return TimeLeft(deadline) == 0 ? kStandInSilent : kStandInGone;
        p += moved;
        size -= moved;
    }
    return kStandInAnswered;
}

}  // namespace

HANDLE OpenStandInPipe(DWORD* error) {
    char name[ZAVIR_PIPE_NAME_SIZE];
    StandInPipeName(name);
    // Identification only: whatever serves the pipe can't act as us.
    HANDLE pipe = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT |
                                  SECURITY_IDENTIFICATION,
                              NULL);
    if (pipe == INVALID_HANDLE_VALUE) {
        *error = GetLastError() == ERROR_PIPE_BUSY ? ERROR_PIPE_BUSY : ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    DWORD serverSession = 0;
    BOOL known = ServerSessionOf(pipe, &serverSession);
    if (!StandInServerAcceptable(known, serverSession, CurrentSessionId())) {
        CloseHandle(pipe);
        *error = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    *error = ERROR_SUCCESS;
    return pipe;
}

BOOL StandInServerAcceptable(BOOL sessionKnown, DWORD serverSession, DWORD ownSession) {
    return !sessionKnown || serverSession == ownSession;
}

StandInOutcome StandInTransact(HANDLE pipe, const ZavirWireRequest* request,
                               ZavirWireAnswer* answer) {
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!event) return kStandInGone;
    DWORD deadline = GetTickCount() + STANDIN_REQUEST_LIMIT_MS;
    ZavirWireRequest frame = *request;
    StandInOutcome outcome = MoveAll(pipe, event, TRUE, &frame, sizeof frame, deadline);
    if (outcome == kStandInAnswered)
        outcome = MoveAll(pipe, event, FALSE, answer, sizeof *answer, deadline);
    CloseHandle(event);
    return outcome;
}
