// The programs' entry point in place of the C runtime's: Windows 95 has no
// msvcrt.dll.  Nothing here runs static constructors, registers exit
// handlers or sets up thread-local storage; the programs need none.
#include <windows.h>

#include "arguments.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

// The linker's default entry name for a GUI program (kept through the
// link-time optimisation, which sees no call to it).  Aligns the stack
// itself rather than trust the loader to.
extern "C" __attribute__((force_align_arg_pointer, noreturn, used)) void WinMainCRTStartup(void) {
    // The x87 in its initial state (64-bit precision, exceptions masked),
    // as the C runtime left it for the driver stand-in's arithmetic.
    __asm__ __volatile__("fninit");
    STARTUPINFOA startup;
    startup.dwFlags = 0;
    GetStartupInfoA(&startup);
    int result = WinMain((HINSTANCE)&__ImageBase, NULL, CommandLineArguments(GetCommandLineA()),
                         StartupShowState(&startup));
    ExitProcess((UINT)result);
}
