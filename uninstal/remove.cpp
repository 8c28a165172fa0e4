// The removal sequence: the driver's service entries, the Run entry of the
// touch service, the driver file and the program files in the all-users
// Programs folder, in that order.
#include <windows.h>

#include "uninstal.h"

namespace {

const char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\zavir\\Parameters";
const char kEnumKey[] = "SYSTEM\\CurrentControlSet\\Services\\zavir\\Enum";
const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\zavir";
const char kRunKey[] = "software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kShellFoldersKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kCommonProgramsValue[] = "common Programs";
const char kRunValue[] = "Zavir";

// The kernel driver's own parameters.  "PointDeivceBaseName" is the name
// the driver stores, misspelling included.
const char* const kParameterValues[] = {
    "LupX", "LupY", "RupX", "RupY", "RdnX", "RdnY", "LdnX", "LdnY",
    "ComPort", "ComBaud", "MouseDataQueueSize", "NumberOfButtons", "PointDeivceBaseName",
    "SampleRate", "RightButton", "Mode", "B_Len", "B_st", "B_Lst", "Beep", "First",
};
const char* const kEnumValues[] = {"Count", "NextInstance"};
const char* const kServiceValues[] = {
    "DisplayName", "ErrorControl", "Group", "ImagePath", "Start", "Tag", "Type",
};

const char kDriverFileTail[] = "\\DRIVERS\\ZAVIR.SYS";
const char kUninstallerTail[] = "\\ZAVIR\\UNINSTAL.EXE";
const char kTouchTail[] = "\\ZAVIR\\TOUCH.EXE";
const char kFolderTail[] = "\\ZAVIR";

const DWORD kFolderSize = 256;  // 255 characters and the NUL
const DWORD kValueSize = 260;
const DWORD kPathSize = 256;

char g_folder[kFolderSize];
BYTE g_value[kValueSize];
DWORD g_valueSize;
char g_path[kPathSize];

template <typename T, size_t N>
constexpr size_t CountOf(T (&)[N]) {
    return N;
}

DWORD TextLength(const char* text) {
    DWORD n = 0;
    while (text[n]) ++n;
    return n;
}

// Writes head + tail into g_path.  A path that doesn't fit is refused
// rather than cut: a shortened path could name some other file.
bool ComposePath(const char* head, const char* tail) {
    DWORD headLength = TextLength(head);
    DWORD tailLength = TextLength(tail);
    if (headLength + tailLength >= kPathSize) return false;
    for (DWORD i = 0; i < headLength; ++i) g_path[i] = head[i];
    for (DWORD i = 0; i <= tailLength; ++i) g_path[headLength + i] = tail[i];
    return true;
}

// Whether the open key still has a subkey; one whose name is too long for
// the buffer counts too.
bool HoldsSubkey(HKEY key) {
    char name[MAX_PATH];
    DWORD length = sizeof name;
    return RegEnumKeyExA(key, 0, name, &length, NULL, NULL, NULL, NULL) != ERROR_NO_MORE_ITEMS;
}

// Deletes the listed values of an HKLM key, then the key itself.  A key
// that doesn't open is passed over with its values.  A key that still has
// a subkey stays: Windows 9x would delete the subkey with it.
void RemoveKeyWithValues(const char* subKey, const char* const* names, size_t count) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    for (size_t i = 0; i < count; ++i) RegDeleteValueA(key, names[i]);
    bool keep = HoldsSubkey(key);
    RegCloseKey(key);
    if (!keep) RegDeleteKeyA(HKEY_LOCAL_MACHINE, subKey);
}

void RemoveRunEntry() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, kRunValue);
    RegCloseKey(key);
}

// Without a usable system directory there is no driver path to delete;
// the bare tail would name a file at the root of the current drive.
void RemoveDriverFile() {
    UINT length = GetSystemDirectoryA(g_path, kPathSize);
    DWORD tailLength = TextLength(kDriverFileTail);
    if (length == 0 || length + tailLength >= kPathSize) return;
    for (DWORD i = 0; i <= tailLength; ++i) g_path[length + i] = kDriverFileTail[i];
    DeleteFileA(g_path);
}

// Copies the value just read into the folder path: up to and including its
// first NUL, never past the bytes the query returned.  False (folder left
// empty) for a value with no NUL in those bytes or too long for the folder.
bool TakeFolderValue() {
    DWORD length = 0;
    while (length < g_valueSize && g_value[length] != 0) ++length;
    if (length == g_valueSize || length >= kFolderSize) return false;
    for (DWORD i = 0; i <= length; ++i) g_folder[i] = (char)g_value[i];
    return true;
}

// Reads the all-users Programs folder into g_folder.  When it can't be
// read the folder stays empty and the program files are looked for under
// "\ZAVIR", where setup puts them when it has no Programs folder either.
// False when a value was there but can't stand for a folder: too long for
// the buffers, unterminated or not text.  Nothing may be deleted then,
// least of all under "\ZAVIR" in its place.
bool ReadProgramsFolder() {
    g_folder[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kShellFoldersKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return true;
    bool usable = true;
    DWORD type = REG_NONE;
    g_valueSize = kValueSize;
    LONG status = RegQueryValueExA(key, kCommonProgramsValue, NULL, &type, g_value, &g_valueSize);
    if (status == ERROR_SUCCESS) {
        usable = (type == REG_SZ || type == REG_EXPAND_SZ) && TakeFolderValue();
    } else if (status == ERROR_MORE_DATA) {
        usable = false;  // longer than any folder path
    }
    RegCloseKey(key);
    return usable;
}

// The program files and their folder.  If the uninstaller's own path
// doesn't fit, nothing here is deleted: it is the longest of the three.
void RemoveProgramFiles() {
    if (!ComposePath(g_folder, kUninstallerTail)) return;
    DeleteFileA(g_path);
    if (!ComposePath(g_folder, kTouchTail)) return;
    DeleteFileA(g_path);
    if (!ComposePath(g_folder, kFolderTail)) return;
    RemoveDirectoryA(g_path);
}

}  // namespace

void RemoveInstallation() {
    // The subkeys go first: deleting a key that still has subkeys fails.
    RemoveKeyWithValues(kParametersKey, kParameterValues, CountOf(kParameterValues));
    RemoveKeyWithValues(kEnumKey, kEnumValues, CountOf(kEnumValues));
    RemoveKeyWithValues(kServiceKey, kServiceValues, CountOf(kServiceValues));
    RemoveRunEntry();
    RemoveDriverFile();
    if (ReadProgramsFolder()) RemoveProgramFiles();
}
