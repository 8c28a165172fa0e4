#include "standin_pipe.h"

#include "zavir.h"

#ifndef SECURITY_SQOS_PRESENT
#define SECURITY_SQOS_PRESENT 0x00100000
#endif
#ifndef SECURITY_ANONYMOUS
#define SECURITY_ANONYMOUS 0
#endif

namespace {

typedef BOOL(WINAPI* CancelIoFn)(HANDLE);
typedef BOOL(WINAPI* ServerSessionFn)(HANDLE, ULONG*);
typedef BOOL(WINAPI* OpenProcessTokenFn)(HANDLE, DWORD, HANDLE*);
typedef BOOL(WINAPI* GetTokenInformationFn)(HANDLE, DWORD, void*, DWORD, DWORD*);
typedef DWORD(WINAPI* GetSecurityInfoFn)(HANDLE, DWORD, DWORD, void**, void**, void**, void**,
                                         void**);

const DWORD kTokenUser = 1;        // TOKEN_INFORMATION_CLASS
const DWORD kKernelObject = 6;     // SE_OBJECT_TYPE
const DWORD kOwnerOnly = 1;        // OWNER_SECURITY_INFORMATION
const DWORD kTokenQuery = 0x0008;  // TOKEN_QUERY

// Looked up at run time: Windows 95 lacks CancelIo and the security
// calls, and only Windows Vista and later can name a pipe server's session.
FARPROC Function(const char* module, const char* name) {
    HMODULE handle = GetModuleHandleA(module);
    return handle ? GetProcAddress(handle, name) : NULL;
}

FARPROC Kernel32Function(const char* name) { return Function("kernel32.dll", name); }

BOOL ServerSessionOf(HANDLE pipe, DWORD* session) {
    ServerSessionFn query = (ServerSessionFn)(void*)Kernel32Function("GetNamedPipeServerSessionId");
    ULONG id = 0;
    if (!query || !query(pipe, &id)) return FALSE;
    *session = id;
    return TRUE;
}

// A SID's length from its header: 8 bytes and one word per sub-authority.
DWORD SidLength(const BYTE* sid) { return 8 + 4 * (DWORD)sid[1]; }

BOOL SameSid(const BYTE* a, const BYTE* b) {
    DWORD length = SidLength(a);
    if (length != SidLength(b)) return FALSE;
    for (DWORD i = 0; i < length; ++i)
        if (a[i] != b[i]) return FALSE;
    return TRUE;
}

// Whether the pipe belongs to our user; FALSE in *known where the
// system can't say.
BOOL PipeOwnedByUs(HANDLE pipe, BOOL* known) {
    *known = FALSE;
    GetSecurityInfoFn getSecurityInfo =
        (GetSecurityInfoFn)(void*)Function("advapi32.dll", "GetSecurityInfo");
    BYTE user[USER_SID_SIZE];
    if (!getSecurityInfo || !CurrentUserSid(user, sizeof user)) return FALSE;
    void* owner = NULL;
    void* descriptor = NULL;
    if (getSecurityInfo(pipe, kKernelObject, kOwnerOnly, &owner, NULL, NULL, NULL,
                        &descriptor) != ERROR_SUCCESS)
        return FALSE;
    *known = owner != NULL;
    BOOL ours = owner && SameSid((const BYTE*)owner, user);
    LocalFree(descriptor);
    return ours;
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
    // Anonymous: whatever serves the pipe can neither act as us nor learn
    // who we are (the stand-in needs no identity).
    HANDLE pipe = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS,
                              NULL);
    if (pipe == INVALID_HANDLE_VALUE) {
        *error = GetLastError() == ERROR_PIPE_BUSY ? ERROR_PIPE_BUSY : ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    StandInServerFacts facts;
    facts.serverSession = 0;
    facts.sessionKnown = ServerSessionOf(pipe, &facts.serverSession);
    facts.ownSession = CurrentSessionId();
    facts.ownedByUs = PipeOwnedByUs(pipe, &facts.ownerKnown);
    if (!StandInServerAcceptable(&facts)) {
        CloseHandle(pipe);
        *error = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    *error = ERROR_SUCCESS;
    return pipe;
}

BOOL StandInServerAcceptable(const StandInServerFacts* facts) {
    if (facts->sessionKnown && facts->serverSession != facts->ownSession) return FALSE;
    // A server whose owner can't be learnt is refused: pointer input is
    // handed only to a pipe known to be ours.
    return facts->ownerKnown && facts->ownedByUs;
}

BOOL CurrentUserSid(BYTE* sid, DWORD size) {
    OpenProcessTokenFn openProcessToken =
        (OpenProcessTokenFn)(void*)Function("advapi32.dll", "OpenProcessToken");
    GetTokenInformationFn getTokenInformation =
        (GetTokenInformationFn)(void*)Function("advapi32.dll", "GetTokenInformation");
    HANDLE token;
    if (!openProcessToken || !getTokenInformation ||
        !openProcessToken(GetCurrentProcess(), kTokenQuery, &token))
        return FALSE;
    // TOKEN_USER: the SID's address and attributes, the SID itself after.
    union {
        struct {
            BYTE* sid;
            DWORD attributes;
        } user;
        BYTE bytes[2 * sizeof(void*) + USER_SID_SIZE];
    } info;
    DWORD needed = 0;
    BOOL got = getTokenInformation(token, kTokenUser, &info, sizeof info, &needed);
    CloseHandle(token);
    if (!got || !info.user.sid || SidLength(info.user.sid) > size) return FALSE;
    const BYTE* from = info.user.sid;
    for (DWORD i = 0; i < SidLength(from); ++i) sid[i] = from[i];
    return TRUE;
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
