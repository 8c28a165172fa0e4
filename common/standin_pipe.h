// The client end of the driver stand-in's pipe (Windows 2000 and later):
// opened for identification only, accepted only from a server of this
// session, and every request bounded in time.
#ifndef ZAVIR_COMMON_STANDIN_PIPE_H
#define ZAVIR_COMMON_STANDIN_PIPE_H

#include <windows.h>

#include "zavir_wire.h"

// How long one request may take, write and answer together.
#define STANDIN_REQUEST_LIMIT_MS 1000

// The session's pipe, or INVALID_HANDLE_VALUE and *error:
// ERROR_FILE_NOT_FOUND when nothing serves it, ERROR_PIPE_BUSY when every
// instance is taken, ERROR_ACCESS_DENIED for a server of another session.
HANDLE OpenStandInPipe(DWORD* error);

// Whether a server may stand in for the driver: one of our own session.
// Where the system can't tell (no such query before Windows Vista), the
// session's own pipe name is all there is to go by.
BOOL StandInServerAcceptable(BOOL sessionKnown, DWORD serverSession, DWORD ownSession);

enum StandInOutcome {
    kStandInAnswered,
    kStandInGone,    // the pipe broke: the server ended or dropped us
    kStandInSilent   // no answer in time: a server that hangs
};

// One request and its answer within STANDIN_REQUEST_LIMIT_MS.  Unless it
// was answered, the pipe is of no further use.
StandInOutcome StandInTransact(HANDLE pipe, const ZavirWireRequest* request,
                               ZavirWireAnswer* answer);

#endif
