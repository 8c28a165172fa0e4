// The calibration values on their own: the corner extrapolation and the
// thirteen settings the tool carries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

#include "calibration.h"
#include "hostfake.h"

using ::testing::ElementsAreArray;

namespace {

std::vector<LONG> RecordOrder(const CornerSet& c) {
    return {c.LeftUpX, c.LeftUpY, c.RightUpX, c.RightUpY,
            c.RightDnX, c.RightDnY, c.LeftDnX, c.LeftDnY};
}

TEST(ComputeCorners, ExtendsEachEdgeOnItsOwn) {
    struct {
        RawReading readings[kReadingCount];  // top-left, top-right, bottom-left, bottom-right
        std::vector<LONG> corners;           // record order
    } cases[] = {
        {{{100, 100}, {900, 110}, {110, 900}, {910, 905}}, {1, 1, 999, 11, 1009, 1004, 11, 999}},
        {{{345, 678}, {345, 678}, {345, 678}, {345, 678}},
         {345, 678, 345, 678, 345, 678, 345, 678}},
        // Crossed and narrow: nothing refused, division toward zero.
        {{{900, 100}, {100, 110}, {110, 100}, {119, 93}}, {1000, 100, 0, 112, 120, 91, 109, 100}},
        // The ends of the 32-bit range: exact spans, corners keep their low 32 bits.
        {{{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MAX}, {INT_MAX, INT_MIN}},
         {1610612737, 1610612737, -1610612738, -1610612737, -1610612738, 1610612736, 1610612737,
          -1610612738}},
    };
    for (const auto& c : cases) {
        CornerSet corners;
        ComputeCorners(c.readings, &corners);
        EXPECT_EQ(RecordOrder(corners), c.corners);
    }
}

TEST(ComputeCorners, SpanBoundariesTruncateTowardZero) {
    struct {
        LONG span, extension;
    } cases[] = {{-7, -1}, {-6, 0}, {0, 0}, {8, 0}, {9, 1}, {-800, -100}, {-17, -2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.span);
        RawReading r[kReadingCount] = {{1000, 0}, {1000 + c.span, 0}, {0, 0}, {0, 0}};
        CornerSet corners;
        ComputeCorners(r, &corners);
        EXPECT_EQ(corners.LeftUpX, 1000 - c.extension);
        EXPECT_EQ(corners.RightUpX, 1000 + c.span + c.extension);
    }
    EXPECT_EQ(EdgeExtension(INT_MAX, INT_MIN), -536870912);
}

// The value names of each recorded call to a registry function.
std::vector<std::string> NamesOf(const char* call) {
    std::vector<std::string> names;
    for (const std::string& a : fake::ArgsOf(call)) {
        size_t open = a.find('"');
        names.push_back(a.substr(open + 1, a.find('"', open + 1) - open - 1));
    }
    return names;
}

TEST(CalibrationSettings, ThirteenValuesInRecordOrder) {
    const char* kKey = "HKLM\\software\\corvale\\zavir";
    const char* kThirteen[] = {"LeftUpX", "LeftUpY", "RightUpX", "RightUpY", "RightDnX",
                               "RightDnY", "LeftDnX", "LeftDnY", "ComPort", "ComBase",
                               "ComIrq", "Mode", "RightButton"};
    fake::Reset();
    TouchSettings s{};
    s.ComBaud = 77;
    fake::RegMakeKey(kKey);
    fake::RegPutDword(kKey, "LeftUpX", (DWORD)-5);
    fake::RegPutDword(kKey, "ComBaud", 2400);
    fake::RegPutString(kKey, "ComBase", "longer than four");
    LoadCalibrationSettings(&s);
    EXPECT_EQ(s.LeftUpX, -5);
    EXPECT_EQ(s.RightUpX, 1024);  // missing: default
    EXPECT_EQ(s.ComBase, 1016);   // too long: default
    EXPECT_EQ(s.ComBaud, 77);     // not the tool's
    SaveCalibrationSettings(&s);
    EXPECT_THAT(NamesOf("RegQueryValueExA"), ElementsAreArray(kThirteen));
    EXPECT_THAT(NamesOf("RegSetValueExA"), ElementsAreArray(kThirteen));
    EXPECT_EQ(fake::RegType(kKey, "ComBase"), (DWORD)REG_DWORD);
    EXPECT_EQ(fake::RegDword(kKey, "ComBaud"), 2400u);
    EXPECT_EQ(fake::CountOf("RegCreateKeyExA"), 0u);
}

}  // namespace
