#include "zavir.h"

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
const DWORD kBusyPipeWaitMs = 2000;
const DWORD kLoaderLimitMs = 5000;
const DWORD kLoaderPollMs = 100;

typedef BOOL(WINAPI* ProcessIdToSessionIdFn)(DWORD, DWORD*);

HANDLE OpenPipe() {
    char name[ZAVIR_PIPE_NAME_SIZE];
    StandInPipeName(name);
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0,
                       NULL);
}

// The stand-in's pipe; when every instance is busy, waits briefly for one.
// A pipe that doesn't exist yet makes the wait return at once.
HANDLE OpenStandIn() {
    char name[ZAVIR_PIPE_NAME_SIZE];
    StandInPipeName(name);
    HANDLE pipe = OpenPipe();
    if (pipe == INVALID_HANDLE_VALUE && WaitNamedPipeA(name, kBusyPipeWaitMs))
        pipe = OpenPipe();
    return pipe;
}

// Starts the start-up loader that setup put into the system directory;
// Windows 2000 and later never run it from RunServices.  NULL when there is
// no loader to start.  Its current directory is the system directory, so
// that it never holds the programs' folder against removal.
HANDLE StartLoader() {
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

// Until the loader's pipe takes clients, or the loader has ended (where it
// can't serve, it ends at once), or the time is up.
void WaitForLoader(HANDLE loader) {
    char name[ZAVIR_PIPE_NAME_SIZE];
    StandInPipeName(name);
    DWORD start = GetTickCount();
    for (;;) {
        if (WaitNamedPipeA(name, kLoaderPollMs)) return;
        if (WaitForSingleObject(loader, kLoaderPollMs) != WAIT_TIMEOUT) return;
        if (GetTickCount() - start >= kLoaderLimitMs) return;
    }
}

BOOL WriteAll(HANDLE h, const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(h, data, size, &written, NULL) && written == size;
}

BOOL ReadAll(HANDLE h, void* data, DWORD size) {
    BYTE* p = (BYTE*)data;
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(h, p, size, &got, NULL) || got == 0) return FALSE;
        p += got;
        size -= got;
    }
    return TRUE;
}

BOOL StandInRequest(HANDLE pipe, DWORD code, const DWORD* in, DWORD inSize, DWORD* out,
                    DWORD outSize) {
    ZavirWireRequest request;
    ZeroMemory(&request, sizeof request);
    request.code = code;
    request.inSize = inSize;
    request.outSize = outSize;
    if (in) CopyMemory(request.in, in, inSize);
    ZavirWireAnswer answer;
    if (!WriteAll(pipe, &request, sizeof request) || !ReadAll(pipe, &answer, sizeof answer))
        return FALSE;
    if (out) CopyMemory(out, answer.out, outSize);
    return answer.ok != 0;
}

void SendWords(const ZavirDriver* driver, DWORD code, DWORD word0, DWORD word1) {
    DWORD in[3] = {word0, word1, 0};
    DWORD out[3] = {0, 0, 0};
    ZavirRequest(driver, code, in, sizeof in, out, sizeof out);
}

}  // namespace

DWORD CurrentSessionId() {
    // Looked up at run time: Windows 9x and NT 4 have no sessions.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    ProcessIdToSessionIdFn sessionOf =
        kernel ? (ProcessIdToSessionIdFn)(void*)GetProcAddress(kernel, "ProcessIdToSessionId")
               : NULL;
    DWORD session = 0;
    if (!sessionOf || !sessionOf(GetCurrentProcessId(), &session)) session = 0;
    return session;
}

void StandInPipeName(char name[ZAVIR_PIPE_NAME_SIZE]) {
    FormatStandInPipeName(name, CurrentSessionId());
}

HANDLE OpenZavirDevice() {
    return CreateFileA(ZAVIR_DEVICE_NAME, 0, 0, NULL, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, NULL);
}

BOOL OpenZavirDriver(ZavirDriver* driver) {
    driver->viaStandIn = FALSE;
    driver->handle = OpenZavirDevice();
    if (driver->handle != INVALID_HANDLE_VALUE) return TRUE;
    driver->handle = OpenStandIn();
    if (driver->handle == INVALID_HANDLE_VALUE) {
        // Nothing serves the pipe yet: start the loader ourselves.  It
        // runs on as its own process after this program ends.
        HANDLE loader = StartLoader();
        if (loader) {
            WaitForLoader(loader);
            CloseHandle(loader);
            driver->handle = OpenStandIn();
        }
    }
    driver->viaStandIn = driver->handle != INVALID_HANDLE_VALUE;
    return driver->viaStandIn;
}

void CloseZavirDriver(ZavirDriver* driver) {
    if (IsZavirDriverOpen(driver)) CloseHandle(driver->handle);
    driver->handle = INVALID_HANDLE_VALUE;
    driver->viaStandIn = FALSE;
}

BOOL IsZavirDriverOpen(const ZavirDriver* driver) {
    return driver->handle != INVALID_HANDLE_VALUE && driver->handle != NULL;
}

BOOL ZavirRequest(const ZavirDriver* driver, DWORD code, const DWORD* in, DWORD inSize,
                  DWORD* out, DWORD outSize) {
    if (!IsZavirDriverOpen(driver)) return FALSE;
    if (inSize > ZAVIR_MAX_WORDS * sizeof(DWORD) || outSize > ZAVIR_MAX_WORDS * sizeof(DWORD))
        return FALSE;
    if (driver->viaStandIn) return StandInRequest(driver->handle, code, in, inSize, out, outSize);
    DWORD returned = 0;
    return DeviceIoControl(driver->handle, code, (LPVOID)in, inSize, out, outSize, &returned,
                           NULL);
}

void SendHandOver(const ZavirDriver* driver) { SendWords(driver, kHandOverRequest, 0, 0); }

void SendPacket(const ZavirDriver* driver, const PacketRecord* packet) {
    DWORD out[4] = {0, 0, 0, 0};
    ZavirRequest(driver, kPacketRequest, packet->word, sizeof packet->word, out, sizeof out);
}

void SendCorners(const ZavirDriver* driver, const CornerSet* c) {
    SendWords(driver, kLeftUpCornerRequest, (DWORD)c->LeftUpX, (DWORD)c->LeftUpY);
    SendWords(driver, kRightUpCornerRequest, (DWORD)c->RightUpX, (DWORD)c->RightUpY);
    SendWords(driver, kLeftDnCornerRequest, (DWORD)c->LeftDnX, (DWORD)c->LeftDnY);
    SendWords(driver, kRightDnCornerRequest, (DWORD)c->RightDnX, (DWORD)c->RightDnY);
}

void SetCalibrationMode(const ZavirDriver* driver, DWORD collecting, DWORD newCorners) {
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

BOOL ReadRawPosition(const ZavirDriver* driver, LONG* x, LONG* y) {
    DWORD in[3] = {0, 0, 0};
    DWORD answer[3] = {0, 0, 0};
    if (!ZavirRequest(driver, kReadRawPositionRequest, in, sizeof in, answer, sizeof answer))
        return FALSE;
    BOOL addresses = kDeviceAnswersAddresses && !driver->viaStandIn;
    return RawPositionFromAnswer(answer, addresses, x, y);
}
