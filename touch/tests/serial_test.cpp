// The serial side: the port's name and configuration, the tick counter and
// the packet pump on byte streams.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "touch_test_util.h"

using ::testing::ElementsAre;
using touchtest::ForwardedRecords;
using touchtest::TouchTest;

namespace {

// ---- port name and line settings -----------------------------------------

TEST(ComPortDeviceNameTest, OnlyPortsOneToEightHaveAName) {
    struct Case {
        LONG port;
        const char* name;  // nullptr: refused
    } cases[] = {{1, "\\\\.\\COM1"}, {4, "\\\\.\\COM4"}, {8, "\\\\.\\COM8"}, {0, nullptr},
                 {9, nullptr},       {-1, nullptr},      {10, nullptr},      {0x7FFFFFFF, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        char name[16] = "untouched";
        EXPECT_EQ(ComPortDeviceName(c.port, name, sizeof name), c.name != nullptr);
        EXPECT_STREQ(name, c.name ? c.name : "untouched");
    }
}

TEST(ComPortDeviceNameTest, ABufferTooSmallIsRefusedNotOverrun) {
    char name[9];
    memset(name, 'x', sizeof name);
    EXPECT_FALSE(ComPortDeviceName(1, name, 8));
    EXPECT_EQ(name[8], 'x');
    EXPECT_TRUE(ComPortDeviceName(1, name, 9));
    EXPECT_STREQ(name, "\\\\.\\COM1");
}

TEST(ApplyLineSettingsTest, SetsEightNOneAndOnlyTheFourKnownRates) {
    struct Case {
        LONG baud;
        DWORD expected;
    } cases[] = {{1200, 1200}, {2400, 2400}, {9600, 9600},    {19200, 19200},
                 {4800, 4321}, {0, 4321},    {-9600, 4321},   {115200, 4321},
                 {38400, 4321}, {1201, 4321}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        DCB dcb;
        memset(&dcb, 0x5A, sizeof dcb);
        dcb.BaudRate = 4321;
        DCB before = dcb;
        ApplyLineSettings(&dcb, c.baud);
        EXPECT_EQ(dcb.BaudRate, c.expected);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, NOPARITY);
        EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
        // Every other field as the port reported it.
        dcb.BaudRate = before.BaudRate;
        dcb.ByteSize = before.ByteSize;
        dcb.Parity = before.Parity;
        dcb.StopBits = before.StopBits;
        EXPECT_EQ(memcmp(&dcb, &before, sizeof dcb), 0);
    }
}

TEST(ApplyReadTimeoutsTest, SetsTheThreeReadTimeoutsAndKeepsTheWriteOnes) {
    COMMTIMEOUTS t = {1, 2, 3, 4, 5};
    ApplyReadTimeouts(&t);
    EXPECT_EQ(t.ReadIntervalTimeout, 500u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 250u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 4u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 5u);
}

// ---- opening the port ----------------------------------------------------

TEST_F(TouchTest, OpenSerialPortConfiguresThePortCallByCall) {
    fake::AddComPort(3, 4800);
    g_settings.ComPort = 3;
    g_settings.ComBaud = 19200;
    fake::SerialPortState before = fake::SerialPort(3);
    ASSERT_EQ(OpenSerialPort(), 0);

    std::vector<std::string> calls;
    for (const fake::Call& c : fake::Calls())
        calls.push_back(c.name == "GetCommState" || c.name == "GetCommTimeouts"
                            ? c.name
                            : c.name + " " + c.args);
    EXPECT_THAT(calls,
                ElementsAre("CreateFileA \"\\\\.\\COM3\", access=0x80000000, share=0, sa=NULL, "
                            "disposition=3, flags=0x0, template=NULL",
                            "GetCommState", "SetCommState baud=19200, bits=8, parity=0, stop=0",
                            "SetupComm 1000, 1000", "SetCommMask 0x1", "GetCommTimeouts",
                            "SetCommTimeouts 500, 250, 1, 44, 55"));

    fake::SerialPortState port = fake::SerialPort(3);
    EXPECT_TRUE(port.open);
    EXPECT_EQ(port.inQueue, 1000u);
    EXPECT_EQ(port.outQueue, 1000u);
    EXPECT_EQ(port.eventMask, (DWORD)EV_RXCHAR);
    // The DCB fields the service does not own are handed back unchanged.
    DCB expected = before.dcb;
    expected.BaudRate = 19200;
    expected.ByteSize = 8;
    expected.Parity = NOPARITY;
    expected.StopBits = ONESTOPBIT;
    EXPECT_EQ(memcmp(&port.dcb, &expected, sizeof expected), 0);
    EXPECT_EQ(port.timeouts.WriteTotalTimeoutMultiplier, before.timeouts.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(port.timeouts.WriteTotalTimeoutConstant, before.timeouts.WriteTotalTimeoutConstant);
}

TEST_F(TouchTest, OpenSerialPortResultCodes) {
    enum Setup { kNone, kAbsent, kHeld, kGetFails, kSetFails };
    struct Case {
        const char* what;
        LONG comPort;
        Setup setup;
        int result;
        bool opensDevice;
    } cases[] = {
        {"port 0", 0, kNone, 2, false},
        {"port 9", 9, kNone, 2, false},
        {"negative port", -3, kNone, 2, false},
        {"no such port", 2, kAbsent, 1, true},
        {"held by another program", 2, kHeld, 1, true},
        {"state unreadable", 2, kGetFails, 2, true},
        {"state refused", 2, kSetFails, 3, true},
        {"fine", 2, kNone, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        ResetTouchState();
        if (c.setup != kAbsent) fake::AddComPort(2);
        HANDLE other = INVALID_HANDLE_VALUE;
        if (c.setup == kHeld)
            other = CreateFileA("\\\\.\\COM2", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (c.setup == kGetFails) fake::FailGetCommState(2);
        if (c.setup == kSetFails) fake::FailSetCommState(2);
        fake::ClearCalls();
        g_settings.ComPort = c.comPort;
        g_settings.ComBaud = 9600;

        EXPECT_EQ(OpenSerialPort(), c.result);
        EXPECT_EQ(fake::CountOf("CreateFileA"), c.opensDevice ? 1u : 0u);
        if (c.result != 0) {
            // Nothing is left half open.
            EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
            EXPECT_EQ(fake::SerialPort(2).open, c.setup == kHeld);
            EXPECT_EQ(fake::CountOf("SetupComm"), 0u);
        } else {
            EXPECT_NE(g_port, INVALID_HANDLE_VALUE);
            CloseHandle(g_port);
            g_port = INVALID_HANDLE_VALUE;
        }
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    }
}

// ---- the tick counter ------------------------------------------------------

TEST(TickCounterTest, EachValueGivesItsActionAndSuccessor) {
    struct Case {
        LONG before;
        TickAction action;
        LONG after;
    } cases[] = {
        {0, kTickRead, 1},      {1, kTickRead, 2},        {8, kTickRead, 9},
        {9, kTickHandOver, 10}, {10, kTickRead, 11},      {39, kTickRead, 40},
        {40, kTickRead, 41},    {49, kTickRead, 50},      {50, kTickSkip, 40},
        {51, kTickSkip, 40},    {1000, kTickSkip, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        LONG counter = c.before;
        EXPECT_EQ(AdvanceTickCounter(&counter), c.action);
        EXPECT_EQ(counter, c.after);
    }
}

TEST(TickCounterTest, IdleRunHandsOverOnceOnTheTenthTickThenSkipsEveryEleventh) {
    LONG counter = 0;
    std::string pattern;
    for (int tick = 0; tick < 62; ++tick) {
        TickAction a = AdvanceTickCounter(&counter);
        pattern += a == kTickHandOver ? 'H' : a == kTickSkip ? 's' : 'r';
    }
    EXPECT_EQ(pattern, std::string(9, 'r') + "H" + std::string(40, 'r') + "s" +
                           std::string(10, 'r') + "s");

    // In steady state exactly one tick in eleven leaves the port alone.
    int skips = 0, handovers = 0;
    for (int tick = 0; tick < 11 * 100; ++tick) {
        TickAction a = AdvanceTickCounter(&counter);
        skips += a == kTickSkip;
        handovers += a == kTickHandOver;
    }
    EXPECT_EQ(skips, 100);
    EXPECT_EQ(handovers, 0);
}

TEST(TickCounterTest, APacketOrTrayPressInTheFirstNineTicksPreventsTheHandOver) {
    for (LONG reset : {(LONG)TICK_RESUME, (LONG)TICK_TRAY_PRESS}) {
        for (int at = 0; at < 9; ++at) {
            SCOPED_TRACE(::testing::Message() << "reset " << reset << " after tick " << at);
            LONG counter = 0;
            int handovers = 0;
            for (int tick = 0; tick < 200; ++tick) {
                handovers += AdvanceTickCounter(&counter) == kTickHandOver;
                if (tick == at) counter = reset;
            }
            EXPECT_EQ(handovers, 0);
        }
    }
}

// ---- the packet pump ---------------------------------------------------------

// Line events: a byte 0..255, a silence long enough for a read to time
// out, or a read error.
const int kGap = -1;
const int kError = -2;

void FeedLine(int port, const std::vector<int>& items) {
    for (int v : items) {
        if (v == kGap)
            fake::SerialGap(port);
        else if (v == kError)
            fake::SerialReadError(port);
        else
            fake::FeedSerial(port, {(uint8_t)v});
    }
}

typedef std::vector<DWORD> Words;
const Words kRelease = {0xFE, 0xFE, 0, 0};

struct PumpCase {
    const char* what;
    std::vector<int> line;
    std::vector<Words> records;  // forwarded in this tick
    int packets;                 // the pump's count
    size_t left;                 // line events still queued after the tick
};

void PrintTo(const PumpCase& c, std::ostream* os) { *os << c.what; }

class PumpTest : public TouchTest, public ::testing::WithParamInterface<PumpCase> {};

TEST_P(PumpTest, ForwardsWhatOneTickReads) {
    const PumpCase& c = GetParam();
    fake::AddComPort(1);
    fake::SetDriverPresent(true);
    g_settings.ComPort = 1;
    ASSERT_EQ(OpenSerialPort(), 0);
    ASSERT_TRUE(OpenZavirDriver(&g_driver));
    FeedLine(1, c.line);
    LONG counter = 7;

    EXPECT_EQ(PumpPackets(g_port, &g_driver, &counter), c.packets);
    EXPECT_EQ(ForwardedRecords(), c.records);
    EXPECT_EQ(fake::DeviceRequests().size(), c.records.size());  // nothing but packets
    for (const fake::DeviceRequest& r : fake::DeviceRequests()) {
        EXPECT_EQ(r.inSize, 16u);
        EXPECT_EQ(r.outSize, 16u);
    }
    EXPECT_EQ(counter, c.packets > 0 ? TICK_RESUME : 7);
    EXPECT_EQ(fake::SerialPort(1).pending, c.left);
    for (const fake::SerialRead& r : fake::SerialReads()) EXPECT_LE(r.asked, 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, PumpTest,
    ::testing::Values(
        PumpCase{"idle line", {}, {}, 0, 0},
        PumpCase{"touch", {0xFF, 0x10, 0x20, 0x30, 0x40}, {{0x10, 0x20, 0x30, 0x40}}, 1, 0},
        PumpCase{"release goes twice", {0xFF, 0xFE, 0xFE}, {kRelease, kRelease}, 1, 0},
        PumpCase{"FE then another byte is a touch",
                 {0xFF, 0xFE, 0x05, 0x01, 0x02},
                 {{0xFE, 0x05, 0x01, 0x02}},
                 1,
                 0},
        PumpCase{"another byte then FE is a touch",
                 {0xFF, 0x05, 0xFE, 0xFE, 0xFE},
                 {{0x05, 0xFE, 0xFE, 0xFE}},
                 1,
                 0},
        PumpCase{"data bytes are not looked at",
                 {0xFF, 0xFF, 0x00, 0xFF, 0x80},
                 {{0xFF, 0x00, 0xFF, 0x80}},
                 1,
                 0},
        PumpCase{"back-to-back packets drain in one tick",
                 {0xFF, 1, 2, 3, 4, 0xFF, 0xFE, 0xFE, 0xFF, 5, 6, 7, 8},
                 {{1, 2, 3, 4}, kRelease, kRelease, {5, 6, 7, 8}},
                 3,
                 0},
        PumpCase{"stray byte first ends the tick",
                 {0x12, 0xFF, 1, 2, 3, 4},
                 {},
                 0,
                 5},
        PumpCase{"stray byte after a packet ends the tick",
                 {0xFF, 1, 2, 3, 4, 0x00, 0xFF, 5, 6, 7, 8},
                 {{1, 2, 3, 4}},
                 1,
                 5},
        PumpCase{"a gap ends the tick", {0xFF, 1, 2, 3, 4, kGap, 0xFF, 5, 6, 7, 8}, {{1, 2, 3, 4}}, 1, 5},
        PumpCase{"failed lead read ends the tick", {kError, 0xFF, 1, 2, 3, 4}, {}, 0, 5},
        PumpCase{"lead byte alone is dropped", {0xFF, kGap}, {}, 0, 0},
        PumpCase{"packet cut after one data byte is dropped",
                 {0xFF, 0x10, kGap, 0xFF, 1, 2, 3, 4},
                 {{1, 2, 3, 4}},
                 1,
                 0},
        PumpCase{"packet cut after three data bytes is dropped",
                 {0xFF, 0x10, 0x20, 0x30, kGap, 0xFF, 1, 2, 3, 4},
                 {{1, 2, 3, 4}},
                 1,
                 0},
        PumpCase{"packet cut after two data bytes is dropped",
                 {0xFF, 0x10, 0x20, kGap, kGap},
                 {},
                 0,
                 0},
        PumpCase{"release cut short is dropped", {0xFF, 0xFE, kGap}, {}, 0, 0},
        PumpCase{"read error inside a packet drops it and ends the tick",
                 {0xFF, 0x10, kError, 0xFF, 1, 2, 3, 4},
                 {},
                 0,
                 5}),
    [](const ::testing::TestParamInfo<PumpCase>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += isalnum((unsigned char)*p) ? *p : '_';
        return name;
    });

TEST_F(TouchTest, AStrayByteIsLostAndTheNextTickStartsAfreshOnALeadByte) {
    fake::AddComPort(1);
    fake::SetDriverPresent(true);
    g_settings.ComPort = 1;
    ASSERT_EQ(OpenSerialPort(), 0);
    ASSERT_TRUE(OpenZavirDriver(&g_driver));
    FeedLine(1, {0x33, 0xFF, 1, 2, 3, 4});
    LONG counter = 20;
    EXPECT_EQ(PumpPackets(g_port, &g_driver, &counter), 0);
    EXPECT_EQ(PumpPackets(g_port, &g_driver, &counter), 1);
    EXPECT_EQ(ForwardedRecords(), (std::vector<Words>{{1, 2, 3, 4}}));
    EXPECT_EQ(counter, TICK_RESUME);
}

TEST_F(TouchTest, AFailingDriverRequestDoesNotStopThePump) {
    fake::AddComPort(1);
    fake::SetDriverPresent(true);
    fake::FailRequests(0);
    g_settings.ComPort = 1;
    ASSERT_EQ(OpenSerialPort(), 0);
    ASSERT_TRUE(OpenZavirDriver(&g_driver));
    FeedLine(1, {0xFF, 1, 2, 3, 4, 0xFF, 0xFE, 0xFE});
    LONG counter = 3;
    EXPECT_EQ(PumpPackets(g_port, &g_driver, &counter), 2);
    EXPECT_EQ(fake::DeviceRequests().size(), 3u);
}

}  // namespace
