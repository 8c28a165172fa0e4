// The contract with the kernel driver: how it is opened and the eight
// requests it takes.  Every request carries arrays of 32-bit words.
//
// Where the driver itself can't be opened (Windows NT and later, Wine) the
// programs reach the user-mode stand-in over a named pipe instead; that
// choice is made here and nowhere else.
#ifndef ZAVIR_COMMON_ZAVIR_H
#define ZAVIR_COMMON_ZAVIR_H

#include <windows.h>

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

// An open driver: the device itself, or the stand-in's pipe.
struct ZavirDriver {
    HANDLE handle;
    BOOL viaStandIn;
};

// Opens the device exactly as a Windows 9x dynamic driver is loaded; when
// that fails, connects to the stand-in.  When nothing serves the stand-in's
// pipe (Windows 2000 and later never run the loader that setup registers),
// starts STARTVXD.EXE from the system directory once and waits for its
// pipe, about five seconds at most.  FALSE when neither is there.
BOOL OpenZavirDriver(ZavirDriver* driver);

// The device alone, opened as OpenZavirDriver tries it first (which loads a
// dynamic driver that stays loaded while the handle is open).
// INVALID_HANDLE_VALUE when it isn't there; the stand-in is never tried.
HANDLE OpenZavirDevice();
void CloseZavirDriver(ZavirDriver* driver);
BOOL IsZavirDriverOpen(const ZavirDriver* driver);

// The session this process runs in (0 where the system has no sessions),
// and the name of that session's stand-in pipe.
DWORD CurrentSessionId();
void StandInPipeName(char name[ZAVIR_PIPE_NAME_SIZE]);

// One synchronous request.  Sizes are in bytes, at most 16 each way.
BOOL ZavirRequest(const ZavirDriver* driver, DWORD code, const DWORD* in, DWORD inSize,
                  DWORD* out, DWORD outSize);

void SendHandOver(const ZavirDriver* driver);                        // 0x222027
void SendPacket(const ZavirDriver* driver, const PacketRecord* packet); // 0x222043
void SendCorners(const ZavirDriver* driver, const CornerSet* corners);  // four corner requests
void SetCalibrationMode(const ZavirDriver* driver, DWORD collecting, DWORD newCorners);

// The raw position of the last touch (0x222007).  FALSE, and *x and *y left
// alone, when the request failed or did not return the position.
BOOL ReadRawPosition(const ZavirDriver* driver, LONG* x, LONG* y);

// Decodes a 0x222007 answer.  The Windows 9x driver answers with the
// addresses of its two counters (32-bit addresses in the caller's space);
// every other server answers with the values themselves.
BOOL RawPositionFromAnswer(const DWORD answer[3], BOOL answerHoldsAddresses, LONG* x, LONG* y);

#endif
