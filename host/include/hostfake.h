// The test side of the host platform: set up the machine a program runs on
// (registry, drive, serial ports, driver, screen), drive its windows and
// read back every call it made.  All state is process-wide; Reset() gives a
// clean machine.
#ifndef ZAVIR_HOST_HOSTFAKE_H
#define ZAVIR_HOST_HOSTFAKE_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fake {

void Reset();

// ---- the call record ----------------------------------------------------
// Every platform call, in order: its name and its arguments as text, e.g.
//   RegDeleteValueA  "HKLM\software\corvale\zavir, LeftUpX"
struct Call {
    std::string name;
    std::string args;
};
const std::vector<Call>& Calls();
void ClearCalls();
std::vector<std::string> CallNames();
std::vector<std::string> ArgsOf(const std::string& name);  // args of each call to name
size_t CountOf(const std::string& name);

// ---- the system and the functions looked up at run time -------------------
// GetVersion's answer; a fresh machine is Windows XP (0x0A280105).  Windows
// 98 is 0xC0000A04: the high bit marks the Windows 9x family, whose
// RegDeleteKeyA deletes a key together with its subkeys.
void SetVersion(DWORD version);
// GetProcAddress finds the fake's exports by name (the module is not
// looked at) unless hidden: a hidden one answers NULL, as on a system
// that lacks it.  Known: ProcessIdToSessionId, CancelIo,
// GetNamedPipeServerSessionId, GetTokenInformation (TokenUser: the user
// S-1-5-21-1-2-3-1000), GetSecurityInfo (a pipe's owner: that user, or S-1-5-21-1-2-3-1001),
// ConvertStringSidToSidA, and OpenProcessToken, LookupPrivilegeValueA
// and AdjustTokenPrivileges, which are recorded as calls like the
// platform's own.
void HideExport(const std::string& name);
// The session ProcessIdToSessionId reports for this process; 1 at start.
void SetSessionId(DWORD session);

// ---- registry -----------------------------------------------------------
// Paths are "HKLM\...", "HKCU\..." or "HKU\<SID>\..." (the hives of the users
// logged on), matched without regard to case.
void RegMakeKey(const std::string& path);
void RegPut(const std::string& path, const std::string& value, DWORD type,
            const std::vector<uint8_t>& data);
void RegPutDword(const std::string& path, const std::string& value, DWORD number);
void RegPutString(const std::string& path, const std::string& value, const std::string& text);
bool RegKeyExists(const std::string& path);
bool RegValueExists(const std::string& path, const std::string& value);
std::optional<DWORD> RegDword(const std::string& path, const std::string& value);
std::optional<std::string> RegString(const std::string& path, const std::string& value);
std::optional<DWORD> RegType(const std::string& path, const std::string& value);
std::vector<uint8_t> RegData(const std::string& path, const std::string& value);
std::vector<std::string> RegValueNames(const std::string& path);
std::vector<std::string> RegSubkeys(const std::string& path);
// Opening or creating this key fails with ERROR_ACCESS_DENIED.
void RegDenyOpen(const std::string& path);
// Only KEY_READ opens this key, as for a standard user on Windows 2000 and
// later; any handle opened without KEY_SET_VALUE refuses writes.
void RegReadOnly(const std::string& path);
// The access mask of each successful open or create, in order.
std::vector<REGSAM> RegAccessMasks();

// ---- drive and files ----------------------------------------------------
// Files live in memory, names compared without regard to case.  The
// current directory starts as "C:\SETUP", the system directory as
// "C:\WINDOWS\SYSTEM".
void SetCurrentDir(const std::string& path);
void SetSystemDir(const std::string& path);
// The program's own file (GetModuleFileNameA); "C:\SETUP\SETUP.EXE" at start.
void SetModulePath(const std::string& path);
void PutFile(const std::string& path, const std::string& contents);
void MakeDir(const std::string& path);
bool FileExists(const std::string& path);
bool DirExists(const std::string& path);
std::string FileContents(const std::string& path);
// A file in use (a running program) can't be deleted or overwritten.
void MarkInUse(const std::string& path);
// Calls that fail for this path (copy target, delete, create) whatever else.
void FailPath(const std::string& path);
std::vector<std::string> AllFiles();

// ---- serial ports -------------------------------------------------------
// A port exists once added.  Bytes fed to it wait in its input queue; a
// gap stands for a silence long enough for any read to time out; an error
// makes the next read fail.
void AddComPort(int n, DWORD baud = 9600);
void FeedSerial(int n, const std::vector<uint8_t>& bytes);
void SerialGap(int n);
void SerialReadError(int n);
void FailGetCommState(int n);
void FailSetCommState(int n);
struct SerialPortState {
    bool open = false;
    int opens = 0;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    DWORD inQueue = 0, outQueue = 0, eventMask = 0;
    size_t pending = 0;  // bytes and gaps still queued
};
SerialPortState SerialPort(int n);
// Each ReadFile on a port: bytes asked for, bytes returned, success.
struct SerialRead {
    int port;
    DWORD asked;
    DWORD got;
    bool ok;
};
const std::vector<SerialRead>& SerialReads();

// ---- kernel driver ------------------------------------------------------
// The device "\\.\ZAVIR.VXD" opens when present; the stand-in's pipe opens
// when the stand-in is present.  Both serve requests through one handler.
void SetDriverPresent(bool present);
void SetStandInPresent(bool present);
struct DeviceRequest {
    HANDLE handle;
    DWORD code;
    std::vector<uint8_t> in;  // the input buffer as passed
    DWORD inSize;
    DWORD outSize;
    bool viaPipe;
    std::vector<DWORD> InWords() const;
};
const std::vector<DeviceRequest>& DeviceRequests();
// Handler for a request: fill out (outSize bytes), set *returned, return
// success.  The default one answers 0x222007 with RawPosition() as values
// and every other request with success and zeros.
using DeviceHandler = std::function<BOOL(DWORD code, const uint8_t* in, DWORD inSize,
                                         uint8_t* out, DWORD outSize, DWORD* returned)>;
void SetDeviceHandler(DeviceHandler handler);
void SetRawPosition(LONG x, LONG y);
void FailRequests(DWORD code);  // that code fails from now on (0: every code)
int OpenDriverHandles();  // device, pipe and request event handles
// Every instance of the stand-in's pipe is taken by other clients until
// the clock reaches `ms`: opens fail with ERROR_PIPE_BUSY, WaitNamedPipeA
// waits for a free one.
void SetStandInBusyUntil(DWORD ms);
// The stand-in takes requests but never answers them.
void StallStandIn(bool stalled);
// The stand-in ends: its pipe is gone and every connection to it broken.
void EndStandIn();
// The session GetNamedPipeServerSessionId reports for the stand-in's pipe
// (by default the program's own).
void SetStandInSession(DWORD session);
const DWORD kUnknownSession = 0xFFFFFFFF;  // the server's session can't be read
// The stand-in's pipe belongs to another user than the program's.
void SetStandInOwnedByOtherUser(bool other);
// The stand-in pipe's access list refuses the program's user.
void SetStandInBarsUs(bool bars);
// The integrity level of the stand-in pipe's label (0: no label).
void SetStandInLabel(DWORD level);
const DWORD kUnreadableLabel = 0xFFFFFFFF;  // the label can't be read
// A serving stand-in publishes its pipe's name in the user's registry;
// the fake's is always the same one.
std::string StandInPipeName();

// ---- the process's token -------------------------------------------------
// Elevation and integrity (Windows Vista and later).  By default the
// system knows neither, as before Vista.
const DWORD kUnknownLevel = 0xFFFFFFFF;  // the level can't be read
struct TokenStanding {
    bool known = false;
    DWORD type = 1;  // TOKEN_ELEVATION_TYPE: 1 default, 2 full, 3 limited
    DWORD level = 0x2000;
    DWORD linkedLevel = 0x2000;
    DWORD virtualized = 0;  // registry writes go to the user's own copy
};
void SetTokenStanding(const TokenStanding& standing);

// ---- processes and the clock ---------------------------------------------
// GetTickCount's clock, in milliseconds from 0; it moves only while the
// program waits (WaitForSingleObject, WaitNamedPipeA on a busy pipe).
DWORD Now();
// The clock moves on by itself, as time passes between a program's calls.
void PassTime(DWORD ms);
// What a program file does once CreateProcessA starts it, in milliseconds
// after its start (-1: never).  A program starts only from a file on the
// drive; one without a behaviour just runs on.  When a program that serves
// the stand-in's pipe ends, the pipe goes with it.
struct ProgramBehaviour {
    long servesStandInAfterMs = -1;
    long endsAfterMs = -1;
};
void SetProgram(const std::string& path, ProgramBehaviour behaviour);
struct StartedProcess {
    std::string application;
    std::string commandLine;  // "NULL" when none was given
    std::string currentDir;   // "NULL" when none was given
    bool inheritHandles;
    DWORD flags;
    DWORD startupFlags;
    WORD showWindow;
    DWORD startedAt;
};
const std::vector<StartedProcess>& StartedProcesses();
// Process and thread handles not closed yet.
int OpenProcessHandles();

// ---- windows and dialogs -------------------------------------------------
// Dialog templates come from a program's .rc file (and its resource.h for
// the names), parsed once per test program.
void LoadResourceScript(const std::string& rcPath, const std::string& resourceHeaderPath);

struct WindowInfo {
    HWND hwnd = nullptr;
    HWND parent = nullptr;
    int id = 0;
    std::string className;
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    bool visible = false;
    bool enabled = true;
    int checked = 0;
    int x = 0, y = 0, width = 0, height = 0;
    bool alive = false;
    int templateId = 0;  // dialogs: their template
};
WindowInfo Window(HWND hwnd);
// Dialogs created from the template, most recent last (alive or not).
std::vector<HWND> DialogsOf(int templateId);
HWND LiveDialog(int templateId);  // the live one, or nullptr
HWND Control(HWND dialog, int id);
std::vector<WindowInfo> Controls(HWND dialog);  // in template order
std::string Text(HWND dialog, int id);
bool Visible(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
int Checked(HWND dialog, int id);
HWND Focus();
int FocusId();  // control id of the focused window, 0 if none

// What a modal dialog does once its WM_INITDIALOG returned: the test's
// script for that template runs (clicks, timer ticks...).  The dialog ends
// when the program calls EndDialog; a dialog still open after its script is
// reported by DialogsLeftOpen() and returns -1.
void OnDialog(int templateId, std::function<void(HWND)> script);
int DialogsLeftOpen();

// A user's click on a control: nothing for a hidden or disabled one;
// automatic check boxes and radio buttons change their marks as Windows
// does (radio buttons clear the others of their group) before the parent
// gets WM_COMMAND BN_CLICKED.
void Click(HWND dialog, int id);
// A timer tick, delivered only while the timer is set.
bool Tick(HWND hwnd, UINT_PTR id);
struct TimerInfo {
    HWND hwnd;
    UINT_PTR id;
    UINT period;
};
std::vector<TimerInfo> Timers();
LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Escape or the close box: the dialog gets WM_COMMAND IDCANCEL.
void PressEscape(HWND dialog);
void PressClose(HWND dialog);

struct MessageBoxInfo {
    HWND owner;
    std::string text;
    std::string caption;
    UINT flags;
};
const std::vector<MessageBoxInfo>& MessageBoxes();
void SetMessageBoxAnswer(int answer);

int CursorCount();  // the display counter, 0 at start
const std::vector<UINT>& Beeps();
struct TrayCall {
    DWORD message;
    DWORD cbSize;
    HWND hwnd;
    UINT id;
    UINT flags;
    UINT callback;
    HICON icon;
    std::string tip;
};
const std::vector<TrayCall>& TrayCalls();
const std::vector<UINT>& ExitWindowsCalls();
// A top-level window of another program.
HWND AddForeignWindow(const std::string& className, const std::string& title);
// A program already running from `path` (its file in use) with a top-level
// window of `className`.  Asked to close (WM_CLOSE), it ends `endsAfterMs`
// later on the clock (-1: never): its window goes and its file is free.
HWND AddRunningProgram(const std::string& path, const std::string& className,
                       long endsAfterMs);
void SetScreenSize(int width, int height);
void FailRegisterClass(bool fail);
struct ClassInfo {
    WNDCLASSEXA wc;
    std::string name;
};
std::vector<ClassInfo> RegisteredClasses();
// Top-level windows created with CreateWindowExA (not dialogs).
std::vector<WindowInfo> TopLevelWindows();
// The instance handle the fake gives out.
HINSTANCE Instance();

}  // namespace fake

#endif
