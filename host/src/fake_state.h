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

// Fake exports that live with their service (see GetProcAddress).
BOOL WINAPI FakeCancelIo(HANDLE h);
BOOL WINAPI FakeGetNamedPipeServerSessionId(HANDLE h, ULONG* session);
DWORD SessionId();

// Per-service resets, called by fake::Reset().
void ResetRegistry();
void ResetFiles();
void ResetDevices();
void ResetWindows();

}  // namespace internal
}  // namespace fake

#endif
