#include "arguments.h"

LPSTR CommandLineArguments(LPSTR commandLine) {
    // Unsigned, so that a name with letters above 127 is not cut short.
    unsigned char* at = (unsigned char*)commandLine;
    BOOL quoted = FALSE;
    while (*at > ' ' || (*at && quoted)) {
        if (*at == '"') quoted = !quoted;
        ++at;
    }
    while (*at && *at <= ' ') ++at;
    return (LPSTR)at;
}

int StartupShowState(const STARTUPINFOA* startup) {
    return (startup->dwFlags & STARTF_USESHOWWINDOW) ? startup->wShowWindow : SW_SHOWDEFAULT;
}
