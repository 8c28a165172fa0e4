#include "settings.h"

BOOL WriteSettingValues(HKEY key, const TouchSettings* s, SettingMask mask) {
    BOOL all = TRUE;
    for (int i = 0; i < kSettingCount; ++i) {
        if (!(mask & SETTING_BIT(i))) continue;
        DWORD value = (DWORD)*SettingField(const_cast<TouchSettings*>(s), i);
        BYTE data[4] = {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24)};
        if (RegSetValueExA(key, SettingName(i), 0, REG_DWORD, data, sizeof data) !=
            ERROR_SUCCESS)
            all = FALSE;
    }
    return all;
}

BOOL SaveSettingValues(const TouchSettings* s, SettingMask mask) {
    HKEY key;
    if (RegistryVirtualized() ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return FALSE;
    BOOL written = WriteSettingValues(key, s, mask);
    RegCloseKey(key);
    return written;
}
