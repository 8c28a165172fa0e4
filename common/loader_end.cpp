// The event through which setup asks this user's loader to end: a file
// of its own, so that the loader, which only waits on it, links no more.
#include "standin_pipe.h"
#include "zavir.h"

BOOL LoaderEndEventName(char name[LOADER_END_EVENT_SIZE]) {
    const char kPrefix[] = "ZavirLoaderEnd";
    lstrcpyA(name, kPrefix);
    char sid[LOADER_END_EVENT_SIZE - sizeof kPrefix - 1];
    if (!CurrentUserSidText(sid, sizeof sid)) return IsWindows9x();
    lstrcatA(name, ".");
    lstrcatA(name, sid);
    return TRUE;
}

BOOL AskLoaderToEnd() {
    char name[LOADER_END_EVENT_SIZE];
    if (!LoaderEndEventName(name)) return FALSE;
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (!event) return FALSE;
    BOOL set = SetEvent(event);
    CloseHandle(event);
    return set;
}
