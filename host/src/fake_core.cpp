#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "../../common/standin_pipe.h"
#include "fake_state.h"
#include "../../common/zavir_wire.h"

namespace fake {
namespace {
std::vector<Call> g_calls;
DWORD g_lastError = 0;

const DWORD kWindowsXp = 0x0A280105;
DWORD g_version = kWindowsXp;
DWORD g_session = 1;
std::set<std::string> g_hiddenExports;

BOOL WINAPI FakeProcessIdToSessionId(DWORD process, DWORD* session) {
    (void)process;
    *session = g_session;
    return TRUE;
}

// The process's access token, its linked one, and the one privilege the
// fake knows.
HANDLE const kToken = (HANDLE)0x7070;
HANDLE const kLinkedToken = (HANDLE)0x7074;
TokenStanding g_standing;
const LUID kShutdownLuid = {19, 0};

std::string DescribeHandle(HANDLE h) {
    if (h == kToken) return "token";
    if (h == kLinkedToken) return "linked token";
    if (h == GetCurrentProcess()) return "this process";
    return internal::Format("%p", h);
}

BOOL WINAPI FakeOpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    internal::Record("OpenProcessToken",
                     internal::Format("%s, 0x%x", DescribeHandle(process).c_str(), access));
    *token = kToken;
    return TRUE;
}

BOOL WINAPI FakeLookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) {
    internal::Record("LookupPrivilegeValueA",
                     internal::Quote(system) + ", " + internal::Quote(name));
    if (system || !name || strcmp(name, "SeShutdownPrivilege") != 0) return FALSE;
    *luid = kShutdownLuid;
    return TRUE;
}

BOOL WINAPI FakeAdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state,
                                      DWORD length, PTOKEN_PRIVILEGES previous,
                                      LPDWORD returned) {
    std::string privileges;
    for (DWORD i = 0; state && i < state->PrivilegeCount; ++i)
        privileges += internal::Format(", luid=%u:%d attributes=0x%x",
                                       state->Privileges[i].Luid.LowPart,
                                       state->Privileges[i].Luid.HighPart,
                                       state->Privileges[i].Attributes);
    internal::Record("AdjustTokenPrivileges",
                     internal::Format("%s, %d, count=%u%s, %u, %s, %s",
                                      DescribeHandle(token).c_str(), disableAll,
                                      state ? state->PrivilegeCount : 0, privileges.c_str(),
                                      length, previous ? "set" : "NULL",
                                      returned ? "set" : "NULL"));
    return token == kToken;
}

const DWORD kTokenElevationType = 18, kTokenLinkedToken = 19, kTokenVirtualizationEnabled = 24,
            kTokenIntegrityLevel = 25;

// Elevation and integrity, as TokenStanding says; systems before Vista
// don't know the classes.
BOOL TokenStandingInformation(HANDLE token, DWORD what, void* buffer, DWORD size,
                              DWORD* needed) {
    if (!g_standing.known) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
    if (token != kToken && !(token == kLinkedToken && what == kTokenIntegrityLevel))
        return SetLastError(ERROR_INVALID_HANDLE), FALSE;
    if (what == kTokenElevationType || what == kTokenVirtualizationEnabled) {
        *needed = sizeof(DWORD);
        if (size < *needed) return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
        memcpy(buffer, what == kTokenElevationType ? &g_standing.type : &g_standing.virtualized,
               sizeof(DWORD));
        return TRUE;
    }
    if (what == kTokenLinkedToken) {
        *needed = sizeof(HANDLE);
        if (g_standing.type == 1) return SetLastError(ERROR_NO_SUCH_LOGON_SESSION), FALSE;
        if (size < *needed) return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
        memcpy(buffer, &kLinkedToken, sizeof(HANDLE));
        return TRUE;
    }
    // TOKEN_MANDATORY_LABEL, then S-1-16-<level>.
    DWORD level = token == kLinkedToken ? g_standing.linkedLevel : g_standing.level;
    if (level == kUnknownLevel) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
    struct LabelRecord {
        BYTE* sid;
        DWORD attributes;
    };
    *needed = sizeof(LabelRecord) + 12;
    if (size < *needed) return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    BYTE* sid = (BYTE*)buffer + sizeof(LabelRecord);
    const BYTE head[8] = {1, 1, 0, 0, 0, 0, 0, 16};
    memcpy(sid, head, sizeof head);
    memcpy(sid + 8, &level, sizeof level);
    LabelRecord record = {sid, 0x20};
    memcpy(buffer, &record, sizeof record);
    return TRUE;
}

BOOL WINAPI FakeGetTokenInformation(HANDLE token, DWORD what, void* buffer, DWORD size,
                                    DWORD* needed) {
    const DWORD kTokenUser = 1;
    // TOKEN_USER, then the SID it points to.
    struct UserRecord {
        const BYTE* sid;
        DWORD attributes;
    };
    if (what == kTokenElevationType || what == kTokenLinkedToken ||
        what == kTokenVirtualizationEnabled || what == kTokenIntegrityLevel)
        return TokenStandingInformation(token, what, buffer, size, needed);
    *needed = sizeof(UserRecord) + sizeof internal::kUserSid;
    if (token != kToken || what != kTokenUser) return FALSE;
    if (size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BYTE* sid = (BYTE*)buffer + sizeof(UserRecord);
    memcpy(sid, internal::kUserSid, sizeof internal::kUserSid);
    UserRecord record = {sid, 0};
    memcpy(buffer, &record, sizeof record);
    return TRUE;
}

BOOL WINAPI FakeChangeWindowMessageFilterEx(HWND window, UINT message, DWORD action, void* info) {
    internal::Record("ChangeWindowMessageFilterEx",
                     internal::Format("%s, 0x%x, %u, %s", window ? "window" : "NULL", message,
                                      action, info ? "set" : "NULL"));
    return window != nullptr;
}

// "S-1-<authority>-<sub>..." as a SID in a buffer of its own (the fake's
// LocalFree frees nothing); FALSE for any other text.
BOOL WINAPI FakeConvertStringSidToSidA(LPCSTR text, void** sid) {
    static BYTE buffer[8 + 4 * 15];
    unsigned long parts[17];
    int count = 0;
    const char* p = text;
    if (strncmp(p, "S-1", 3) != 0) return FALSE;
    for (p += 3; *p == '-' && count < 17;) {
        char* end;
        parts[count++] = strtoul(p + 1, &end, 10);
        if (end == p + 1) return FALSE;
        p = end;
    }
    if (*p != '\0' || count < 2) return FALSE;
    memset(buffer, 0, sizeof buffer);
    buffer[0] = 1;
    buffer[1] = (BYTE)(count - 1);
    buffer[7] = (BYTE)parts[0];
    for (int i = 1; i < count; ++i) memcpy(buffer + 8 + 4 * (i - 1), &parts[i], 4);
    *sid = buffer;
    return TRUE;
}

// And back: "S-1-<authority>-<sub>..." in a buffer of its own.
BOOL WINAPI FakeConvertSidToStringSidA(void* sid, LPSTR* text) {
    static char buffer[16 + 11 * 15];
    const BYTE* s = (const BYTE*)sid;
    if (s[0] != 1 || s[1] > 15) return FALSE;
    int at = snprintf(buffer, sizeof buffer, "S-1-%u", s[7]);
    for (int i = 0; i < s[1]; ++i) {
        DWORD sub;
        memcpy(&sub, s + 8 + 4 * i, 4);
        at += snprintf(buffer + at, sizeof buffer - at, "-%lu", (unsigned long)sub);
    }
    *text = buffer;
    return TRUE;
}

struct Export {
    const char* name;
    FARPROC function;
};
const Export kExports[] = {
    {"ProcessIdToSessionId", (FARPROC)(void*)FakeProcessIdToSessionId},
    {"CancelIo", (FARPROC)(void*)internal::FakeCancelIo},
    {"GetNamedPipeServerSessionId", (FARPROC)(void*)internal::FakeGetNamedPipeServerSessionId},
    {"OpenProcessToken", (FARPROC)(void*)FakeOpenProcessToken},
    {"GetTokenInformation", (FARPROC)(void*)FakeGetTokenInformation},
    {"GetSecurityInfo", (FARPROC)(void*)internal::FakeGetSecurityInfo},
    {"ConvertStringSidToSidA", (FARPROC)(void*)FakeConvertStringSidToSidA},
    {"ConvertSidToStringSidA", (FARPROC)(void*)FakeConvertSidToStringSidA},
    {"LookupPrivilegeValueA", (FARPROC)(void*)FakeLookupPrivilegeValueA},
    {"AdjustTokenPrivileges", (FARPROC)(void*)FakeAdjustTokenPrivileges},
    {"ChangeWindowMessageFilterEx", (FARPROC)(void*)FakeChangeWindowMessageFilterEx},
};
}  // namespace

namespace internal {

void Record(const char* name, const std::string& args) { g_calls.push_back({name, args}); }

std::string Format(const char* format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Quote(const char* text) {
    if (!text) return "NULL";
    if (IS_INTRESOURCE(text)) return Format("#%u", (unsigned)(ULONG_PTR)text);
    return std::string("\"") + text + "\"";
}

std::string Lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return out;
}

DWORD SessionId() { return g_session; }

const BYTE kUserSid[28] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0,
                           0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xE8, 3, 0, 0};
const BYTE kOtherUserSid[28] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0,
                                0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xE9, 3, 0, 0};

// The name the fake stand-in serves, and publishes where its clients look.
std::string StandInPipe() {
    char name[ZAVIR_PIPE_NAME_SIZE];
    const BYTE random[ZAVIR_PIPE_RANDOM_BYTES] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    FormatStandInPipeName(name, g_session, random);
    return name;
}

bool TokenStandingKnown() { return g_standing.known; }

void PublishStandIn() {
    RegPutString("HKCU\\" STANDIN_NAME_KEY, std::to_string(g_session), StandInPipe());
}

}  // namespace internal

void SetTokenStanding(const TokenStanding& standing) { g_standing = standing; }

void Reset() {
    g_standing = TokenStanding();
    g_calls.clear();
    g_lastError = 0;
    g_version = kWindowsXp;
    g_session = 1;
    g_hiddenExports.clear();
    internal::ResetRegistry();
    internal::ResetFiles();
    internal::ResetDevices();
    internal::ResetWindows();
}

const std::vector<Call>& Calls() { return g_calls; }
void ClearCalls() { g_calls.clear(); }

std::vector<std::string> CallNames() {
    std::vector<std::string> names;
    for (const Call& c : g_calls) names.push_back(c.name);
    return names;
}

std::vector<std::string> ArgsOf(const std::string& name) {
    std::vector<std::string> args;
    for (const Call& c : g_calls)
        if (c.name == name) args.push_back(c.args);
    return args;
}

size_t CountOf(const std::string& name) { return ArgsOf(name).size(); }

void SetVersion(DWORD version) { g_version = version; }
void HideExport(const std::string& name) { g_hiddenExports.insert(name); }
void SetSessionId(DWORD session) { g_session = session; }

}  // namespace fake

using fake::internal::Format;
using fake::internal::Record;

DWORD WINAPI GetLastError(void) { return fake::g_lastError; }
DWORD WINAPI GetVersion(void) { return fake::g_version; }
DWORD WINAPI GetCurrentProcessId(void) { return 4242; }
HLOCAL WINAPI LocalFree(HLOCAL memory) {
    (void)memory;  // the fake's descriptors are never allocated
    return NULL;
}
HANDLE WINAPI GetCurrentProcess(void) { return (HANDLE)(intptr_t)-1; }

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    return GetModuleHandleA(name);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    // Queries, like the other look-ups, are not recorded.
    (void)module;
    if (fake::g_hiddenExports.count(name)) return nullptr;
    for (const fake::Export& e : fake::kExports)
        if (strcmp(e.name, name) == 0) return e.function;
    return nullptr;
}
void WINAPI SetLastError(DWORD error) { fake::g_lastError = error; }

int WINAPI lstrlenA(LPCSTR s) { return s ? (int)strlen(s) : 0; }

LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int max) {
    if (max <= 0) return dst;
    int i = 0;
    for (; i < max - 1 && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) { return strcpy(dst, src); }
LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) { return strcat(dst, src); }
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return strcasecmp(a, b); }

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    // The real one writes at most 1024 characters.
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, 1025, format, args);
    va_end(args);
    if (n > 1024) n = 1024;
    Record("wsprintfA", fake::internal::Quote(format) + " -> " + fake::internal::Quote(buffer));
    return n;
}
