#include "settings.h"

namespace {

// Whether the key still holds a subkey or a value. A name too long for
// the buffer still counts: only "no more items" means empty.
BOOL KeyHoldsAnything(HKEY root, const char* path) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return FALSE;
    char name[MAX_PATH];
    DWORD length = sizeof name;
    BOOL any = RegEnumKeyExA(key, 0, name, &length, NULL, NULL, NULL, NULL) != ERROR_NO_MORE_ITEMS;
    length = sizeof name;
    if (!any) any = RegEnumValueA(key, 0, name, &length, NULL, NULL, NULL, NULL) != ERROR_NO_MORE_ITEMS;
    RegCloseKey(key);
    return any;
}

}  // namespace

void CreateOrLoadSettings(TouchSettings* s, BOOL* created) {
    HKEY key;
    DWORD disposition = 0;
    *created = FALSE;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, NULL,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key,
                                  &disposition);
    if (result != ERROR_SUCCESS) {
        ApplySettingDefaults(s, kAllValues);
        return;
    }
    if (disposition == REG_CREATED_NEW_KEY) {
        *created = TRUE;
        ApplySettingDefaults(s, kAllValues);
        WriteSettingValues(key, s, kAllValues);
    } else {
        ReadSettingValues(key, s, kSetupReadValues);
        // BB_Len, BB_st and BB_Lst, which setup never reads back.
        ApplySettingDefaults(s, kAllValues & ~kSetupReadValues);
    }
    RegCloseKey(key);
}

void RemoveSettings(void) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    for (int i = 0; i < kSettingCount; ++i) RegDeleteValueA(key, SettingName(i));
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    // Windows 9x deletes a key together with its subkeys and values, so the
    // shared parent goes only when nothing else of the maker's lives in it.
    if (!KeyHoldsAnything(HKEY_LOCAL_MACHINE, kSettingsParentKey))
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsParentKey);
}
