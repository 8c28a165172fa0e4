// The settings record behind the pages, and the kernel driver and its
// loader in the system directory: prepared on the welcome page, saved on
// the summary and installation pages, taken back on Cancel.
#include "setup.h"

LONG CheckedPort;
LONG CheckedIrq;
LONG CheckedBaud;
InstallTrace Trace;

namespace {

const char kDriverFile[] = "ZAVIR.VXD";
const char kDriverTail[] = "\\ZAVIR.VXD";
const char kLoaderFile[] = "STARTVXD.EXE";
const char kLoaderTail[] = "\\STARTVXD.EXE";

// Copies a file of the setup medium into the system directory.  *placed
// becomes TRUE when this copy put the file where none of that name was, so
// that Cancel knows the file is this run's to take back.
void CopyToSystem(const char* source, const char* tail, BOOL* placed) {
    char target[SETUP_PATH_SIZE];
    if (!SystemPath(target, sizeof target, tail)) return;
    BOOL existed = GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES;
    if (CopyFileA(source, target, FALSE) && !existed) *placed = TRUE;
}

void DeleteFromSystem(const char* tail) {
    char target[SETUP_PATH_SIZE];
    if (SystemPath(target, sizeof target, tail)) DeleteFileA(target);
}

}  // namespace

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

void PrepareSettings(void) {
    BOOL created = FALSE;
    CreateOrLoadSettings(&Settings, &created);
    // Passing the welcome page again finds the key this run made: it stays
    // this run's key.
    if (created) Trace.createdKey = TRUE;
    CheckedPort = Settings.ComPort;
    CheckedIrq = Settings.ComIrq;
    CheckedBaud = Settings.ComBaud;
    CopyToSystem(kDriverFile, kDriverTail, &Trace.placedDriver);
    CopyToSystem(kLoaderFile, kLoaderTail, &Trace.placedLoader);
}

void SaveSettings(void) { SaveSettingValues(&Settings, kAllValues); }

// Takes back only what this run did: an earlier installation's settings and
// files stay as they were.
void RollBackInstall(void) {
    if (Trace.createdKey) RemoveSettings();
    if (Trace.placedDriver) DeleteFromSystem(kDriverTail);
    if (Trace.placedLoader) DeleteFromSystem(kLoaderTail);
    ZeroMemory(&Trace, sizeof Trace);
}
