// Serial ports, the kernel driver device, the driver stand-in's pipe, the
// processes a program starts (which may serve that pipe) and programs that
// were running before it (which end when asked to close).
// Serial reads follow the time-out rules the touch service sets: a read
// returns what is queued up to the count asked for, and a silence on the
// line (a gap) ends it early; an empty timed-out read succeeds with 0 bytes.
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <set>

#include "../../common/zavir_wire.h"
#include "fake_state.h"

using fake::internal::Format;
using fake::internal::Lower;
using fake::internal::Quote;
using fake::internal::Record;

namespace fake {
namespace {

struct SerialItem {
    enum Kind { kByte, kGap, kError } kind;
    uint8_t byte;
};

struct Port {
    SerialPortState state;
    std::deque<SerialItem> queue;
    bool failGet = false, failSet = false;
};

enum HandleKind { kSerial, kDevice, kPipe, kProcess, kThread, kRunning, kEvent };
struct OpenHandle {
    HandleKind kind;
    int port;  // a process's or thread's index in g_processes (g_running)
    std::vector<uint8_t> pipeIn;   // request bytes not yet a whole frame
    std::deque<uint8_t> pipeOut;   // answer bytes not yet read
    bool broken = false;           // the pipe's server went away
    std::string name;              // a named event's
    HANDLE sameAs = nullptr;       // the event an opened one is another handle of
    LPOVERLAPPED pending = nullptr;  // an overlapped read waiting for an answer
    bool cancelled = false;          // ... given up by CancelIo
    bool signalled = false;          // events
};

std::map<int, Port> g_ports;
std::map<HANDLE, OpenHandle> g_handles;
uintptr_t g_nextHandle = 0x2000;
std::vector<SerialRead> g_reads;
std::vector<DeviceRequest> g_requests;
bool g_driverPresent = false, g_standInPresent = false;
DWORD g_standInLabel = 0;
DeviceHandler g_handler;
LONG g_rawX = 0, g_rawY = 0;
std::set<DWORD> g_failingCodes;
DWORD g_busyUntil = 0;
bool g_standInStalled = false;
long long g_standInSession = -1;  // -1: the program's own
bool g_standInOtherUser = false;
bool g_standInBarsUs = false;

struct Process {
    ProgramBehaviour behaviour;
    bool serving = false;
    bool ended = false;
};
std::map<std::string, ProgramBehaviour> g_programs;  // by lower-case path
std::vector<StartedProcess> g_started;
std::vector<Process> g_processes;                     // in the same order
DWORD g_now = 0;

void BreakStandIn();

struct RunningProgram {
    std::string path;
    HWND window;
    long endsAfterMs;  // once asked to close; -1: never
    bool asked = false;
    DWORD askedAt = 0;
    bool ended = false;
};
std::vector<RunningProgram> g_running;  // process id 5000 + 4 * index
const DWORD kFirstRunningId = 5000;

// The clock moves on: started programs serve and end on their schedule,
// running ones end once they were asked to and their time is up.
void Advance(DWORD ms) {
    g_now += ms;
    for (RunningProgram& r : g_running) {
        if (r.ended || !r.asked || r.endsAfterMs < 0 || g_now - r.askedAt < (DWORD)r.endsAfterMs)
            continue;
        r.ended = true;
        internal::ReleaseFile(r.path);
        internal::EndProgramWindow(r.window);
    }
    for (size_t i = 0; i < g_processes.size(); ++i) {
        Process& p = g_processes[i];
        if (p.ended) continue;
        const ProgramBehaviour& b = p.behaviour;
        DWORD age = g_now - g_started[i].startedAt;
        bool ends = b.endsAfterMs >= 0 && age >= (DWORD)b.endsAfterMs;
        bool serves = b.servesStandInAfterMs >= 0 && age >= (DWORD)b.servesStandInAfterMs &&
                      (b.endsAfterMs < 0 || b.servesStandInAfterMs < b.endsAfterMs);
        if (serves && !p.serving) {
            p.serving = true;
            g_standInPresent = true;
            internal::PublishStandIn();
        }
        if (ends) {
            p.ended = true;
            if (p.serving) BreakStandIn();
        }
    }
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

DCB DefaultDcb(DWORD baud) {
    // Deliberately not 8N1, with every other field set, so that a program
    // that forgets a field or clears one shows up.
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = baud;
    dcb.fBinary = 1;
    dcb.fDtrControl = 1;
    dcb.fRtsControl = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.fAbortOnError = 1;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.EofChar = 0x1A;
    return dcb;
}

int ComNumber(const char* name) {
    std::string n = Lower(name ? name : "");
    const std::string prefix = "\\\\.\\com";
    if (n.compare(0, prefix.size(), prefix) != 0) return 0;
    std::string digits = n.substr(prefix.size());
    if (digits.empty() || digits.size() > 3) return 0;
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + (c - '0');
    }
    return number;
}

HANDLE NewHandle(HandleKind kind, int port) {
    HANDLE h = (HANDLE)(g_nextHandle++);
    OpenHandle handle;
    handle.kind = kind;
    handle.port = port;
    g_handles[h] = handle;
    return h;
}

void SetEvent(HANDLE event, bool signalled) {
    auto it = g_handles.find(event);
    if (it != g_handles.end() && it->second.kind == kEvent) it->second.signalled = signalled;
}

// The stand-in's process is gone: so is its pipe, and every connection
// breaks; a read waiting for an answer ends with it.
void BreakStandIn() {
    g_standInPresent = false;
    for (auto& entry : g_handles) {
        OpenHandle& h = entry.second;
        if (h.kind != kPipe) continue;
        h.broken = true;
        if (h.pending) SetEvent(h.pending->hEvent, true);
    }
}

BOOL DefaultHandler(DWORD code, const uint8_t*, DWORD, uint8_t* out, DWORD outSize,
                    DWORD* returned) {
    if (outSize) memset(out, 0, outSize);
    if (code == 0x222007 && outSize >= 8) {
        memcpy(out, &g_rawX, 4);
        memcpy(out + 4, &g_rawY, 4);
    }
    *returned = outSize;
    return TRUE;
}

BOOL Serve(HANDLE h, DWORD code, const uint8_t* in, DWORD inSize, uint8_t* out, DWORD outSize,
           DWORD* returned, bool viaPipe) {
    DeviceRequest request;
    request.handle = h;
    request.code = code;
    request.in.assign(in, in + (in ? inSize : 0));
    request.inSize = inSize;
    request.outSize = outSize;
    request.viaPipe = viaPipe;
    g_requests.push_back(request);
    *returned = 0;
    if (g_failingCodes.count(0) || g_failingCodes.count(code)) return Fail(ERROR_GEN_FAILURE);
    return g_handler ? g_handler(code, in, inSize, out, outSize, returned)
                     : DefaultHandler(code, in, inSize, out, outSize, returned);
}

void ServePipeFrames(HANDLE h, OpenHandle& handle) {
    while (!g_standInStalled && handle.pipeIn.size() >= sizeof(ZavirWireRequest)) {
        ZavirWireRequest request;
        memcpy(&request, handle.pipeIn.data(), sizeof request);
        handle.pipeIn.erase(handle.pipeIn.begin(), handle.pipeIn.begin() + sizeof request);
        ZavirWireAnswer answer;
        memset(&answer, 0, sizeof answer);
        DWORD inSize = request.inSize > sizeof request.in ? sizeof request.in : request.inSize;
        DWORD outSize = request.outSize > sizeof answer.out ? sizeof answer.out : request.outSize;
        answer.ok = Serve(h, request.code, (const uint8_t*)request.in, inSize,
                          (uint8_t*)answer.out, outSize, &answer.bytesReturned, true);
        const uint8_t* bytes = (const uint8_t*)&answer;
        handle.pipeOut.insert(handle.pipeOut.end(), bytes, bytes + sizeof answer);
    }
}

BOOL ReadSerial(int number, uint8_t* buffer, DWORD toRead, DWORD* read) {
    Port& port = g_ports[number];
    DWORD got = 0;
    if (!port.queue.empty() && port.queue.front().kind == SerialItem::kError) {
        port.queue.pop_front();
        g_reads.push_back({number, toRead, 0, false});
        return Fail(ERROR_GEN_FAILURE);
    }
    // With every read time-out zero a read has no time limit: it waits
    // through silences until the count is there, and on a line that sends
    // nothing more it would never return.
    const COMMTIMEOUTS& t = port.state.timeouts;
    bool noTimeLimit = t.ReadIntervalTimeout == 0 && t.ReadTotalTimeoutMultiplier == 0 &&
                       t.ReadTotalTimeoutConstant == 0;
    while (got < toRead && !port.queue.empty()) {
        SerialItem::Kind kind = port.queue.front().kind;
        if (kind == SerialItem::kGap && noTimeLimit) {
            port.queue.pop_front();
            continue;
        }
        if (kind != SerialItem::kByte) break;
        buffer[got++] = port.queue.front().byte;
        port.queue.pop_front();
    }
    if (got < toRead && noTimeLimit) {
        fprintf(stderr, "ReadFile on COM%d would wait forever: no read time-out is set\n", number);
        abort();
    }
    // The read waited out the silence, so it is over when the read returns.
    if (got < toRead && !port.queue.empty() && port.queue.front().kind == SerialItem::kGap)
        port.queue.pop_front();
    *read = got;
    g_reads.push_back({number, toRead, got, true});
    return TRUE;
}

}  // namespace

std::vector<DWORD> DeviceRequest::InWords() const {
    std::vector<DWORD> words(in.size() / 4);
    if (!words.empty()) memcpy(words.data(), in.data(), words.size() * 4);
    return words;
}

namespace internal {
void ResetDevices() {
    g_ports.clear();
    g_handles.clear();
    g_reads.clear();
    g_requests.clear();
    g_driverPresent = g_standInPresent = false;
    g_handler = nullptr;
    g_rawX = g_rawY = 0;
    g_failingCodes.clear();
    g_busyUntil = 0;
    g_standInStalled = false;
    g_standInSession = -1;
    g_standInOtherUser = false;
    g_standInBarsUs = false;
    g_standInLabel = 0;
    g_programs.clear();
    g_started.clear();
    g_processes.clear();
    g_running.clear();
    g_now = 0;
}

void AskToClose(DWORD processId) {
    size_t index = (processId - kFirstRunningId) / 4;
    if (processId < kFirstRunningId || index >= g_running.size() || g_running[index].asked) return;
    g_running[index].asked = true;
    g_running[index].askedAt = g_now;
    Advance(0);
}
// A SACL holding one mandatory label of the pipe's level (none for 0).
void* LabelAcl(DWORD level) {
    static BYTE acl[8 + 8 + 12];
    if (level == 0) return nullptr;
    const BYTE head[16] = {2, 0, sizeof acl, 0, 1, 0, 0, 0, 0x11, 0, 20, 0, 1, 0, 0, 0};
    const BYTE sid[8] = {1, 1, 0, 0, 0, 0, 0, 16};
    memcpy(acl, head, sizeof head);
    memcpy(acl + 16, sid, sizeof sid);
    memcpy(acl + 24, &level, sizeof level);
    return acl;
}

DWORD WINAPI FakeGetSecurityInfo(HANDLE h, DWORD type, DWORD what, void** owner, void** group,
                                 void** dacl, void** sacl, void** descriptor) {
    const DWORD kKernelObject = 6, kOwnerOnly = 1, kLabelOnly = 0x10;
    auto it = g_handles.find(h);
    if (what == kLabelOnly && it != g_handles.end() && it->second.kind == kPipe &&
        type == kKernelObject && !owner && !group && !dacl && sacl && descriptor) {
        if (!internal::TokenStandingKnown() || g_standInLabel == kUnreadableLabel)
            return ERROR_ACCESS_DENIED;
        *sacl = LabelAcl(g_standInLabel);
        *descriptor = nullptr;
        return ERROR_SUCCESS;
    }
    if (it == g_handles.end() || it->second.kind != kPipe || type != kKernelObject ||
        what != kOwnerOnly || !owner || group || dacl || sacl || !descriptor)
        return ERROR_INVALID_PARAMETER;
    *owner = (void*)(g_standInOtherUser ? kOtherUserSid : kUserSid);
    *descriptor = *owner;
    return ERROR_SUCCESS;
}

}  // namespace internal

void AddComPort(int n, DWORD baud) {
    Port& port = g_ports[n];
    port.state = SerialPortState();
    port.state.dcb = DefaultDcb(baud);
    port.state.timeouts = {11, 22, 33, 44, 55};
}
void FeedSerial(int n, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) g_ports[n].queue.push_back({SerialItem::kByte, b});
}
void SerialGap(int n) { g_ports[n].queue.push_back({SerialItem::kGap, 0}); }
void SerialReadError(int n) { g_ports[n].queue.push_back({SerialItem::kError, 0}); }
void FailGetCommState(int n) { g_ports[n].failGet = true; }
void FailSetCommState(int n) { g_ports[n].failSet = true; }
SerialPortState SerialPort(int n) {
    auto it = g_ports.find(n);
    if (it == g_ports.end()) return SerialPortState();
    SerialPortState s = it->second.state;
    s.pending = it->second.queue.size();
    return s;
}
const std::vector<SerialRead>& SerialReads() { return g_reads; }

void SetDriverPresent(bool present) { g_driverPresent = present; }
void SetStandInPresent(bool present) {
    g_standInPresent = present;
    if (present) internal::PublishStandIn();
}
const std::vector<DeviceRequest>& DeviceRequests() { return g_requests; }
void SetDeviceHandler(DeviceHandler handler) { g_handler = std::move(handler); }
void SetRawPosition(LONG x, LONG y) {
    g_rawX = x;
    g_rawY = y;
}
void FailRequests(DWORD code) { g_failingCodes.insert(code); }
int OpenDriverHandles() {
    // Events too: each belongs to a request, which must let go of it.
    int n = 0;
    for (const auto& h : g_handles)
        if (h.second.kind == kDevice || h.second.kind == kPipe || h.second.kind == kEvent) ++n;
    return n;
}
void SetStandInBusyUntil(DWORD ms) { g_busyUntil = ms; }
void StallStandIn(bool stalled) { g_standInStalled = stalled; }
void EndStandIn() { BreakStandIn(); }
void SetStandInSession(DWORD session) { g_standInSession = session; }
void SetStandInOwnedByOtherUser(bool other) { g_standInOtherUser = other; }
void SetStandInBarsUs(bool bars) { g_standInBarsUs = bars; }
void SetStandInLabel(DWORD level) { g_standInLabel = level; }
std::string StandInPipeName() { return internal::StandInPipe(); }
void PassTime(DWORD ms) { Advance(ms); }

namespace internal {

BOOL WINAPI FakeCancelIo(HANDLE h) {
    Record("CancelIo", Format("%p", h));
    auto it = g_handles.find(h);
    if (it == g_handles.end()) return Fail(ERROR_INVALID_HANDLE);
    if (it->second.pending) {
        it->second.cancelled = true;
        SetEvent(it->second.pending->hEvent, true);
    }
    return TRUE;
}

BOOL WINAPI FakeGetNamedPipeServerSessionId(HANDLE h, ULONG* session) {
    auto it = g_handles.find(h);
    if (it == g_handles.end() || it->second.kind != kPipe) return Fail(ERROR_INVALID_HANDLE);
    if (g_standInSession == kUnknownSession) return Fail(ERROR_ACCESS_DENIED);
    *session = g_standInSession >= 0 ? (ULONG)g_standInSession : SessionId();
    return TRUE;
}

}  // namespace internal

DWORD Now() { return g_now; }
void SetProgram(const std::string& path, ProgramBehaviour behaviour) {
    g_programs[Lower(path)] = behaviour;
}
const std::vector<StartedProcess>& StartedProcesses() { return g_started; }
int OpenProcessHandles() {
    int n = 0;
    for (const auto& h : g_handles)
        if (h.second.kind == kProcess || h.second.kind == kThread || h.second.kind == kRunning)
            ++n;
    return n;
}

HWND AddRunningProgram(const std::string& path, const std::string& className,
                       long endsAfterMs) {
    MarkInUse(path);
    RunningProgram program;
    program.path = path;
    program.endsAfterMs = endsAfterMs;
    program.window =
        internal::AddProgramWindow(className, kFirstRunningId + 4 * (DWORD)g_running.size());
    g_running.push_back(program);
    return program.window;
}

}  // namespace fake

using namespace fake;

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    Record("CreateFileA",
           Format("%s, access=0x%x, share=%u, sa=%s, disposition=%u, flags=0x%x, template=%s",
                  Quote(name).c_str(), access, share, sa ? "set" : "NULL", disposition, flags,
                  templateFile ? "set" : "NULL"));
    std::string n = Lower(name ? name : "");
    if (int port = ComNumber(name)) {
        auto it = g_ports.find(port);
        if (it == g_ports.end()) return SetLastError(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
        if (it->second.state.open) return SetLastError(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        it->second.state.open = true;
        it->second.state.opens++;
        return NewHandle(kSerial, port);
    }
    if (n == Lower("\\\\.\\ZAVIR.VXD")) {
        if (!g_driverPresent) return SetLastError(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
        return NewHandle(kDevice, 0);
    }
    if (n == Lower(internal::StandInPipe())) {
        if (!g_standInPresent) return SetLastError(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
        if (g_standInBarsUs) return SetLastError(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        if (g_now < g_busyUntil) return SetLastError(ERROR_PIPE_BUSY), INVALID_HANDLE_VALUE;
        return NewHandle(kPipe, 0);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI CloseHandle(HANDLE h) {
    Record("CloseHandle", Format("%p", h));
    auto it = g_handles.find(h);
    if (it == g_handles.end()) return Fail(ERROR_INVALID_HANDLE);
    if (it->second.kind == kSerial) g_ports[it->second.port].state.open = false;
    g_handles.erase(it);
    return TRUE;
}

// An overlapped call that finished at once: its count is in the record
// and its event is set, as Windows does.
void Finished(LPOVERLAPPED ov, DWORD count) {
    if (!ov) return;
    ov->Internal = 0;
    ov->InternalHigh = count;
    SetEvent(ov->hEvent, true);
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED ov) {
    auto it = g_handles.find(h);
    if (it == g_handles.end()) {
        Record("ReadFile", Format("%p, %u", h, toRead));
        if (read) *read = 0;
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (it->second.kind == kSerial) {
        BOOL ok = ReadSerial(it->second.port, (uint8_t*)buffer, toRead, read);
        Record("ReadFile", Format("COM%d, %u -> %u", it->second.port, toRead, *read));
        return ok;
    }
    Record("ReadFile", Format("%p, %u%s", h, toRead, ov ? ", overlapped" : ""));
    OpenHandle& handle = it->second;
    if (ov) SetEvent(ov->hEvent, false);
    if (read) *read = 0;
    if (handle.broken) return Fail(ERROR_BROKEN_PIPE);
    if (handle.pipeOut.empty() && ov) {
        // Nothing to read yet: the read waits for the stand-in's answer.
        handle.pending = ov;
        handle.cancelled = false;
        return Fail(ERROR_IO_PENDING);
    }
    DWORD got = 0;
    while (got < toRead && !handle.pipeOut.empty()) {
        ((uint8_t*)buffer)[got++] = handle.pipeOut.front();
        handle.pipeOut.pop_front();
    }
    if (read) *read = got;
    Finished(ov, got);
    return got > 0 ? TRUE : Fail(ERROR_GEN_FAILURE);
}

BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED ov) {
    Record("WriteFile", Format("%p, %u%s", h, toWrite, ov ? ", overlapped" : ""));
    auto it = g_handles.find(h);
    if (it == g_handles.end() || it->second.kind != kPipe) return Fail(ERROR_INVALID_HANDLE);
    if (ov) SetEvent(ov->hEvent, false);
    if (written) *written = 0;
    if (it->second.broken) return Fail(ERROR_BROKEN_PIPE);
    const uint8_t* bytes = (const uint8_t*)buffer;
    it->second.pipeIn.insert(it->second.pipeIn.end(), bytes, bytes + toWrite);
    if (written) *written = toWrite;
    Finished(ov, toWrite);
    ServePipeFrames(h, it->second);
    return TRUE;
}

BOOL WINAPI GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) {
    Record("GetOverlappedResult", Format("%p, wait=%d", h, wait));
    auto it = g_handles.find(h);
    *transferred = 0;
    if (it == g_handles.end()) return Fail(ERROR_INVALID_HANDLE);
    OpenHandle& handle = it->second;
    if (handle.pending != ov) {
        *transferred = (DWORD)ov->InternalHigh;
        return TRUE;
    }
    if (handle.cancelled || handle.broken) {
        handle.pending = nullptr;
        return Fail(handle.cancelled ? ERROR_OPERATION_ABORTED : ERROR_BROKEN_PIPE);
    }
    if (wait) {
        fprintf(stderr, "fake: endless wait for a pipe read that is never answered\n");
        abort();
    }
    return Fail(ERROR_IO_INCOMPLETE);
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState,
                           LPCSTR name) {
    (void)sa;
    Record("CreateEventA", Format("manual=%d, initial=%d, %s", manualReset, initialState,
                                  Quote(name).c_str()));
    HANDLE h = NewHandle(kEvent, 0);
    g_handles[h].signalled = initialState != 0;
    if (name) g_handles[h].name = name;
    return h;
}

HANDLE WINAPI OpenEventA(DWORD access, BOOL inherit, LPCSTR name) {
    Record("OpenEventA", Format("0x%x, %d, %s", access, inherit, Quote(name).c_str()));
    for (const auto& h : g_handles)
        if (h.second.kind == kEvent && name && h.second.name == name) {
            HANDLE opened = NewHandle(kEvent, 0);
            g_handles[opened].name = name;
            g_handles[opened].sameAs = h.first;
            return opened;
        }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return NULL;
}

BOOL WINAPI SetEvent(HANDLE event) {
    Record("SetEvent", Format("%p", event));
    auto it = g_handles.find(event);
    if (it == g_handles.end() || it->second.kind != kEvent) return Fail(ERROR_INVALID_HANDLE);
    HANDLE target = it->second.sameAs ? it->second.sameAs : event;
    if (g_handles.count(target)) g_handles[target].signalled = true;
    return TRUE;
}

void WINAPI Sleep(DWORD ms) {
    Record("Sleep", Format("%u", ms));
    if (ms == INFINITE) {
        fprintf(stderr, "fake: endless sleep\n");
        abort();
    }
    Advance(ms);
}

BOOL WINAPI DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                            DWORD outSize, LPDWORD returned, LPOVERLAPPED ov) {
    (void)ov;
    Record("DeviceIoControl", Format("0x%x, in=%u, out=%u", code, inSize, outSize));
    auto it = g_handles.find(h);
    DWORD dummy = 0;
    if (!returned) returned = &dummy;
    if (it == g_handles.end() || it->second.kind != kDevice) return Fail(ERROR_INVALID_HANDLE);
    return Serve(h, code, (const uint8_t*)in, inSize, (uint8_t*)out, outSize, returned, false);
}

static Port* PortOf(HANDLE h) {
    auto it = g_handles.find(h);
    if (it == g_handles.end() || it->second.kind != kSerial) return nullptr;
    return &g_ports[it->second.port];
}

BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb) {
    Record("GetCommState", Format("%p", h));
    Port* port = PortOf(h);
    if (!port || port->failGet) return Fail(ERROR_GEN_FAILURE);
    *dcb = port->state.dcb;
    return TRUE;
}

BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb) {
    Record("SetCommState", Format("baud=%u, bits=%u, parity=%u, stop=%u", dcb->BaudRate,
                                  dcb->ByteSize, dcb->Parity, dcb->StopBits));
    Port* port = PortOf(h);
    if (!port || port->failSet) return Fail(ERROR_GEN_FAILURE);
    port->state.dcb = *dcb;
    return TRUE;
}

BOOL WINAPI SetupComm(HANDLE h, DWORD inQueue, DWORD outQueue) {
    Record("SetupComm", Format("%u, %u", inQueue, outQueue));
    Port* port = PortOf(h);
    if (!port) return Fail(ERROR_INVALID_HANDLE);
    port->state.inQueue = inQueue;
    port->state.outQueue = outQueue;
    return TRUE;
}

BOOL WINAPI SetCommMask(HANDLE h, DWORD mask) {
    Record("SetCommMask", Format("0x%x", mask));
    Port* port = PortOf(h);
    if (!port) return Fail(ERROR_INVALID_HANDLE);
    port->state.eventMask = mask;
    return TRUE;
}

BOOL WINAPI GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t) {
    Record("GetCommTimeouts", Format("%p", h));
    Port* port = PortOf(h);
    if (!port) return Fail(ERROR_INVALID_HANDLE);
    *t = port->state.timeouts;
    return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t) {
    Record("SetCommTimeouts", Format("%u, %u, %u, %u, %u", t->ReadIntervalTimeout,
                                     t->ReadTotalTimeoutMultiplier, t->ReadTotalTimeoutConstant,
                                     t->WriteTotalTimeoutMultiplier,
                                     t->WriteTotalTimeoutConstant));
    Port* port = PortOf(h);
    if (!port) return Fail(ERROR_INVALID_HANDLE);
    port->state.timeouts = *t;
    return TRUE;
}

// Clearing the input drops what is queued, silences included.
BOOL WINAPI PurgeComm(HANDLE h, DWORD flags) {
    Record("PurgeComm", Format("0x%x", flags));
    Port* port = PortOf(h);
    if (!port) return Fail(ERROR_INVALID_HANDLE);
    if (flags & PURGE_RXCLEAR) port->queue.clear();
    return TRUE;
}

BOOL WINAPI WaitNamedPipeA(LPCSTR name, DWORD ms) {
    Record("WaitNamedPipeA", Format("%s, %u", Quote(name).c_str(), ms));
    // A pipe that doesn't exist is not waited for.
    if (Lower(name ? name : "") != Lower(internal::StandInPipe()) || !g_standInPresent)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (g_now >= g_busyUntil) return TRUE;
    DWORD left = g_busyUntil - g_now;
    if (ms != NMPWAIT_WAIT_FOREVER && left > ms) {
        Advance(ms);
        return Fail(ERROR_SEM_TIMEOUT);
    }
    Advance(left);
    return g_standInPresent ? TRUE : Fail(ERROR_FILE_NOT_FOUND);
}

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine,
                           LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                           DWORD flags, LPVOID environment, LPCSTR currentDirectory,
                           LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
    Record("CreateProcessA",
           Format("%s, %s, psa=%s, tsa=%s, inherit=%d, flags=0x%x, env=%s, cwd=%s, "
                  "startflags=0x%x, show=%u",
                  Quote(application).c_str(), Quote(commandLine).c_str(),
                  processAttributes ? "set" : "NULL", threadAttributes ? "set" : "NULL",
                  inheritHandles, flags, environment ? "set" : "NULL",
                  Quote(currentDirectory).c_str(), startup ? startup->dwFlags : 0,
                  startup ? startup->wShowWindow : 0));
    if (!startup || !info || startup->cb != sizeof(STARTUPINFOA))
        return Fail(ERROR_INVALID_PARAMETER);
    // Without an application name, the command line's first word names it.
    std::string path;
    if (application) {
        path = application;
    } else if (commandLine) {
        const char* p = commandLine;
        char end = *p == '"' ? *p++ : ' ';
        while (*p && *p != end) path += *p++;
    }
    if (path.empty()) return Fail(ERROR_INVALID_PARAMETER);
    if (path.size() >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
    if (!FileExists(path)) return Fail(ERROR_FILE_NOT_FOUND);
    if (currentDirectory && !DirExists(currentDirectory)) return Fail(ERROR_DIRECTORY);
    StartedProcess started;
    started.application = path;
    started.commandLine = Quote(commandLine);
    started.currentDir = Quote(currentDirectory);
    started.inheritHandles = inheritHandles != 0;
    started.flags = flags;
    started.startupFlags = startup->dwFlags;
    started.showWindow = startup->wShowWindow;
    started.startedAt = g_now;
    Process process;
    auto known = g_programs.find(Lower(path));
    if (known != g_programs.end()) process.behaviour = known->second;
    int index = (int)g_processes.size();
    g_started.push_back(started);
    g_processes.push_back(process);
    info->hProcess = NewHandle(kProcess, index);
    info->hThread = NewHandle(kThread, index);
    info->dwProcessId = 1000 + 4 * (DWORD)index;
    info->dwThreadId = 1002 + 4 * (DWORD)index;
    Advance(0);
    return TRUE;
}

HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
    Record("OpenProcess", Format("0x%x, %d, %u", access, inherit, processId));
    size_t index = (processId - kFirstRunningId) / 4;
    if (processId < kFirstRunningId || index >= g_running.size() || g_running[index].ended) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    return NewHandle(kRunning, (int)index);
}

// A running program's process: signalled once it ended.
static DWORD WaitForRunning(const RunningProgram& r, DWORD ms) {
    if (r.ended) return WAIT_OBJECT_0;
    if (r.asked && r.endsAfterMs >= 0) {
        DWORD left = r.askedAt + (DWORD)r.endsAfterMs - g_now;
        if (left <= ms) {
            Advance(left);
            return WAIT_OBJECT_0;
        }
    }
    if (ms == INFINITE) {
        fprintf(stderr, "fake: endless wait for a program that never ends\n");
        abort();
    }
    Advance(ms);
    return WAIT_TIMEOUT;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
    Record("WaitForSingleObject", Format("%p, %u", h, ms));
    auto it = g_handles.find(h);
    if (it != g_handles.end() && it->second.kind == kEvent) {
        if (it->second.signalled) return WAIT_OBJECT_0;
        if (ms == INFINITE) {
            fprintf(stderr, "fake: endless wait for an event nobody sets\n");
            abort();
        }
        Advance(ms);
        return WAIT_TIMEOUT;
    }
    if (it != g_handles.end() && it->second.kind == kRunning)
        return WaitForRunning(g_running[it->second.port], ms);
    if (it == g_handles.end() || it->second.kind != kProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    int index = it->second.port;
    if (g_processes[index].ended) return WAIT_OBJECT_0;
    long endsAfter = g_processes[index].behaviour.endsAfterMs;
    if (endsAfter >= 0) {
        DWORD left = g_started[index].startedAt + (DWORD)endsAfter - g_now;
        if (left <= ms) {
            Advance(left);
            return WAIT_OBJECT_0;
        }
    }
    if (ms == INFINITE) {
        // The program under test would hang here for good.
        fprintf(stderr, "fake: endless wait for a process that never ends\n");
        abort();
    }
    Advance(ms);
    return WAIT_TIMEOUT;
}

DWORD WINAPI GetTickCount(void) {
    Record("GetTickCount", Format("%u", g_now));
    return g_now;
}
