#include "settings.h"

#include <stddef.h>

const char kSettingsKey[] = "software\\corvale\\zavir";
const char kSettingsParentKey[] = "software\\corvale";

namespace {

struct SettingInfo {
    const char* name;
    LONG defaultValue;
    size_t offset;  // of the field in TouchSettings
};

#define SETTING(field, value) {#field, value, offsetof(TouchSettings, field)}

const SettingInfo kSettingTable[kSettingCount] = {
    SETTING(LeftUpX, 0),     SETTING(LeftUpY, 0),       SETTING(RightUpX, 1024),
    SETTING(RightUpY, 0),    SETTING(RightDnX, 1024),   SETTING(RightDnY, 1024),
    SETTING(LeftDnX, 0),     SETTING(LeftDnY, 1024),    SETTING(ComPort, 1),
    SETTING(ComBase, 1016),  SETTING(ComIrq, 4),        SETTING(ComBaud, 9600),
    SETTING(Mode, 1),        SETTING(RightButton, 0),   SETTING(BB_Len, 2),
    SETTING(BB_st, 2),       SETTING(BB_Lst, 1),        SETTING(Beep, 0),
    SETTING(First, 0),
};

#undef SETTING

const SettingMask kBufferConstants =
    SETTING_BIT(kBB_Len) | SETTING_BIT(kBB_st) | SETTING_BIT(kBB_Lst);

BOOL InMask(SettingMask mask, int index) { return (mask & SETTING_BIT(index)) != 0; }

// Reads one value with a 4-byte limit; any 4-byte value is taken as a
// little-endian number whatever its type.  Anything else gives the default.
void QuerySetting(HKEY key, TouchSettings* s, int index) {
    BYTE data[4] = {0, 0, 0, 0};
    DWORD size = sizeof data;
    DWORD type = 0;
    LONG result = RegQueryValueExA(key, kSettingTable[index].name, NULL, &type, data, &size);
    LONG* field = SettingField(s, index);
    if (result == ERROR_SUCCESS && size == sizeof data) {
        *field = (LONG)((DWORD)data[0] | ((DWORD)data[1] << 8) | ((DWORD)data[2] << 16) |
                        ((DWORD)data[3] << 24));
    } else {
        *field = kSettingTable[index].defaultValue;
    }
}

void QuerySettings(HKEY key, TouchSettings* s, SettingMask mask) {
    for (int i = 0; i < kSettingCount; ++i)
        if (InMask(mask, i)) QuerySetting(key, s, i);
}

// Writes every value of the mask, a failed one included; TRUE when all
// were written.
BOOL WriteSettings(HKEY key, const TouchSettings* s, SettingMask mask) {
    BOOL all = TRUE;
    for (int i = 0; i < kSettingCount; ++i) {
        if (!InMask(mask, i)) continue;
        DWORD value = (DWORD)*SettingField(const_cast<TouchSettings*>(s), i);
        BYTE data[4] = {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24)};
        if (RegSetValueExA(key, kSettingTable[i].name, 0, REG_DWORD, data, sizeof data) !=
            ERROR_SUCCESS)
            all = FALSE;
    }
    return all;
}

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

const SettingMask kCornerValues =
    SETTING_BIT(kLeftUpX) | SETTING_BIT(kLeftUpY) | SETTING_BIT(kRightUpX) |
    SETTING_BIT(kRightUpY) | SETTING_BIT(kRightDnX) | SETTING_BIT(kRightDnY) |
    SETTING_BIT(kLeftDnX) | SETTING_BIT(kLeftDnY);
const SettingMask kAllValues = SETTING_BIT(kSettingCount) - 1;
const SettingMask kTouchValues = kCornerValues | SETTING_BIT(kComPort) | SETTING_BIT(kComBaud) |
                                 SETTING_BIT(kMode) | SETTING_BIT(kRightButton) |
                                 SETTING_BIT(kBeep);
const SettingMask kTrueposValues = kCornerValues | SETTING_BIT(kComPort) |
                                   SETTING_BIT(kComBase) | SETTING_BIT(kComIrq) |
                                   SETTING_BIT(kMode) | SETTING_BIT(kRightButton);
const SettingMask kSetupReadValues = kAllValues & ~kBufferConstants;

const char* SettingName(int index) {
    return index >= 0 && index < kSettingCount ? kSettingTable[index].name : "";
}

LONG SettingDefault(int index) {
    return index >= 0 && index < kSettingCount ? kSettingTable[index].defaultValue : 0;
}

LONG* SettingField(TouchSettings* s, int index) {
    return (LONG*)((char*)s + kSettingTable[index].offset);
}

void ApplySettingDefaults(TouchSettings* s, SettingMask mask) {
    for (int i = 0; i < kSettingCount; ++i)
        if (InMask(mask, i)) *SettingField(s, i) = kSettingTable[i].defaultValue;
}

BOOL LoadSettingValues(TouchSettings* s, SettingMask mask) {
    HKEY key;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, &key);
    // A standard user may read the machine's settings but not change them.
    if (result == ERROR_ACCESS_DENIED)
        result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) return FALSE;
    QuerySettings(key, s, mask);
    RegCloseKey(key);
    return TRUE;
}

BOOL SaveSettingValues(const TouchSettings* s, SettingMask mask) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return FALSE;
    BOOL written = WriteSettings(key, s, mask);
    RegCloseKey(key);
    return written;
}

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
        WriteSettings(key, s, kAllValues);
    } else {
        QuerySettings(key, s, kSetupReadValues);
        ApplySettingDefaults(s, kBufferConstants);
    }
    RegCloseKey(key);
}

void RemoveSettings(void) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    for (int i = 0; i < kSettingCount; ++i) RegDeleteValueA(key, kSettingTable[i].name);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    // Windows 9x deletes a key together with its subkeys and values, so the
    // shared parent goes only when nothing else of the maker's lives in it.
    if (!KeyHoldsAnything(HKEY_LOCAL_MACHINE, kSettingsParentKey))
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsParentKey);
}
