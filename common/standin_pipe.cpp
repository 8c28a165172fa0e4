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
typedef DWORD(WINAPI* GetSecurityInfoFn)(HANDLE, DWORD, DWORD, void**, void**, void**, void**,
                                         void**);

const DWORD kKernelObject = 6;     // SE_OBJECT_TYPE
const DWORD kOwnerOnly = 1;        // OWNER_SECURITY_INFORMATION
const DWORD kLabelOnly = 0x10;     // LABEL_SECURITY_INFORMATION
const BYTE kMandatoryLabelAce = 0x11;

FARPROC Kernel32Function(const char* name) { return SystemFunction("kernel32.dll", name); }

// FALSE only where the system can't say (before Vista); a query that fails
// gives a session that is nobody's.
BOOL ServerSessionOf(HANDLE pipe, DWORD* session) {
    ServerSessionFn query = (ServerSessionFn)(void*)Kernel32Function("GetNamedPipeServerSessionId");
    ULONG id = 0;
    if (!query) return FALSE;
    *session = query(pipe, &id) ? id : 0xFFFFFFFF;
    return TRUE;
}

BOOL SameSid(const BYTE* a, const BYTE* b) {
    DWORD length = SidLength(a);
    if (length != SidLength(b)) return FALSE;
    for (DWORD i = 0; i < length; ++i)
        if (a[i] != b[i]) return FALSE;
    return TRUE;
}

// The level of the label in an access list (a SACL as GetSecurityInfo
// gives it); medium for a list without one, as Windows takes it.
DWORD LabelLevel(const BYTE* acl) {
    if (!acl) return INTEGRITY_MEDIUM;
    DWORD aclSize = acl[2] | acl[3] << 8;
    DWORD count = acl[4] | acl[5] << 8;
    DWORD at = 8;
    for (DWORD i = 0; i < count && at + 8 <= aclSize; ++i) {
        const BYTE* ace = acl + at;
        DWORD aceSize = ace[2] | ace[3] << 8;
        if (aceSize < 8 || at + aceSize > aclSize) break;
        const BYTE* sid = ace + 8;
        if (ace[0] == kMandatoryLabelAce && aceSize >= 8 + 8 && SidLength(sid) <= aceSize - 8)
            return LevelOfSid(sid);
        at += aceSize;
    }
    return INTEGRITY_MEDIUM;
}

// The integrity level of the pipe's label; FALSE where it can't be read.
BOOL PipeLevel(HANDLE pipe, DWORD* level) {
    GetSecurityInfoFn getSecurityInfo =
        (GetSecurityInfoFn)(void*)SystemFunction("advapi32.dll", "GetSecurityInfo");
    void* sacl = NULL;
    void* descriptor = NULL;
    if (!getSecurityInfo || getSecurityInfo(pipe, kKernelObject, kLabelOnly, NULL, NULL, NULL,
                                            &sacl, &descriptor) != ERROR_SUCCESS)
        return FALSE;
    *level = LabelLevel((const BYTE*)sacl);
    if (descriptor) LocalFree(descriptor);
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

BOOL ObjectOwnedBy(HANDLE object, const BYTE* user, BOOL* known) {
    *known = FALSE;
    GetSecurityInfoFn getSecurityInfo =
        (GetSecurityInfoFn)(void*)SystemFunction("advapi32.dll", "GetSecurityInfo");
    if (!getSecurityInfo) return FALSE;
    void* owner = NULL;
    void* descriptor = NULL;
    if (getSecurityInfo(object, kKernelObject, kOwnerOnly, &owner, NULL, NULL, NULL,
                        &descriptor) != ERROR_SUCCESS)
        return FALSE;
    *known = owner != NULL;
    BOOL ours = owner && SameSid((const BYTE*)owner, user);
    LocalFree(descriptor);
    return ours;
}

HANDLE OpenStandInPipe(DWORD* error, StandInSearch others) {
    char name[ZAVIR_PIPE_NAME_SIZE];
    BYTE publisher[USER_SID_SIZE];
    BOOL publisherKnown = TRUE;
    StandInServerFacts facts;
    facts.searched = FALSE;
    if (PublishedStandInName(name)) {
        publisherKnown = CurrentUserSid(publisher, sizeof publisher);
    } else if (!others || !(facts.searched = others(name, publisher))) {
        *error = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    // Anonymous: whatever serves the pipe can neither act as us nor learn
    // who we are (the stand-in needs no identity).
    HANDLE pipe = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS,
                              NULL);
    if (pipe == INVALID_HANDLE_VALUE) {
        DWORD why = GetLastError();
        *error = why == ERROR_PIPE_BUSY || why == ERROR_ACCESS_DENIED ? why : ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    facts.serverSession = 0;
    facts.sessionKnown = ServerSessionOf(pipe, &facts.serverSession);
    facts.ownSession = CurrentSessionId();
    facts.ownerKnown = FALSE;
    facts.ownedByPublisher =
        publisherKnown && ObjectOwnedBy(pipe, publisher, &facts.ownerKnown);
    facts.ownLevelKnown = TokenLevel(NULL, &facts.ownLevel, &facts.ownLevelError);
    facts.serverLevelKnown = facts.ownLevelKnown && PipeLevel(pipe, &facts.serverLevel);
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
    // Another user's hive is tied to this session by the session alone
    // (before Vista, any user logged on elsewhere could name one).
    if (facts->searched && !facts->sessionKnown) return FALSE;
    // A server whose owner or level can't be learnt is refused: pointer
    // input is handed only to a pipe known to be ours.
    if (!facts->ownerKnown || !facts->ownedByPublisher) return FALSE;
    // Before Vista there are no levels: the class is unknown there.
    if (!facts->ownLevelKnown) return facts->ownLevelError == ERROR_INVALID_PARAMETER;
    DWORD wanted = facts->ownLevel < INTEGRITY_MEDIUM ? facts->ownLevel : INTEGRITY_MEDIUM;
    return facts->serverLevelKnown && facts->serverLevel >= wanted;
}

void StandInSessionValue(char value[STANDIN_VALUE_SIZE], const char* suffix) {
    wsprintfA(value, "%lu", (unsigned long)CurrentSessionId());
    if (lstrlenA(value) + lstrlenA(suffix) < STANDIN_VALUE_SIZE) lstrcatA(value, suffix);
}

BOOL PublishedNameIn(HKEY root, const char* path, char name[ZAVIR_PIPE_NAME_SIZE]) {
    name[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return FALSE;
    char value[STANDIN_VALUE_SIZE];
    StandInSessionValue(value, "");
    DWORD type = 0;
    DWORD size = ZAVIR_PIPE_NAME_SIZE - 1;
    LONG got = RegQueryValueExA(key, value, NULL, &type, (BYTE*)name, &size);
    RegCloseKey(key);
    // The data need not end in a terminator: one is put after it.
    if (got != ERROR_SUCCESS || type != REG_SZ || size >= ZAVIR_PIPE_NAME_SIZE) size = 0;
    name[size] = '\0';
    if (IsStandInPipeName(name, CurrentSessionId())) return TRUE;
    name[0] = '\0';
    return FALSE;
}

BOOL PublishedStandInName(char name[ZAVIR_PIPE_NAME_SIZE]) {
    return PublishedNameIn(HKEY_CURRENT_USER, STANDIN_NAME_KEY, name);
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
