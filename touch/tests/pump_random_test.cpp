// The pump over thousands of seeded random lines, tick after tick until
// each line is read out.  Lines made of whole packets, cut-short packets,
// stray bytes, silences and read errors forward exactly their whole
// packets; arbitrary byte soup never crashes the pump (the sanitizers
// watch) and reaches the driver only as well-formed records.
#include <random>

#include "touch_test_util.h"

namespace {

class PumpRandomTest : public TouchTest {
 protected:
    std::vector<Words> PumpLine(const std::vector<int>& line) {
        SetUp();
        OpenHandles();
        Feed(line);
        LONG counter = 10;
        // Every tick reads at least one line event, so this ends.
        for (size_t tick = 0; tick <= line.size() && fake::SerialPort(1).pending; ++tick)
            PumpPackets(g_port, &g_driver, &counter);
        EXPECT_EQ(fake::SerialPort(1).pending, 0u);
        CloseHandle(g_port);
        CloseZavirDriver(&g_driver);
        return Forwarded();
    }
    std::mt19937 rng_{20260408};
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
};

const Words kRelease = {0xFE, 0xFE, 0, 0};

TEST_F(PumpRandomTest, LinesOfKnownPiecesForwardExactlyTheirWholePackets) {
    for (int round = 0; round < 3000; ++round) {
        std::vector<int> line;
        std::vector<Words> expected;
        for (int piece = Pick(25); piece > 0; --piece) {
            int kind = Pick(6);
            if (kind == 0) {  // a touch; its data bytes may be anything
                Words w = {(DWORD)Pick(256), (DWORD)Pick(256), (DWORD)Pick(256), (DWORD)Pick(256)};
                if (w[0] == 0xFE && w[1] == 0xFE) w[1] = 0;
                line.push_back(0xFF);
                line.insert(line.end(), w.begin(), w.end());
                expected.push_back(w);
            } else if (kind == 1) {
                line.insert(line.end(), {0xFF, 0xFE, 0xFE});
                expected.insert(expected.end(), {kRelease, kRelease});
            } else if (kind == 2) {  // cut short by a silence or a read error
                line.push_back(0xFF);
                for (int n = Pick(4); n > 0; --n)
                    line.push_back(line.back() == 0xFE ? 1 : Pick(256));
                line.push_back(Pick(4) ? kGap : kError);
            } else if (kind == 3) {  // a stray byte
                line.push_back(Pick(255));
            } else {
                line.push_back(kind == 4 ? kGap : kError);
            }
        }
        ASSERT_EQ(PumpLine(line), expected) << "round " << round;
    }
}

TEST_F(PumpRandomTest, ArbitraryLinesForwardOnlyWellFormedRecords) {
    size_t total = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<int> line;
        for (int n = Pick(65); n > 0; --n) {
            int p = Pick(100);  // lead and release bytes often, so packets form
            line.push_back(p < 25   ? 0xFF
                           : p < 45 ? 0xFE
                           : p < 52 ? kGap
                           : p < 56 ? kError
                                    : Pick(256));
        }
        std::vector<Words> records = PumpLine(line);
        ASSERT_EQ(records.size(), fake::DeviceRequests().size());
        for (size_t i = 0; i < records.size(); ++i) {
            const Words& w = records[i];
            bool release = w == kRelease;
            bool touch = w[0] <= 0xFF && w[1] <= 0xFF && w[2] <= 0xFF && w[3] <= 0xFF &&
                         !(w[0] == 0xFE && w[1] == 0xFE);
            ASSERT_TRUE(release || touch) << "round " << round;
            ASSERT_TRUE(!release || (i + 1 < records.size() && records[++i] == kRelease));
        }
        total += records.size();
    }
    EXPECT_GT(total, 1000u);
}

}  // namespace
