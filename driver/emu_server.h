// The driver stand-in's server: a named pipe that only its own user and
// SYSTEM may open, a thread and pipe instance for each of up to eight
// clients, every request going through the shared state under one lock, and
// what a request asks of the pointer done with SendInput or a posted button
// message.  Used by ZAVIREMU.EXE and by the start-up loader.
#ifndef ZAVIR_DRIVER_EMU_SERVER_H
#define ZAVIR_DRIVER_EMU_SERVER_H

#include <windows.h>

#include "zavir_wire.h"

enum StandInStartResult {
    kStandInServing = 0,
    kStandInNoLog = 3,   // the log file can't be opened
    kStandInNoPipe = 4,  // no pipe server or pipe security here, or the pipe is taken
    kStandInElevated = 5 // run as administrator: serves only from its user's usual level
};

// A log of the requests served: opened once the pipe is there (FALSE:
// kStandInNoLog), then given each request under the server's lock.
struct RequestLog {
    BOOL (*open)();
    void (*write)(const ZavirWireRequest* request);
};

// Starts serving and returns at once; the listener threads go on until the
// process ends.  log NULL: no request log.  Named-pipe server functions and
// SendInput are looked up at run time, so that a program using this still
// loads on Windows 9x, where the pipe part then fails with kStandInNoPipe.
// The process is to end on any result but kStandInServing.
int StartDriverStandIn(const RequestLog* log);

// The security the stand-in gives its objects (its pipe's); NULL unless it
// serves.
LPSECURITY_ATTRIBUTES StandInSecurity();

// Bytes nobody can guess, from the system's random source; FALSE where
// there is none.
BOOL StandInRandom(BYTE* random, DWORD size);

// The process is about to end: a button a touch holds down is let go,
// and no further request moves the pointer.  Only after StartDriverStandIn
// returned kStandInServing.
void StopDriverStandIn();

// ZAVIREMU's log (emu_log.cpp, which the loader doesn't link): the file at
// path, one line per request, each with the performance counter in
// nanoseconds in front when stamped; NULL for an empty path.
const RequestLog* FileRequestLog(const char* path, BOOL stamped);

#endif
