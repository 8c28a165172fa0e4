// The pump against thousands of seeded random lines: garbage never crashes
// it or reaches the driver as a malformed record, and a line made of whole
// packets, broken packets, stray bytes, silences and read errors forwards
// exactly its whole packets.
#include <gtest/gtest.h>

#include <random>

#include "touch_test_util.h"

using touchtest::ForwardedRecords;
using touchtest::TouchTest;

namespace {

typedef std::vector<DWORD> Words;
const int kGap = -1;
const int kError = -2;

class PumpRandomTest : public TouchTest {
   protected:
    void StartLine() {
        fake::Reset();
        ResetTouchState();
        fake::AddComPort(1);
        fake::SetDriverPresent(true);
        g_settings.ComPort = 1;
        ASSERT_EQ(OpenSerialPort(), 0);
        ASSERT_TRUE(OpenZavirDriver(&g_driver));
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

    // Ticks until the line is read out; each tick reads at least one event
    // or the line is empty, so this ends.
    void DrainLine(size_t events) {
        LONG counter = 10;
        for (size_t tick = 0; tick <= events + 1 && fake::SerialPort(1).pending > 0; ++tick) {
            LONG before = counter;
            int n = PumpPackets(g_port, &g_driver, &counter);
            EXPECT_GE(n, 0);
            EXPECT_EQ(counter, n > 0 ? (LONG)TICK_RESUME : before);
        }
        EXPECT_EQ(fake::SerialPort(1).pending, 0u);
        CloseHandle(g_port);
        g_port = INVALID_HANDLE_VALUE;
        CloseZavirDriver(&g_driver);
    }
};

bool IsRelease(const Words& w) { return w == Words{0xFE, 0xFE, 0, 0}; }
bool IsTouch(const Words& w) {
    if (w.size() != 4) return false;
    for (DWORD v : w)
        if (v > 0xFF) return false;
    return !(w[0] == 0xFE && w[1] == 0xFE);
}

TEST_F(PumpRandomTest, ArbitraryLinesOnlyEverForwardWellFormedRecords) {
    std::mt19937 rng(20260408);
    size_t totalRecords = 0;
    for (int round = 0; round < 4000; ++round) {
        StartLine();
        std::vector<int> line;
        int length = std::uniform_int_distribution<int>(0, 64)(rng);
        for (int i = 0; i < length; ++i) {
            int pick = std::uniform_int_distribution<int>(0, 99)(rng);
            // Lead and release bytes often, so that packet shapes come up.
            if (pick < 25)
                line.push_back(0xFF);
            else if (pick < 45)
                line.push_back(0xFE);
            else if (pick < 52)
                line.push_back(kGap);
            else if (pick < 56)
                line.push_back(kError);
            else
                line.push_back(std::uniform_int_distribution<int>(0, 255)(rng));
        }
        Feed(line);
        DrainLine(line.size());

        std::vector<Words> records = ForwardedRecords();
        ASSERT_EQ(records.size(), fake::DeviceRequests().size()) << "round " << round;
        for (const fake::DeviceRequest& r : fake::DeviceRequests()) {
            ASSERT_EQ(r.inSize, 16u);
            ASSERT_EQ(r.outSize, 16u);
        }
        for (size_t i = 0; i < records.size(); ++i) {
            ASSERT_TRUE(IsTouch(records[i]) || IsRelease(records[i])) << "round " << round;
            if (IsRelease(records[i])) {
                // Releases come in pairs.
                ASSERT_LT(i + 1, records.size()) << "round " << round;
                ASSERT_TRUE(IsRelease(records[i + 1])) << "round " << round;
                ++i;
            }
        }
        totalRecords += records.size();
    }
    EXPECT_GT(totalRecords, 1000u);  // the generator did make packets
}

// Lines built from pieces whose outcome is known: every whole packet is
// forwarded in order, releases twice, and nothing else.
TEST_F(PumpRandomTest, WholePacketsAmongBrokenOnesAreForwardedExactly) {
    std::mt19937 rng(4);
    auto byte = [&rng]() { return std::uniform_int_distribution<int>(0, 255)(rng); };
    for (int round = 0; round < 3000; ++round) {
        StartLine();
        std::vector<int> line;
        std::vector<Words> expected;
        int pieces = std::uniform_int_distribution<int>(0, 24)(rng);
        for (int p = 0; p < pieces; ++p) {
            switch (std::uniform_int_distribution<int>(0, 7)(rng)) {
                case 0:
                case 1: {  // a touch packet; data bytes are any bytes
                    Words w(4);
                    do {
                        for (DWORD& v : w) v = (DWORD)byte();
                    } while (w[0] == 0xFE && w[1] == 0xFE);
                    line.push_back(0xFF);
                    for (DWORD v : w) line.push_back((int)v);
                    expected.push_back(w);
                    break;
                }
                case 2:  // a release packet
                    line.insert(line.end(), {0xFF, 0xFE, 0xFE});
                    expected.push_back({0xFE, 0xFE, 0, 0});
                    expected.push_back({0xFE, 0xFE, 0, 0});
                    break;
                case 3: {  // a touch cut short by a silence (or a read error)
                    int kept = std::uniform_int_distribution<int>(0, 3)(rng);
                    line.push_back(0xFF);
                    int first = byte();
                    for (int i = 0; i < kept; ++i) line.push_back(i == 0 ? first : byte());
                    if (kept >= 2 && line[line.size() - kept] == 0xFE &&
                        line[line.size() - kept + 1] == 0xFE)
                        line[line.size() - kept + 1] = 0x01;  // would be a whole release
                    line.push_back(std::uniform_int_distribution<int>(0, 3)(rng) ? kGap : kError);
                    break;
                }
                case 4: {  // a stray byte
                    int b;
                    do b = byte();
                    while (b == 0xFF);
                    line.push_back(b);
                    break;
                }
                case 5:
                    line.push_back(kGap);
                    break;
                case 6:
                    line.push_back(kError);
                    break;
                case 7:  // a release cut short
                    line.insert(line.end(), {0xFF, 0xFE, kGap});
                    break;
            }
        }
        Feed(line);
        DrainLine(line.size());
        ASSERT_EQ(ForwardedRecords(), expected) << "round " << round;
    }
}

}  // namespace
