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
// A file of the medium could not be put into the system directory on the
// welcome page's last Next: the installation can't be reported as done.
extern BOOL SystemCopyFailed;

// Back to the state of a program that has just started.
void ResetSetupState(void);

// The frame: which page follows `page` once it closed with `result`;
// 0 ends the program.
int NextPage(int page, int result);
void RunPages(HINSTANCE instance);

// Settings and system files.  `page` owns the message of a failed copy.
void PrepareSettings(HWND page);
// TRUE when every value was stored.
BOOL SaveSettings(void);
void RollBackInstall(void);

// The setup medium is the folder that holds SETUP.EXE itself, wherever the
// program was started from.  out = that folder + name; FALSE (out empty)
// when it doesn't fit.
BOOL MediumPath(char* out, size_t size, const char* name);
enum CopyOutcome { kCopied, kNotOnMedium, kNotWritten };
// Copies a file of the medium over `target`.  A file that the medium does
// not carry is passed over; one that is there but could not be written
// (target NULL: its path was refused) is kNotWritten.
CopyOutcome CopyFromMedium(const char* name, const char* target);
// Tells the user that a file of the medium did not reach its place.
void ReportNotWritten(HWND page, const char* name);

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
// TRUE when every program the medium carries reached the program folder.
BOOL InstallFiles(HWND page);
// Windows 2000 and later restart only for a process that has enabled its
// shutdown privilege; Windows 9x has neither privileges nor their calls.
void EnableShutdownPrivilege(void);

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PortPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK RightButtonPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SummaryPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK InstallPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);

#endif
