// The driver stand-in's logic, free of platform calls: what a request does
// to the stand-in's state, how raw positions map to screen pixels through
// the corners in force, and the request log's line format.  The pipe
// server and the input injection around it live in emu_main.cpp.
#ifndef ZAVIR_DRIVER_EMU_CORE_H
#define ZAVIR_DRIVER_EMU_CORE_H

#include <windows.h>

#include "zavir.h"
#include "zavir_wire.h"

// The corners every program starts from when the settings hold none:
// raw (0, 0) is the top-left pixel and raw (1024, 1024) the bottom-right.
void DefaultCorners(CornerSet* corners);

// The corners a starting stand-in takes: those of the settings store when
// they are usable, else the default square.
void LoadStartCorners(CornerSet* corners);

// TRUE when the four corners span an area that a raw position can be
// mapped through (no three of them on one line, no crossed edges).
BOOL CornersUsable(const CornerSet* corners);

// Maps a raw position through the corners to a pixel of a screen of the
// given size.  The corners are the raw positions of the screen's four outer
// corners (the far edges lie one past the last pixel); a position outside
// them lands on the nearest edge pixel.  FALSE, and
// nothing written, when the corners are not usable or the screen is empty.
BOOL MapRawToScreen(const CornerSet* corners, LONG rawX, LONG rawY, int screenWidth,
                    int screenHeight, LONG* pixelX, LONG* pixelY);

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
    kEmuCalibrationUp   // one left-button release for the window under (pixelX, pixelY)
};

struct EmuAction {
    EmuActionKind kind;
    LONG pixelX;
    LONG pixelY;
};

// Everything the stand-in remembers between requests, shared by all its
// clients.
struct EmuState {
    CornerSet corners;
    int screenWidth;
    int screenHeight;
    BOOL calibrating;
    BOOL touching;   // a touch packet came and its release has not
    LONG lastRawX;   // raw position of the last touch packet
    LONG lastRawY;
};

void InitEmuState(EmuState* state, const CornerSet* corners, int screenWidth, int screenHeight);

// Carries out one request.  The answer is always filled; answer->ok is 0
// for a failed request (unknown code, input or answer space too small or
// larger than the frame, packet bytes that are not 7-bit data).
void HandleRequest(EmuState* state, const ZavirWireRequest* request, ZavirWireAnswer* answer,
                   EmuAction* action);

// Whether another server already serves the stand-in's pipe, from
// WaitNamedPipe's answer: TRUE when it found a free instance, or failed
// only because every instance is busy.  Any other failure (no pipe of
// that name, no pipes at all) leaves the name free.
BOOL PipeAlreadyServed(BOOL waitSucceeded, DWORD lastError);

// The command line after the program name: nothing, or --log FILE (the
// file name may be quoted).  FALSE for anything else or a name that does
// not fit.
BOOL ParseEmuCommandLine(const char* commandLine, char* logPath, int logPathSize);

// The same with an optional leading --qpc, which asks for time-stamped
// log lines (*stamped TRUE): "--qpc", "--qpc --log FILE".
BOOL ParseEmuOptions(const char* commandLine, char* logPath, int logPathSize, BOOL* stamped);

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
