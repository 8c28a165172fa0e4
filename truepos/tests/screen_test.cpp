// The calibration tool end to end on the host platform: WinMain runs the
// dialog from the program's own resource script; the scripts touch the
// panel (a left-button release after the driver's raw position is set)
// and click the buttons.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "hostfake.h"
#include "resource.h"

using ::testing::ElementsAre;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

namespace {

const char* kKey = "HKLM\\software\\corvale\\zavir";

struct Reading {
    LONG x, y;
};
// The worked example: these four readings give the corners below.
const Reading kSkewed[4] = {{100, 100}, {900, 110}, {110, 900}, {910, 905}};
const std::vector<DWORD> kSkewedLeftUp = {1, 1}, kSkewedRightUp = {999, 11},
                         kSkewedLeftDn = {11, 999}, kSkewedRightDn = {1009, 1004};

// A request as the tests compare it: code and significant input words.
struct Request {
    DWORD code;
    std::vector<DWORD> words;
    bool operator==(const Request& o) const { return code == o.code && words == o.words; }
};
std::ostream& operator<<(std::ostream& os, const Request& r) {
    os << std::hex << "0x" << r.code << std::dec << " (";
    for (DWORD w : r.words) os << (LONG)w << " ";
    return os << ")";
}

Request Mode(DWORD a, DWORD b) { return {0x22201B, {a, b}}; }
const Request kRead = {0x222007, {}};
std::vector<Request> CornerRequests(const std::vector<DWORD>& leftUp,
                                    const std::vector<DWORD>& rightUp,
                                    const std::vector<DWORD>& leftDn,
                                    const std::vector<DWORD>& rightDn) {
    return {{0x22200B, leftUp}, {0x22200F, rightUp}, {0x222017, leftDn}, {0x222013, rightDn}};
}

class TrueposTest : public ::testing::Test {
   protected:
    static void SetUpTestSuite() {
        fake::LoadResourceScript(ZAVIR_SOURCE_DIR "/truepos/truepos.rc",
                                 ZAVIR_SOURCE_DIR "/truepos/resource.h");
    }
    void SetUp() override {
        fake::Reset();
        fake::SetDriverPresent(true);
    }

    // The settings a previous calibration left.
    void StoreSettings() {
        fake::RegMakeKey(kKey);
        const char* names[] = {"LeftUpX", "LeftUpY", "RightUpX", "RightUpY", "RightDnX",
                               "RightDnY", "LeftDnX", "LeftDnY", "ComPort", "ComBase",
                               "ComIrq", "ComBaud", "Mode", "RightButton"};
        const DWORD values[] = {20, 30, 1000, 40, 990, 1010, 25, 995, 2, 760, 3, 19200, 1, 1};
        for (int i = 0; i < 14; ++i) fake::RegPutDword(kKey, names[i], values[i]);
    }

    int Run(std::function<void(HWND)> script) {
        fake::OnDialog(IDD_CALIBRATION, [this, script](HWND d) {
            dialog_ = d;
            script(d);
        });
        return WinMain(fake::Instance(), nullptr, (LPSTR) "", SW_SHOWNORMAL);
    }

    // A lifted finger whose raw position the driver reports as (x, y).
    static void Touch(HWND d, LONG x, LONG y) {
        fake::SetRawPosition(x, y);
        EXPECT_EQ(fake::Send(d, WM_LBUTTONUP, 0, MAKELPARAM(512, 384)), FALSE);
    }
    static void TouchAll(HWND d, const Reading (&r)[4]) {
        for (const Reading& p : r) Touch(d, p.x, p.y);
    }

    // Requests since the last mark, as code and significant words.
    std::vector<Request> RequestsSinceMark() {
        std::vector<Request> out;
        const auto& all = fake::DeviceRequests();
        for (size_t i = mark_; i < all.size(); ++i) {
            std::vector<DWORD> words = all[i].InWords();
            EXPECT_EQ(all[i].inSize, 12u);
            EXPECT_EQ(all[i].outSize, 12u);
            words.resize(all[i].code == 0x222007 ? 0 : 2);  // the rest is not significant
            out.push_back({all[i].code, words});
        }
        mark_ = all.size();
        return out;
    }

    // Driver request codes and beeps from the call record, in order.
    static std::vector<std::string> TrafficSince(size_t index) {
        std::vector<std::string> out;
        const auto& calls = fake::Calls();
        for (size_t i = index; i < calls.size(); ++i) {
            if (calls[i].name == "DeviceIoControl")
                out.push_back(calls[i].args.substr(0, calls[i].args.find(',')));
            if (calls[i].name == "MessageBeep") out.push_back("beep");
        }
        return out;
    }

    std::vector<std::string> EndDialogs() { return fake::ArgsOf("EndDialog"); }

    HWND dialog_ = nullptr;
    size_t mark_ = 0;
};

TEST_F(TrueposTest, StartsWithItsClassHiddenWindowAndOwnerlessDialog) {
    EXPECT_EQ(Run([](HWND d) { fake::Click(d, IDC_CANCEL_BUTTON); }), 0);
    auto classes = fake::RegisteredClasses();
    ASSERT_EQ(classes.size(), 1u);
    EXPECT_EQ(classes[0].name, "Halvern XR TruePos 1.10");
    EXPECT_EQ(classes[0].wc.style, 0u);
    EXPECT_EQ(classes[0].wc.hbrBackground, (HBRUSH)GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(classes[0].wc.hIcon, LoadIconA(fake::Instance(), MAKEINTRESOURCEA(101)));
    EXPECT_EQ(classes[0].wc.hIconSm, classes[0].wc.hIcon);
    EXPECT_EQ(classes[0].wc.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    auto windows = fake::TopLevelWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].text, "Halvern XR TruePos");
    EXPECT_EQ(windows[0].style, (DWORD)WS_OVERLAPPEDWINDOW);
    EXPECT_FALSE(windows[0].visible);
    EXPECT_EQ(windows[0].x, -1000);
    EXPECT_EQ(windows[0].width, -1000);
    EXPECT_EQ(windows[0].height, -1000);
    EXPECT_THAT(fake::ArgsOf("DialogBoxParamA"), ElementsAre("#115, owner=NULL, param=0"));
    EXPECT_EQ(fake::OpenDriverHandles(), 0);
}

// The template as the resource script gives it: order, ids, kinds,
// sizes in dialog units (the host shows them at two pixels a unit), texts.
TEST_F(TrueposTest, DialogTemplateHoldsItsSeventeenControlsInOrder) {
    struct Expected {
        int id;
        const char* className;
        DWORD style;  // beyond WS_CHILD | WS_VISIBLE
        int width, height;
        const char* text;
    };
    const DWORD kBitmap = SS_BITMAP;
    const Expected expected[] = {
        {1062, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, 55, 25, "Cancel (&C)"},
        {1063, "Button", BS_PUSHBUTTON | WS_TABSTOP, 55, 25, "Retry (&R)"},
        {1044, "Button", BS_PUSHBUTTON | WS_TABSTOP, 55, 25, "OK (&O)"},
        {1018, "Static", kBitmap, 32, 32, "#109"},
        {1019, "Static", kBitmap, 32, 32, "#109"},
        {1020, "Static", kBitmap, 32, 32, "#109"},
        {1021, "Static", kBitmap, 14, 14, "#109"},
        {1031, "Static", SS_LEFT, 80, 10, "DISPLAY:  1248 X 1024"},
        {1059, "Static", kBitmap, 75, 19, "#119"},
        {1027, "Static", SS_LEFT, 240, 8,
         "Touch each point on the quadrant when prompted (touch the"},
        {1028, "Static", SS_LEFT, 240, 8,
         "next point. After you touch the last point the following Fixed"},
        {1029, "Static", SS_LEFT, 240, 24,
         "Touch anywhere on the screen, the cursor should appear under your finger. Hold your "
         "finger on the screen and drag the cursor around."},
        {1030, "Static", SS_LEFT, 240, 25,
         "If the cursor responds correctly then your touch panel is accurately aligned to your "
         "monitor. Touch the [OK] button to exit to Windows Desktop."},
        {1065, "Static", kBitmap, 62, 8, "#126"},
        {1074, "Static", SS_LEFT, 240, 8,
         "When you release your finger you will hear a beep. Move to the"},
        {1073, "Static", SS_LEFT, 240, 8,
         "screen gently, without dragging your finger on the touch panel)."},
        {1075, "Static", SS_LEFT, 240, 8, "Position display will appear."},
    };
    fake::SetDriverPresent(false);  // the template is left as loaded
    Run([](HWND) {});
    HWND d = fake::DialogsOf(IDD_CALIBRATION).at(0);
    DWORD style = fake::Window(d).style;
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_EQ(style & (WS_CAPTION | WS_BORDER | WS_DLGFRAME | WS_THICKFRAME | WS_SYSMENU), 0u);
    EXPECT_EQ(fake::Window(d).width, 2 * 260);
    std::vector<fake::WindowInfo> controls = fake::Controls(d);
    ASSERT_EQ(controls.size(), 17u);
    for (size_t i = 0; i < controls.size(); ++i) {
        SCOPED_TRACE(expected[i].id);
        EXPECT_EQ(controls[i].id, expected[i].id);
        EXPECT_EQ(controls[i].className, expected[i].className);
        EXPECT_EQ(controls[i].style, WS_CHILD | WS_VISIBLE | expected[i].style);
        EXPECT_EQ(controls[i].width, 2 * expected[i].width);
        EXPECT_EQ(controls[i].height, 2 * expected[i].height);
        EXPECT_EQ(controls[i].text, expected[i].text);
    }
}

TEST_F(TrueposTest, FailedClassRegistrationEndsAtOnceWithZero) {
    fake::FailRegisterClass(true);
    EXPECT_EQ(Run([](HWND) {}), 0);
    EXPECT_EQ(fake::CountOf("CreateWindowExA"), 0u);
    EXPECT_EQ(fake::CountOf("DialogBoxParamA"), 0u);
    EXPECT_TRUE(fake::MessageBoxes().empty());
}

TEST_F(TrueposTest, WithoutTheDriverOnlyTheMessageBoxAppears) {
    StoreSettings();
    fake::SetDriverPresent(false);
    bool scriptRan = false;
    EXPECT_EQ(Run([&](HWND) { scriptRan = true; }), 0);
    EXPECT_FALSE(scriptRan);
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    const auto& box = fake::MessageBoxes()[0];
    EXPECT_EQ(box.text, "Cannot Load ZAVIR.VXD");
    EXPECT_EQ(box.caption, "Load VXD Message");
    EXPECT_EQ(box.flags, (UINT)(MB_ICONEXCLAMATION | MB_OK));
    EXPECT_EQ(box.owner, fake::DialogsOf(IDD_CALIBRATION).at(0));
    EXPECT_THAT(EndDialogs(), ElementsAre("dialog 115, -1"));
    for (const char* call : {"RegOpenKeyExA", "RegSetValueExA", "ShowCursor", "SetWindowPos",
                             "GetSystemMetrics", "ShowWindow", "SetDlgItemTextA", "MessageBeep"})
        EXPECT_EQ(fake::CountOf(call), 0u) << call;
    EXPECT_EQ(fake::CursorCount(), 0);
    EXPECT_TRUE(fake::DeviceRequests().empty());
}

// Top-left corners of the placed controls for one screen size.
struct LayoutCase {
    int width, height;
    std::vector<std::pair<int, POINT>> places;
    const char* label;
};

class TrueposLayoutTest : public TrueposTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(TrueposLayoutTest, PlacesEveryControlFromTheScreenSize) {
    const LayoutCase& c = GetParam();
    fake::SetScreenSize(c.width, c.height);
    Run([&](HWND d) {
        fake::WindowInfo dlg = fake::Window(d);
        EXPECT_EQ(dlg.x, 0);
        EXPECT_EQ(dlg.y, 0);
        EXPECT_EQ(dlg.width, c.width);
        EXPECT_EQ(dlg.height, c.height);
        EXPECT_TRUE(dlg.exStyle & WS_EX_TOPMOST);
        for (const auto& place : c.places) {
            fake::WindowInfo w = fake::Window(fake::Control(d, place.first));
            EXPECT_EQ(w.x, place.second.x) << place.first;
            EXPECT_EQ(w.y, place.second.y) << place.first;
        }
        EXPECT_EQ(fake::Text(d, IDC_DISPLAY_LABEL), c.label);
        // Position only: the controls keep their template sizes.
        EXPECT_EQ(fake::Window(fake::Control(d, IDC_CANCEL_BUTTON)).width, 110);
        EXPECT_EQ(fake::Window(fake::Control(d, IDC_RESULT_2)).height, 50);
        fake::Click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(fake::CountOf("SetWindowPos"), 18u);  // the dialog and its 17 controls
}

INSTANTIATE_TEST_SUITE_P(
    Screens, TrueposLayoutTest,
    ::testing::Values(
        LayoutCase{1024, 768,
                   {{1018, {86, 60}}, {1019, {906, 60}}, {1020, {86, 676}}, {1021, {906, 676}},
                    {1044, {257, 484}}, {1062, {457, 484}}, {1063, {657, 484}},
                    {1031, {262, 234}}, {1059, {412, 76}}, {1065, {262, 284}},
                    {1027, {262, 304}}, {1073, {262, 324}}, {1074, {262, 344}},
                    {1028, {262, 364}}, {1075, {262, 384}}, {1029, {262, 304}},
                    {1030, {262, 384}}},
                   "Display :  1024 X 768"},
        LayoutCase{1366, 767,
                   {{1018, {120, 60}}, {1019, {1214, 60}}, {1020, {120, 675}},
                    {1021, {1214, 675}}, {1044, {428, 483}}, {1062, {628, 483}},
                    {1063, {828, 483}}, {1031, {433, 233}}, {1059, {583, 76}},
                    {1075, {433, 383}}},
                   "Display :  1366 X 767"}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) {
        return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
    });

// Visibility of every control that changes, by stage.
struct ScreenState {
    bool targets[4];
    bool instructions;  // the banner and the five instruction lines
    bool results;
    bool okAndRetry;    // enabled
    int focus;
    int cursor;
};

void ExpectState(HWND d, const ScreenState& s) {
    const int targets[4] = {1018, 1019, 1020, 1021};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fake::Visible(d, targets[i]), s.targets[i]) << targets[i];
    for (int id : {1065, 1027, 1073, 1074, 1028, 1075})
        EXPECT_EQ(fake::Visible(d, id), s.instructions) << id;
    for (int id : {1029, 1030}) EXPECT_EQ(fake::Visible(d, id), s.results) << id;
    for (int id : {1059, 1031, 1044, 1062, 1063}) EXPECT_TRUE(fake::Visible(d, id)) << id;
    EXPECT_EQ(fake::Enabled(d, IDC_OK_BUTTON), s.okAndRetry);
    EXPECT_EQ(fake::Enabled(d, IDC_RETRY_BUTTON), s.okAndRetry);
    EXPECT_TRUE(fake::Enabled(d, IDC_CANCEL_BUTTON));
    EXPECT_EQ(fake::FocusId(), s.focus);
    EXPECT_EQ(fake::CursorCount(), s.cursor);
}

const ScreenState kStages[5] = {
    {{true, false, false, false}, true, false, false, IDC_CANCEL_BUTTON, -1},
    {{false, true, false, false}, true, false, false, IDC_CANCEL_BUTTON, -1},
    {{false, false, true, false}, true, false, false, IDC_CANCEL_BUTTON, -1},
    {{false, false, false, true}, true, false, false, IDC_CANCEL_BUTTON, -1},
    {{false, false, false, false}, false, true, true, IDC_OK_BUTTON, 0},
};

TEST_F(TrueposTest, FourTouchesWalkTheTargetsAndBeepOnceEach) {
    StoreSettings();
    Run([&](HWND d) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            SCOPED_TRACE(attempt);
            for (int stage = 0; stage < 4; ++stage) {
                SCOPED_TRACE(stage);
                ExpectState(d, kStages[stage]);
                EXPECT_EQ(fake::Beeps().size(), (size_t)(attempt * 4 + stage));
                Touch(d, kSkewed[stage].x, kSkewed[stage].y);
            }
            ExpectState(d, kStages[4]);
            // In review a release is no reading and no beep.
            size_t requests = fake::DeviceRequests().size();
            Touch(d, 5, 5);
            EXPECT_EQ(fake::DeviceRequests().size(), requests);
            EXPECT_EQ(fake::Beeps().size(), (size_t)(attempt * 4 + 4));
            if (attempt == 0) fake::Click(d, IDC_RETRY_BUTTON);
        }
        fake::Click(d, IDC_OK_BUTTON);
    });
    EXPECT_THAT(fake::Beeps(), ::testing::Each(0xFFFFFFFFu));
    EXPECT_EQ(fake::CursorCount(), 0);
    EXPECT_THAT(EndDialogs(), ElementsAre("dialog 115, 0"));
}

TEST_F(TrueposTest, DriverTrafficOfTwoAttemptsAndOk) {
    StoreSettings();
    fake::RegPutDword(kKey, "ComBaud", 1200);
    Run([&](HWND d) {
        EXPECT_THAT(RequestsSinceMark(), ElementsAre(Mode(1, 0)));
        for (int stage = 0; stage < 3; ++stage) {
            Touch(d, kSkewed[stage].x, kSkewed[stage].y);
            EXPECT_THAT(RequestsSinceMark(), ElementsAre(kRead));
        }
        size_t callsBefore = fake::Calls().size();
        Touch(d, kSkewed[3].x, kSkewed[3].y);
        std::vector<Request> fourth = {kRead};
        for (const Request& r :
             CornerRequests(kSkewedLeftUp, kSkewedRightUp, kSkewedLeftDn, kSkewedRightDn))
            fourth.push_back(r);
        fourth.push_back(Mode(1, 1));
        fourth.push_back(Mode(0, 0));
        EXPECT_EQ(RequestsSinceMark(), fourth);
        // The beep comes between the new corners' two mode requests.
        EXPECT_THAT(TrafficSince(callsBefore),
                    ElementsAre("0x222007", "0x22200b", "0x22200f", "0x222017", "0x222013",
                                "0x22201b", "beep", "0x22201b"));

        fake::Click(d, IDC_RETRY_BUTTON);
        EXPECT_THAT(RequestsSinceMark(), ElementsAre(Mode(1, 0)));
        for (int stage = 0; stage < 4; ++stage) Touch(d, 200 + stage * 100, 300);
        RequestsSinceMark();
        EXPECT_EQ(fake::CountOf("RegSetValueExA"), 0u);
        fake::Click(d, IDC_OK_BUTTON);
        EXPECT_THAT(RequestsSinceMark(), ElementsAre(Mode(0, 0)));
    });
    // OK stores the second attempt's corners and the carried values; the
    // top edge spans 100, so each top corner lies 99 / 8 = 12 further out.
    EXPECT_EQ(fake::RegDword(kKey, "LeftUpX"), 188u);
    EXPECT_EQ(fake::RegDword(kKey, "RightUpX"), 312u);
    EXPECT_EQ(fake::RegDword(kKey, "LeftUpY"), 300u);
    EXPECT_EQ(fake::RegDword(kKey, "ComPort"), 2u);
    EXPECT_EQ(fake::RegDword(kKey, "ComBase"), 760u);
    EXPECT_EQ(fake::RegDword(kKey, "RightButton"), 1u);
    EXPECT_EQ(fake::RegDword(kKey, "ComBaud"), 1200u);  // not the tool's to write
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 13u);
    EXPECT_EQ(fake::CountOf("RegCreateKeyExA"), 0u);
    EXPECT_EQ(fake::OpenDriverHandles(), 0);
    EXPECT_EQ(fake::CursorCount(), 0);
    EXPECT_THAT(EndDialogs(), ElementsAre("dialog 115, 0"));
}

// Cancel at any point gives the driver back the corners loaded at the
// start, writes nothing and leaves the pointer's display count as it was.
struct CancelCase {
    const char* name;
    int touchesBefore;  // the first attempt's
    bool retry;
    int touchesAfterRetry;
};

class TrueposCancelTest : public TrueposTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(TrueposCancelTest, RestoresTheStartCornersAndWritesNothing) {
    const CancelCase& c = GetParam();
    StoreSettings();
    Run([&](HWND d) {
        for (int i = 0; i < c.touchesBefore; ++i) Touch(d, kSkewed[i].x, kSkewed[i].y);
        if (c.retry) fake::Click(d, IDC_RETRY_BUTTON);
        for (int i = 0; i < c.touchesAfterRetry; ++i) Touch(d, 50 * i, 70 * i);
        RequestsSinceMark();
        fake::Click(d, IDC_CANCEL_BUTTON);
        std::vector<Request> expected =
            CornerRequests({20, 30}, {1000, 40}, {25, 995}, {990, 1010});
        expected.push_back(Mode(0, 0));
        EXPECT_EQ(RequestsSinceMark(), expected);
    });
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 0u);
    EXPECT_EQ(fake::RegDword(kKey, "LeftUpX"), 20u);
    EXPECT_EQ(fake::CursorCount(), 0);
    EXPECT_EQ(fake::OpenDriverHandles(), 0);
    EXPECT_THAT(EndDialogs(), ElementsAre("dialog 115, 0"));
}

INSTANTIATE_TEST_SUITE_P(
    Moments, TrueposCancelTest,
    ::testing::Values(CancelCase{"AtOnce", 0, false, 0}, CancelCase{"AfterTwoTouches", 2, false, 0},
                      CancelCase{"InReview", 4, false, 0},
                      CancelCase{"AfterRetry", 4, true, 0},
                      CancelCase{"InSecondReview", 4, true, 4},
                      CancelCase{"MidSecondAttempt", 4, true, 3}),
    [](const ::testing::TestParamInfo<CancelCase>& info) { return info.param.name; });

TEST_F(TrueposTest, WithoutTheSettingsKeyRunsFromZerosAndWritesNothing) {
    Run([&](HWND d) {
        TouchAll(d, kSkewed);
        fake::Click(d, IDC_OK_BUTTON);
    });
    EXPECT_FALSE(fake::RegKeyExists(kKey));
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 0u);
    EXPECT_EQ(fake::CountOf("RegCreateKeyExA"), 0u);

    fake::Reset();
    fake::SetDriverPresent(true);
    mark_ = 0;
    Run([&](HWND d) {
        TouchAll(d, kSkewed);
        RequestsSinceMark();
        fake::Click(d, IDC_CANCEL_BUTTON);
        std::vector<Request> expected = CornerRequests({0, 0}, {0, 0}, {0, 0}, {0, 0});
        expected.push_back(Mode(0, 0));
        EXPECT_EQ(RequestsSinceMark(), expected);
    });
    EXPECT_FALSE(fake::RegKeyExists(kKey));
}

TEST_F(TrueposTest, EscapeAndCloseLeaveTheDialogOpen) {
    Run([&](HWND d) {
        for (int touches = 0; touches <= 4; touches += 4) {
            if (touches) TouchAll(d, kSkewed);
            RequestsSinceMark();
            fake::PressEscape(d);
            fake::PressClose(d);
            EXPECT_EQ(fake::Send(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0), FALSE);
            EXPECT_EQ(fake::LiveDialog(IDD_CALIBRATION), d);
            EXPECT_TRUE(RequestsSinceMark().empty());
        }
        fake::Click(d, IDC_OK_BUTTON);
    });
    EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    EXPECT_THAT(EndDialogs(), ElementsAre("dialog 115, 0"));
}

TEST_F(TrueposTest, OkAndRetryCommandsDoNothingWhileTargetsAreShown) {
    StoreSettings();
    Run([&](HWND d) {
        Touch(d, 1, 2);
        RequestsSinceMark();
        fake::Click(d, IDC_OK_BUTTON);  // disabled: no command at all
        fake::Send(d, WM_COMMAND, MAKEWPARAM(IDC_OK_BUTTON, BN_CLICKED), 0);
        fake::Send(d, WM_COMMAND, MAKEWPARAM(IDC_RETRY_BUTTON, BN_CLICKED), 0);
        EXPECT_TRUE(RequestsSinceMark().empty());
        EXPECT_EQ(fake::LiveDialog(IDD_CALIBRATION), d);
        ExpectState(d, kStages[1]);
        fake::Click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 0u);
    EXPECT_EQ(fake::CursorCount(), 0);
}

// A release whose position request fails takes no reading: the target
// stays, there is no beep, and the next touch counts in its place.
TEST_F(TrueposTest, AFailedPositionRequestTakesNoReading) {
    bool failing = false;
    LONG rawX = 0, rawY = 0;
    fake::SetDeviceHandler([&](DWORD code, const uint8_t*, DWORD, uint8_t* out, DWORD outSize,
                               DWORD* returned) -> BOOL {
        memset(out, 0xAB, outSize);  // what an unfilled answer may hold
        if (code == 0x222007) {
            if (failing) return FALSE;
            memcpy(out, &rawX, 4);
            memcpy(out + 4, &rawY, 4);
        }
        *returned = outSize;
        return TRUE;
    });
    Run([&](HWND d) {
        for (int stage = 0; stage < 4; ++stage) {
            failing = true;
            fake::Send(d, WM_LBUTTONUP, 0, 0);
            ExpectState(d, kStages[stage]);
            EXPECT_EQ(fake::Beeps().size(), (size_t)stage);
            failing = false;
            rawX = kSkewed[stage].x;
            rawY = kSkewed[stage].y;
            fake::Send(d, WM_LBUTTONUP, 0, 0);
            EXPECT_EQ(fake::Beeps().size(), (size_t)stage + 1);
        }
        ExpectState(d, kStages[4]);
        fake::Click(d, IDC_CANCEL_BUTTON);
    });
    // The corners come from the four good readings only.
    std::vector<Request> corners;
    for (const Request& r : RequestsSinceMark())
        if (r.code != 0x222007 && r.code != 0x22201B) corners.push_back(r);
    ASSERT_EQ(corners.size(), 8u);
    corners.resize(4);
    EXPECT_EQ(corners, CornerRequests(kSkewedLeftUp, kSkewedRightUp, kSkewedLeftDn,
                                      kSkewedRightDn));
    // Start, eight releases, the new corners with their two modes, Cancel.
    EXPECT_EQ(fake::CountOf("DeviceIoControl"), 1u + 8 + 4 + 2 + 4 + 1);
}

}  // namespace
