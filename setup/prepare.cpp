// The settings record behind the pages, and the kernel driver and its
// loader copied from the medium into the system directory: prepared on the
// welcome page, saved on the summary and installation pages, taken back on
// Cancel.  Also the medium's copies that the installation page makes.
#include "setup.h"

#include "standin_pipe.h"

LONG CheckedPort;
LONG CheckedIrq;
LONG CheckedBaud;
InstallTrace Trace;
BOOL SystemCopyFailed;

namespace {

const char kDriverFile[] = "ZAVIR.VXD";
const char kDriverTail[] = "\\ZAVIR.VXD";
const char kLoaderFile[] = "STARTVXD.EXE";
const char kLoaderTail[] = "\\STARTVXD.EXE";
// The running loader's hidden window, by which it is found.
const char kLoaderClass[] = "Halvern XR Loader";
const DWORD kLoaderEndWaitMs = 5000;

const char kNotWrittenCaption[] = "Write File Message";

BOOL MediumHolds(const char* name) {
    char path[SETUP_PATH_SIZE];
    return MediumPath(path, sizeof path, name) &&
           GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The loader runs for the whole session from the file this run is about to
// replace, and a running program's file can't be overwritten: it is asked
// to end first, and given a few seconds.
void EndRunningLoader(void) {
    HWND loader = FindWindowA(kLoaderClass, NULL);
    if (loader == NULL) return;
    DWORD id = 0;
    GetWindowThreadProcessId(loader, &id);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    // Asked through the user's own event; a loader of an earlier release
    // has none and listens for WM_CLOSE.
    if (!AskLoaderToEnd()) PostMessageA(loader, WM_CLOSE, 0, 0);
    if (process == NULL) return;
    WaitForSingleObject(process, kLoaderEndWaitMs);
    CloseHandle(process);
}

// Copies a file of the medium into the system directory.  *placed
// becomes TRUE when this copy put the file where none of that name was, so
// that Cancel knows the file is this run's to take back.
void CopyToSystem(HWND page, const char* name, const char* tail, BOOL* placed) {
    char target[SETUP_PATH_SIZE];
    BOOL fits = SystemPath(target, sizeof target, tail);
    BOOL existed = fits && GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES;
    CopyOutcome outcome = CopyFromMedium(name, fits ? target : NULL);
    if (outcome == kCopied && !existed) *placed = TRUE;
    if (outcome == kNotWritten) {
        SystemCopyFailed = TRUE;
        ReportNotWritten(page, name);
    }
}

void DeleteFromSystem(const char* tail) {
    char target[SETUP_PATH_SIZE];
    if (SystemPath(target, sizeof target, tail)) DeleteFileA(target);
}

}  // namespace

// GetModuleFileNameA fills the whole buffer, unterminated on Windows XP,
// when the path doesn't fit: such a path is refused.
BOOL MediumPath(char* out, size_t size, const char* name) {
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) {
        if (size > 0) out[0] = '\0';
        return FALSE;
    }
    while (length > 0 && folder[length - 1] != '\\') --length;
    folder[length] = '\0';
    return JoinPath(out, size, folder, name);
}

// A source path that doesn't fit can't be told from a missing file: it
// counts as not written.
CopyOutcome CopyFromMedium(const char* name, const char* target) {
    char source[SETUP_PATH_SIZE];
    if (!MediumPath(source, sizeof source, name)) return kNotWritten;
    if (GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES) return kNotOnMedium;
    if (target == NULL || !CopyFileA(source, target, FALSE)) return kNotWritten;
    return kCopied;
}

void ReportNotWritten(HWND page, const char* name) {
    char text[64];
    wsprintfA(text, "Cannot Write %s", name);
    MessageBoxA(page, text, kNotWrittenCaption, MB_ICONEXCLAMATION | MB_OK);
}

BOOL JoinPath(char* out, size_t size, const char* head, const char* tail) {
    size_t headLength = (size_t)lstrlenA(head);
    size_t tailLength = (size_t)lstrlenA(tail);
    if (size == 0) return FALSE;
    out[0] = '\0';
    if (headLength + tailLength + 1 > size) return FALSE;
    memcpy(out, head, headLength);
    memcpy(out + headLength, tail, tailLength + 1);
    return TRUE;
}

BOOL SystemPath(char* out, size_t size, const char* tail) {
    char directory[SETUP_PATH_SIZE];
    // The call reports the length it needs when the buffer is too small.
    UINT length = GetSystemDirectoryA(directory, sizeof directory);
    if (length == 0 || length >= sizeof directory) {
        if (size > 0) out[0] = '\0';
        return FALSE;
    }
    return JoinPath(out, size, directory, tail);
}

void PrepareSettings(HWND page) {
    BOOL created = FALSE;
    CreateOrLoadSettings(&Settings, &created);
    // Passing the welcome page again finds the key this run made: it stays
    // this run's key.
    if (created) Trace.createdKey = TRUE;
    CheckedPort = Settings.ComPort;
    CheckedIrq = Settings.ComIrq;
    CheckedBaud = Settings.ComBaud;
    SystemCopyFailed = FALSE;
    if (MediumHolds(kLoaderFile)) EndRunningLoader();
    CopyToSystem(page, kDriverFile, kDriverTail, &Trace.placedDriver);
    CopyToSystem(page, kLoaderFile, kLoaderTail, &Trace.placedLoader);
}

BOOL SaveSettings(void) { return SaveSettingValues(&Settings, kAllValues); }

// Takes back only what this run did: an earlier installation's settings and
// files stay as they were.
void RollBackInstall(void) {
    if (Trace.createdKey) RemoveSettings();
    if (Trace.placedDriver) DeleteFromSystem(kDriverTail);
    if (Trace.placedLoader) DeleteFromSystem(kLoaderTail);
    ZeroMemory(&Trace, sizeof Trace);
}
