// The event through which setup asks this user's loader to end: a file
// of its own, so that the loader, which only waits on it, links no more.
#include "standin_pipe.h"
#include "zavir.h"

BOOL LoaderEndEventName(char name[LOADER_END_EVENT_SIZE]) {
    lstrcpyA(name, LOADER_END_PREFIX);
    char sid[LOADER_END_EVENT_SIZE - sizeof LOADER_END_PREFIX - 1];
    if (!CurrentUserSidText(sid, sizeof sid)) return IsWindows9x();
    lstrcatA(name, ".");
    lstrcatA(name, sid);
    return TRUE;
}
