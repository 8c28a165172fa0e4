// The event through which setup asks this user's loader to end: a file
// of its own, so that the loader, which only waits on it, links no more.
#include "standin_pipe.h"
#include "zavir.h"

BOOL LoaderEndEventName(char name[LOADER_END_EVENT_SIZE]) {
    lstrcpyA(name, LOADER_END_PREFIX);
    // Windows 9x has one user at a time and no security to name (setup
    // asks this name alone there).
    if (IsWindows9x()) return TRUE;
    // Room is left for the random part of a name of the loader's own.
    char sid[LOADER_END_EVENT_SIZE - sizeof LOADER_END_PREFIX - 1 - LOADER_END_RANDOM_SIZE];
    if (!CurrentUserSidText(sid, sizeof sid)) return FALSE;
    lstrcatA(name, ".");
    lstrcatA(name, sid);
    return TRUE;
}
