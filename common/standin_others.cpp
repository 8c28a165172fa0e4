// An administrator's search for the stand-in of this session's user: a
// file of its own, linked only by the calibration tool.
#include "standin_pipe.h"

namespace {

typedef BOOL(WINAPI* ConvertStringSidToSidFn)(LPCSTR, void**);

// More hives than a machine has loaded at once.
const DWORD kMostHives = 256;

}  // namespace

BOOL OtherUsersStandInName(char* name, BYTE* owner) {
    ConvertStringSidToSidFn convert = (ConvertStringSidToSidFn)(void*)SystemFunction(
        "advapi32.dll", "ConvertStringSidToSidA");
    if (!convert) return FALSE;
    for (DWORD i = 0; i < kMostHives; ++i) {
        char path[MAX_PATH];  // <SID>\Software\corvale\zavir\standin
        DWORD length = sizeof path - sizeof "\\" STANDIN_NAME_KEY;
        LONG got = RegEnumKeyExA(HKEY_USERS, i, path, &length, NULL, NULL, NULL, NULL);
        if (got == ERROR_NO_MORE_ITEMS) break;
        // Only a user's hive is named by a SID: not ".DEFAULT", nor a
        // user's "<SID>_Classes".
        void* sid = NULL;
        if (got != ERROR_SUCCESS || !convert(path, &sid)) continue;
        lstrcatA(path, "\\" STANDIN_NAME_KEY);
        BOOL found = SidLength((const BYTE*)sid) <= USER_SID_SIZE &&
                     PublishedNameIn(HKEY_USERS, path, name);
        if (found) CopyMemory(owner, sid, SidLength((const BYTE*)sid));
        LocalFree(sid);
        if (found) return TRUE;
    }
    name[0] = '\0';
    return FALSE;
}
