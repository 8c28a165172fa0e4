// Shared inner state of the host platform.
#ifndef ZAVIR_HOST_FAKE_STATE_H
#define ZAVIR_HOST_FAKE_STATE_H

#include <windows.h>

#include <cstdarg>
#include <string>

#include "hostfake.h"

namespace fake {
namespace internal {

void Record(const char* name, const std::string& args);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Quote(const char* text);  // "text" or NULL
std::string Lower(const std::string& s);
// The stand-in's pipe of the session the fake process runs in.
std::string StandInPipe();
void PublishStandIn();  // the name, where a serving stand-in puts it
bool TokenStandingKnown();  // the system has integrity levels

// Fake exports that live with their service (see GetProcAddress).
BOOL WINAPI FakeCancelIo(HANDLE h);
BOOL WINAPI FakeGetNamedPipeServerSessionId(HANDLE h, ULONG* session);
DWORD WINAPI FakeGetSecurityInfo(HANDLE h, DWORD type, DWORD what, void** owner, void** group,
                                 void** dacl, void** sacl, void** descriptor);
// The SID of the fake process's user (S-1-5-21-1-2-3-1000), and another's.
extern const BYTE kUserSid[28];
extern const BYTE kOtherUserSid[28];
DWORD SessionId();

// Another program's top-level window, titled like its class; it goes
// when that program ends.
HWND AddProgramWindow(const std::string& className, DWORD processId);
void EndProgramWindow(HWND hwnd);
// WM_CLOSE reached a window of that running program.
void AskToClose(DWORD processId);
// A program's file is no longer in use.
void ReleaseFile(const std::string& path);

// Per-service resets, called by fake::Reset().
void ResetRegistry();
void ResetFiles();
void ResetDevices();
void ResetWindows();

}  // namespace internal
}  // namespace fake

#endif
