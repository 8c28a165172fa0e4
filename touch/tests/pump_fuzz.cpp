// libFuzzer target for the packet pump.  The input is a serial line for
// COM1: every byte is a byte on the line, except that 0xFD 0x00 is a
// silence (the read times out) and 0xFD 0x01 a failed read.  The line is
// pumped tick after tick until it is read out; every record the driver gets
// must be a whole touch or release packet of the line, in order, a release
// sent twice.  Any violation aborts, so libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "hostfake.h"
#include "touch.h"

namespace {

const int kGap = -1, kError = -2;  // line events besides bytes

void Require(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "pump fuzz: %s\n", what);
    abort();
}

std::vector<int> DecodeLine(const uint8_t* data, size_t size) {
    std::vector<int> line;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFD && i + 1 < size && data[i + 1] <= 1)
            line.push_back(data[++i] == 0 ? kGap : kError);
        else
            line.push_back(data[i]);
    }
    return line;
}

void Feed(const std::vector<int>& line) {
    for (int v : line) {
        if (v == kGap)
            fake::SerialGap(1);
        else if (v == kError)
            fake::SerialReadError(1);
        else
            fake::FeedSerial(1, {(uint8_t)v});
    }
}

// Finds the packet at or after *from on the line and moves *from past it.
bool FindPacket(const std::vector<int>& line, const std::vector<int>& packet, size_t* from) {
    for (size_t at = *from; at + packet.size() <= line.size(); ++at) {
        size_t n = 0;
        while (n < packet.size() && line[at + n] == packet[n]) ++n;
        if (n == packet.size()) {
            *from = at + n;
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fake::Reset();
    ResetTouchState();
    fake::AddComPort(1);
    fake::SetDriverPresent(true);
    g_settings.ComPort = 1;
    Require(OpenSerialPort() == 0 && OpenZavirDriver(&g_driver), "set-up failed");
    std::vector<int> line = DecodeLine(data, size);
    Feed(line);

    size_t checked = 0, cursor = 0;
    // Every tick takes at least one line event, so this ends.
    for (size_t tick = 0; tick <= line.size() && fake::SerialPort(1).pending; ++tick) {
        LONG counter = 10;
        int packets = PumpPackets(g_port, &g_driver, &counter);
        Require(counter == (packets > 0 ? TICK_RESUME : 10), "tick counter");
        const std::vector<fake::DeviceRequest>& requests = fake::DeviceRequests();
        for (; checked < requests.size(); ++checked, --packets) {
            const fake::DeviceRequest& r = requests[checked];
            Require(r.code == kPacketRequest && r.inSize == 16, "not a packet record");
            std::vector<DWORD> w = r.InWords();
            std::vector<int> packet = {0xFF, (int)w[0], (int)w[1], (int)w[2], (int)w[3]};
            if (w[0] == 0xFE && w[1] == 0xFE) {
                Require(w[2] == 0 && w[3] == 0, "release with data");
                Require(checked + 1 < requests.size() && requests[checked + 1].InWords() == w,
                        "release sent once");
                ++checked;
                packet.resize(3);
            }
            Require(FindPacket(line, packet, &cursor), "record is no whole packet of the line");
        }
        Require(packets == 0, "packet count");
    }
    Require(fake::SerialPort(1).pending == 0, "line not read out");
    CloseHandle(g_port);
    CloseZavirDriver(&g_driver);
    return 0;
}
