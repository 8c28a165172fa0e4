// The calibration tool driven through WinMain on the host platform: the
// dialog comes from the program's own resource script; a touch is a
// left-button release after the driver's raw position is set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "hostfake.h"
#include "resource.h"

using ::testing::ElementsAre;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

namespace {

const char* kKey = "HKLM\\software\\corvale\\zavir";

// The worked example's readings and the corners they give, as the words
// of the four corner requests.
const POINT kSkewed[4] = {{100, 100}, {900, 110}, {110, 900}, {910, 905}};
typedef std::vector<std::vector<DWORD>> Traffic;  // code, then significant words
const Traffic kSkewedCorners = {{0x22200B, 1, 1}, {0x22200F, 999, 11}, {0x222017, 11, 999},
                                {0x222013, 1009, 1004}};
const Traffic kStoredCorners = {{0x22200B, 20, 30}, {0x22200F, 1000, 40}, {0x222017, 25, 995},
                                {0x222013, 990, 1010}};

// Reads of the settings (the driver's own lookups aside).
size_t SettingsOpens() {
    size_t n = 0;
    for (const std::string& args : fake::ArgsOf("RegOpenKeyExA"))
        n += args.rfind(kKey, 0) == 0;
    return n;
}

Traffic Join(Traffic a, const Traffic& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
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

    // What an earlier calibration and setup left in the store.
    static void StoreSettings() {
        const char* names[] = {"LeftUpX", "LeftUpY", "RightUpX", "RightUpY", "RightDnX",
                               "RightDnY", "LeftDnX", "LeftDnY", "ComPort", "ComBase",
                               "ComIrq", "ComBaud", "Mode", "RightButton"};
        const DWORD values[] = {20, 30, 1000, 40, 990, 1010, 25, 995, 2, 760, 3, 1200, 1, 1};
        for (int i = 0; i < 14; ++i) fake::RegPutDword(kKey, names[i], values[i]);
    }

    static int Run(std::function<void(HWND)> script) {
        fake::OnDialog(IDD_CALIBRATION, script);
        return WinMain(fake::Instance(), nullptr, (LPSTR) "", SW_SHOWNORMAL);
    }

    static void Touch(HWND d, LONG x, LONG y) {
        fake::SetRawPosition(x, y);
        EXPECT_EQ(fake::Send(d, WM_LBUTTONUP, 0, MAKELPARAM(512, 384)), FALSE);
    }

    // Driver requests since the last call: code and significant words.
    Traffic Requests() {
        Traffic out;
        const auto& all = fake::DeviceRequests();
        for (; seen_ < all.size(); ++seen_) {
            const fake::DeviceRequest& r = all[seen_];
            EXPECT_EQ(r.inSize, 12u);
            EXPECT_EQ(r.outSize, 12u);
            std::vector<DWORD> words = r.InWords();
            words.resize(r.code == 0x222007 ? 0 : 2);
            words.insert(words.begin(), r.code);
            out.push_back(words);
        }
        return out;
    }

    size_t seen_ = 0;
};

TEST_F(TrueposTest, StartsWithItsClassHiddenWindowAndOwnerlessDialog) {
    EXPECT_EQ(Run([](HWND d) { fake::Click(d, IDC_CANCEL_BUTTON); }), 0);
    auto classes = fake::RegisteredClasses();
    ASSERT_EQ(classes.size(), 1u);
    EXPECT_EQ(classes[0].name, "Halvern XR TruePos 1.10");
    EXPECT_EQ(classes[0].wc.style, 0u);
    EXPECT_EQ(classes[0].wc.hbrBackground, (HBRUSH)GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(classes[0].wc.hIcon, LoadIconA(fake::Instance(), MAKEINTRESOURCEA(101)));
    auto windows = fake::TopLevelWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].text, "Halvern XR TruePos");
    EXPECT_FALSE(windows[0].visible);
    EXPECT_EQ(std::vector<int>({windows[0].x, windows[0].y, windows[0].width, windows[0].height}),
              std::vector<int>(4, -1000));
    EXPECT_THAT(fake::ArgsOf("DialogBoxParamA"), ElementsAre("#115, owner=NULL, param=0"));

    fake::Reset();
    fake::FailRegisterClass(true);
    EXPECT_EQ(Run([](HWND) {}), 0);
    EXPECT_EQ(fake::CountOf("CreateWindowExA") + fake::CountOf("DialogBoxParamA"), 0u);
}

// No driver at all, or only a stand-in that is another user's: the one
// message says which.
TEST_F(TrueposTest, WithoutTheDriverOnlyTheMessageBoxAppears) {
    for (bool othersStandIn : {false, true}) {
        SCOPED_TRACE(othersStandIn);
        fake::Reset();
        StoreSettings();
        fake::SetDriverPresent(false);
        fake::SetStandInPresent(othersStandIn);
        fake::SetStandInOwnedByOtherUser(othersStandIn);
        bool scriptRan = false;
        EXPECT_EQ(Run([&](HWND) { scriptRan = true; }), 0);
        EXPECT_FALSE(scriptRan);
        ASSERT_EQ(fake::MessageBoxes().size(), 1u);
        const fake::MessageBoxInfo& box = fake::MessageBoxes()[0];
        std::string text = othersStandIn
                               ? "The touch driver here is another user's, or of lower integrity."
                               : "Cannot Load ZAVIR.VXD";
        EXPECT_EQ(box.text + "|" + box.caption, text + "|Load VXD Message");
        EXPECT_EQ(box.flags, (UINT)(MB_ICONEXCLAMATION | MB_OK));
        EXPECT_EQ(box.owner, fake::DialogsOf(IDD_CALIBRATION).at(0));
        EXPECT_THAT(fake::ArgsOf("EndDialog"), ElementsAre("dialog 115, -1"));
        EXPECT_EQ(SettingsOpens(), 0u);
        for (const char* call : {"ShowCursor", "SetWindowPos", "ShowWindow"})
            EXPECT_EQ(fake::CountOf(call), 0u) << call;
        EXPECT_EQ(fake::CursorCount(), 0);
        EXPECT_TRUE(Requests().empty());
        if (othersStandIn) EXPECT_EQ(fake::CountOf("CreateProcessA"), 0u);  // no loader
    }
}

TEST_F(TrueposTest, LayoutFollowsTheScreenSize) {
    struct {
        int w, h;
        std::vector<std::vector<int>> places;  // id, x, y
        const char* label;
    } screens[] = {
        {1024, 768,
         {{1018, 86, 60}, {1019, 906, 60}, {1020, 86, 676}, {1021, 906, 676}, {1044, 257, 484},
          {1062, 457, 484}, {1063, 657, 484}, {1031, 262, 234}, {1059, 412, 76},
          {1065, 262, 284}, {1027, 262, 304}, {1073, 262, 324}, {1074, 262, 344},
          {1028, 262, 364}, {1075, 262, 384}, {1029, 262, 304}, {1030, 262, 384}},
         "Display :  1024 X 768"},
        {1366, 767,
         {{1018, 120, 60}, {1019, 1214, 60}, {1020, 120, 675}, {1021, 1214, 675},
          {1044, 428, 483}, {1062, 628, 483}, {1063, 828, 483}, {1059, 583, 76}},
         "Display :  1366 X 767"},
    };
    for (const auto& s : screens) {
        SCOPED_TRACE(s.label);
        fake::Reset();
        fake::SetDriverPresent(true);
        fake::SetScreenSize(s.w, s.h);
        Run([&](HWND d) {
            fake::WindowInfo dialog = fake::Window(d);
            EXPECT_EQ(std::vector<int>({dialog.x, dialog.y, dialog.width, dialog.height}),
                      std::vector<int>({0, 0, s.w, s.h}));
            EXPECT_TRUE(dialog.exStyle & WS_EX_TOPMOST);
            for (const auto& p : s.places) {
                fake::WindowInfo c = fake::Window(fake::Control(d, p[0]));
                EXPECT_EQ(std::vector<int>({p[0], c.x, c.y}), p);
            }
            EXPECT_EQ(fake::Text(d, IDC_DISPLAY_LABEL), s.label);
            EXPECT_EQ(fake::Window(fake::Control(d, IDC_CANCEL_BUTTON)).width, 2 * 55);
            fake::Click(d, IDC_CANCEL_BUTTON);
        });
    }
}

// What is shown, enabled and focused while acquiring (stages 0 to 3) and
// in review (4).
void ExpectStage(HWND d, int stage) {
    SCOPED_TRACE(stage);
    const int targets[4] = {1018, 1019, 1020, 1021};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fake::Visible(d, targets[i]), i == stage) << targets[i];
    for (int id : {1065, 1027, 1073, 1074, 1028, 1075}) EXPECT_EQ(fake::Visible(d, id), stage < 4);
    for (int id : {1029, 1030}) EXPECT_EQ(fake::Visible(d, id), stage == 4);
    for (int id : {1059, 1031, 1044, 1062, 1063}) EXPECT_TRUE(fake::Visible(d, id));
    EXPECT_EQ(fake::Enabled(d, IDC_OK_BUTTON), stage == 4);
    EXPECT_EQ(fake::Enabled(d, IDC_RETRY_BUTTON), stage == 4);
    EXPECT_TRUE(fake::Enabled(d, IDC_CANCEL_BUTTON));
    EXPECT_EQ(fake::FocusId(), stage == 4 ? IDC_OK_BUTTON : IDC_CANCEL_BUTTON);
    EXPECT_EQ(fake::CursorCount(), stage == 4 ? 0 : -1);
}

// Without the driver, a stand-in whose loader is still starting: the
// screen shows at once without a target, Cancel works, and calibration
// begins when the pipe opens.
TEST_F(TrueposTest, WaitsForTheStandInWithTheScreenShown) {
    const char kLoader[] = "C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE";
    enum { kServes, kCancelled, kNeverServes };
    for (int way : {kServes, kCancelled, kNeverServes}) {
        SCOPED_TRACE(way);
        const bool cancel = way != kServes;
        fake::Reset();
        StoreSettings();
        fake::PutFile(kLoader, "MZ");
        fake::SetProgram(kLoader, {way == kNeverServes ? -1 : 300, -1});
        seen_ = 0;
        Run([&](HWND d) {
            EXPECT_EQ(fake::Window(d).width, 1024);
            EXPECT_EQ(fake::FocusId(), IDC_CANCEL_BUTTON);
            EXPECT_FALSE(fake::Visible(d, 1018));
            EXPECT_EQ(fake::CursorCount(), 0);
            if (way == kNeverServes) {
                for (int tick = 0; tick < 51; ++tick) {
                    fake::PassTime(100);
                    fake::Tick(d, 1);
                }
                EXPECT_TRUE(fake::Timers().empty());
                EXPECT_TRUE(Requests().empty());
                return;
            }
            if (cancel) {
                fake::Click(d, IDC_CANCEL_BUTTON);
                return;
            }
            for (int tick = 0; tick < 4; ++tick) {
                fake::PassTime(100);
                fake::Tick(d, 1);
            }
            EXPECT_TRUE(fake::Timers().empty());
            ExpectStage(d, 0);
            EXPECT_EQ(Requests(), Traffic({{0x22201B, 1, 0}}));
            fake::Click(d, IDC_CANCEL_BUTTON);
            EXPECT_EQ(Requests(), Join(kStoredCorners, {{0x22201B, 0, 0}}));
        });
        EXPECT_EQ(SettingsOpens(), cancel ? 0u : 1u);
        // Run as administrator, the stand-in's calibration touches still come in.
        EXPECT_THAT(fake::ArgsOf("ChangeWindowMessageFilterEx"),
                    ElementsAre("window, 0x202, 1, NULL"));
        EXPECT_EQ(fake::CursorCount(), 0);
        EXPECT_EQ(fake::OpenDriverHandles(), 0);
        EXPECT_EQ(fake::OpenProcessHandles(), 0);
        EXPECT_THAT(fake::ArgsOf("EndDialog"),
                    ElementsAre(way == kNeverServes ? "dialog 115, -1" : "dialog 115, 0"));
        EXPECT_EQ(fake::MessageBoxes().size(), way == kNeverServes ? 1u : 0u);
    }
}

TEST_F(TrueposTest, TwoAttemptsThenOkWithTheirStagesBeepsAndRequests) {
    StoreSettings();
    Run([&](HWND d) {
        EXPECT_EQ(Requests(), Traffic({{0x22201B, 1, 0}}));
        for (int attempt = 0; attempt < 2; ++attempt) {
            for (int stage = 0; stage < 3; ++stage) {
                ExpectStage(d, stage);
                EXPECT_EQ(fake::Beeps().size(), (size_t)(attempt * 4 + stage));
                Touch(d, kSkewed[stage].x, kSkewed[stage].y);
                EXPECT_EQ(Requests(), Traffic({{0x222007}}));
            }
            ExpectStage(d, 3);
            size_t firstCall = fake::Calls().size();
            Touch(d, kSkewed[3].x, kSkewed[3].y + attempt * 16);
            ExpectStage(d, 4);
            if (attempt == 0) {
                EXPECT_EQ(Requests(), Join(Join({{0x222007}}, kSkewedCorners),
                                           {{0x22201B, 1, 1}, {0x22201B, 0, 0}}));
                // The beep comes between the two mode requests.
                std::vector<std::string> order;
                for (size_t i = firstCall; i < fake::Calls().size(); ++i)
                    if (fake::Calls()[i].name == "MessageBeep" ||
                        fake::Calls()[i].args.rfind("0x22201b", 0) == 0)
                        order.push_back(fake::Calls()[i].args);
                EXPECT_THAT(order, ElementsAre(::testing::StartsWith("0x22201b"), "0xffffffff",
                                               ::testing::StartsWith("0x22201b")));
            }
            Requests();
            Touch(d, 5, 5);  // in review: no reading, no beep
            EXPECT_TRUE(Requests().empty());
            EXPECT_EQ(fake::Beeps().size(), (size_t)(attempt * 4 + 4));
            if (attempt == 0) {
                fake::Click(d, IDC_RETRY_BUTTON);
                EXPECT_EQ(Requests(), Traffic({{0x22201B, 1, 0}}));
            }
        }
        EXPECT_EQ(fake::CountOf("RegSetValueExA"), 0u);
        fake::Click(d, IDC_OK_BUTTON);
        EXPECT_EQ(Requests(), Traffic({{0x22201B, 0, 0}}));
    });
    EXPECT_THAT(fake::Beeps(), ::testing::Each(0xFFFFFFFFu));
    // The second attempt's corners (its right edge 16 longer: 2 further out
    // below) and the five carried values; ComBaud is not the tool's.
    EXPECT_EQ(fake::RegDword(kKey, "RightDnY"), 1004u + 16 + 2);
    EXPECT_EQ(fake::RegDword(kKey, "RightUpY"), 11u - 2);
    EXPECT_EQ(fake::RegDword(kKey, "LeftUpX"), 1u);
    EXPECT_EQ(fake::RegDword(kKey, "ComBase"), 760u);
    EXPECT_EQ(fake::RegDword(kKey, "ComBaud"), 1200u);
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 13u);
    EXPECT_EQ(fake::CountOf("RegCreateKeyExA"), 0u);
    EXPECT_TRUE(fake::MessageBoxes().empty());
    EXPECT_EQ(fake::CursorCount(), 0);
    EXPECT_EQ(fake::OpenDriverHandles(), 0);
    EXPECT_THAT(fake::ArgsOf("EndDialog"), ElementsAre("dialog 115, 0"));
}

// Cancel in any stage gives back the corners loaded at the start (not
// those of an earlier attempt), writes nothing and balances the pointer.
// Without the settings key Cancel leaves the driver's corners alone, and an
// OK that can't store (no key, or a standard user's read-only key) says so.
TEST_F(TrueposTest, CancelRestoresTheStartCornersAndOnlyOkWrites) {
    enum Store { kNone, kStored, kReadOnly };
    const int kSessionEnds = 0;  // WM_ENDSESSION gives up as Cancel does
    const int kTouchOnCancel = 1;  // a touch the stand-in gives the dialog's face
    struct {
        Store store;
        int touches, touchesAfterRetry;  // -1: no Retry
        int button;
    } moments[] = {{kStored, 0, -1, kSessionEnds}, {kStored, 2, -1, kSessionEnds},
                   {kStored, 4, 3, kSessionEnds}, {kStored, 0, -1, kTouchOnCancel},
                   {kStored, 2, -1, kTouchOnCancel}, {kStored, 4, 1, kTouchOnCancel},
                   {kStored, 0, -1, IDC_CANCEL_BUTTON}, {kStored, 2, -1, IDC_CANCEL_BUTTON},
                   {kStored, 4, -1, IDC_CANCEL_BUTTON}, {kStored, 4, 0, IDC_CANCEL_BUTTON},
                   {kStored, 4, 3, IDC_CANCEL_BUTTON},  {kStored, 4, 4, IDC_CANCEL_BUTTON},
                   {kNone, 4, -1, IDC_CANCEL_BUTTON},   {kNone, 4, -1, IDC_OK_BUTTON},
                   {kReadOnly, 4, -1, IDC_CANCEL_BUTTON}, {kReadOnly, 4, -1, IDC_OK_BUTTON}};
    for (const auto& m : moments) {
        SCOPED_TRACE(::testing::Message() << m.store << m.touches << m.touchesAfterRetry);
        fake::Reset();
        fake::SetDriverPresent(true);
        if (m.store != kNone) StoreSettings();
        if (m.store == kReadOnly) fake::RegReadOnly(kKey);
        seen_ = 0;
        Run([&](HWND d) {
            for (int i = 0; i < m.touches; ++i) Touch(d, kSkewed[i].x, kSkewed[i].y);
            if (m.touchesAfterRetry >= 0) fake::Click(d, IDC_RETRY_BUTTON);
            for (int i = 0; i < m.touchesAfterRetry; ++i) Touch(d, 50 * i, 70 * i);
            Requests();
            if (m.button == kSessionEnds) {
                fake::Send(d, WM_ENDSESSION, FALSE, 0);  // another program said no
                EXPECT_TRUE(Requests().empty());
                fake::Send(d, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
            } else if (m.button == kTouchOnCancel) {
                fake::WindowInfo cancel = fake::Window(fake::Control(d, IDC_CANCEL_BUTTON));
                fake::Send(d, WM_LBUTTONUP, 0, MAKELPARAM(cancel.x - 1, cancel.y));  // beside it
                EXPECT_EQ(Requests(), Traffic({{0x222007}}));  // a reading
                fake::Send(d, WM_LBUTTONUP, 0,
                           MAKELPARAM(cancel.x + cancel.width - 1, cancel.y + cancel.height - 1));
            } else {
                fake::Click(d, m.button);
            }
            if (m.button != IDC_OK_BUTTON) {
                EXPECT_EQ(Requests(), Join(m.store == kNone ? Traffic() : kStoredCorners,
                                           {{0x22201B, 0, 0}}));
            }
        });
        EXPECT_EQ(fake::CountOf("RegSetValueExA") + fake::CountOf("RegCreateKeyExA"), 0u);
        EXPECT_EQ(fake::RegKeyExists(kKey), m.store != kNone);
        if (m.button == IDC_OK_BUTTON) {
            ASSERT_EQ(fake::MessageBoxes().size(), 1u);
            const fake::MessageBoxInfo& box = fake::MessageBoxes()[0];
            EXPECT_EQ(box.text + "|" + box.caption, "Cannot Save Settings|Save Settings Message");
            EXPECT_EQ(box.flags, (UINT)(MB_ICONEXCLAMATION | MB_OK));
            EXPECT_EQ(box.owner, fake::DialogsOf(IDD_CALIBRATION).at(0));
        } else {
            EXPECT_TRUE(fake::MessageBoxes().empty());
        }
        EXPECT_EQ(fake::CursorCount(), 0);
        EXPECT_EQ(fake::OpenDriverHandles(), 0);
        EXPECT_THAT(fake::ArgsOf("EndDialog"), ElementsAre("dialog 115, 0"));
    }
}

// Only OK and Cancel end the dialog; OK and Retry only in review.
TEST_F(TrueposTest, EscapeCloseAndStrayCommandsLeaveTheDialogOpen) {
    Run([&](HWND d) {
        Touch(d, 1, 2);
        Requests();
        fake::PressEscape(d);
        fake::PressClose(d);
        EXPECT_EQ(fake::Send(d, WM_COMMAND, MAKEWPARAM(IDC_OK_BUTTON, BN_CLICKED), 0), FALSE);
        fake::Send(d, WM_COMMAND, MAKEWPARAM(IDC_RETRY_BUTTON, BN_CLICKED), 0);
        ExpectStage(d, 1);
        for (int i = 0; i < 3; ++i) Touch(d, i, i);
        Requests();
        fake::PressEscape(d);
        fake::PressClose(d);
        ExpectStage(d, 4);
        EXPECT_TRUE(Requests().empty());
        EXPECT_EQ(fake::LiveDialog(IDD_CALIBRATION), d);
        fake::Click(d, IDC_OK_BUTTON);
    });
    EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    EXPECT_THAT(fake::ArgsOf("EndDialog"), ElementsAre("dialog 115, 0"));
}

// A release whose position request fails takes no reading (its answer was
// never filled): the target stays, no beep, and the next touch counts.
TEST_F(TrueposTest, AFailedPositionRequestTakesNoReading) {
    bool failing = false;
    POINT raw = {0, 0};
    fake::SetDeviceHandler([&](DWORD code, const uint8_t*, DWORD, uint8_t* out, DWORD outSize,
                               DWORD* returned) -> BOOL {
        memset(out, 0xAB, outSize);
        if (code != 0x222007) return TRUE;
        if (failing) return FALSE;
        memcpy(out, &raw.x, 4);
        memcpy(out + 4, &raw.y, 4);
        *returned = outSize;
        return TRUE;
    });
    Run([&](HWND d) {
        for (int stage = 0; stage < 4; ++stage) {
            failing = true;
            fake::Send(d, WM_LBUTTONUP, 0, 0);
            ExpectStage(d, stage);
            EXPECT_EQ(fake::Beeps().size(), (size_t)stage);
            failing = false;
            raw = kSkewed[stage];
            fake::Send(d, WM_LBUTTONUP, 0, 0);
        }
        ExpectStage(d, 4);
        Traffic requests = Requests();
        ASSERT_EQ(requests.size(), 1u + 8 + 4 + 2);
        EXPECT_EQ(Traffic(requests.begin() + 9, requests.begin() + 13), kSkewedCorners);
        fake::Click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(fake::Beeps().size(), 4u);
}

}  // namespace
