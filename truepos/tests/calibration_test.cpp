// The calibration values on their own: the extrapolation from four
// readings to eight corners, and the thirteen settings the tool carries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

#include "calibration.h"
#include "hostfake.h"

using ::testing::ElementsAre;

namespace {

const char* kKey = "HKLM\\software\\corvale\\zavir";

// The value name quoted in a registry call's recorded arguments.
std::string QuotedName(const std::string& args) {
    size_t open = args.find('"');
    return args.substr(open + 1, args.find('"', open + 1) - open - 1);
}

std::vector<LONG> Corners(const CornerSet& c) {
    return {c.LeftUpX, c.LeftUpY, c.RightUpX, c.RightUpY,
            c.RightDnX, c.RightDnY, c.LeftDnX, c.LeftDnY};
}

struct ExtrapolationCase {
    const char* name;
    RawReading readings[kReadingCount];  // top-left, top-right, bottom-left, bottom-right
    std::vector<LONG> corners;           // in record order
};

class ExtrapolationTest : public ::testing::TestWithParam<ExtrapolationCase> {};

TEST_P(ExtrapolationTest, GivesTheCornersInRecordOrder) {
    CornerSet c;
    ComputeCorners(GetParam().readings, &c);
    EXPECT_EQ(Corners(c), GetParam().corners);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, ExtrapolationTest,
    ::testing::Values(
        ExtrapolationCase{"Skewed", {{100, 100}, {900, 110}, {110, 900}, {910, 905}},
                          {1, 1, 999, 11, 1009, 1004, 11, 999}},
        ExtrapolationCase{"AllEqual", {{345, 678}, {345, 678}, {345, 678}, {345, 678}},
                          {345, 678, 345, 678, 345, 678, 345, 678}},
        // Crossed and narrow: every edge still extended, toward zero.
        ExtrapolationCase{"CrossedAndNarrow", {{900, 100}, {100, 110}, {110, 100}, {119, 93}},
                          {1000, 100, 0, 112, 120, 91, 109, 100}},
        // Readings at the ends of the 32-bit range: the spans are exact
        // and the corners keep their low 32 bits.
        ExtrapolationCase{"ExtremeReadings",
                          {{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MAX},
                           {INT_MAX, INT_MIN}},
                          {1610612737, 1610612737, -1610612738, INT_MIN + 536870911,
                           -1610612738, INT_MAX - 536870911, 1610612737, -1610612738}}),
    [](const ::testing::TestParamInfo<ExtrapolationCase>& info) { return info.param.name; });

// One eighth of (span - 1), truncated toward zero, over the boundaries
// where it changes.
TEST(EdgeExtension, TruncatesTowardZeroAtTheSpanBoundaries) {
    struct {
        LONG span;
        LONG extension;
    } cases[] = {{-7, -1}, {-6, 0}, {0, 0}, {8, 0}, {9, 1}, {-801 + 1, -100}, {-17, -2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.span);
        EXPECT_EQ(EdgeExtension(1000, 1000 + c.span), c.extension);
        // The same span on the top edge moves both top corners.
        RawReading r[kReadingCount] = {{1000, 0}, {1000 + c.span, 0}, {0, 0}, {0, 0}};
        CornerSet corners;
        ComputeCorners(r, &corners);
        EXPECT_EQ(corners.LeftUpX, 1000 - c.extension);
        EXPECT_EQ(corners.RightUpX, 1000 + c.span + c.extension);
    }
    EXPECT_EQ(EdgeExtension(INT_MIN, INT_MAX), 536870911);
    EXPECT_EQ(EdgeExtension(INT_MAX, INT_MIN), -536870912);
}

class CalibrationSettingsTest : public ::testing::Test {
   protected:
    void SetUp() override { fake::Reset(); }
};

TEST_F(CalibrationSettingsTest, LoadReadsTheThirteenValuesInRecordOrder) {
    fake::RegMakeKey(kKey);
    const char* names[] = {"LeftUpX", "LeftUpY", "RightUpX", "RightUpY", "RightDnX",
                           "RightDnY", "LeftDnX", "LeftDnY", "ComPort", "ComBase",
                           "ComIrq", "Mode", "RightButton"};
    for (int i = 0; i < 13; ++i) fake::RegPutDword(kKey, names[i], 100 + i);
    fake::RegPutDword(kKey, "ComBaud", 19200);
    fake::RegPutString(kKey, "ComBase", "longer than four");  // takes its default
    TouchSettings s{};
    LoadCalibrationSettings(&s);
    EXPECT_THAT(fake::RegAccessMasks(), ElementsAre((REGSAM)KEY_ALL_ACCESS));
    std::vector<std::string> queried;
    for (const std::string& a : fake::ArgsOf("RegQueryValueExA"))
        queried.push_back(QuotedName(a));
    EXPECT_THAT(queried, ElementsAre("LeftUpX", "LeftUpY", "RightUpX", "RightUpY", "RightDnX",
                                     "RightDnY", "LeftDnX", "LeftDnY", "ComPort", "ComBase",
                                     "ComIrq", "Mode", "RightButton"));
    EXPECT_EQ(s.LeftUpX, 100);
    EXPECT_EQ(s.LeftDnY, 107);
    EXPECT_EQ(s.ComBase, 1016);
    EXPECT_EQ(s.RightButton, 112);
    EXPECT_EQ(s.ComBaud, 0);  // not the tool's
    EXPECT_EQ(fake::CountOf("RegCloseKey"), 1u);
}

TEST_F(CalibrationSettingsTest, WithoutTheKeyLoadKeepsAndSaveWritesNothing) {
    TouchSettings s{};
    s.RightUpX = 55;
    LoadCalibrationSettings(&s);
    EXPECT_EQ(s.RightUpX, 55);  // no default applied
    EXPECT_EQ(s.ComPort, 0);
    SaveCalibrationSettings(&s);
    EXPECT_FALSE(fake::RegKeyExists(kKey));
    EXPECT_EQ(fake::CountOf("RegCreateKeyExA"), 0u);
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 0u);
}

TEST_F(CalibrationSettingsTest, SaveWritesTheThirteenAsDwordsAndLeavesTheRest) {
    fake::RegMakeKey(kKey);
    fake::RegPutDword(kKey, "ComBaud", 2400);
    TouchSettings s{};
    for (int i = 0; i < kSettingCount; ++i) *SettingField(&s, i) = -(i + 1);
    SaveCalibrationSettings(&s);
    std::vector<std::string> written;
    for (const std::string& a : fake::ArgsOf("RegSetValueExA")) {
        EXPECT_THAT(a, ::testing::HasSubstr("type=4, size=4"));
        written.push_back(QuotedName(a));
    }
    EXPECT_THAT(written, ElementsAre("LeftUpX", "LeftUpY", "RightUpX", "RightUpY", "RightDnX",
                                     "RightDnY", "LeftDnX", "LeftDnY", "ComPort", "ComBase",
                                     "ComIrq", "Mode", "RightButton"));
    EXPECT_EQ(fake::RegDword(kKey, "LeftUpX"), (DWORD)-1);
    EXPECT_EQ(fake::RegDword(kKey, "RightButton"), (DWORD)-14);
    EXPECT_EQ(fake::RegDword(kKey, "ComBaud"), 2400u);
    EXPECT_FALSE(fake::RegValueExists(kKey, "Beep"));
}

TEST(SavedCorners, RestoreGivesBackOnlyTheEightCorners) {
    CalibrationValues v{};
    for (int i = 0; i < kSettingCount; ++i) *SettingField(&v.settings, i) = 10 + i;
    TakeSavedCorners(&v);
    for (int i = 0; i < kSettingCount; ++i) *SettingField(&v.settings, i) = -1;
    RestoreSavedCorners(&v);
    for (int i = 0; i < kSettingCount; ++i)
        EXPECT_EQ(*SettingField(&v.settings, i), i < 8 ? 10 + i : -1) << SettingName(i);
}

}  // namespace
