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

}  // namespace

BOOL AskLoaderToEnd() {
    char name[LOADER_END_EVENT_SIZE];
    if (LoaderEndEventName(name) && SetEventNamed(name)) return TRUE;
    // Setup elevated as another administrator: the loader is the user's.
    // A name without a prefix is this session's own, so only a loader of
    // this session is reached; its access list admits administrators.
    char sid[LOADER_END_EVENT_SIZE - sizeof LOADER_END_PREFIX - 1];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof sid;
        LONG got = RegEnumKeyExA(HKEY_USERS, i, sid, &size, NULL, NULL, NULL, NULL);
        if (got == ERROR_MORE_DATA) continue;  // too long for a SID
        if (got != ERROR_SUCCESS) return FALSE;
        wsprintfA(name, LOADER_END_PREFIX ".%s", sid);
        if (SetEventNamed(name)) return TRUE;
    }
}
