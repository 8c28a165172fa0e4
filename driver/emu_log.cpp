// ZAVIREMU's request log, apart from the server: the loader, which never
// logs, carries none of it.
#include <windows.h>

#include "emu_core.h"
#include "emu_server.h"

namespace {

const char* g_path;
BOOL g_stamped;
HANDLE g_log = INVALID_HANDLE_VALUE;
DWORD g_logBytes;  // the log file's size
LARGE_INTEGER g_frequency;

BOOL OpenLog() {
    g_log = CreateFileA(g_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
    if (g_log == INVALID_HANDLE_VALUE) return FALSE;
    g_logBytes = SetFilePointer(g_log, 0, NULL, FILE_END);
    if (g_logBytes == INVALID_SET_FILE_POINTER) g_logBytes = kStandInLogLimit + 1;
    g_stamped = g_stamped && QueryPerformanceFrequency(&g_frequency);
    return TRUE;
}

void WriteLogLine(const ZavirWireRequest* request) {
    char line[112];
    int length;
    if (g_stamped) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        length = FormatStampedRequestLine(
            line, sizeof line - 2, CounterToNanoseconds(now.QuadPart, g_frequency.QuadPart),
            request);
    } else {
        length = FormatRequestLine(line, sizeof line - 2, request);
    }
    line[length++] = '\r';
    line[length++] = '\n';
    if (LogStartsAfresh(g_logBytes, (DWORD)length)) {
        SetFilePointer(g_log, 0, NULL, FILE_BEGIN);
        SetEndOfFile(g_log);
        g_logBytes = 0;
    }
    DWORD written = 0;
    // The file is opened unbuffered by us: each line reaches it at once.
    WriteFile(g_log, line, (DWORD)length, &written, NULL);
    g_logBytes += written;
}

const RequestLog kFileLog = {OpenLog, WriteLogLine};

}  // namespace

const RequestLog* FileRequestLog(const char* path, BOOL stamped) {
    if (!path || !path[0]) return NULL;
    g_path = path;
    g_stamped = stamped;
    return &kFileLog;
}
