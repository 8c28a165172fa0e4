// The service as a program: start-up through WinMain, the status window's
// initialisation, its ticks, the tray icon and close-down.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "touch_test_util.h"

using ::testing::ElementsAre;
using touchtest::CallIndex;
using touchtest::ForwardedRecords;
using touchtest::HandOvers;
using touchtest::InstalledMachine;
using touchtest::TouchTest;

namespace {

const HICON kIcon101 = (HICON)(0x70000 + 101);  // what the platform hands out

int RunTouch(std::function<void(HWND)> script = nullptr) {
    if (script) fake::OnDialog(IDD_STATUS, script);
    return WinMain(fake::Instance(), NULL, (LPSTR) "", SW_SHOWNORMAL);
}

HWND MainWindow() { return FindWindowA("Halvern Driver", "Halvern"); }

// ---- program start -----------------------------------------------------------

TEST_F(TouchTest, TheMarkerWindowStopsStartUpWithExitCodeOne) {
    InstalledMachine();
    HWND marker = fake::AddForeignWindow("Halvern Driver Load", "Halvern Load");
    EXPECT_EQ(RunTouch(), 1);
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    const fake::MessageBoxInfo& box = fake::MessageBoxes()[0];
    EXPECT_EQ(box.owner, (HWND)NULL);
    EXPECT_EQ(box.text, "Halvern XR Driver Already Load ......");
    EXPECT_EQ(box.caption, "Halvern XR");
    EXPECT_EQ(box.flags, (UINT)MB_OK);
    EXPECT_THAT(fake::ArgsOf("SetForegroundWindow"),
                ElementsAre("window \"Halvern Load\""));
    EXPECT_LT(CallIndex("SetForegroundWindow"), CallIndex("MessageBoxA"));
    (void)marker;
    EXPECT_TRUE(fake::RegisteredClasses().empty());
    EXPECT_TRUE(fake::DialogsOf(IDD_STATUS).empty());
    EXPECT_FALSE(fake::SerialPort(1).open);
}

TEST_F(TouchTest, OnlyTheExactMarkerBlocksStartUp) {
    // The service's own window, or a marker with another title, is not it:
    // a second copy goes on and stops at the port instead.
    InstalledMachine();
    fake::AddForeignWindow("Halvern Driver", "Halvern");
    fake::AddForeignWindow("Halvern Driver Load", "Halvern");
    EXPECT_EQ(RunTouch([](HWND d) { DestroyWindow(d); }), 0);
    EXPECT_TRUE(fake::MessageBoxes().empty());
    EXPECT_EQ(fake::DialogsOf(IDD_STATUS).size(), 1u);
}

TEST_F(TouchTest, AFailedClassRegistrationEndsSilentlyWithZero) {
    InstalledMachine();
    fake::FailRegisterClass(true);
    EXPECT_EQ(RunTouch(), 0);
    EXPECT_TRUE(fake::MessageBoxes().empty());
    EXPECT_EQ(fake::CountOf("CreateWindowExA"), 0u);
    EXPECT_TRUE(fake::DialogsOf(IDD_STATUS).empty());
}

TEST_F(TouchTest, TheHiddenMainWindowAndTheModalStatusWindow) {
    InstalledMachine();
    EXPECT_EQ(RunTouch([](HWND d) {
                  // Running: the setup wizard finds the service by its window.
                  HWND main = MainWindow();
                  ASSERT_NE(main, (HWND)NULL);
                  EXPECT_FALSE(fake::Window(main).visible);
                  DestroyWindow(d);
              }),
              0);
    ASSERT_EQ(fake::RegisteredClasses().size(), 1u);
    const WNDCLASSEXA wc = fake::RegisteredClasses()[0].wc;
    EXPECT_EQ(fake::RegisteredClasses()[0].name, "Halvern Driver");
    EXPECT_EQ(wc.style, 0u);
    EXPECT_EQ(wc.cbClsExtra, 0);
    EXPECT_EQ(wc.cbWndExtra, 0);
    EXPECT_EQ(wc.hIcon, kIcon101);
    EXPECT_EQ(wc.hIconSm, kIcon101);
    EXPECT_EQ(wc.hCursor, LoadCursorA(NULL, IDC_ARROW));
    EXPECT_EQ(wc.hbrBackground, (HBRUSH)GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(wc.lpszMenuName, (LPCSTR)NULL);
    ASSERT_NE(wc.lpfnWndProc, (WNDPROC)NULL);
    EXPECT_EQ(wc.lpfnWndProc((HWND)NULL, WM_NULL, 0, 0), 0);

    EXPECT_THAT(fake::ArgsOf("CreateWindowExA"),
                ElementsAre("ex=0x0, \"Halvern Driver\", \"Halvern\", style=0xcf0000, -1000, "
                            "-1000, -1000, -1000, parent=NULL, menu=(nil), param=(nil)"));
    EXPECT_THAT(fake::ArgsOf("DialogBoxParamA"), ElementsAre("#114, owner=NULL, param=0"));
    EXPECT_EQ(fake::CountOf("ShowWindow"), 0u);
    EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    EXPECT_LT(CallIndex("RegisterClassExA"), CallIndex("CreateWindowExA"));
    EXPECT_LT(CallIndex("CreateWindowExA"), CallIndex("DialogBoxParamA"));
}

TEST_F(TouchTest, TheStatusWindowHasItsSevenStaticsInPlace) {
    InstalledMachine();
    RunTouch([](HWND d) {
        fake::WindowInfo w = fake::Window(d);
        EXPECT_EQ(w.text, "Halvern XR Driver");
        EXPECT_TRUE(w.visible);
        EXPECT_EQ(w.style & (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER),
                  (DWORD)(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER));
        EXPECT_EQ(w.width, 166 * 2);  // the platform's 2 pixels per unit
        EXPECT_EQ(w.height, 83 * 2);
        std::vector<fake::WindowInfo> c = fake::Controls(d);
        ASSERT_EQ(c.size(), 7u);
        struct Row {
            DWORD type;
            int x, y, w, h;
        } rows[] = {{SS_BITMAP, 11, 0, 136, 15}, {SS_CENTER, 7, 18, 152, 8},
                    {SS_CENTER, 7, 28, 152, 8},  {SS_BLACKFRAME, 7, 38, 152, 1},
                    {SS_CENTER, 7, 42, 152, 8},  {SS_CENTER, 7, 52, 152, 8},
                    {SS_CENTER, 7, 63, 152, 8}};
        for (size_t i = 0; i < 7; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(c[i].className, "Static");
            EXPECT_EQ(c[i].id, -1);
            EXPECT_EQ(c[i].style & SS_TYPEMASK, rows[i].type);
            EXPECT_EQ(c[i].x, rows[i].x * 2);
            EXPECT_EQ(c[i].y, rows[i].y * 2);
            EXPECT_EQ(c[i].width, rows[i].w * 2);
            EXPECT_EQ(c[i].height, rows[i].h * 2);
            EXPECT_TRUE(c[i].visible);
            if (rows[i].type == SS_CENTER) {
                EXPECT_FALSE(c[i].text.empty());
            }
        }
        EXPECT_TRUE(c[0].style & SS_CENTERIMAGE);
        EXPECT_EQ(c[0].text, "#119");
        EXPECT_TRUE(c[3].style & SS_SUNKEN);
        EXPECT_EQ(c[4].text, "TouchScreen Driver For WINDOWS 98/ME");
        EXPECT_EQ(c[6].text, "Version :  1.24");
        DestroyWindow(d);
    });
}

// ---- initialisation ------------------------------------------------------------

TEST_F(TouchTest, InitialisationOpensPortAndDriverThenTimerIconAndTray) {
    InstalledMachine(2, 2400);
    HWND dialog = NULL;
    RunTouch([&](HWND d) {
        dialog = d;
        EXPECT_TRUE(fake::SerialPort(2).open);
        EXPECT_EQ(fake::SerialPort(2).dcb.BaudRate, 2400u);
        EXPECT_EQ(fake::OpenDriverHandles(), 1);
        ASSERT_EQ(fake::Timers().size(), 1u);
        EXPECT_EQ(fake::Timers()[0].hwnd, d);
        EXPECT_EQ(fake::Timers()[0].id, 1u);
        EXPECT_EQ(fake::Timers()[0].period, 20u);
        EXPECT_EQ(g_tickCounter, 0);
        DestroyWindow(d);
    });
    EXPECT_THAT(fake::ArgsOf("SetTimer"), ElementsAre("dialog 114, 1, 20, NULL"));
    char icon[64];
    snprintf(icon, sizeof icon, "dialog 114, -14, %p", (void*)kIcon101);
    EXPECT_THAT(fake::ArgsOf("SetClassLongPtrA"), ElementsAre(icon));

    // Settings, port, driver, timer, class icon, tray icon: in this order.
    int order[] = {CallIndex("RegOpenKeyExA"), CallIndex("CreateFileA", "\"\\\\.\\COM2\""),
                   CallIndex("SetCommTimeouts"), CallIndex("CreateFileA", "\"\\\\.\\ZAVIR.VXD\""),
                   CallIndex("SetTimer"), CallIndex("SetClassLongPtrA"),
                   CallIndex("Shell_NotifyIconA", "0,")};
    for (size_t i = 0; i < sizeof order / sizeof order[0]; ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(order[i], 0);
        if (i > 0) {
            EXPECT_LT(order[i - 1], order[i]);
        }
    }

    ASSERT_EQ(fake::TrayCalls().size(), 2u);
    for (const fake::TrayCall& t : fake::TrayCalls()) {
        EXPECT_EQ(t.cbSize, (DWORD)NOTIFYICONDATAA_V1_SIZE);
        EXPECT_EQ(t.hwnd, dialog);
        EXPECT_EQ(t.id, 0u);
        EXPECT_EQ(t.flags, 7u);
        EXPECT_EQ(t.callback, 0x8064u);
        EXPECT_EQ(t.icon, kIcon101);
        EXPECT_EQ(t.tip, "Halvern XR");
    }
    EXPECT_EQ(fake::TrayCalls()[0].message, (DWORD)NIM_ADD);
    EXPECT_EQ(fake::TrayCalls()[1].message, (DWORD)NIM_DELETE);
}

TEST_F(TouchTest, SettingsAreReadButNeverWritten) {
    InstalledMachine();
    RunTouch([](HWND d) {
        for (int i = 0; i < 30; ++i) fake::Tick(d, 1);
        DestroyWindow(d);
    });
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 0u);
    EXPECT_EQ(fake::CountOf("RegCreateKeyExA"), 0u);
    EXPECT_EQ(fake::CountOf("WriteFile"), 0u);
}

TEST_F(TouchTest, ABaudOutsideTheFourLeavesTheRateAndStartUpSucceeds) {
    InstalledMachine(1, 4800);
    fake::AddComPort(1, 1200);
    RunTouch([](HWND d) {
        EXPECT_EQ(fake::SerialPort(1).dcb.BaudRate, 1200u);
        EXPECT_EQ(fake::SerialPort(1).dcb.ByteSize, 8);
        EXPECT_EQ(fake::Timers().size(), 1u);
        DestroyWindow(d);
    });
    EXPECT_TRUE(fake::MessageBoxes().empty());
}

TEST_F(TouchTest, MissingComPortAndComBaudValuesTakeTheirDefaults) {
    fake::RegPutDword(touchtest::kKey, "Mode", 1);
    fake::AddComPort(1, 1200);
    fake::SetDriverPresent(true);
    RunTouch([](HWND d) {
        EXPECT_TRUE(fake::SerialPort(1).open);  // COM1
        EXPECT_EQ(fake::SerialPort(1).dcb.BaudRate, 9600u);
        DestroyWindow(d);
    });
    EXPECT_TRUE(fake::MessageBoxes().empty());
}

// Both start-up failures: the message, the dialog's -1, the hidden window
// closed and nothing left open.
void ExpectStartFailure(const char* text, const char* caption) {
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    const fake::MessageBoxInfo& box = fake::MessageBoxes()[0];
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.flags, (UINT)MB_ICONEXCLAMATION);
    std::vector<HWND> dialogs = fake::DialogsOf(IDD_STATUS);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(box.owner, dialogs[0]);
    std::vector<std::string> ends = fake::ArgsOf("EndDialog");
    ASSERT_GE(ends.size(), 1u);
    EXPECT_EQ(ends[0], "dialog 114, -1");
    EXPECT_THAT(fake::ArgsOf("SendMessageA"),
                ElementsAre("window \"Halvern\", 0x10, 0, 0"));
    EXPECT_EQ(MainWindow(), (HWND)NULL);  // closed
    EXPECT_LT(CallIndex("MessageBoxA"), CallIndex("EndDialog"));
    EXPECT_LT(CallIndex("EndDialog"), CallIndex("SendMessageA"));
    EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    EXPECT_TRUE(fake::Timers().empty());
    EXPECT_EQ(fake::CountOf("SetTimer"), 0u);
    for (const fake::TrayCall& t : fake::TrayCalls()) EXPECT_NE(t.message, (DWORD)NIM_ADD);
    EXPECT_EQ(fake::OpenDriverHandles(), 0);
    EXPECT_TRUE(fake::DeviceRequests().empty());
}

TEST_F(TouchTest, APortThatCannotBeOpenedEndsStartUp) {
    enum Setup { kPort0, kPort9, kNoKey, kHeld, kAbsent, kBadState };
    const char* names[] = {"ComPort 0", "ComPort 9", "no settings key",
                           "port held by another program", "port absent", "state refused"};
    for (int s = kPort0; s <= kBadState; ++s) {
        SCOPED_TRACE(names[s]);
        fake::Reset();
        ResetTouchState();
        fake::SetDriverPresent(true);
        fake::AddComPort(1);
        HANDLE other = INVALID_HANDLE_VALUE;
        switch (s) {
            case kPort0: fake::RegPutDword(touchtest::kKey, "ComPort", 0); break;
            case kPort9: fake::RegPutDword(touchtest::kKey, "ComPort", 9); fake::AddComPort(9); break;
            case kNoKey: break;
            case kHeld:
                fake::RegPutDword(touchtest::kKey, "ComPort", 1);
                other = CreateFileA("\\\\.\\COM1", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
                break;
            case kAbsent: fake::RegPutDword(touchtest::kKey, "ComPort", 3); break;
            case kBadState:
                fake::RegPutDword(touchtest::kKey, "ComPort", 1);
                fake::FailSetCommState(1);
                break;
        }
        fake::ClearCalls();
        bool scriptRan = false;
        EXPECT_EQ(RunTouch([&](HWND) { scriptRan = true; }), 0);
        EXPECT_FALSE(scriptRan);
        ExpectStartFailure("Cannot Open COM Port", "Open Driver Message");
        EXPECT_EQ(fake::SerialPort(1).open, s == kHeld);
        EXPECT_EQ(fake::CountOf("CreateFileA"), s == kPort0 || s == kPort9 || s == kNoKey ? 0u : 1u);
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    }
}

TEST_F(TouchTest, ADriverThatCannotBeLoadedEndsStartUpAndClosesThePort) {
    InstalledMachine();
    fake::SetDriverPresent(false);
    bool scriptRan = false;
    EXPECT_EQ(RunTouch([&](HWND) { scriptRan = true; }), 0);
    EXPECT_FALSE(scriptRan);
    ExpectStartFailure("Cannot Load ZAVIR.VXD", "Load VXD Message");
    EXPECT_FALSE(fake::SerialPort(1).open);
    // Message, port closed, dialog ended, hidden window closed.
    int close = CallIndex("CloseHandle");
    EXPECT_LT(CallIndex("MessageBoxA"), close);
    EXPECT_LT(close, CallIndex("EndDialog"));
}

TEST_F(TouchTest, ASecondCopyStopsAtThePortTheFirstHolds) {
    InstalledMachine();
    RunTouch([](HWND first) {
        // The second copy runs while the first holds COM1; its globals are
        // the first's, so the first's are kept aside meanwhile.
        HANDLE port = g_port;
        ZavirDriver driver = g_driver;
        HWND main = g_mainWindow;
        fake::OnDialog(IDD_STATUS, nullptr);
        EXPECT_EQ(WinMain(fake::Instance(), NULL, (LPSTR) "", SW_SHOWNORMAL), 0);
        ASSERT_EQ(fake::MessageBoxes().size(), 1u);
        EXPECT_EQ(fake::MessageBoxes()[0].text, "Cannot Open COM Port");
        EXPECT_TRUE(fake::SerialPort(1).open);  // still the first copy's
        g_port = port;
        g_driver = driver;
        g_mainWindow = main;
        DestroyWindow(first);
    });
}

// ---- close-down ------------------------------------------------------------------

TEST_F(TouchTest, CloseDownDeletesTheTrayIconThenClosesBothHandles) {
    InstalledMachine();
    EXPECT_EQ(RunTouch([](HWND d) {
                  fake::Tick(d, 1);
                  fake::ClearCalls();
                  DestroyWindow(d);
              }),
              0);
    std::vector<std::string> names;
    for (const fake::Call& c : fake::Calls())
        if (c.name != "DestroyWindow") names.push_back(c.name);
    EXPECT_THAT(names,
                ElementsAre("Shell_NotifyIconA", "CloseHandle", "CloseHandle", "EndDialog"));
    EXPECT_THAT(fake::ArgsOf("EndDialog"), ElementsAre("dialog 114, 0"));
    EXPECT_FALSE(fake::SerialPort(1).open);
    EXPECT_EQ(fake::OpenDriverHandles(), 0);
    EXPECT_EQ(fake::DialogsLeftOpen(), 0);
}

TEST_F(TouchTest, CancelAndTheCloseBoxDoNotStopOrHideTheService) {
    InstalledMachine();
    RunTouch([](HWND d) {
        fake::PressEscape(d);
        fake::PressClose(d);
        EXPECT_EQ(fake::Send(d, WM_COMMAND, IDOK, 0), 0);
        EXPECT_TRUE(fake::Window(d).alive);
        EXPECT_TRUE(fake::Window(d).visible);
        EXPECT_EQ(fake::CountOf("EndDialog"), 0u);
        DestroyWindow(d);
    });
}

// ---- ticks through the dialog ----------------------------------------------

TEST_F(TouchTest, AnIdleLineHandsOverOnceOnTheTenthTick) {
    InstalledMachine();
    RunTouch([](HWND d) {
        for (int tick = 1; tick <= 9; ++tick) {
            fake::Tick(d, 1);
            EXPECT_TRUE(fake::Window(d).visible) << tick;
        }
        EXPECT_EQ(fake::SerialReads().size(), 9u);
        EXPECT_EQ(HandOvers(), 0u);
        fake::Tick(d, 1);
        EXPECT_FALSE(fake::Window(d).visible);
        EXPECT_EQ(fake::SerialReads().size(), 9u);  // no read on that tick
        ASSERT_EQ(fake::DeviceRequests().size(), 1u);
        const fake::DeviceRequest& r = fake::DeviceRequests()[0];
        EXPECT_EQ(r.code, (DWORD)kHandOverRequest);
        EXPECT_EQ(r.inSize, 12u);
        EXPECT_EQ(r.outSize, 12u);
        EXPECT_EQ(r.InWords()[0], 0u);
        for (int tick = 0; tick < 200; ++tick) fake::Tick(d, 1);
        EXPECT_EQ(HandOvers(), 1u);
        EXPECT_FALSE(fake::Window(d).visible);
        DestroyWindow(d);
    });
    EXPECT_THAT(fake::ArgsOf("ShowWindow"), ElementsAre("dialog 114, SW_HIDE"));
}

TEST_F(TouchTest, EveryEleventhIdleTickLeavesThePortAlone) {
    InstalledMachine();
    RunTouch([](HWND d) {
        for (int tick = 0; tick < 10 + 40; ++tick) fake::Tick(d, 1);  // counter at 50
        std::vector<size_t> readsPerTick;
        for (int tick = 0; tick < 33; ++tick) {
            size_t before = fake::SerialReads().size();
            fake::Tick(d, 1);
            readsPerTick.push_back(fake::SerialReads().size() - before);
        }
        for (int tick = 0; tick < 33; ++tick)
            EXPECT_EQ(readsPerTick[tick], tick % 11 == 0 ? 0u : 1u) << tick;
        DestroyWindow(d);
    });
}

TEST_F(TouchTest, APacketInTheFirstNineTicksKeepsTheWindowShown) {
    for (int at = 0; at < 9; ++at) {
        SCOPED_TRACE(at);
        fake::Reset();
        ResetTouchState();
        InstalledMachine();
        RunTouch([at](HWND d) {
            for (int tick = 0; tick < 100; ++tick) {
                if (tick == at) fake::FeedSerial(1, {0xFF, 1, 2, 3, 4});
                fake::Tick(d, 1);
            }
            EXPECT_TRUE(fake::Window(d).visible);
            DestroyWindow(d);
        });
        EXPECT_EQ(HandOvers(), 0u);
        EXPECT_EQ(ForwardedRecords().size(), 1u);
        EXPECT_EQ(fake::CountOf("ShowWindow"), 0u);
    }
}

TEST_F(TouchTest, APacketOnTheTenthTickWaitsForTheNextAndTheHandOverStillComes) {
    InstalledMachine();
    RunTouch([](HWND d) {
        for (int tick = 0; tick < 9; ++tick) fake::Tick(d, 1);
        fake::FeedSerial(1, {0xFF, 0xFE, 0xFE});
        fake::Tick(d, 1);  // the hand-over tick reads nothing
        EXPECT_EQ(HandOvers(), 1u);
        EXPECT_TRUE(ForwardedRecords().empty());
        fake::Tick(d, 1);
        EXPECT_EQ(ForwardedRecords().size(), 2u);
        DestroyWindow(d);
    });
}

// ---- the tray icon ------------------------------------------------------------------

TEST_F(TouchTest, OnlyAButtonPressOnTheTrayIconShowsTheWindow) {
    struct Case {
        LPARAM mouse;
        bool shows;
    } cases[] = {{WM_LBUTTONDOWN, true},    {WM_RBUTTONDOWN, true},    {WM_MOUSEMOVE, false},
                 {WM_LBUTTONUP, false},     {WM_RBUTTONUP, false},     {WM_LBUTTONDBLCLK, false},
                 {WM_RBUTTONDBLCLK, false}, {0, false},                {0x10201, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mouse);
        fake::Reset();
        ResetTouchState();
        InstalledMachine();
        RunTouch([&](HWND d) {
            for (int tick = 0; tick < 10; ++tick) fake::Tick(d, 1);  // hidden now
            fake::ClearCalls();
            size_t reads = fake::SerialReads().size();
            LONG counter = g_tickCounter;
            fake::Send(d, WM_TRAYICON, 0, c.mouse);
            EXPECT_EQ(fake::Window(d).visible, c.shows);
            if (c.shows) {
                EXPECT_THAT(fake::CallNames(), ElementsAre("ShowWindow", "SetForegroundWindow"));
                EXPECT_THAT(fake::ArgsOf("ShowWindow"), ElementsAre("dialog 114, SW_SHOW"));
                EXPECT_THAT(fake::ArgsOf("SetForegroundWindow"), ElementsAre("dialog 114"));
                EXPECT_EQ(g_tickCounter, TICK_TRAY_PRESS);
                // The next tick costs the pump one turn without a read.
                fake::Tick(d, 1);
                EXPECT_EQ(g_tickCounter, TICK_RESUME);
                EXPECT_EQ(fake::SerialReads().size(), reads);
            } else {
                EXPECT_TRUE(fake::Calls().empty());
                EXPECT_EQ(g_tickCounter, counter);
            }
            // Shown from the tray, the window stays on screen.
            for (int tick = 0; tick < 100; ++tick) fake::Tick(d, 1);
            EXPECT_EQ(fake::Window(d).visible, c.shows);
            DestroyWindow(d);
        });
        EXPECT_EQ(HandOvers(), 1u);
    }
}

TEST_F(TouchTest, ATrayPressDuringStartUpPreventsTheHandOver) {
    for (int at = 0; at < 9; ++at) {
        SCOPED_TRACE(at);
        fake::Reset();
        ResetTouchState();
        InstalledMachine();
        RunTouch([at](HWND d) {
            for (int tick = 0; tick < 100; ++tick) {
                if (tick == at) fake::Send(d, WM_TRAYICON, 0, WM_RBUTTONDOWN);
                fake::Tick(d, 1);
            }
            EXPECT_TRUE(fake::Window(d).visible);
            DestroyWindow(d);
        });
        EXPECT_EQ(HandOvers(), 0u);
    }
}

}  // namespace
