// What the programs' own start-up hands WinMain, worked out from what
// Windows gives every process.
#ifndef ZAVIR_STARTUP_ARGUMENTS_H
#define ZAVIR_STARTUP_ARGUMENTS_H

#include <windows.h>

// The command line after the program's name (quoted or not) and the blanks
// that follow it; an empty string when there is nothing more.
LPSTR CommandLineArguments(LPSTR commandLine);

// The show state the starting program asked for, else SW_SHOWDEFAULT.
int StartupShowState(const STARTUPINFOA* startup);

#endif
