#include "zavir.h"

#include "standin_pipe.h"
#include "zavir_wire.h"

namespace {

#if defined(_WIN32) && !defined(_WIN64)
// Only a 32-bit process can be served by the Windows 9x driver, whose
// raw-position answer is two addresses.
const BOOL kDeviceAnswersAddresses = TRUE;
#else
const BOOL kDeviceAnswersAddresses = FALSE;
#endif

const char kLoaderName[] = "\\STARTVXD.EXE";
// After a failed request: a stand-in that went away is looked for again
// a second later; one that stopped answering is given longer, since each
// try costs the caller a request's time limit.
const DWORD kReopenPauseMs = 1000;
const DWORD kSilentPauseMs = 15000;
const DWORD kLoaderPauseMs = 10000;

const char kRefusedText[] = "The touch driver here is another user's, or of lower integrity.";
const char kElevatedText[] = "Run as administrator, this program may not start the touch driver.";

BOOL Reached(DWORD now, DWORD at) { return (LONG)(now - at) >= 0; }

// Starts the start-up loader that setup put into the system directory;
// Windows 2000 and later never run it from RunServices.  NULL when there is
// no loader to start, or (*refused) it may not be started from here: a
// program run as administrator doesn't start it, since the stand-in would
// serve from its token (and refuses to).  Its current directory is the
// system directory, so that it never holds the programs' folder against
// removal.
HANDLE StartLoader(BOOL* refused) {
    TokenFacts token;
    LearnTokenFacts(&token);
    *refused = !StandInMayServe(&token);
    if (*refused) return NULL;
    char directory[MAX_PATH];
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, sizeof directory);
    if (length == 0 || length + sizeof kLoaderName > sizeof path) return NULL;
    lstrcpyA(path, directory);
    lstrcatA(path, kLoaderName);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(path, NULL, NULL, NULL, FALSE, 0, NULL, directory, &startup, &started))
        return NULL;
    CloseHandle(started.hThread);
    return started.hProcess;
}

void UseStandIn(ZavirDriver* driver, HANDLE pipe, BOOL loaderJustStarted) {
    DWORD now = GetTickCount();
    driver->handle = pipe;
    driver->viaStandIn = TRUE;
    driver->reopenAt = now;
    driver->loaderAt = loaderJustStarted ? now + kLoaderPauseMs : now;
    driver->calibrating = FALSE;
}

ZavirOpenStep Finish(ZavirOpening* opening, ZavirOpenStep step) {
    AbandonZavirOpen(opening);
    return step;
}

// A failed request's pipe is closed; a stand-in that stopped answering is
// left alone longer, since each try costs a whole request's time.
void DropPipe(ZavirDriver* driver, StandInOutcome outcome) {
    CloseHandle(driver->handle);
    driver->handle = INVALID_HANDLE_VALUE;
    DWORD pauseMs = outcome == kStandInSilent ? kSilentPauseMs : kReopenPauseMs;
    driver->reopenAt = GetTickCount() + pauseMs;
}

// The stand-in ends a client's calibration mode with its connection, so a
// reopened pipe is told again while we are still collecting corners.
void ResumeCalibration(ZavirDriver* driver) {
    ZavirWireRequest request;
    ZeroMemory(&request, sizeof request);
    request.code = kCalibrationModeRequest;
    request.inSize = request.outSize = 3 * sizeof(DWORD);
    request.in[0] = 1;
    ZavirWireAnswer answer;
    StandInOutcome outcome = StandInTransact(driver->handle, &request, &answer);
    if (outcome != kStandInAnswered) DropPipe(driver, outcome);
}

// A failed request's pipe is closed; a later request reopens it.  When
// nothing serves the pipe any more, the loader brings the stand-in back.
void ReopenStandIn(ZavirDriver* driver) {
    DWORD now = GetTickCount();
    if (!Reached(now, driver->reopenAt)) return;
    driver->reopenAt = now + kReopenPauseMs;
    DWORD error = 0;
    driver->handle = OpenStandInPipe(&error, driver->othersStandIn);
    if (IsZavirDriverOpen(driver) && driver->calibrating) ResumeCalibration(driver);
    if (error != ERROR_FILE_NOT_FOUND || !Reached(now, driver->loaderAt)) return;
    driver->loaderAt = now + kLoaderPauseMs;
    BOOL refused;
    HANDLE loader = StartLoader(&refused);
    if (loader) CloseHandle(loader);
}

BOOL StandInRequest(ZavirDriver* driver, DWORD code, const DWORD* in, DWORD inSize, DWORD* out,
                    DWORD outSize) {
    if (!IsZavirDriverOpen(driver)) ReopenStandIn(driver);
    if (!IsZavirDriverOpen(driver)) return FALSE;
    ZavirWireRequest request;
    ZeroMemory(&request, sizeof request);
    request.code = code;
    request.inSize = inSize;
    request.outSize = outSize;
    if (in) CopyMemory(request.in, in, inSize);
    ZavirWireAnswer answer;
    StandInOutcome outcome = StandInTransact(driver->handle, &request, &answer);
    if (outcome == kStandInAnswered) {
        if (out) CopyMemory(out, answer.out, outSize);
        if (code == kCalibrationModeRequest && answer.ok && in && inSize >= sizeof(DWORD))
            driver->calibrating = in[0] == 1;
        return answer.ok != 0;
    }
    DropPipe(driver, outcome);
    return FALSE;
}

void SendWords(ZavirDriver* driver, DWORD code, DWORD word0, DWORD word1) {
    DWORD in[3] = {word0, word1, 0};
    DWORD out[3] = {0, 0, 0};
    ZavirRequest(driver, code, in, sizeof in, out, sizeof out);
}

}  // namespace

ZavirOpenStep BeginZavirOpen(ZavirDriver* driver, ZavirOpening* opening) {
    return BeginZavirOpenWith(driver, opening, NULL);
}

ZavirOpenStep BeginZavirOpenWith(ZavirDriver* driver, ZavirOpening* opening,
                                 StandInSearch others) {
    ZeroMemory(opening, sizeof *opening);
    driver->othersStandIn = others;
    opening->startedAt = GetTickCount();
    driver->viaStandIn = FALSE;
    driver->handle = OpenZavirDevice();
    if (driver->handle != INVALID_HANDLE_VALUE) return kZavirOpened;
    // Windows 9x has the kernel driver or nothing: it can't serve a pipe.
    if (IsWindows9x()) return kZavirOpenFailed;
    return ContinueZavirOpen(driver, opening);
}

ZavirOpenStep ContinueZavirOpen(ZavirDriver* driver, ZavirOpening* opening) {
    // A loader that has ended never serves; the pipe may still be served
    // by another one, which is why it is looked at once more.
    BOOL loaderEnded =
        opening->loader && WaitForSingleObject(opening->loader, 0) != WAIT_TIMEOUT;
    DWORD error = 0;
    HANDLE pipe = OpenStandInPipe(&error, driver->othersStandIn);
    if (pipe != INVALID_HANDLE_VALUE) {
        UseStandIn(driver, pipe, opening->loaderTried);
        return Finish(opening, kZavirOpened);
    }
    if (error == ERROR_ACCESS_DENIED) {
        opening->refusal = kRefusedText;
        return Finish(opening, kZavirOpenFailed);
    }
    if (loaderEnded) return Finish(opening, kZavirOpenFailed);
    if (error != ERROR_PIPE_BUSY && !opening->loaderTried) {
        // Nothing serves the pipe yet: start the loader ourselves.  It
        // runs on as its own process after this program ends.
        opening->loaderTried = TRUE;
        BOOL refused;
        opening->loader = StartLoader(&refused);
        if (refused) opening->refusal = kElevatedText;
    }
    if (error != ERROR_PIPE_BUSY && !opening->loader) return Finish(opening, kZavirOpenFailed);
    if (GetTickCount() - opening->startedAt >= ZAVIR_OPEN_LIMIT_MS)
        return Finish(opening, kZavirOpenFailed);
    return kZavirOpenWaiting;
}

const char* ZavirRefusal(const ZavirOpening* opening) { return opening->refusal; }

void AbandonZavirOpen(ZavirOpening* opening) {
    if (opening->loader) CloseHandle(opening->loader);
    opening->loader = NULL;
}

BOOL OpenZavirDriver(ZavirDriver* driver) { return OpenZavirDriverWith(driver, NULL, NULL); }

BOOL OpenZavirDriverWith(ZavirDriver* driver, StandInSearch others, const char** refusal) {
    ZavirOpening opening;
    ZavirOpenStep step = BeginZavirOpenWith(driver, &opening, others);
    while (step == kZavirOpenWaiting) {
        if (opening.loader)
            WaitForSingleObject(opening.loader, ZAVIR_OPEN_POLL_MS);
        else
            Sleep(ZAVIR_OPEN_POLL_MS);
        step = ContinueZavirOpen(driver, &opening);
    }
    if (refusal) *refusal = opening.refusal;
    return step == kZavirOpened;
}

void CloseZavirDriver(ZavirDriver* driver) {
    if (IsZavirDriverOpen(driver)) CloseHandle(driver->handle);
    driver->handle = INVALID_HANDLE_VALUE;
    driver->viaStandIn = FALSE;
}

BOOL IsZavirDriverOpen(const ZavirDriver* driver) {
    return driver->handle != INVALID_HANDLE_VALUE && driver->handle != NULL;
}

BOOL ZavirRequest(ZavirDriver* driver, DWORD code, const DWORD* in, DWORD inSize, DWORD* out,
                  DWORD outSize) {
    if (inSize > ZAVIR_MAX_WORDS * sizeof(DWORD) || outSize > ZAVIR_MAX_WORDS * sizeof(DWORD))
        return FALSE;
    if (driver->viaStandIn) return StandInRequest(driver, code, in, inSize, out, outSize);
    if (!IsZavirDriverOpen(driver)) return FALSE;
    DWORD returned = 0;
    return DeviceIoControl(driver->handle, code, (LPVOID)in, inSize, out, outSize, &returned,
                           NULL);
}

void SendHandOver(ZavirDriver* driver) { SendWords(driver, kHandOverRequest, 0, 0); }

void SendPacket(ZavirDriver* driver, const PacketRecord* packet) {
    DWORD out[4] = {0, 0, 0, 0};
    ZavirRequest(driver, kPacketRequest, packet->word, sizeof packet->word, out, sizeof out);
}

void SendCorners(ZavirDriver* driver, const CornerSet* c) {
    SendWords(driver, kLeftUpCornerRequest, (DWORD)c->LeftUpX, (DWORD)c->LeftUpY);
    SendWords(driver, kRightUpCornerRequest, (DWORD)c->RightUpX, (DWORD)c->RightUpY);
    SendWords(driver, kLeftDnCornerRequest, (DWORD)c->LeftDnX, (DWORD)c->LeftDnY);
    SendWords(driver, kRightDnCornerRequest, (DWORD)c->RightDnX, (DWORD)c->RightDnY);
}

void SetCalibrationMode(ZavirDriver* driver, DWORD collecting, DWORD newCorners) {
    SendWords(driver, kCalibrationModeRequest, collecting, newCorners);
}

BOOL RawPositionFromAnswer(const DWORD answer[3], BOOL answerHoldsAddresses, LONG* x, LONG* y) {
    if (!answerHoldsAddresses) {
        *x = (LONG)answer[0];
        *y = (LONG)answer[1];
        return TRUE;
    }
    if (answer[0] == 0 || answer[1] == 0) return FALSE;
    *x = *(const LONG*)(ULONG_PTR)answer[0];
    *y = *(const LONG*)(ULONG_PTR)answer[1];
    return TRUE;
}

BOOL ReadRawPosition(ZavirDriver* driver, LONG* x, LONG* y) {
    DWORD in[3] = {0, 0, 0};
    DWORD answer[3] = {0, 0, 0};
    if (!ZavirRequest(driver, kReadRawPositionRequest, in, sizeof in, answer, sizeof answer))
        return FALSE;
    BOOL addresses = kDeviceAnswersAddresses && !driver->viaStandIn;
    return RawPositionFromAnswer(answer, addresses, x, y);
}
