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

}  // namespace

void ReadSettingValues(HKEY key, TouchSettings* s, SettingMask mask) {
    for (int i = 0; i < kSettingCount; ++i)
        if (InMask(mask, i)) QuerySetting(key, s, i);
}

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
    ReadSettingValues(key, s, mask);
    RegCloseKey(key);
    return TRUE;
}
