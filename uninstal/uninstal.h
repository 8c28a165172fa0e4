// The uninstaller: started, it removes the Windows 2000 touch driver's
// service entries, its driver file, the touch service's start-up entry and
// the program files at once, shows nothing and ends with exit code 0.
#ifndef UNINSTAL_UNINSTAL_H
#define UNINSTAL_UNINSTAL_H

#include <windows.h>

// Performs the whole removal; every step runs whatever became of the
// steps before it, and every failure passes in silence.
void RemoveInstallation();

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

#endif
