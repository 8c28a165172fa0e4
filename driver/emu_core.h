// The driver stand-in's logic, free of platform calls: what a request does
// to the stand-in's state, how raw positions map to screen pixels through
// the corners in force, the request log's line format, and the pipe
// server's decisions (its limits, flags and security).  The pipe server
// and the input injection around it live in emu_server.cpp.
#ifndef ZAVIR_DRIVER_EMU_CORE_H
#define ZAVIR_DRIVER_EMU_CORE_H

#include <windows.h>

#include "corner_map.h"
#include "zavir.h"
#include "zavir_wire.h"

// The corners a starting stand-in takes: those of the settings store when
// they are usable, else the default square.
void LoadStartCorners(CornerSet* corners);
// The corners in force are kept for the session (in the user's volatile
// key): a stand-in that starts again, killed or replaced, starts from
// them rather than from the stored ones, which a standard user may have
// been unable to write, or a review has not yet accepted.
void KeepCornersInForce(const CornerSet* corners);

// Whether the left button a touch pressed is down, kept in the same key:
// a stand-in that starts after one killed mid-touch lets it go.
void KeepButtonHeld(BOOL held);
BOOL ButtonKeptHeld();

// The 0..65535 coordinate that SendInput's absolute mode takes for a pixel,
// chosen so that both truncating and rounding conversions land on it.
LONG AbsoluteInputCoordinate(LONG pixel, int screenSize);

// One line of the request log, without line end: the code, then every
// input word, each as 0x and 8 lower-case hex digits (the code as 0x and at
// least 6), one space apart.  Only the words that the request carries
// (inSize / 4, at most four) are written.  Returns the length.
int FormatRequestLine(char* buffer, int capacity, const ZavirWireRequest* request);

// What the edge has to do after a request.
enum EmuActionKind {
    kEmuNothing,
    kEmuMove,           // pointer to (pixelX, pixelY)
    kEmuMoveAndPress,   // pointer there, then left button down
    kEmuLift,           // left button up where the pointer is
    kEmuCalibrationUp,  // one left-button release for the window under (pixelX, pixelY)
    kEmuRightClick      // pointer to (pixelX, pixelY), then right button down and up
};

// What the finger now on the panel stands for.
enum EmuTouchKind {
    kTouchLeft,    // the left button, held while it is down
    kTouchArming,  // a tap on the right-button corner: it clicks nothing
    kTouchRight    // the tap after an arming one: a right click where it lifts
};

// With the right button on, a tap whose position falls in the bottom-right
// sixteenth of the screen on both axes arms the right button.
BOOL InRightButtonCorner(LONG pixelX, LONG pixelY, int screenWidth, int screenHeight);

// The RightButton setting: TRUE only for a stored 1.
BOOL LoadRightButtonSetting();

struct EmuAction {
    EmuActionKind kind;
    LONG pixelX;
    LONG pixelY;
};

// Everything the stand-in remembers between requests, shared by all its
// clients.  A client is named by a number the server gives each
// connection (never 0); what a client left in force is marked with it, so
// that it can be undone when the client goes away.
struct EmuState {
    CornerSet corners;
    int screenWidth;
    int screenHeight;
    BOOL calibrating;
    BOOL touching;   // a touch packet came and its release has not
    LONG lastRawX;   // raw position of the last touch packet
    LONG lastRawY;
    DWORD calibratingClient;  // whose request put calibration mode on; 0: nobody's
    DWORD pressingClient;     // whose touch is down; 0: nobody's
    BOOL rightButton;         // the RightButton setting is on
    BOOL rightArmed;          // the right-button corner was tapped: the next tap is a right click
    EmuTouchKind touchKind;   // of the touch that is down
    BOOL heldOver;  // a finger down when the mode changed: nothing until it lifts
};

void InitEmuState(EmuState* state, const CornerSet* corners, int screenWidth, int screenHeight);

// The screen that raw positions map to from now on: the display's size
// may change while the stand-in runs.
void SetEmuScreenSize(EmuState* state, int screenWidth, int screenHeight);

// Carries out one request of the given client.  The answer is always
// filled; answer->ok is 0 for a failed request (unknown code, input or
// answer space too small or larger than the frame, packet bytes that are
// not 7-bit data).
void HandleRequest(EmuState* state, DWORD client, const ZavirWireRequest* request,
                   ZavirWireAnswer* answer, EmuAction* action);

// The client's connection has ended (closed, killed, or dropped): its
// calibration mode ends, and a left button its packet pressed is let go
// (the action, kEmuLift or kEmuNothing); a right tap under way clicks
// nothing.  What other clients began stays.
void EmuClientGone(EmuState* state, DWORD client, EmuAction* action);

// ---- the pipe server's limits and flags

// Clients served at once: each has its own pipe instance and thread,
// made at start.  A further client waits (WaitNamedPipe) until one ends.
const DWORD kStandInMaxClients = 8;
// Stack reserved for each client's thread.
const DWORD kStandInStackBytes = 64 * 1024;
// Once a frame's first byte has come, the rest of it must follow within
// this, and the answer must be taken within it; else the client is dropped.
// Before its first byte a client may wait as long as it likes.
const DWORD kStandInFrameMs = 2000;

// How long to wait for more of a frame of which `got` bytes have come,
// `elapsedMs` after its first byte: INFINITE before the first byte, then
// what is left of kStandInFrameMs (0 once it is spent).
DWORD FrameWaitMs(DWORD got, DWORD elapsedMs);

// CreateNamedPipe's open mode: duplex, overlapped (so that every wait
// can be bounded), and for the first instance FILE_FLAG_FIRST_PIPE_INSTANCE,
// which fails where anyone else already holds the name.
DWORD StandInPipeOpenMode(BOOL firstInstance);

// CreateNamedPipe's pipe mode for a system of this GetVersion answer:
// byte stream, blocking, and PIPE_REJECT_REMOTE_CLIENTS from Windows
// Vista on (older systems refuse the flag).
DWORD StandInPipeMode(DWORD version);

// The pipe's security descriptor in SDDL for the user the stand-in runs
// as (a SID in string form, "S-1-5-21-..."): that user owns it; that user,
// SYSTEM and administrators may open it; logons from the network may not,
// whoever they are; from Windows Vista on (GetVersion), nothing below
// medium integrity may open it at all.  The serving mutex gets the same.
// Returns the length, or 0 and an empty string when the SID is not a SID
// string or the result does not fit.
int StandInPipeSddl(const char* userSid, DWORD version, char* buffer, int capacity);

// The command line after the program name: nothing, or --log FILE (the
// file name may be quoted).  FALSE for anything else or a name that does
// not fit.
BOOL ParseEmuCommandLine(const char* commandLine, char* logPath, int logPathSize);

// The same with an optional leading --qpc, which asks for time-stamped
// log lines (*stamped TRUE): "--qpc", "--qpc --log FILE".
BOOL ParseEmuOptions(const char* commandLine, char* logPath, int logPathSize, BOOL* stamped);

// The request log never grows past this: a line that would take it further
// starts the file afresh, so the newest requests are always there.
const DWORD kStandInLogLimit = 8 * 1024 * 1024;

// Whether a line of lineBytes must start the log afresh when the file
// holds fileBytes (which may already be past the limit).
BOOL LogStartsAfresh(DWORD fileBytes, DWORD lineBytes);

// A performance-counter reading in nanoseconds, without overflowing for
// any counter a machine reaches.  0 for a frequency that is not positive.
unsigned long long CounterToNanoseconds(long long counter, long long frequency);

// A log line with a time stamp in front: the nanoseconds in decimal, one
// space, then the line FormatRequestLine writes.  Under Wine the counter
// is the Linux monotonic raw clock, so the stamps compare with times taken
// outside.  Returns the length; 0 and an empty buffer when it does not fit.
int FormatStampedRequestLine(char* buffer, int capacity, unsigned long long nanoseconds,
                             const ZavirWireRequest* request);

#endif
