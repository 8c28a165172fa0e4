// ZSHOW.EXE, for the end-to-end tests: started at the programs' own entry,
// it ends with the show state that entry handed WinMain as its exit code.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) { return show; }
