// The installation page: on the first tick of its timer it registers the
// start-up entries and the double-click values, saves the settings once
// more, copies the programs into the Start menu and lets the user restart.
#include "resource.h"
#include "setup.h"

char ProgramsFolder[SETUP_FOLDER_SIZE];

namespace {

const UINT_PTR kInstallTimer = 1;
const UINT kInstallDelay = 200;  // ms: the page is painted before the work

const char kDeskTopKey[] = "Control Panel\\DeskTop";
const char kMouseKey[] = "Control Panel\\Mouse";
const char kShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kRunKey[] = "software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunServicesKey[] = "software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const char kStartupValue[] = "Zavir";

const char kInstalledText[] = "Installation Driver OK !!";
const char kFailedText[] = "Installation Driver Failed !!";
const char kNotSavedText[] = "Cannot Save Settings";
const char kNotSavedCaption[] = "Save Settings Message";

const char kShutdownPrivilege[] = "SeShutdownPrivilege";
typedef BOOL(WINAPI* OpenProcessTokenFn)(HANDLE, DWORD, HANDLE*);
typedef BOOL(WINAPI* LookupPrivilegeValueFn)(LPCSTR, LPCSTR, PLUID);
typedef BOOL(WINAPI* AdjustTokenPrivilegesFn)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD,
                                              PTOKEN_PRIVILEGES, LPDWORD);

struct ProgramFile {
    const char* source;
    const char* tail;  // after ProgramsFolder
    const char* status;
};
const ProgramFile kPrograms[] = {
    {"TOUCH.EXE", "\\ZAVIR\\TOUCH.EXE", "Now Write TOUCH.EXE"},
    {"UNINSTAL.EXE", "\\ZAVIR\\UNINSTAL.EXE", "Now Write UNINSTAL.EXE"},
    {"TRUEPOS.EXE", "\\ZAVIR\\TRUEPOS.EXE", "Now Write TRUEPOS.EXE"},
    {"CONFIG.EXE", "\\ZAVIR\\CONFIG.EXE", "Now Write CONFIG.EXE"},
};

char StatusText[64];

// Registry text values are stored with their terminating zero.
void SetText(HKEY key, const char* name, const char* text) {
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)lstrlenA(text) + 1);
}

void SetTextInCreatedKey(HKEY root, const char* path, const char* name, const char* text) {
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(root, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key,
                        &disposition) != ERROR_SUCCESS)
        return;
    SetText(key, name, text);
    RegCloseKey(key);
}

// A start-up entry is a command line: a path with blanks in it must be
// quoted, or a program planted at its first blank ("C:\Program.exe") runs.
void SetCommandInCreatedKey(HKEY root, const char* path, const char* name, const char* program) {
    char command[SETUP_PATH_SIZE + 2];
    wsprintfA(command, "\"%s\"", program);
    SetTextInCreatedKey(root, path, name, command);
}

BOOL FolderUsable = TRUE;  // FALSE: a Programs value is there but can't be used

// Without a Programs value the programs go to \ZAVIR on the Windows
// drive, not on whatever drive setup was started from (the floppy).
void TakeWindowsDrive(void) {
    char directory[SETUP_PATH_SIZE];
    if (SystemPath(directory, sizeof directory, "") && directory[1] == ':')
        lstrcpynA(ProgramsFolder, directory, 3);
}

// Takes the current user's Programs folder only when the whole text,
// with its terminating zero, came back.  A value that is there but
// longer, unterminated or not text can't be used: nothing is put in
// place rather than put somewhere else.
BOOL ReadProgramsFolder(void) {
    ProgramsFolder[0] = '\0';
    char value[SETUP_FOLDER_SIZE];
    DWORD size = sizeof value;
    DWORD type = 0;
    LONG result = ERROR_FILE_NOT_FOUND;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        result = RegQueryValueExA(key, "Programs", NULL, &type, (LPBYTE)value, &size);
        RegCloseKey(key);
    }
    if (result == ERROR_FILE_NOT_FOUND) {
        TakeWindowsDrive();
        return TRUE;
    }
    if (result != ERROR_SUCCESS || type != REG_SZ || size > sizeof value ||
        memchr(value, '\0', size) == NULL)
        return FALSE;
    lstrcpyA(ProgramsFolder, value);
    return TRUE;
}

// The program folder + tail, refused as a path that doesn't fit when the
// stored folder could not be used.
BOOL ProgramPath(char* out, size_t size, const char* tail) {
    if (FolderUsable) return JoinPath(out, size, ProgramsFolder, tail);
    out[0] = '\0';
    return FALSE;
}

void ShowStatus(HWND page, const char* text) {
    lstrcpynA(StatusText, text, sizeof StatusText);
    SetDlgItemTextA(page, IDC_STATUS, StatusText);
    UpdateWindow(GetDlgItem(page, IDC_STATUS));
}

// The status line says OK only when the settings and every file that the
// medium carries are in place; each failure has told the user already.
// The timer goes first: a message box's modal loop would deliver the next
// tick, and the work must run once.
void Install(HWND page) {
    KillTimer(page, kInstallTimer);
    WriteStartupEntries();
    BOOL saved = SaveSettings();
    if (!saved) MessageBoxA(page, kNotSavedText, kNotSavedCaption, MB_ICONEXCLAMATION | MB_OK);
    BOOL copied = InstallFiles(page);
    ShowStatus(page, saved && copied && !SystemCopyFailed ? kInstalledText : kFailedText);
    HWND reboot = GetDlgItem(page, IDC_REBOOT);
    EnableWindow(reboot, TRUE);
    SetFocus(reboot);
}

}  // namespace

void WriteStartupEntries(void) {
    HKEY key;
    // The desktop key belongs to Windows: written only when it is there.
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDeskTopKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        SetText(key, "DoubleClickHeight", "40");
        SetText(key, "DoubleClickWidth", "40");
        RegCloseKey(key);
    }
    SetTextInCreatedKey(HKEY_CURRENT_USER, kMouseKey, "DoubleClickSpeed", "500");

    FolderUsable = ReadProgramsFolder();

    // A path that does not fit is not written at all rather than cut.
    char path[SETUP_PATH_SIZE];
    if (ProgramPath(path, sizeof path, "\\ZAVIR\\TOUCH.EXE"))
        SetCommandInCreatedKey(HKEY_LOCAL_MACHINE, kRunKey, kStartupValue, path);
    if (SystemPath(path, sizeof path, "\\STARTVXD.EXE"))
        SetCommandInCreatedKey(HKEY_LOCAL_MACHINE, kRunServicesKey, kStartupValue, path);
}

BOOL InstallFiles(HWND page) {
    char path[SETUP_PATH_SIZE];
    if (ProgramPath(path, sizeof path, "\\ZAVIR")) CreateDirectoryA(path, NULL);
    BOOL all = TRUE;
    for (size_t i = 0; i < sizeof kPrograms / sizeof kPrograms[0]; ++i) {
        ShowStatus(page, kPrograms[i].status);
        BOOL fits = ProgramPath(path, sizeof path, kPrograms[i].tail);
        if (CopyFromMedium(kPrograms[i].source, fits ? path : NULL) == kNotWritten) {
            ReportNotWritten(page, kPrograms[i].source);
            all = FALSE;
        }
    }
    return all;
}

void EnableShutdownPrivilege(void) {
    if (GetVersion() & 0x80000000) return;  // the Windows 9x family
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    if (!advapi) return;
    OpenProcessTokenFn openToken =
        (OpenProcessTokenFn)(void*)GetProcAddress(advapi, "OpenProcessToken");
    LookupPrivilegeValueFn lookUp =
        (LookupPrivilegeValueFn)(void*)GetProcAddress(advapi, "LookupPrivilegeValueA");
    AdjustTokenPrivilegesFn adjust =
        (AdjustTokenPrivilegesFn)(void*)GetProcAddress(advapi, "AdjustTokenPrivileges");
    HANDLE token;
    if (!openToken || !lookUp || !adjust ||
        !openToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (lookUp(NULL, kShutdownPrivilege, &privileges.Privileges[0].Luid))
        adjust(token, FALSE, &privileges, 0, NULL, NULL);
    CloseHandle(token);
}

INT_PTR CALLBACK InstallPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            SetTimer(page, kInstallTimer, kInstallDelay, NULL);
            EnableWindow(GetDlgItem(page, IDC_REBOOT), FALSE);
            return TRUE;
        case WM_TIMER:
            // All the work happens in this one tick, which ends the timer.
            if (wParam == kInstallTimer) Install(page);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_REBOOT) {
                EndDialog(page, 0);
                EnableShutdownPrivilege();
                ExitWindowsEx(EWX_REBOOT, 0);
            }
            return TRUE;
    }
    return FALSE;
}
