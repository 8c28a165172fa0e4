// ZAVIREMU: the user-mode stand-in for the kernel driver, run on its own
// (tests, or a machine where the start-up loader isn't installed).
//   ZAVIREMU [--qpc] [--log FILE]
// Exit codes: 2 bad command line, 3 log file not opened, 4 pipe not served
// (another stand-in or anyone else already holds it, or its security can't
// be built), 5 run as administrator.
#include <windows.h>

#include "emu_core.h"
#include "emu_server.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    char logPath[MAX_PATH];
    BOOL stamped = FALSE;
    if (!ParseEmuOptions(commandLine, logPath, sizeof logPath, &stamped)) return 2;
    int result = StartDriverStandIn(FileRequestLog(logPath, stamped));
    if (result != kStandInServing) return result;
    for (;;) Sleep(INFINITE);
}
