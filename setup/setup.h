// The setup wizard's shared state and the operations behind its pages.
#ifndef SETUP_SETUP_H
#define SETUP_SETUP_H

#include <windows.h>

#include "settings.h"

// Outcome of the page that closed last; the frame picks the next page from it.
enum PageResultValue {
    kResultNone = 0,
    kResultNext = 1,
    kResultCancel = 2,
    kResultBack = 3,
    kResultInstall = 4,
};

// Paths are built in buffers of this size; a path that does not fit is
// refused, never cut.
#define SETUP_PATH_SIZE 256
// Room for the current user's Programs folder as the registry gives it.
#define SETUP_FOLDER_SIZE 260

extern TouchSettings Settings;
extern int PageResult;
// The port, IRQ and baud rate whose buttons the port page checked last.
extern LONG CheckedPort;
extern LONG CheckedIrq;
extern LONG CheckedBaud;
extern char ProgramsFolder[SETUP_FOLDER_SIZE];

// Everything this run put in place and may take back on Cancel.
struct InstallTrace {
    BOOL createdKey;       // the settings key did not exist before this run
    BOOL placedDriver;     // ZAVIR.VXD was not in the system directory before
    BOOL placedLoader;     // nor was STARTVXD.EXE
};
extern InstallTrace Trace;

// Back to the state of a program that has just started.
void ResetSetupState(void);

// The frame: which page follows `page` once it closed with `result`;
// 0 ends the program.
int NextPage(int page, int result);
void RunPages(HINSTANCE instance);

// Settings and system files.
void PrepareSettings(void);
void SaveSettings(void);
void RollBackInstall(void);

// out = head + tail when it fits in `size` bytes with its terminator;
// otherwise FALSE and out is left empty.
BOOL JoinPath(char* out, size_t size, const char* head, const char* tail);
// The system directory + tail, refused (FALSE) when it does not fit.
BOOL SystemPath(char* out, size_t size, const char* tail);

// The summary page's two lines (buffers of at least 64 bytes).
void FormatPortLine(char* out, LONG comPort, LONG comIrq);
void FormatButtonLine(char* out, LONG rightButton);

// The installation: start-up entries, double-click values, Programs folder.
void WriteStartupEntries(void);
void InstallFiles(HWND page);

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PortPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK RightButtonPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SummaryPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK InstallPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);

#endif
