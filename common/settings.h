// The suite's settings record and the four ways a program reaches it in the
// registry: create-or-load, load, save and remove.  Every program handles
// its own subset of the nineteen values, always in record order.
#ifndef ZAVIR_COMMON_SETTINGS_H
#define ZAVIR_COMMON_SETTINGS_H

#include <windows.h>

// The nineteen values, in record order.  The record is read, written and
// deleted value by value in exactly this order.
struct TouchSettings {
    LONG LeftUpX;
    LONG LeftUpY;
    LONG RightUpX;
    LONG RightUpY;
    LONG RightDnX;
    LONG RightDnY;
    LONG LeftDnX;
    LONG LeftDnY;
    LONG ComPort;
    LONG ComBase;
    LONG ComIrq;
    LONG ComBaud;
    LONG Mode;
    LONG RightButton;
    LONG BB_Len;
    LONG BB_st;
    LONG BB_Lst;
    LONG Beep;
    LONG First;
};

enum SettingIndex {
    kLeftUpX, kLeftUpY, kRightUpX, kRightUpY, kRightDnX, kRightDnY,
    kLeftDnX, kLeftDnY, kComPort, kComBase, kComIrq, kComBaud, kMode,
    kRightButton, kBB_Len, kBB_st, kBB_Lst, kBeep, kFirst,
    kSettingCount
};

// A set of values as a bit mask over SettingIndex.
typedef DWORD SettingMask;
#define SETTING_BIT(i) ((SettingMask)1 << (i))

extern const SettingMask kCornerValues;   // the eight corners
extern const SettingMask kAllValues;      // all nineteen
extern const SettingMask kTouchValues;    // what the touch service reads
extern const SettingMask kTrueposValues;  // what the calibration tool reads and writes
extern const SettingMask kSetupReadValues;// what setup reads from an existing key

// HKEY_LOCAL_MACHINE subkey of the record and its parent.
extern const char kSettingsKey[];         // "software\\corvale\\zavir"
extern const char kSettingsParentKey[];   // "software\\corvale"

const char* SettingName(int index);
LONG SettingDefault(int index);
LONG* SettingField(TouchSettings* s, int index);

// Every field of the mask takes its default.
void ApplySettingDefaults(TouchSettings* s, SettingMask mask);

// Load: opens the key with full access, or for reading where full access
// is refused (a standard user on Windows 2000 and later); when it does not
// open nothing is read and nothing defaulted (returns FALSE).  Each value is
// queried with a 4-byte limit whatever its stored type; a value that can't
// be read takes its default.
BOOL LoadSettingValues(TouchSettings* s, SettingMask mask);

// The mask's values read from (or written to) a key already open; a write
// tries every value and is TRUE only when all were written.
void ReadSettingValues(HKEY key, TouchSettings* s, SettingMask mask);
BOOL WriteSettingValues(HKEY key, const TouchSettings* s, SettingMask mask);

// Save: opens (never creates) the key and writes the mask's values as
// REG_DWORD.  Nothing is written when the key does not open.  TRUE only when
// the key opened and every value was written.  Nothing is written either by a
// program whose registry writes the system puts in the user's own copy
// (RegistryVirtualized): they would change the settings for that user alone.
BOOL SaveSettingValues(const TouchSettings* s, SettingMask mask);

// Windows Vista on: whether this process's registry writes that it lacks
// the right to make land in the user's own copy (a 32-bit program without
// a manifest, run without elevation).  In process_facts.cpp.
BOOL RegistryVirtualized();

// Create or load: creates the key when missing and writes all nineteen
// defaults, otherwise loads the readable values and sets BB_Len, BB_st and
// BB_Lst to 2, 2, 1.  When the key can be neither created nor opened the
// record holds the defaults and nothing is written.  *created tells whether
// this call created the key.
void CreateOrLoadSettings(TouchSettings* s, BOOL* created);

// Remove: deletes the nineteen values, the key and its parent.  Nothing is
// removed when the key does not open.
void RemoveSettings(void);

#endif
