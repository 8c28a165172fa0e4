// The client end of the driver stand-in's pipe (Windows 2000 and later):
// found by the name its server published for our user, opened
// anonymously, accepted only from a server of this session whose pipe is
// known to be our user's and of no lower integrity level than ours, and
// every request bounded in time.  Also the facts of our own token that
// both ends decide by.
#ifndef ZAVIR_COMMON_STANDIN_PIPE_H
#define ZAVIR_COMMON_STANDIN_PIPE_H

#include <windows.h>

#include "zavir_wire.h"

// How long one request may take, write and answer together.
#define STANDIN_REQUEST_LIMIT_MS 1000

// How a program finds a stand-in that its own user's hive names none of:
// the pipe's name, and the SID (at most USER_SID_SIZE bytes) of the user
// the pipe must belong to.  FALSE when there is none.
typedef BOOL (*StandInSearch)(char* name, BYTE* owner);

// The session's pipe, or INVALID_HANDLE_VALUE and *error:
// ERROR_FILE_NOT_FOUND when nothing serves it, ERROR_PIPE_BUSY when every
// instance is taken, ERROR_ACCESS_DENIED when the pipe refused us or its
// server is not acceptable (StandInServerAcceptable).  The name our own
// hive publishes comes first; others (NULL for none) is asked only when
// there is none.
HANDLE OpenStandInPipe(DWORD* error, StandInSearch others);

// The stand-in of another user of this session, for an administrator who
// calibrates in that user's session (with consent given over the
// shoulder, or through runas): the hives of the users logged on, which
// only they and administrators can read, are searched for a name
// published for this session, and the pipe must belong to the hive's
// user.  The user's own programs never search: they use their own
// stand-in only.
BOOL OtherUsersStandInName(char* name, BYTE* owner);

// Where a serving stand-in names its pipe: a volatile key of the user's
// own hive (gone at log-off), one value per session.  Only the user,
// SYSTEM and administrators can write there; programs of low integrity
// can't.
#define STANDIN_NAME_KEY "Software\\corvale\\zavir\\standin"
BOOL PublishStandInName(const char* name);
// That key's value for this session: "<session>" holds the pipe's name,
// "<session><suffix>" other things a stand-in keeps for its successor.
#define STANDIN_VALUE_SIZE 24
void StandInSessionValue(char value[STANDIN_VALUE_SIZE], const char* suffix);
// The name is taken back only while it is still the one published.
void WithdrawStandInName(const char* name);
// The published name of this session's stand-in; FALSE for none, or for a
// value that is not such a name.
BOOL PublishedStandInName(char name[ZAVIR_PIPE_NAME_SIZE]);
// The same, from the key at path under root.
BOOL PublishedNameIn(HKEY root, const char* path, char name[ZAVIR_PIPE_NAME_SIZE]);

// Mandatory integrity levels (the last part of an S-1-16 SID).
#define INTEGRITY_LOW 0x1000
#define INTEGRITY_MEDIUM 0x2000
#define INTEGRITY_HIGH 0x3000

// A system function looked up at run time, NULL where it is missing:
// Windows 95 lacks CancelIo and the security calls, and only Windows Vista
// and later can name a pipe server's session.
FARPROC SystemFunction(const char* module, const char* name);
// A SID's length from its header: 8 bytes and one word per sub-authority.
DWORD SidLength(const BYTE* sid);
// Whether a kernel object (a pipe, a mutex) belongs to the user of the
// SID; FALSE in *known where the system can't say.
BOOL ObjectOwnedBy(HANDLE object, const BYTE* user, BOOL* known);
// The level an S-1-16-<level> SID names: its last sub-authority.
DWORD LevelOfSid(const BYTE* sid);
// A token's integrity level (NULL: our own), or FALSE and *error.
BOOL TokenLevel(HANDLE token, DWORD* level, DWORD* error);

// What the client learnt of the server behind the pipe.  A server session
// the system can't tell (Windows 2000 and XP) is passed over; an owner it
// can't tell refuses the server.  Integrity levels exist from Windows
// Vista on; where we have one, the pipe's label must be learnt too.
struct StandInServerFacts {
    BOOL searched;  // the name came from another user's hive
    BOOL sessionKnown;
    DWORD serverSession;
    DWORD ownSession;
    BOOL ownerKnown;
    BOOL ownedByPublisher;  // the pipe's owner is the user whose hive named it
    BOOL ownLevelKnown;
    DWORD ownLevelError;  // why it is unknown
    DWORD ownLevel;
    BOOL serverLevelKnown;
    DWORD serverLevel;  // the pipe's label; medium when it has none
};

// A server may stand in for the driver only when it is of our session, its
// pipe is the user's who published it (ours, or for an administrator's
// search another user's; pipe names are machine-wide) and it is not of a
// lower integrity level: a program of low integrity that took the name
// would learn every touch.  A stand-in never serves above its user's
// usual level (StandInMayServe), so a client run as administrator wants
// no more than medium.
BOOL StandInServerAcceptable(const StandInServerFacts* facts);

// Our token as it bears on serving: with user account control, a program
// run as administrator has a linked token of its user's usual, lower level.
struct TokenFacts {
    BOOL typeKnown;
    DWORD typeError;    // why the elevation type is unknown
    DWORD type;         // TOKEN_ELEVATION_TYPE: 1 default, 2 full, 3 limited
    BOOL levelsKnown;   // both levels, for a full token
    DWORD ownLevel;
    DWORD linkedLevel;
};
void LearnTokenFacts(TokenFacts* facts);

// Whether this token may serve the stand-in, or start the loader that
// does: not from above its user's usual level (its input would reach
// elevated windows on behalf of any program of the user), and not when
// that can't be told.  Systems without elevation (before Vista) serve.
BOOL StandInMayServe(const TokenFacts* facts);

// The SID of the user this process runs as, copied into sid (at most
// size bytes).  FALSE where the system can't say (Windows 9x).
#define USER_SID_SIZE 68
BOOL CurrentUserSid(BYTE* sid, DWORD size);

// The SID of this process's user in string form ("S-1-5-21-..."); FALSE
// where the system can't say (Windows 9x) or it doesn't fit.
BOOL CurrentUserSidText(char* text, DWORD size);

// The event that asks this user's loader to end (setup, about to replace
// its file): only the user, SYSTEM and administrators may set it, where a
// window message could come from any program on the desktop.  Named for
// the user where the system has users.
#define LOADER_END_EVENT_SIZE 256
#define LOADER_END_PREFIX "ZavirLoaderEnd"
BOOL LoaderEndEventName(char name[LOADER_END_EVENT_SIZE]);
// Where someone else took that name first, the loader listens on that name
// followed by a random part, published in the user's stand-in key (the
// session's value with this suffix), which only the user can write.
#define LOADER_END_SUFFIX ".end"
#define LOADER_END_RANDOM_SIZE 17  // ".%08lX%08lX"
BOOL PublishLoaderEndName(const char* name);
// The name published in the key at path under root; FALSE for none, or
// for a value that is not such a name.
BOOL PublishedLoaderEndIn(HKEY root, const char* path, char name[LOADER_END_EVENT_SIZE]);
// Sets the event of every user's loader in this session (setup's own
// user's, or, run by an administrator of another account, the user's).
// FALSE when there is none to set (no loader, or one of an earlier
// release, which listens for WM_CLOSE).
BOOL AskLoaderToEnd();

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
