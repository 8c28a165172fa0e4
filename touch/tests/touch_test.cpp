// The touch service: port configuration, start-up and its failures, the
// tick counter, the packet pump, the tray icon and close-down.
#include <gmock/gmock.h>

#include <functional>

#include "touch_test_util.h"

using ::testing::ElementsAre;

namespace {

const Words kRelease = {0xFE, 0xFE, 0, 0};
const HICON kIcon = (HICON)(0x70000 + IDI_TOUCH);  // the platform's handle for icon 101

int RunTouch(std::function<void(HWND)> script) {
    fake::OnDialog(IDD_STATUS, script);
    return WinMain(fake::Instance(), NULL, (LPSTR) "", SW_SHOWNORMAL);
}

int IndexOf(const std::string& name, const std::string& args = "") {
    const auto& calls = fake::Calls();
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].name == name && calls[i].args.compare(0, args.size(), args) == 0)
            return (int)i;
    return -1;
}

size_t HandOvers() {
    size_t n = 0;
    for (const fake::DeviceRequest& r : fake::DeviceRequests())
        n += r.code == kHandOverRequest && r.inSize == 12 && r.InWords()[0] == 0;
    return n;
}

TEST_F(TouchTest, PortIsConfiguredCallByCall) {
    fake::SerialPortState before = fake::SerialPort(1);
    fake::RegReadOnly(kKey);  // a standard user still reads the stored port and rate
    LoadSettingValues(&g_settings, kTouchValues);
    fake::ClearCalls();
    ASSERT_EQ(OpenSerialPort(), 0);
    std::vector<std::string> calls;
    for (const fake::Call& c : fake::Calls()) calls.push_back(c.name + " " + c.args);
    EXPECT_THAT(calls, ElementsAre("CreateFileA \"\\\\.\\COM1\", access=0x80000000, share=0, "
                                   "sa=NULL, disposition=3, flags=0x0, template=NULL",
                                   ::testing::StartsWith("GetCommState"),
                                   "SetCommState baud=19200, bits=8, parity=0, stop=0",
                                   "SetupComm 1000, 1000", "SetCommMask 0x1",
                                   ::testing::StartsWith("GetCommTimeouts"),
                                   "SetCommTimeouts 500, 250, 1, 44, 55"));
    DCB expected = before.dcb;  // fields the service does not own stay
    expected.BaudRate = 19200;
    expected.ByteSize = 8;
    expected.Parity = NOPARITY;
    expected.StopBits = ONESTOPBIT;
    expected.fAbortOnError = 0;  // else one framing error stops every read
    DCB now = fake::SerialPort(1).dcb;
    EXPECT_EQ(memcmp(&now, &expected, sizeof expected), 0);
    // Only the four rates are set; anything else leaves the port's own.
    for (LONG baud : {1200, 2400, 9600, 19200, 4800, 0, -9600, 115200}) {
        DCB dcb = before.dcb;
        ApplyLineSettings(&dcb, baud);
        bool known = baud == 1200 || baud == 2400 || baud == 9600 || baud == 19200;
        EXPECT_EQ(dcb.BaudRate, known ? (DWORD)baud : 2400u) << baud;
    }
}

// Each failure has its own code, and no failure leaves the port held.
TEST_F(TouchTest, OpenSerialPortResultCodes) {
    struct Case {
        const char* what;
        LONG comPort;
        void (*setup)();
        int result;
        size_t opens, closes;  // CreateFileA and CloseHandle calls
    } cases[] = {
        {"open", 1, [] {}, 0, 1, 0},
        {"port missing", 2, [] {}, 1, 1, 0},
        {"ComPort 0", 0, [] {}, 2, 0, 0},
        {"ComPort 8", 8, [] { fake::AddComPort(8); }, 0, 1, 0},
        {"ComPort 9", 9, [] { fake::AddComPort(9); }, 2, 0, 0},
        {"state unreadable", 1, [] { fake::FailGetCommState(1); }, 2, 1, 1},
        {"state refused", 1, [] { fake::FailSetCommState(1); }, 3, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.setup();
        g_settings.ComPort = c.comPort;
        g_settings.ComBaud = 19200;
        fake::ClearCalls();
        EXPECT_EQ(OpenSerialPort(), c.result);
        EXPECT_EQ(fake::CountOf("CreateFileA"), c.opens);
        EXPECT_EQ(fake::CountOf("CloseHandle"), c.closes);
        EXPECT_EQ(fake::SerialPort(c.comPort).open, c.result == 0);
        EXPECT_EQ(g_port != INVALID_HANDLE_VALUE, c.result == 0);
        if (g_port != INVALID_HANDLE_VALUE) CloseHandle(g_port);
    }
    char name[9];  // "\\.\COM8" and its terminator fill it exactly
    EXPECT_TRUE(ComPortDeviceName(8, name, sizeof name) && strcmp(name, "\\\\.\\COM8") == 0);
    EXPECT_FALSE(ComPortDeviceName(8, name, sizeof name - 1));
}

// A stored rate the service does not know leaves the port's own rate, and
// the service starts as usual.
TEST_F(TouchTest, StartsWithAnUnknownBaudAtThePortsOwnRate) {
    for (DWORD baud : {4800u, 0u, 115200u}) {
        SCOPED_TRACE(baud);
        SetUp();
        fake::RegPutDword(kKey, "ComBaud", baud);
        bool ran = false;
        RunTouch([&](HWND d) {
            ran = true;
            EXPECT_TRUE(fake::SerialPort(1).open);
            EXPECT_EQ(fake::SerialPort(1).dcb.BaudRate, 2400u);
            DestroyWindow(d);
        });
        EXPECT_TRUE(ran);
        EXPECT_TRUE(fake::MessageBoxes().empty());
        EXPECT_THAT(fake::ArgsOf("SetCommState"),
                    ElementsAre("baud=2400, bits=8, parity=0, stop=0"));
    }
}

TEST_F(TouchTest, StartsHandsOverOnTheTenthIdleTickAndClosesDown) {
    HWND dialog = NULL;
    EXPECT_EQ(RunTouch([&](HWND d) {
                  dialog = d;
                  EXPECT_NE(FindWindowA("Halvern Driver", "Halvern"), (HWND)NULL);
                  std::string pattern;  // per tick: H hand-over, r read, s skipped
                  for (int tick = 0; tick < 62; ++tick) {
                      size_t reads = fake::SerialReads().size(), handOvers = HandOvers();
                      fake::Tick(d, 1);
                      pattern += HandOvers() > handOvers              ? 'H'
                                 : fake::SerialReads().size() > reads ? 'r'
                                                                      : 's';
                      EXPECT_TRUE(tick > 8 || fake::Window(d).visible);
                  }
                  EXPECT_EQ(pattern, std::string(9, 'r') + "H" + std::string(40, 'r') + "s" +
                                         std::string(10, 'r') + "s");
                  EXPECT_FALSE(fake::Window(d).visible);
                  fake::PressClose(d);  // ignored, as is Escape
                  EXPECT_EQ(fake::CountOf("EndDialog"), 0u);
                  DestroyWindow(d);  // the session ends
              }),
              0);
    std::vector<std::string> closeDown = fake::CallNames();
    closeDown.erase(closeDown.begin(), closeDown.end() - 4);
    EXPECT_THAT(closeDown,
                ElementsAre("Shell_NotifyIconA", "CloseHandle", "CloseHandle", "EndDialog"));
    EXPECT_LT(IndexOf("CreateFileA", "\"\\\\.\\COM1"), IndexOf("CreateFileA", "\"\\\\.\\ZAVIR"));
    EXPECT_THAT(fake::ArgsOf("SetTimer"), ElementsAre("dialog 114, 1, 20, NULL"));
    char icon[48];  // the caption's icon is set before the tray icon is added
    snprintf(icon, sizeof icon, "dialog 114, -14, %p", (void*)kIcon);
    EXPECT_LT(IndexOf("SetTimer"), IndexOf("SetClassLongPtrA", icon));
    EXPECT_LT(IndexOf("SetClassLongPtrA"), IndexOf("Shell_NotifyIconA", "0,"));
    EXPECT_THAT(fake::ArgsOf("DialogBoxParamA"), ElementsAre("#114, owner=NULL, param=0"));
    EXPECT_THAT(fake::ArgsOf("ShowWindow"), ElementsAre("dialog 114, SW_HIDE"));
    EXPECT_THAT(fake::ArgsOf("EndDialog"), ElementsAre("dialog 114, 0"));
    EXPECT_EQ(fake::OpenDriverHandles(), 0);
    EXPECT_FALSE(fake::SerialPort(1).open);
    EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    ASSERT_EQ(fake::TrayCalls().size(), 2u);
    for (const fake::TrayCall& t : fake::TrayCalls()) {
        EXPECT_EQ(t.cbSize, sizeof(void*) == 4 ? 88u : 104u);  // the first shell's record
        EXPECT_EQ(t.hwnd, dialog);
        EXPECT_EQ(t.id, 0u);
        EXPECT_EQ(t.flags, 7u);
        EXPECT_EQ(t.callback, 0x8064u);
        EXPECT_EQ(t.icon, kIcon);
        EXPECT_EQ(t.tip, "Halvern XR");
    }
    EXPECT_EQ(fake::TrayCalls()[0].message, (DWORD)NIM_ADD);
    EXPECT_EQ(fake::TrayCalls()[1].message, (DWORD)NIM_DELETE);
}

TEST_F(TouchTest, StartUpFailuresTellTheUserAndEndEverything) {
    struct Case {
        const char* what;
        std::function<void()> setup;
        const char* text;
        const char* caption;
    } cases[] = {
        {"ComPort 0", [] { fake::RegPutDword(kKey, "ComPort", 0); }, "Cannot Open COM Port",
         "Open Driver Message"},
        {"ComPort 9",
         [] {
             fake::RegPutDword(kKey, "ComPort", 9);
             fake::AddComPort(9);
         },
         "Cannot Open COM Port", "Open Driver Message"},
        {"no settings key", [] { RegDeleteKeyA(HKEY_LOCAL_MACHINE, "software\\corvale\\zavir"); },
         "Cannot Open COM Port", "Open Driver Message"},
        {"port held by a second copy",
         [] { CreateFileA("\\\\.\\COM1", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL); },
         "Cannot Open COM Port", "Open Driver Message"},
        {"port state refused", [] { fake::FailSetCommState(1); }, "Cannot Open COM Port",
         "Open Driver Message"},
        {"no driver", [] { fake::SetDriverPresent(false); }, "Cannot Load ZAVIR.VXD",
         "Load VXD Message"},
        {"Windows 98 without its driver: no stand-in is tried",
         [] {
             fake::SetVersion(0xC0000A04);
             fake::SetDriverPresent(false);
             fake::SetStandInPresent(true);
         },
         "Cannot Load ZAVIR.VXD", "Load VXD Message"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.setup();
        bool held = fake::SerialPort(1).open;
        fake::ClearCalls();
        EXPECT_EQ(RunTouch([](HWND) { ADD_FAILURE() << "dialog ran"; }), 0);
        ASSERT_EQ(fake::MessageBoxes().size(), 1u);
        const fake::MessageBoxInfo& box = fake::MessageBoxes()[0];
        EXPECT_EQ(box.text, c.text);
        EXPECT_EQ(box.caption, c.caption);
        EXPECT_EQ(box.flags, (UINT)MB_ICONEXCLAMATION);
        EXPECT_EQ(box.owner, fake::DialogsOf(IDD_STATUS).at(0));
        EXPECT_EQ(fake::ArgsOf("EndDialog").at(0), "dialog 114, -1");
        EXPECT_THAT(fake::ArgsOf("SendMessageA"), ElementsAre("window \"Halvern\", 0x10, 0, 0"));
        EXPECT_LT(IndexOf("MessageBoxA"), IndexOf("EndDialog"));
        EXPECT_LT(IndexOf("CloseHandle"), IndexOf("EndDialog"));  // port closed first
        EXPECT_EQ(FindWindowA("Halvern Driver", "Halvern"), (HWND)NULL);
        EXPECT_EQ(fake::SerialPort(1).open, held);  // ours closed, another's kept
        EXPECT_EQ(fake::OpenDriverHandles(), 0);
        EXPECT_EQ(fake::CountOf("SetTimer"), 0u);
        EXPECT_EQ(fake::DeviceRequests().size(), 0u);
    }
}

// Without the driver, the stand-in may take a while to serve (its loader
// starting, or every instance busy): the status window shows meanwhile,
// and the service starts once the pipe opens, or says it can't.
TEST_F(TouchTest, WaitsForTheStandInWithItsWindowShown) {
    const char kLoader[] = "C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE";
    for (long servesAfter : {700L, -1L}) {
        SCOPED_TRACE(servesAfter);
        SetUp();
        fake::SetDriverPresent(false);
        fake::PutFile(kLoader, "MZ");
        fake::SetProgram(kLoader, {servesAfter, -1});
        UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
        RunTouch([&](HWND d) {
            EXPECT_TRUE(fake::Window(d).visible);
            EXPECT_EQ(fake::Now(), 0u);
            fake::Send(d, taskbarCreated, 0, 0);  // no icon yet to show again
            EXPECT_TRUE(fake::TrayCalls().empty());
            int ticks = 0;
            while (fake::LiveDialog(IDD_STATUS) && fake::Tick(d, 2) && ticks < 100) {
                fake::PassTime(100);
                ++ticks;
            }
            EXPECT_EQ(ticks, servesAfter > 0 ? 8 : 51);  // the last one at 700 ms or 5 s
            if (servesAfter < 0) return;
            EXPECT_THAT(fake::ArgsOf("SetTimer"),
                        ElementsAre("dialog 114, 2, 100, NULL", "dialog 114, 1, 20, NULL"));
            EXPECT_THAT(fake::ArgsOf("KillTimer"), ElementsAre("dialog 114, 2"));
            fake::Send(d, taskbarCreated, 0, 0);  // Explorer restarted: the icon again
            DestroyWindow(d);
        });
        EXPECT_EQ(fake::MessageBoxes().size(), servesAfter > 0 ? 0u : 1u);
        // Add, add again, delete; the window's end deletes the icon either way.
        EXPECT_EQ(fake::TrayCalls().size(), servesAfter > 0 ? 3u : 1u);
        EXPECT_EQ(fake::OpenDriverHandles(), 0);
        EXPECT_EQ(fake::OpenProcessHandles(), 0);
        EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    }
}

TEST_F(TouchTest, TheMarkerWindowBlocksStartUpWithExitCodeOne) {
    fake::AddForeignWindow("Halvern Driver Load", "Halvern Load");
    EXPECT_EQ(RunTouch(nullptr), 1);
    EXPECT_THAT(fake::ArgsOf("SetForegroundWindow"), ElementsAre("window \"Halvern Load\""));
    EXPECT_THAT(
        fake::ArgsOf("MessageBoxA"),
        ElementsAre("NULL, \"Halvern XR Driver Already Load ......\", \"Halvern XR\", 0x0"));
    EXPECT_TRUE(fake::RegisteredClasses().empty());
    fake::Reset();
    fake::FailRegisterClass(true);  // no class: exit 0, nothing shown
    EXPECT_EQ(RunTouch(nullptr), 0);
    EXPECT_TRUE(fake::MessageBoxes().empty());
    EXPECT_TRUE(fake::DialogsOf(IDD_STATUS).empty());
}

TEST_F(TouchTest, APacketOrTrayPressInTheFirstNineTicksCancelsTheHandOver) {
    for (int tray = 0; tray < 2; ++tray) {
        for (int at = 0; at < 9; ++at) {
            SCOPED_TRACE(::testing::Message() << (tray ? "tray press" : "packet") << " at " << at);
            SetUp();
            RunTouch([&](HWND d) {
                for (int tick = 0; tick < 80; ++tick) {
                    if (tick == at && tray) fake::Send(d, WM_TRAYICON, 0, WM_RBUTTONDOWN);
                    if (tick == at && !tray) Feed({0xFF, 1, 2, 3, 4});
                    fake::Tick(d, 1);
                }
                EXPECT_TRUE(fake::Window(d).visible);
                DestroyWindow(d);
            });
            EXPECT_EQ(HandOvers(), 0u);
            EXPECT_EQ(fake::CountOf("ShowWindow"), (size_t)tray);
        }
    }
}

TEST_F(TouchTest, OnlyButtonPressesOnTheTrayIconShowTheWindow) {
    for (LPARAM mouse : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP, WM_RBUTTONUP,
                         WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK}) {
        SCOPED_TRACE(mouse);
        SetUp();
        bool press = mouse == WM_LBUTTONDOWN || mouse == WM_RBUTTONDOWN;
        RunTouch([&](HWND d) {
            for (int tick = 0; tick < 10; ++tick) fake::Tick(d, 1);  // hidden
            fake::ClearCalls();
            fake::Send(d, WM_TRAYICON, 0, mouse);
            fake::Tick(d, 1);  // a press costs the pump this tick
            EXPECT_EQ(fake::CountOf("ReadFile"), press ? 0u : 1u);
            for (int tick = 0; tick < 60; ++tick) fake::Tick(d, 1);
            EXPECT_EQ(fake::Window(d).visible, press);  // and stays shown
            DestroyWindow(d);
        });
        EXPECT_EQ(fake::CallNames()[0] + fake::CallNames()[1],
                  press ? "ShowWindowSetForegroundWindow" : "ReadFileReadFile");
        EXPECT_EQ(fake::CountOf("ShowWindow"), press ? 1u : 0u);
        EXPECT_EQ(HandOvers(), 1u);
    }
}

// A press while the window is still shown at start-up does what a press
// on the hidden window does.
TEST_F(TouchTest, ATrayPressShowsAndRaisesTheWindowWhetherShownOrHidden) {
    for (int ticks : {3, 12}) {
        for (LPARAM button : {WM_LBUTTONDOWN, WM_RBUTTONDOWN}) {
            SCOPED_TRACE(::testing::Message() << "after " << ticks << " ticks, " << button);
            SetUp();
            RunTouch([&](HWND d) {
                for (int tick = 0; tick < ticks; ++tick) fake::Tick(d, 1);
                EXPECT_EQ(fake::Window(d).visible, ticks < 10);
                fake::ClearCalls();
                fake::Send(d, WM_TRAYICON, 0, button);
                EXPECT_THAT(fake::CallNames(), ElementsAre("ShowWindow", "SetForegroundWindow"));
                EXPECT_THAT(fake::ArgsOf("ShowWindow"), ElementsAre("dialog 114, SW_SHOW"));
                EXPECT_THAT(fake::ArgsOf("SetForegroundWindow"), ElementsAre("dialog 114"));
                EXPECT_TRUE(fake::Window(d).visible);
                EXPECT_EQ(g_tickCounter, TICK_TRAY_PRESS);
                DestroyWindow(d);
            });
        }
    }
}

// One tick's pump over a line: what reaches the driver, and how many line
// events are left for the next tick.
TEST_F(TouchTest, PumpForwardsWholePacketsOfOneTick) {
    struct Case {
        const char* what;
        std::vector<int> line;
        std::vector<Words> records;
        size_t left;
    } cases[] = {
        {"idle", {}, {}, 0},
        {"touch", {0xFF, 1, 2, 3, 4}, {{1, 2, 3, 4}}, 0},
        {"release twice", {0xFF, 0xFE, 0xFE}, {kRelease, kRelease}, 0},
        {"FE x is a touch", {0xFF, 0xFE, 5, 0xFE, 0xFE}, {{0xFE, 5, 0xFE, 0xFE}}, 0},
        {"drained in one tick",
         {0xFF, 1, 2, 3, 4, 0xFF, 0xFE, 0xFE, 0xFF, 0xFF, 0, 0x80, 7},
         {{1, 2, 3, 4}, kRelease, kRelease, {0xFF, 0, 0x80, 7}},
         0},
        {"stray first", {0x12, 0xFF, 1, 2, 3, 4}, {}, 5},
        {"stray after", {0xFF, 1, 2, 3, 4, 0, 0xFF, 5, 6, 7, 8}, {{1, 2, 3, 4}}, 5},
        {"gap ends", {0xFF, 1, 2, 3, 4, kGap, 0xFF, 5, 6, 7, 8}, {{1, 2, 3, 4}}, 5},
        {"failed read", {kError, 0xFF, 1, 2, 3, 4}, {}, 5},
        {"cut after 1", {0xFF, 9, kGap, 0xFF, 1, 2, 3, 4}, {{1, 2, 3, 4}}, 0},
        {"cut after 3", {0xFF, 9, 9, 9, kGap, 0xFF, 1, 2, 3, 4}, {{1, 2, 3, 4}}, 0},
        {"release cut", {0xFF, 0xFE, kGap}, {}, 0},
        {"error in packet", {0xFF, 9, kError, 0xFF, 1, 2, 3, 4}, {}, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        OpenHandles();
        Feed(c.line);
        LONG counter = 7;
        int packets = PumpPackets(g_port, &g_driver, &counter);
        EXPECT_EQ(Forwarded(), c.records);
        EXPECT_EQ(fake::DeviceRequests().size(), c.records.size());
        EXPECT_EQ(counter, packets > 0 ? TICK_RESUME : 7);
        EXPECT_EQ(fake::SerialPort(1).pending, c.left);
        CloseHandle(g_port);
        CloseZavirDriver(&g_driver);
    }
}

}  // namespace
