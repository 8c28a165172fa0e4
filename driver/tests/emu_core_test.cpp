// The stand-in's logic: corner mapping, the absolute input scale, the log
// line, request handling and the command line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "emu_core.h"
#include "hostfake.h"

namespace {

const int kW = 1024;
const int kH = 768;

CornerSet Square() {
    CornerSet c;
    DefaultCorners(&c);
    return c;
}

struct MapCase {
    const char* name;
    CornerSet corners;
    LONG rawX, rawY;
    LONG pixelX, pixelY;
};

TEST(MapRawToScreen, MapsThroughTheCornersInForce) {
    // A panel mounted upside down, and a skewed one as a calibration gives.
    CornerSet turned = {1000, 1000, 24, 1000, 24, 24, 1000, 24};
    CornerSet skewed = {100, 50, 900, 80, 950, 980, 60, 1000};
    const MapCase cases[] = {
        {"top-left", Square(), 0, 0, 0, 0},
        {"bottom-right", Square(), 1024, 1024, kW - 1, kH - 1},
        {"centre", Square(), 512, 512, 512, 384},
        {"top-right", Square(), 1024, 0, kW - 1, 0},
        {"bottom-left", Square(), 0, 1024, 0, kH - 1},
        {"beyond the corners clamps", Square(), 16383, 16383, kW - 1, kH - 1},
        {"before the corners clamps", Square(), 0, 2000, 0, kH - 1},
        {"far past narrow corners", {99, 99, 111, 99, 111, 111, 99, 111}, 16383, 16383, kW - 1,
         kH - 1},
        {"a hostile raw position", Square(), 0x7FFFFFFF, 0, kW - 1, 0},
        {"and its opposite", Square(), (LONG)0x80000000, 0x7FFFFFFF, 0, kH - 1},
        {"turned: its top-left corner", turned, 1000, 1000, 0, 0},
        {"turned: its bottom-right corner", turned, 24, 24, kW - 1, kH - 1},
        {"skewed: top-right", skewed, 900, 80, kW - 1, 0},
        {"skewed: bottom-left", skewed, 60, 1000, 0, kH - 1},
        {"skewed: bottom-right", skewed, 950, 980, kW - 1, kH - 1},
        {"skewed: centre of the patch", skewed, (100 + 900 + 950 + 60) / 4,
         (50 + 80 + 980 + 1000) / 4, 512, 384},
    };
    for (const MapCase& c : cases) {
        SCOPED_TRACE(c.name);
        LONG x = -1, y = -1;
        ASSERT_TRUE(MapRawToScreen(&c.corners, c.rawX, c.rawY, kW, kH, &x, &y));
        EXPECT_NEAR(x, c.pixelX, 1);
        EXPECT_NEAR(y, c.pixelY, 1);
    }
}

TEST(MapRawToScreen, CornersAreTheScreensOuterEdges) {
    // Raw 1024 is the far edge of the last pixel, so raw positions scale
    // by width / 1024 and only the edge itself is pulled onto the screen.
    const MapCase cases[] = {
        {"near the top-left", Square(), 4, 4, 4, 3},
        {"three quarters", Square(), 768, 768, 768, 576},
        {"near the bottom-right", Square(), 1000, 1000, 1000, 750},
        {"last pixel", Square(), 1023, 1023, 1023, 767},
    };
    for (const MapCase& c : cases) {
        SCOPED_TRACE(c.name);
        LONG x = -1, y = -1;
        ASSERT_TRUE(MapRawToScreen(&c.corners, c.rawX, c.rawY, kW, kH, &x, &y));
        EXPECT_EQ(x, c.pixelX);
        EXPECT_EQ(y, c.pixelY);
    }
}

TEST(LoadStartCorners, TakesKeptOrStoredCornersOnlyWhenTheyCanMap) {
    const char* kKey = "HKLM\\software\\corvale\\zavir";
    const char* kKept = "HKCU\\Software\\corvale\\zavir\\standin";
    const char* kNames[] = {"LeftUpX",  "LeftUpY",  "RightUpX", "RightUpY",
                            "RightDnX", "RightDnY", "LeftDnX",  "LeftDnY"};
    struct {
        const char* name;
        bool keyExists;
        LONG stored[8];
        LONG expected[8];
        LONG kept[9];  // what the session's last stand-in had in force
        DWORD keptSize;
        DWORD keptType;
        const char* keptValue;
    } cases[] = {
        {"no settings key", false, {}, {0, 0, 1024, 0, 1024, 1024, 0, 1024}, {}, 0, 0, NULL},
        {"a calibrated panel", true, {700, 900, 14530, 880, 14500, 14934, 690, 14950},
         {700, 900, 14530, 880, 14500, 14934, 690, 14950}, {}, 0, 0, NULL},
        {"a panel mounted upside down", true, {1000, 1000, 24, 1000, 24, 24, 1000, 24},
         {1000, 1000, 24, 1000, 24, 24, 1000, 24}, {}, 0, 0, NULL},
        {"crossed corners", true, {1024, 0, 0, 0, 1024, 1024, 0, 1024},
         {0, 0, 1024, 0, 1024, 1024, 0, 1024}, {}, 0, 0, NULL},
        {"all on one point", true, {5, 5, 5, 5, 5, 5, 5, 5}, {0, 0, 1024, 0, 1024, 1024, 0, 1024},
         {}, 0, 0, NULL},
        {"kept in force", true, {700, 900, 14530, 880, 14500, 14934, 690, 14950},
         {9, 9, 999, 9, 999, 999, 9, 999}, {9, 9, 999, 9, 999, 999, 9, 999}, 32, REG_BINARY,
         "1.corners"},
        {"kept, no stored", false, {}, {9, 9, 999, 9, 999, 999, 9, 999},
         {9, 9, 999, 9, 999, 999, 9, 999}, 32, REG_BINARY, "1.corners"},
        {"kept, a byte short", true, {700, 900, 14530, 880, 14500, 14934, 690, 14950},
         {700, 900, 14530, 880, 14500, 14934, 690, 14950}, {9, 9, 999, 9, 999, 999, 9, 999}, 31,
         REG_BINARY, "1.corners"},
        {"kept, a byte over", true, {700, 900, 14530, 880, 14500, 14934, 690, 14950},
         {700, 900, 14530, 880, 14500, 14934, 690, 14950}, {9, 9, 999, 9, 999, 999, 9, 999}, 33,
         REG_BINARY, "1.corners"},
        {"kept as another type", true, {700, 900, 14530, 880, 14500, 14934, 690, 14950},
         {700, 900, 14530, 880, 14500, 14934, 690, 14950}, {9, 9, 999, 9, 999, 999, 9, 999}, 32,
         REG_SZ, "1.corners"},
        {"kept crossed", true, {700, 900, 14530, 880, 14500, 14934, 690, 14950},
         {700, 900, 14530, 880, 14500, 14934, 690, 14950}, {1024, 0, 0, 0, 1024, 1024, 0, 1024},
         32, REG_BINARY, "1.corners"},
        {"kept for another session", true, {700, 900, 14530, 880, 14500, 14934, 690, 14950},
         {700, 900, 14530, 880, 14500, 14934, 690, 14950}, {9, 9, 999, 9, 999, 999, 9, 999}, 32,
         REG_BINARY, "2.corners"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        if (c.keyExists)
            for (int i = 0; i < 8; ++i) fake::RegPutDword(kKey, kNames[i], (DWORD)c.stored[i]);
        if (c.keptSize)
            fake::RegPut(kKept, c.keptValue, c.keptType,
                         std::vector<uint8_t>((const uint8_t*)c.kept,
                                              (const uint8_t*)c.kept + c.keptSize));
        CornerSet got;
        memset(&got, 0xff, sizeof got);
        LoadStartCorners(&got);
        std::vector<LONG> words = {got.LeftUpX,  got.LeftUpY,  got.RightUpX, got.RightUpY,
                                   got.RightDnX, got.RightDnY, got.LeftDnX,  got.LeftDnY};
        EXPECT_EQ(words, std::vector<LONG>(c.expected, c.expected + 8));
    }
}

TEST(LoadStartCorners, CornersKeptInForceAreTheNextStandInsStart) {
    fake::Reset();
    const CornerSet review = {10, 20, 900, 30, 910, 940, 15, 950};
    KeepCornersInForce(&review);
    const std::vector<std::string> volatileKey = {
        "HKCU\\Software\\corvale\\zavir\\standin, class=NULL, options=1, 0x2, sa=NULL"};
    EXPECT_EQ(fake::ArgsOf("RegCreateKeyExA"), volatileKey);
    CornerSet got;
    LoadStartCorners(&got);
    EXPECT_EQ(memcmp(&got, &review, sizeof got), 0);
}

// A stand-in killed mid-touch leaves its button down; the next one of the
// session lets it go when exactly a DWORD 1 of this session is kept.
TEST(KeepButtonHeld, OnlyAKeptOneOfThisSessionIsHeld) {
    const struct {
        const char* value;
        DWORD type;
        std::vector<uint8_t> data;
        BOOL held;
    } kCases[] = {
        {"1.held", REG_DWORD, {1, 0, 0, 0}, TRUE},
        {"1.held", REG_DWORD, {0, 0, 0, 0}, FALSE},
        {"1.held", REG_DWORD, {2, 0, 0, 0}, FALSE},
        {"1.held", REG_BINARY, {1, 0, 0, 0}, FALSE},
        {"1.held", REG_BINARY, {1, 0, 0}, FALSE},
        {"1.held", REG_BINARY, {1, 0, 0, 0, 0}, FALSE},
        {"2.held", REG_DWORD, {1, 0, 0, 0}, FALSE},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.value + std::to_string(c.type) + "/" + std::to_string(c.data.size()));
        fake::Reset();
        EXPECT_FALSE(ButtonKeptHeld());
        fake::RegPut("HKCU\\Software\\corvale\\zavir\\standin", c.value, c.type, c.data);
        EXPECT_EQ(ButtonKeptHeld(), c.held);
    }
    fake::Reset();
    KeepButtonHeld(TRUE);
    EXPECT_TRUE(ButtonKeptHeld());
    KeepButtonHeld(FALSE);
    EXPECT_FALSE(ButtonKeptHeld());
}

TEST(LoadRightButtonSetting, OnlyAStoredOneTurnsItOn) {
    const struct {
        bool stored;
        DWORD value;
        BOOL on;
    } kCases[] = {{false, 0, FALSE}, {true, 0, FALSE}, {true, 1, TRUE}, {true, 2, FALSE},
                  {true, 0xFFFFFFFF, FALSE}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.value);
        fake::Reset();
        if (c.stored) fake::RegPutDword("HKLM\\software\\corvale\\zavir", "RightButton", c.value);
        EXPECT_EQ(LoadRightButtonSetting(), c.on);
    }
}

TEST(MapRawToScreen, RefusesCornersThatSpanNoArea) {
    const CornerSet unusable[] = {
        {0, 0, 0, 0, 0, 0, 0, 0},                                // all zero, as a blank record
        {0, 0, 512, 512, 1024, 1024, 0, 1024},                   // three on one line
        {0, 0, 1024, 0, 0, 1024, 1024, 1024},                    // edges crossed
        {0, 0, 1024, 0, 1024, 1024, 900, 100},                   // folded in
    };
    for (const CornerSet& c : unusable) {
        LONG x = 7, y = 9;
        EXPECT_FALSE(CornersUsable(&c));
        EXPECT_FALSE(MapRawToScreen(&c, 10, 10, kW, kH, &x, &y));
        EXPECT_EQ(x, 7);
        EXPECT_EQ(y, 9);
    }
    CornerSet square = Square();
    LONG x = 7, y = 9;
    EXPECT_FALSE(MapRawToScreen(&square, 10, 10, 0, kH, &x, &y));
}

TEST(MapRawToScreen, SurvivesExtremeCornerValues) {
    CornerSet huge = {-2147483647 - 1, -2147483647 - 1, 2147483647, -2147483647 - 1,
                      2147483647,      2147483647,      -2147483647 - 1, 2147483647};
    LONG x = -1, y = -1;
    ASSERT_TRUE(MapRawToScreen(&huge, 0, 0, kW, kH, &x, &y));
    EXPECT_NEAR(x, kW / 2, 1);
    EXPECT_NEAR(y, kH / 2, 1);
}

TEST(AbsoluteInputCoordinate, LandsOnTheSamePixelTruncatedOrRounded) {
    for (int size : {1, 640, 768, 800, 1024, 1080, 1366, 1920, 2560, 7680}) {
        for (LONG pixel = 0; pixel < size; ++pixel) {
            LONG value = AbsoluteInputCoordinate(pixel, size);
            ASSERT_GE(value, 0);
            ASSERT_LE(value, 65535);
            double exact = (double)value * size / 65536.0;
            ASSERT_EQ((LONG)std::floor(exact), pixel) << size;
            ASSERT_EQ((LONG)std::floor(exact + 0.5), pixel) << size;
        }
        EXPECT_EQ(AbsoluteInputCoordinate(-5, size), 0);
        EXPECT_EQ(AbsoluteInputCoordinate(size + 5, size), AbsoluteInputCoordinate(size - 1, size));
        EXPECT_EQ(AbsoluteInputCoordinate(size, size), AbsoluteInputCoordinate(size - 1, size));
    }
    // Past the largest: still within the range, the far edge near its end.
    EXPECT_GE(AbsoluteInputCoordinate(65535, 65536), 65534);
    EXPECT_EQ(AbsoluteInputCoordinate(0x7FFFFFFF, 0x7FFFFFFF), 65535);
    EXPECT_EQ(AbsoluteInputCoordinate(1, 0x7FFFFFFF), 0);
}

ZavirWireRequest Request(DWORD code, DWORD inSize, DWORD outSize,
                         std::vector<DWORD> words = {}) {
    ZavirWireRequest r = {};
    r.code = code;
    r.inSize = inSize;
    r.outSize = outSize;
    for (size_t i = 0; i < words.size() && i < ZAVIR_MAX_WORDS; ++i) r.in[i] = words[i];
    return r;
}

std::string Line(const ZavirWireRequest& r) {
    char buffer[128];
    int length = FormatRequestLine(buffer, sizeof buffer, &r);
    EXPECT_EQ((size_t)length, std::string(buffer).size());
    return buffer;
}

TEST(FormatRequestLine, WritesTheCodeAndEveryInputWord) {
    EXPECT_EQ(Line(Request(0x222043, 16, 16, {0xFE, 0xFE, 0, 0})),
              "0x222043 0x000000fe 0x000000fe 0x00000000 0x00000000");
    EXPECT_EQ(Line(Request(0x22200B, 12, 12, {0xFFFFFFFF, 0x12AB, 0})),
              "0x22200b 0xffffffff 0x000012ab 0x00000000");
    EXPECT_EQ(Line(Request(0x222007, 0, 12)), "0x222007");
    EXPECT_EQ(Line(Request(0x5, 6, 0, {1, 2})), "0x000005 0x00000001");
    // An oversized request still logs only what its frame carries.
    EXPECT_EQ(Line(Request(0xDEADBEEF, 400, 0, {1, 2, 3, 4})),
              "0xdeadbeef 0x00000001 0x00000002 0x00000003 0x00000004");
}

TEST(FormatRequestLine, WritesNothingIntoATooSmallBuffer) {
    char small[20] = "untouched";
    ZavirWireRequest r = Request(0x222043, 16, 16, {1, 2, 3, 4});
    EXPECT_EQ(FormatRequestLine(small, sizeof small, &r), 0);
    EXPECT_STREQ(small, "");
    // The longest line with its terminator fits 55 bytes exactly, and only those.
    char exact[55];
    r.code = 0xDEADBEEF;
    EXPECT_EQ(FormatRequestLine(exact, sizeof exact, &r), 54);
    EXPECT_EQ(FormatRequestLine(exact, sizeof exact - 1, &r), 0);
}

class EmuStateTest : public ::testing::Test {
   protected:
    void SetUp() override {
        CornerSet c = Square();
        InitEmuState(&state, &c, kW, kH);
    }

    // Sends one request of a client (1 unless named); returns whether it
    // succeeded.
    BOOL Send(const ZavirWireRequest& r, DWORD client = 1) {
        HandleRequest(&state, client, &r, &answer, &action);
        return answer.ok != 0;
    }
    BOOL Touch(LONG x, LONG y, DWORD client = 1) {
        return Send(Request(kPacketRequest, 16, 16,
                            {(DWORD)(x / 128), (DWORD)(x % 128), (DWORD)(y / 128),
                             (DWORD)(y % 128)}),
                    client);
    }
    BOOL Release(DWORD client = 1) {
        return Send(Request(kPacketRequest, 16, 16, {0xFE, 0xFE, 0, 0}), client);
    }
    BOOL Calibrate(DWORD on, DWORD client = 1) {
        return Send(Request(kCalibrationModeRequest, 12, 12, {on, 0, 0}), client);
    }
    void Gone(DWORD client) { EmuClientGone(&state, client, &action); }
    void ExpectAction(EmuActionKind kind, LONG x = -1, LONG y = -1) {
        EXPECT_EQ(action.kind, kind);
        if (x >= 0) {
            EXPECT_EQ(action.pixelX, x);
        }
        if (y >= 0) {
            EXPECT_EQ(action.pixelY, y);
        }
    }

    EmuState state;
    ZavirWireAnswer answer;
    EmuAction action;
};

TEST_F(EmuStateTest, ATouchPressesMovesAndOneReleaseLifts) {
    ASSERT_TRUE(Touch(0, 0));
    ExpectAction(kEmuMoveAndPress, 0, 0);
    ASSERT_TRUE(Touch(512, 512));
    ExpectAction(kEmuMove, 512, 384);
    ASSERT_TRUE(Release());
    ExpectAction(kEmuLift);
    // The service forwards each release twice; the second is no new lift.
    ASSERT_TRUE(Release());
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Touch(1024, 1024));
    ExpectAction(kEmuMoveAndPress, kW - 1, kH - 1);
}

TEST_F(EmuStateTest, AnswersTheLastTouchsRawPositionAsValues) {
    ASSERT_TRUE(Touch(300, 700));
    ASSERT_TRUE(Touch(301, 9000));
    ASSERT_TRUE(Release());
    ASSERT_TRUE(Send(Request(kReadRawPositionRequest, 12, 12)));
    EXPECT_EQ(answer.out[0], 301u);
    EXPECT_EQ(answer.out[1], 9000u);
    EXPECT_EQ(answer.bytesReturned, 8u);
}

TEST_F(EmuStateTest, CalibrationTurnsALiftedFingerIntoOneReleaseUnderTheTouch) {
    ASSERT_TRUE(Calibrate(1));
    ASSERT_TRUE(Touch(256, 768));
    ExpectAction(kEmuNothing);  // no pointer movement while collecting
    ASSERT_TRUE(Release());
    ExpectAction(kEmuCalibrationUp, 256, 576);
    ASSERT_TRUE(Release());
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Send(Request(kReadRawPositionRequest, 12, 12)));
    EXPECT_EQ(answer.out[0], 256u);
    EXPECT_EQ(answer.out[1], 768u);
    // Back to normal: touches move the pointer again.
    ASSERT_TRUE(Calibrate(0));
    ASSERT_TRUE(Touch(0, 0));
    ExpectAction(kEmuMoveAndPress, 0, 0);
}

TEST_F(EmuStateTest, ChangingModeWithAFingerDownLetsTheButtonGo) {
    // The finger that started the tool is no reading; the next one is.
    ASSERT_TRUE(Touch(10, 10));
    ASSERT_TRUE(Calibrate(1));
    ExpectAction(kEmuLift);
    ASSERT_TRUE(Touch(12, 12));
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Release());
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Touch(14, 14));
    ASSERT_TRUE(Release());
    ExpectAction(kEmuCalibrationUp);
    // A calibration touch down when the mode ends presses nothing.
    ASSERT_TRUE(Touch(16, 16));
    ASSERT_TRUE(Calibrate(0));
    ASSERT_TRUE(Touch(18, 18));
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Release());
    ASSERT_TRUE(Touch(20, 20));
    ExpectAction(kEmuMoveAndPress);
}

TEST_F(EmuStateTest, CornerRequestsTakeEffectAtOnce) {
    // Corners of a panel turned upside down, in the order the tools send them.
    ASSERT_TRUE(Send(Request(kLeftUpCornerRequest, 12, 12, {1000, 1000, 0})));
    ASSERT_TRUE(Send(Request(kRightUpCornerRequest, 12, 12, {24, 1000, 0})));
    ASSERT_TRUE(Send(Request(kLeftDnCornerRequest, 12, 12, {1000, 24, 0})));
    ASSERT_TRUE(Send(Request(kRightDnCornerRequest, 12, 12, {24, 24, 0})));
    ASSERT_TRUE(Touch(1000, 1000));
    ExpectAction(kEmuMoveAndPress, 0, 0);
    ASSERT_TRUE(Touch(24, 24));
    ExpectAction(kEmuMove, kW - 1, kH - 1);
    // Negative corners arrive as words and stay signed.
    ASSERT_TRUE(Send(Request(kLeftUpCornerRequest, 12, 12, {(DWORD)-40, (DWORD)-30, 0})));
    EXPECT_EQ(state.corners.LeftUpX, -40);
    EXPECT_EQ(state.corners.LeftUpY, -30);
}

TEST_F(EmuStateTest, CornersThatCannotMapLeaveThePointerAloneButStillCalibrate) {
    for (DWORD code : {kLeftUpCornerRequest, kRightUpCornerRequest, kLeftDnCornerRequest,
                       kRightDnCornerRequest})
        ASSERT_TRUE(Send(Request(code, 12, 12, {5, 5, 0})));
    ASSERT_TRUE(Touch(5, 5));
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Release());
    ExpectAction(kEmuNothing);  // nothing was pressed
    // A calibration still gets its release, on the screen's centre, and the
    // raw position it reads.
    ASSERT_TRUE(Calibrate(1));
    ASSERT_TRUE(Touch(300, 400));
    ASSERT_TRUE(Release());
    ExpectAction(kEmuCalibrationUp, kW / 2, kH / 2);
    ASSERT_TRUE(Send(Request(kReadRawPositionRequest, 12, 12)));
    EXPECT_EQ(answer.out[0], 300u);
    EXPECT_EQ(answer.out[1], 400u);
}

TEST_F(EmuStateTest, MapsToTheScreenSizeInForce) {
    SetEmuScreenSize(&state, 1920, 1080);
    ASSERT_TRUE(Touch(512, 1024));
    ExpectAction(kEmuMoveAndPress, 960, 1079);
}

// A client that goes away undoes what it left in force, and only that.
TEST_F(EmuStateTest, AClientGoneLetsGoOfTheButtonItsTouchPressed) {
    ASSERT_TRUE(Touch(100, 100, 1));
    ASSERT_TRUE(Touch(120, 100, 2));  // a move of the same touch
    Gone(2);
    ExpectAction(kEmuNothing);
    Gone(1);
    ExpectAction(kEmuLift);
    ASSERT_TRUE(Release(2));  // lifts nothing more
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Touch(100, 100, 1));
    ASSERT_TRUE(Release(1));
    Gone(1);  // released before it went
    ExpectAction(kEmuNothing);
}

TEST_F(EmuStateTest, RightButtonCornerArmsOneRightTapThenLeftAgain) {
    state.rightButton = TRUE;
    ASSERT_TRUE(Touch(1024, 1024));  // the corner: arms, clicks nothing
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Touch(1000, 1000));
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Release());
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Touch(100, 100));  // the right tap follows, clicks where it lifts
    ExpectAction(kEmuMove, 100, 75);
    ASSERT_TRUE(Touch(200, 200));
    ASSERT_TRUE(Release());
    ExpectAction(kEmuRightClick, 200, 150);
    ASSERT_TRUE(Touch(100, 100));  // back to the left button
    ExpectAction(kEmuMoveAndPress, 100, 75);
    ASSERT_TRUE(Release());
    ExpectAction(kEmuLift);
    // An arm never used holds nothing: its client may go, calibration may
    // begin, and the next tap after that is left again.
    ASSERT_TRUE(Touch(1024, 1024, 2));
    Gone(2);
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Calibrate(1));
    ASSERT_TRUE(Calibrate(0));
    ASSERT_TRUE(Touch(100, 100));
    ExpectAction(kEmuMoveAndPress);
    // RightButton 0: the corner is a left tap like any, and so is the next.
    ASSERT_TRUE(Release());
    state.rightButton = FALSE;
    for (LONG raw : {1024, 100}) {
        ASSERT_TRUE(Touch(raw, raw));
        ExpectAction(kEmuMoveAndPress);
        ASSERT_TRUE(Release());
    }
}

TEST_F(EmuStateTest, RightButtonCornerIsTheLastSixteenthOfEachAxis) {
    struct {
        LONG rawX, rawY;  // pixels are raw x and raw y * 3/4
        BOOL on;
        EmuActionKind first;
    } const kCases[] = {
        {960, 960, TRUE, kEmuNothing},  // pixel (960, 720): the corner's edge
        {959, 1024, TRUE, kEmuMoveAndPress},
        {1024, 959, TRUE, kEmuMoveAndPress},  // pixel 719
        {960, 960, FALSE, kEmuMoveAndPress},  // RightButton 0
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.rawX * 10000 + c.rawY);
        InitEmuState(&state, &state.corners, kW, kH);
        state.rightButton = c.on;
        ASSERT_TRUE(Touch(c.rawX, c.rawY));
        ExpectAction(c.first);
    }
}

TEST_F(EmuStateTest, AClientGoneEndsItsCalibrationOnly) {
    const DWORD kTouch = 1, kTool = 3;
    ASSERT_TRUE(Calibrate(1, kTool));
    ASSERT_TRUE(Touch(256, 768, kTouch));  // a finger down for the dead tool's target
    Gone(kTouch);
    EXPECT_TRUE(state.calibrating);
    Gone(kTool);
    ExpectAction(kEmuNothing);
    EXPECT_FALSE(state.calibrating);
    ASSERT_TRUE(Touch(260, 768, kTouch));  // that finger still presses nothing
    ExpectAction(kEmuNothing);
    ASSERT_TRUE(Release(kTouch));
    ASSERT_TRUE(Touch(512, 512, kTouch));  // the pointer moves again
    ExpectAction(kEmuMoveAndPress, 512, 384);
    // A calibration another client put on since is not this one's to end.
    ASSERT_TRUE(Calibrate(1, kTool));
    ASSERT_TRUE(Calibrate(1, 4));
    Gone(kTool);
    EXPECT_TRUE(state.calibrating);
}

TEST_F(EmuStateTest, BadRequestsFailAndChangeNothing) {
    ASSERT_TRUE(Touch(100, 200));
    ASSERT_TRUE(Release());
    const EmuState before = state;
    struct BadCase {
        const char* name;
        ZavirWireRequest request;
    };
    const BadCase cases[] = {
        {"unknown code", Request(0x222003, 12, 12, {1, 2, 3})},
        {"packet with 12 bytes", Request(kPacketRequest, 12, 16, {1, 2, 3})},
        {"corner with 4 bytes", Request(kLeftUpCornerRequest, 4, 12, {1})},
        {"mode without words", Request(kCalibrationModeRequest, 0, 12)},
        {"raw position with no room", Request(kReadRawPositionRequest, 12, 4)},
        {"input larger than a frame", Request(kLeftUpCornerRequest, 17, 12, {1, 2})},
        {"answer larger than a frame", Request(kHandOverRequest, 12, 0x10000, {0})},
        {"answer one byte past a frame", Request(kHandOverRequest, 12, 17, {0})},
        {"lead byte as data", Request(kPacketRequest, 16, 16, {0xFF, 1, 2, 3})},
        {"half a release marker", Request(kPacketRequest, 16, 16, {0xFE, 0x10, 0, 0})},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(Send(c.request));
        ExpectAction(kEmuNothing);
        EXPECT_EQ(answer.bytesReturned, 0u);
        EXPECT_EQ(memcmp(&state, &before, sizeof state), 0);
    }
    ASSERT_TRUE(Send(Request(kHandOverRequest, 12, 12, {0, 0, 0})));
}

struct CommandCase {
    const char* line;
    bool ok;
    const char* path;
};

TEST(ParseEmuCommandLine, TakesNothingOrALogFile) {
    const CommandCase cases[] = {
        {"", true, ""},
        {"   ", true, ""},
        {"--log C:\\emu.log", true, "C:\\emu.log"},
        {"  --log   emu.log  ", true, "emu.log"},
        {"--log \"C:\\a dir\\emu.log\"", true, "C:\\a dir\\emu.log"},
        {"--log", false, ""},
        {"--log ", false, ""},
        {"--log \"unterminated", false, ""},
        {"--log a b", false, ""},
        {"--logfile x", false, ""},
        {"--verbose", false, ""},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.line);
        char path[MAX_PATH] = "junk";
        EXPECT_EQ(ParseEmuCommandLine(c.line, path, sizeof path) != FALSE, c.ok);
        EXPECT_STREQ(path, c.path);
    }
    char path[MAX_PATH];
    EXPECT_TRUE(ParseEmuCommandLine(NULL, path, sizeof path));
}

TEST(ParseEmuCommandLine, RefusesANameThatDoesNotFit) {
    std::string line = "--log " + std::string(300, 'x');
    char path[MAX_PATH];
    EXPECT_FALSE(ParseEmuCommandLine(line.c_str(), path, sizeof path));
    EXPECT_STREQ(path, "");
    char tiny[4];
    EXPECT_FALSE(ParseEmuCommandLine("--log abcd", tiny, sizeof tiny));
    EXPECT_TRUE(ParseEmuCommandLine("--log abc", tiny, sizeof tiny));
    EXPECT_STREQ(tiny, "abc");
}

TEST(ParseEmuOptions, TakesALeadingTimeStampOption) {
    struct OptionCase {
        const char* line;
        bool ok;
        bool stamped;
        const char* path;
    };
    const OptionCase cases[] = {
        {"", true, false, ""},
        {"--log C:\\emu.log", true, false, "C:\\emu.log"},
        {"--qpc", true, true, ""},
        {"  --qpc  --log emu.log", true, true, "emu.log"},
        {"--qpc --log \"C:\\a dir\\emu.log\"", true, true, "C:\\a dir\\emu.log"},
        {"--qpcx --log emu.log", false, false, ""},
        {"--qpc --qpc", false, false, ""},
        {"--log emu.log --qpc", false, false, ""},
        {"--qpc --log", false, false, ""},
    };
    for (const OptionCase& c : cases) {
        SCOPED_TRACE(c.line);
        char path[MAX_PATH] = "junk";
        BOOL stamped = 7;
        EXPECT_EQ(ParseEmuOptions(c.line, path, sizeof path, &stamped) != FALSE, c.ok);
        EXPECT_EQ(stamped != FALSE, c.stamped);
        EXPECT_STREQ(path, c.path);
    }
    char path[MAX_PATH];
    BOOL stamped = TRUE;
    EXPECT_TRUE(ParseEmuOptions(NULL, path, sizeof path, &stamped));
    EXPECT_FALSE(stamped);
}

TEST(CounterToNanoseconds, KeepsPrecisionAndDoesNotOverflow) {
    EXPECT_EQ(CounterToNanoseconds(0, 10000000), 0ULL);
    EXPECT_EQ(CounterToNanoseconds(1, 10000000), 100ULL);
    EXPECT_EQ(CounterToNanoseconds(12345678901LL, 10000000), 1234567890100ULL);
    // A year of uptime at a 3 GHz counter: counter * 1e9 alone would wrap.
    const long long ghz = 3000000000LL;
    const long long year = 365LL * 24 * 3600;
    EXPECT_EQ(CounterToNanoseconds(year * ghz + ghz / 3, ghz), year * 1000000000ULL + 333333333ULL);
    // The largest counter and frequency there can be.
    EXPECT_EQ(CounterToNanoseconds(0x7FFFFFFFFFFFFFFFLL, 0xFFFFFFFFLL),
              0x7FFFFFFFFFFFFFFFULL / 0xFFFFFFFFULL * 1000000000ULL +
                  0x7FFFFFFFFFFFFFFFULL % 0xFFFFFFFFULL * 1000000000ULL / 0xFFFFFFFFULL);
    EXPECT_EQ(CounterToNanoseconds(0x200000000LL * 5 + 0x100000000LL, 0x200000000LL), 5500000000ULL);
    EXPECT_EQ(CounterToNanoseconds(5, 0), 0ULL);
    EXPECT_EQ(CounterToNanoseconds(-5, 10), 0ULL);
}

TEST(LogStartsAfresh, OnlyALineThatWouldPassTheLimit) {
    const DWORD kLimit = kStandInLogLimit;
    const struct {
        DWORD file, line;
        BOOL afresh;
    } kCases[] = {{0, 100, FALSE},          {kLimit - 100, 100, FALSE}, {kLimit - 99, 100, TRUE},
                  {kLimit, 0, FALSE},       {kLimit + 1, 0, TRUE},      {0xFFFFFFFF, 100, TRUE},
                  {100, 0xFFFFFFFF, TRUE}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(LogStartsAfresh(c.file, c.line), c.afresh);
    }
}

TEST(FormatStampedRequestLine, PutsTheStampBeforeTheLine) {
    ZavirWireRequest r = Request(0x222043, 16, 16, {0xFE, 0xFE, 0, 0});
    char buffer[128];
    int length = FormatStampedRequestLine(buffer, sizeof buffer, 1234567890123ULL, &r);
    EXPECT_STREQ(buffer, "1234567890123 0x222043 0x000000fe 0x000000fe 0x00000000 0x00000000");
    EXPECT_EQ((size_t)length, strlen(buffer));
    EXPECT_EQ(FormatStampedRequestLine(buffer, sizeof buffer, 0, &r), 2 + (int)Line(r).size());
    EXPECT_EQ(std::string(buffer, 2), "0 ");
    // Too small for the stamp or for the line after it: nothing written.
    char small[60] = "untouched";
    EXPECT_EQ(FormatStampedRequestLine(small, sizeof small, 1234567890123ULL, &r), 0);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(FormatStampedRequestLine(small, 3, 1234567890123ULL, &r), 0);
    EXPECT_STREQ(small, "");
}

}  // namespace

namespace {

TEST(StandInPipe, WaitsForAFramesRestOnlyAfterItsFirstByte) {
    EXPECT_EQ(FrameWaitMs(0, 99999), INFINITE);  // an idle client waits as long as it likes
    EXPECT_EQ(FrameWaitMs(4, 0), kStandInFrameMs);
    EXPECT_EQ(FrameWaitMs(27, 500), kStandInFrameMs - 500);
    EXPECT_EQ(FrameWaitMs(4, kStandInFrameMs), 0u);  // spent: a trickle can't stretch it
}

TEST(StandInPipe, FlagsOfItsInstances) {
    const DWORD both = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    EXPECT_EQ(StandInPipeOpenMode(TRUE), both | FILE_FLAG_FIRST_PIPE_INSTANCE);
    EXPECT_EQ(StandInPipeOpenMode(FALSE), both);
    const DWORD plain = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;
    EXPECT_EQ(StandInPipeMode(0xC0000A04), plain);  // Windows 98
    EXPECT_EQ(StandInPipeMode(0x0A280105), plain);  // Windows XP refuses the flag
    EXPECT_EQ(StandInPipeMode(0x17700006), plain | PIPE_REJECT_REMOTE_CLIENTS);  // Vista
    EXPECT_EQ(StandInPipeMode(0x4563000A), plain | PIPE_REJECT_REMOTE_CLIENTS);  // 10
}

TEST(StandInPipe, SecurityNamesTheUserAndSystemAndRefusesTheNetwork) {
    const DWORD kXp = 0x0A280105, kVista = 0x17700006;
    char sddl[256];
    const std::string own = "O:S-1-5-21-3623811015-30300820-1013"
                            "D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;S-1-5-21-3623811015-30300820-1013)";
    for (DWORD version : {kXp, kVista, 0xC0000A04u}) {  // and Windows 98
        int length = StandInPipeSddl("S-1-5-21-3623811015-30300820-1013", version, sddl, sizeof sddl);
        EXPECT_EQ(sddl, version == kVista ? own + "S:(ML;;NWNR;;;ME)" : own);
        EXPECT_EQ((size_t)length, strlen(sddl));
    }
    // Only a SID string goes in: anything else could add entries.
    const char* bad[] = {"", "S-1-", "S-1-5-21)(A;;GA;;;WD", "WD", "S-2-5-18", NULL};
    for (const char* sid : bad) {
        strcpy(sddl, "junk");
        EXPECT_EQ(StandInPipeSddl(sid, kVista, sddl, sizeof sddl), 0);
        EXPECT_STREQ(sddl, "");
    }
    int need = StandInPipeSddl("S-1-5-18", kVista, sddl, sizeof sddl) + 1;
    EXPECT_EQ(StandInPipeSddl("S-1-5-18", kVista, sddl, need), need - 1);
    EXPECT_EQ(StandInPipeSddl("S-1-5-18", kVista, sddl, need - 1), 0);  // one byte short
}

}  // namespace
