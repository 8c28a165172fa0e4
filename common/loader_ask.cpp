// Setup's request that a loader end, apart from the loader's own file.
#include "standin_pipe.h"
#include "zavir.h"

namespace {

BOOL SetEventNamed(const char* name) {
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (!event) return FALSE;
    BOOL set = SetEvent(event);
    CloseHandle(event);
    return set;
}

// The name a loader of the hive's user published and the one named for
// that user: both, as what was published may be an ended loader's.
BOOL AskLoaderOf(const char* sidText) {
    char path[LOADER_END_EVENT_SIZE + sizeof "\\" STANDIN_NAME_KEY];
    char name[LOADER_END_EVENT_SIZE];
    wsprintfA(path, "%s\\" STANDIN_NAME_KEY, sidText);
    BOOL asked = PublishedLoaderEndIn(HKEY_USERS, path, name) && SetEventNamed(name);
    wsprintfA(name, LOADER_END_PREFIX ".%s", sidText);
    return SetEventNamed(name) || asked;
}

}  // namespace

BOOL PublishedLoaderEndIn(HKEY root, const char* path, char name[LOADER_END_EVENT_SIZE]) {
    name[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return FALSE;
    char value[STANDIN_VALUE_SIZE];
    StandInSessionValue(value, LOADER_END_SUFFIX);
    DWORD type = 0;
    DWORD size = LOADER_END_EVENT_SIZE - 1;
    LONG got = RegQueryValueExA(key, value, NULL, &type, (BYTE*)name, &size);
    RegCloseKey(key);
    // The data need not end in a terminator: one is put after it.
    if (got != ERROR_SUCCESS || type != REG_SZ || size >= LOADER_END_EVENT_SIZE) size = 0;
    name[size] = '\0';
    // Only a loader's event is set: an administrator's setup reads this
    // from a hive its user may write.
    const char prefix[] = LOADER_END_PREFIX ".";
    for (DWORD i = 0; i + 1 < sizeof prefix; ++i)
        if (name[i] != prefix[i]) {
            name[0] = '\0';
            return FALSE;
        }
    return TRUE;
}

BOOL AskLoaderToEnd() {
    if (IsWindows9x()) return SetEventNamed(LOADER_END_PREFIX);
    // Every loader of this session, as all run from the file setup is
    // about to replace: its own user's, or, setup elevated as another
    // administrator, the user's.  A name without a prefix is this
    // session's own, so only a loader of this session is reached; its
    // access list admits administrators.
    char sid[LOADER_END_EVENT_SIZE - sizeof LOADER_END_PREFIX - 1];
    BOOL asked = FALSE;
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof sid;
        LONG got = RegEnumKeyExA(HKEY_USERS, i, sid, &size, NULL, NULL, NULL, NULL);
        if (got == ERROR_MORE_DATA) continue;  // too long for a SID
        if (got != ERROR_SUCCESS) return asked;
        if (AskLoaderOf(sid)) asked = TRUE;
    }
}
