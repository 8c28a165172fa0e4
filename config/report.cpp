#include "report.h"

#include "settings.h"
#include "text.h"

namespace {

const char* const kMeaning[kSettingCount] = {
    "raw X at the upper-left corner",
    "raw Y at the upper-left corner",
    "raw X at the upper-right corner",
    "raw Y at the upper-right corner",
    "raw X at the lower-right corner",
    "raw Y at the lower-right corner",
    "raw X at the lower-left corner",
    "raw Y at the lower-left corner",
    "serial port COMn of the controller",
    "I/O base address of that port",
    "interrupt line of that port",
    "line speed in bits per second",
    "touch mode",
    "right-button emulation (1 on, 0 off)",
    "setup constant",
    "setup constant",
    "setup constant",
    "beep flag",
    "setup flag",
};

void Append(char* text, const char* more) { AppendText(text, REPORT_SIZE, more); }

void AppendValue(char* text, HKEY key, int index) {
    BYTE data[4];
    DWORD size = sizeof data;
    DWORD type = 0;
    char line[160];
    LONG result = RegQueryValueExA(key, SettingName(index), NULL, &type, data, &size);
    if (result == ERROR_SUCCESS && size == 4) {
        LONG value = (LONG)(data[0] | (data[1] << 8) | (data[2] << 16) | ((DWORD)data[3] << 24));
        wsprintfA(line, "%s\t%ld\t%s\r\n", SettingName(index), (long)value, kMeaning[index]);
    } else if (result == ERROR_FILE_NOT_FOUND) {
        wsprintfA(line, "%s\tmissing\t%s (programs use %ld)\r\n", SettingName(index),
                  kMeaning[index], (long)SettingDefault(index));
    } else {
        wsprintfA(line, "%s\tunreadable\t%s (programs use %ld)\r\n", SettingName(index),
                  kMeaning[index], (long)SettingDefault(index));
    }
    Append(text, line);
}

// A REG_SZ value of up to MAX_PATH bytes, or FALSE.
BOOL ReadText(HKEY root, const char* path, const char* name, char* out) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return FALSE;
    char buffer[MAX_PATH + 1];
    DWORD size = MAX_PATH;
    DWORD type = 0;
    LONG result = RegQueryValueExA(key, name, NULL, &type, (BYTE*)buffer, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) return FALSE;
    buffer[size < MAX_PATH ? size : MAX_PATH] = 0;  // stored text need not end in NUL
    lstrcpynA(out, buffer, MAX_PATH);
    return TRUE;
}

void AppendInstallation(char* text) {
    char value[MAX_PATH];
    Append(text, "\r\nTouch service started at log-on: ");
    if (ReadText(HKEY_LOCAL_MACHINE, "software\\Microsoft\\Windows\\CurrentVersion\\Run", "Zavir",
                 value))
        Append(text, value);
    else
        Append(text, "(not registered)");
    Append(text, "\r\nPrograms folder: ");
    if (ReadText(HKEY_CURRENT_USER,
                 "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                 "Programs", value)) {
        Append(text, value);
        Append(text, "\\ZAVIR");
    } else {
        Append(text, "(unknown)");
    }
    Append(text, "\r\n");
}

}  // namespace

void BuildSettingsReport(char* text) {
    text[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        Append(text,
               "The settings key HKEY_LOCAL_MACHINE\\software\\corvale\\zavir is missing.\r\n"
               "The suite is not installed: run SETUP.EXE from the setup disk.\r\n");
    } else {
        Append(text, "Settings in HKEY_LOCAL_MACHINE\\software\\corvale\\zavir (read only):\r\n\r\n");
        for (int i = 0; i < kSettingCount; ++i) AppendValue(text, key, i);
        RegCloseKey(key);
    }
    AppendInstallation(text);
}
