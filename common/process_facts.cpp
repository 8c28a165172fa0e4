// What this process runs as: its system, session, user and token.  The
// security calls are looked up at run time (Windows 95 lacks them).
#include "standin_pipe.h"
#include "zavir.h"

namespace {

typedef BOOL(WINAPI* ProcessIdToSessionIdFn)(DWORD, DWORD*);
typedef BOOL(WINAPI* OpenProcessTokenFn)(HANDLE, DWORD, HANDLE*);
typedef BOOL(WINAPI* GetTokenInformationFn)(HANDLE, DWORD, void*, DWORD, DWORD*);
typedef BOOL(WINAPI* ConvertSidToStringSidFn)(void*, LPSTR*);

const DWORD kTokenUser = 1;        // TOKEN_INFORMATION_CLASS
const DWORD kTokenElevationType = 18;
const DWORD kTokenLinkedToken = 19;
const DWORD kTokenVirtualizationEnabled = 24;
const DWORD kTokenIntegrityLevel = 25;
const DWORD kElevationTypeFull = 2;
const DWORD kTokenQuery = 0x0008;  // TOKEN_QUERY

// One class of information of a token (NULL: our own); FALSE and *error
// where the system can't give it.
BOOL TokenInformation(HANDLE token, DWORD what, void* buffer, DWORD size, DWORD* error) {
    GetTokenInformationFn get =
        (GetTokenInformationFn)(void*)SystemFunction("advapi32.dll", "GetTokenInformation");
    OpenProcessTokenFn open =
        (OpenProcessTokenFn)(void*)SystemFunction("advapi32.dll", "OpenProcessToken");
    HANDLE own = NULL;
    *error = ERROR_ACCESS_DENIED;
    if (!get || (!token && !(open && open(GetCurrentProcess(), kTokenQuery, &own))))
        return FALSE;
    DWORD needed = 0;
    BOOL got = get(token ? token : own, what, buffer, size, &needed);
    if (!got) *error = GetLastError();
    if (own) CloseHandle(own);
    return got;
}

}  // namespace

FARPROC SystemFunction(const char* module, const char* name) {
    HMODULE handle = GetModuleHandleA(module);
    return handle ? GetProcAddress(handle, name) : NULL;
}

DWORD SidLength(const BYTE* sid) { return 8 + 4 * (DWORD)sid[1]; }

BOOL IsWindows9x() { return (GetVersion() & 0x80000000) != 0; }

DWORD CurrentSessionId() {
    // Windows 9x and NT 4 have no sessions.
    ProcessIdToSessionIdFn sessionOf =
        (ProcessIdToSessionIdFn)(void*)SystemFunction("kernel32.dll", "ProcessIdToSessionId");
    DWORD session = 0;
    if (!sessionOf || !sessionOf(GetCurrentProcessId(), &session)) session = 0;
    return session;
}

DWORD LevelOfSid(const BYTE* sid) {
    DWORD level = 0;
    if (sid[1] > 0) CopyMemory(&level, sid + 4 + 4 * sid[1], sizeof level);
    return level;
}

BOOL TokenLevel(HANDLE token, DWORD* level, DWORD* error) {
    // TOKEN_MANDATORY_LABEL: the SID's address and attributes, the SID after.
    union {
        BYTE* sid;
        BYTE bytes[2 * sizeof(void*) + USER_SID_SIZE];
    } label;
    if (!TokenInformation(token, kTokenIntegrityLevel, &label, sizeof label, error)) return FALSE;
    *level = label.sid ? LevelOfSid(label.sid) : 0;
    return TRUE;
}

void LearnTokenFacts(TokenFacts* facts) {
    ZeroMemory(facts, sizeof *facts);
    facts->typeKnown = TokenInformation(NULL, kTokenElevationType, &facts->type,
                                        sizeof facts->type, &facts->typeError);
    HANDLE linked = NULL;
    DWORD why;
    if (facts->typeKnown && facts->type == kElevationTypeFull &&
        TokenInformation(NULL, kTokenLinkedToken, &linked, sizeof linked, &why)) {
        facts->levelsKnown = TokenLevel(NULL, &facts->ownLevel, &why) &&
                             TokenLevel(linked, &facts->linkedLevel, &why);
        CloseHandle(linked);
    }
}

BOOL RegistryVirtualized() {
    DWORD on = 0;
    DWORD why;
    return TokenInformation(NULL, kTokenVirtualizationEnabled, &on, sizeof on, &why) && on;
}

BOOL StandInMayServe(const TokenFacts* facts) {
    // Before Vista the question doesn't exist: the class is unknown there.
    if (!facts->typeKnown) return facts->typeError == ERROR_INVALID_PARAMETER;
    if (facts->type != kElevationTypeFull) return TRUE;
    return facts->levelsKnown && facts->linkedLevel >= facts->ownLevel;
}

BOOL CurrentUserSid(BYTE* sid, DWORD size) {
    // TOKEN_USER: the SID's address and attributes, the SID itself after.
    union {
        BYTE* sid;
        BYTE bytes[2 * sizeof(void*) + USER_SID_SIZE];
    } info;
    DWORD error;
    if (!TokenInformation(NULL, kTokenUser, &info, sizeof info, &error) || !info.sid ||
        SidLength(info.sid) > size)
        return FALSE;
    CopyMemory(sid, info.sid, SidLength(info.sid));
    return TRUE;
}

BOOL CurrentUserSidText(char* text, DWORD size) {
    ConvertSidToStringSidFn convert =
        (ConvertSidToStringSidFn)(void*)SystemFunction("advapi32.dll", "ConvertSidToStringSidA");
    BYTE sid[USER_SID_SIZE];
    LPSTR converted = NULL;
    if (!convert || !CurrentUserSid(sid, sizeof sid) || !convert(sid, &converted)) return FALSE;
    BOOL fits = (DWORD)lstrlenA(converted) < size;
    if (fits) lstrcpyA(text, converted);
    LocalFree(converted);
    return fits;
}
