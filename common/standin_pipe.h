// The client end of the driver stand-in's pipe (Windows 2000 and later):
// opened anonymously, accepted only from a server of this session whose
// pipe is known to be our user's, and every request bounded in time.
#ifndef ZAVIR_COMMON_STANDIN_PIPE_H
#define ZAVIR_COMMON_STANDIN_PIPE_H

#include <windows.h>

#include "zavir_wire.h"

// How long one request may take, write and answer together.
#define STANDIN_REQUEST_LIMIT_MS 1000

// The session's pipe, or INVALID_HANDLE_VALUE and *error:
// ERROR_FILE_NOT_FOUND when nothing serves it, ERROR_PIPE_BUSY when every
// instance is taken, ERROR_ACCESS_DENIED for a server that is not
// acceptable (StandInServerAcceptable).
HANDLE OpenStandInPipe(DWORD* error);

// What the client learnt of the server behind the pipe.  A server session
// the system can't tell (Windows 2000 and XP) is passed over; an owner it
// can't tell refuses the server.
struct StandInServerFacts {
    BOOL sessionKnown;
    DWORD serverSession;
    DWORD ownSession;
    BOOL ownerKnown;
    BOOL ownedByUs;  // the pipe's owner is the user this program runs as
};

// A server may stand in for the driver only when it is of our session and
// its pipe is our user's: pipe names are machine-wide, so another user
// could take ours first.
BOOL StandInServerAcceptable(const StandInServerFacts* facts);

// The SID of the user this process runs as, copied into sid (at most
// size bytes).  FALSE where the system can't say (Windows 9x).
#define USER_SID_SIZE 68
BOOL CurrentUserSid(BYTE* sid, DWORD size);

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
