// The serving end's name in the user's hive (the stand-in alone writes it).
#include "standin_pipe.h"

namespace {

BOOL PublishSessionValue(const char* suffix, const char* text) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, STANDIN_NAME_KEY, 0, NULL, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return FALSE;
    char value[STANDIN_VALUE_SIZE];
    StandInSessionValue(value, suffix);
    LONG set = RegSetValueExA(key, value, 0, REG_SZ, (const BYTE*)text, lstrlenA(text) + 1);
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

}  // namespace

BOOL PublishStandInName(const char* name) { return PublishSessionValue("", name); }

BOOL PublishLoaderEndName(const char* name) {
    return PublishSessionValue(LOADER_END_SUFFIX, name);
}

void WithdrawStandInName(const char* name) {
    char published[ZAVIR_PIPE_NAME_SIZE];
    HKEY key;
    if (!PublishedStandInName(published) || lstrcmpiA(published, name) != 0 ||
        RegOpenKeyExA(HKEY_CURRENT_USER, STANDIN_NAME_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    char value[STANDIN_VALUE_SIZE];
    StandInSessionValue(value, "");
    RegDeleteValueA(key, value);
    RegCloseKey(key);
}
