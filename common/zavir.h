// The contract with the kernel driver: how it is opened and the eight
// requests it takes.  Every request carries arrays of 32-bit words.
//
// Where the driver itself can't be opened (Windows NT and later, Wine) the
// programs reach the user-mode stand-in over a named pipe instead; that
// choice is made here and nowhere else.
#ifndef ZAVIR_COMMON_ZAVIR_H
#define ZAVIR_COMMON_ZAVIR_H

#include <windows.h>

#include "standin_pipe.h"
#include "zavir_wire.h"

#define ZAVIR_DEVICE_NAME "\\\\.\\ZAVIR.VXD"

enum ZavirRequestCode {
    kReadRawPositionRequest = 0x222007,
    kLeftUpCornerRequest = 0x22200B,
    kRightUpCornerRequest = 0x22200F,
    kRightDnCornerRequest = 0x222013,
    kLeftDnCornerRequest = 0x222017,
    kCalibrationModeRequest = 0x22201B,
    kHandOverRequest = 0x222027,
    kPacketRequest = 0x222043
};

// The eight corners in raw controller coordinates, in record order.
struct CornerSet {
    LONG LeftUpX;
    LONG LeftUpY;
    LONG RightUpX;
    LONG RightUpY;
    LONG RightDnX;
    LONG RightDnY;
    LONG LeftDnX;
    LONG LeftDnY;
};

// The four data bytes of one controller packet, one per word.
struct PacketRecord {
    DWORD word[4];
};

// An open driver: the device itself, or the stand-in's pipe.  A pipe whose
// request failed is closed; a later request reopens it, no sooner than
// reopenAt, and starts the loader again when nothing serves the pipe.
struct ZavirDriver {
    HANDLE handle;
    BOOL viaStandIn;   // the stand-in, whether or not its pipe is open now
    DWORD reopenAt;    // GetTickCount from which a closed pipe may be reopened
    DWORD loaderAt;    // and from which the loader may be started again
    BOOL calibrating;  // our calibration mode, given again to a reopened pipe
    StandInSearch othersStandIn;  // how the open looks beyond our own stand-in
};

// An open under way: the stand-in may still be starting.
struct ZavirOpening {
    DWORD startedAt;
    HANDLE loader;        // the loader this open started, until it is done
    BOOL loaderTried;
    const char* refusal;  // why a failed open is a refusal, not an absence
};

enum ZavirOpenStep { kZavirOpened, kZavirOpenWaiting, kZavirOpenFailed };

// The time a waiting open is given in all, and how often to go on with it.
#define ZAVIR_OPEN_LIMIT_MS 5000
#define ZAVIR_OPEN_POLL_MS 100

// Opens the device exactly as a Windows 9x dynamic driver is loaded.  On
// Windows 9x that is all: no stand-in can serve there.  Elsewhere it
// connects to the stand-in's pipe; when nothing serves it (Windows 2000
// and later never run the loader that setup registers), it starts
// STARTVXD.EXE from the system directory once.  Never waits: while the
// stand-in is busy or starting, the step is kZavirOpenWaiting and
// ContinueZavirOpen goes on, every ZAVIR_OPEN_POLL_MS or so, until the
// pipe opens, the loader ends without serving, or ZAVIR_OPEN_LIMIT_MS
// have passed.
ZavirOpenStep BeginZavirOpen(ZavirDriver* driver, ZavirOpening* opening);
// The same, looking with others (OtherUsersStandInName) where our own
// user has no stand-in, then and whenever the pipe is opened again.
ZavirOpenStep BeginZavirOpenWith(ZavirDriver* driver, ZavirOpening* opening,
                                 StandInSearch others);
ZavirOpenStep ContinueZavirOpen(ZavirDriver* driver, ZavirOpening* opening);
// What to tell the user of a failed open that was a refusal (the stand-in
// is someone else's, or this program may not start it); NULL when there is
// simply no driver.
const char* ZavirRefusal(const ZavirOpening* opening);
// Gives up an open still waiting; nothing to do for one that is done.
void AbandonZavirOpen(ZavirOpening* opening);

// The same open, waiting for its end.  FALSE when there is no driver.
BOOL OpenZavirDriver(ZavirDriver* driver);
// The same, searching with others; a failure that was a refusal leaves
// its ZavirRefusal text in *refusal (NULL otherwise).
BOOL OpenZavirDriverWith(ZavirDriver* driver, StandInSearch others, const char** refusal);

// The device alone, opened as OpenZavirDriver tries it first (which loads a
// dynamic driver that stays loaded while the handle is open).
// INVALID_HANDLE_VALUE when it isn't there; the stand-in is never tried.
// Here, so that the loader, which only probes for it, links none of the rest.
inline HANDLE OpenZavirDevice() {
    return CreateFileA(ZAVIR_DEVICE_NAME, 0, 0, NULL, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, NULL);
}
void CloseZavirDriver(ZavirDriver* driver);
BOOL IsZavirDriverOpen(const ZavirDriver* driver);

// Windows 95, 98 or ME: the kernel driver or nothing.
BOOL IsWindows9x();

// The session this process runs in (0 where the system has no sessions).
DWORD CurrentSessionId();

// One synchronous request.  Sizes are in bytes, at most 16 each way.
// Over the stand-in's pipe it takes a second at most.
BOOL ZavirRequest(ZavirDriver* driver, DWORD code, const DWORD* in, DWORD inSize,
                  DWORD* out, DWORD outSize);

void SendHandOver(ZavirDriver* driver);                        // 0x222027
void SendPacket(ZavirDriver* driver, const PacketRecord* packet); // 0x222043
void SendCorners(ZavirDriver* driver, const CornerSet* corners);  // four corner requests
void SetCalibrationMode(ZavirDriver* driver, DWORD collecting, DWORD newCorners);

// The raw position of the last touch (0x222007).  FALSE, and *x and *y left
// alone, when the request failed or did not return the position.
BOOL ReadRawPosition(ZavirDriver* driver, LONG* x, LONG* y);

// Decodes a 0x222007 answer.  The Windows 9x driver answers with the
// addresses of its two counters (32-bit addresses in the caller's space);
// every other server answers with the values themselves.
BOOL RawPositionFromAnswer(const DWORD answer[3], BOOL answerHoldsAddresses, LONG* x, LONG* y);

#endif
