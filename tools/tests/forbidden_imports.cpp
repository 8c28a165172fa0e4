// Deliberately imports what Windows 98 lacks, to show that the import check
// refuses it: GetTickCount64 (Vista and later) and a Unicode call.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MessageBoxW(NULL, L"x", L"y", MB_OK);
    return (int)GetTickCount64();
}
