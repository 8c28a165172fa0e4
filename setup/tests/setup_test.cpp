// The setup wizard driven page by page through WinMain, as a user would:
// each page's script clicks its buttons (and ticks the installation timer);
// the registry, the drive and the call record show what the wizard did.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <set>

#include "hostfake.h"
#include "resource.h"
#include "setup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int);

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

const char kKey[] = "HKLM\\software\\corvale\\zavir";
const char kParent[] = "HKLM\\software\\corvale";
const char kShellFolders[] =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kPrograms[] = "C:\\WINDOWS\\Start Menu\\Programs";
const char kRun[] = "HKLM\\software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunServices[] = "HKLM\\software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const char kVxd[] = "C:\\WINDOWS\\SYSTEM\\ZAVIR.VXD";
const char kLoader[] = "C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE";
const int kPages[] = {IDD_WELCOME, IDD_PORT, IDD_RIGHTBUTTON, IDD_SUMMARY, IDD_INSTALL};
const int kRadios[] = {1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1040, 1041,
                       1042, 1043, 1044, 1045, 1046, 1047, 1048, 1049, 1050};
const LONG kCleanValues[kSettingCount] = {0, 0, 1024, 0, 1024, 1024, 0, 1024, 1, 1016,
                                          4, 9600, 1, 0, 2, 2, 1, 0, 0};

using Script = std::function<void(HWND)>;

Script Press(int button) {
    return [button](HWND d) { fake::Click(d, button); };
}

// The installation page: its timer's first tick installs, Reboot ends it.
Script TickAndReboot() {
    return [](HWND d) {
        EXPECT_FALSE(fake::Enabled(d, IDC_REBOOT));
        fake::Click(d, IDC_REBOOT);  // disabled: ignored
        EXPECT_TRUE(fake::Tick(d, 1));
        EXPECT_TRUE(fake::Enabled(d, IDC_REBOOT));
        EXPECT_EQ(fake::FocusId(), IDC_REBOOT);
        EXPECT_TRUE(fake::Timers().empty());
        fake::Click(d, IDC_REBOOT);
    };
}

Script Then(Script first, Script second) {
    return [first, second](HWND d) {
        first(d);
        second(d);
    };
}

// The radio buttons checked on the port page.
std::set<int> CheckedRadios(HWND d) {
    std::set<int> on;
    for (int id : kRadios)
        if (fake::Checked(d, id)) on.insert(id);
    return on;
}

class SetupTest : public ::testing::Test {
   protected:
    static void SetUpTestSuite() {
        fake::LoadResourceScript(ZAVIR_SOURCE_DIR "/setup/setup.rc",
                                 ZAVIR_SOURCE_DIR "/setup/resource.h");
    }

    void SetUp() override {
        fake::Reset();
        visits_.clear();
        seen_.clear();
        for (const char* f : {"ZAVIR.VXD", "STARTVXD.EXE", "TOUCH.EXE", "UNINSTAL.EXE",
                              "TRUEPOS.EXE", "CONFIG.EXE"})
            fake::PutFile(std::string("C:\\SETUP\\") + f, std::string("new ") + f);
        fake::RegMakeKey("HKCU\\Control Panel\\DeskTop");
        fake::RegPutString(kShellFolders, "Programs", kPrograms);
        fake::MakeDir(kPrograms);
        for (int page : kPages) {
            fake::OnDialog(page, [this, page](HWND d) {
                seen_.push_back(page);
                // Esc and the close box leave every page open.
                fake::PressEscape(d);
                fake::PressClose(d);
                EXPECT_TRUE(fake::Window(d).visible) << page;
                std::deque<Script>& queue = visits_[page];
                if (queue.empty()) return;
                Script next = queue.front();
                queue.pop_front();
                next(d);
            });
        }
    }

    void TearDown() override { EXPECT_EQ(fake::DialogsLeftOpen(), 0); }

    void On(int page, Script script) { visits_[page].push_back(script); }
    void On(int page, int button) { On(page, Press(button)); }

    // Welcome, port, right-button and summary pages passed with Next.
    void ToInstall() {
        On(IDD_WELCOME, IDC_NEXT);
        On(IDD_PORT, IDC_NEXT);
        On(IDD_RIGHTBUTTON, IDC_NEXT);
        On(IDD_SUMMARY, IDC_NEXT);
        On(IDD_INSTALL, TickAndReboot());
    }

    int Run() { return WinMain(fake::Instance(), nullptr, (LPSTR) "", SW_SHOWNORMAL); }

    void PutEarlierInstallation() {
        const LONG values[kSettingCount] = {11, 12, 900, 14, 901, 902, 17, 903, 2, 760,
                                            3, 19200, 3, 1, 5, 7, 9, 0, 1};
        for (int i = 0; i < kSettingCount; ++i)
            fake::RegPutDword(kKey, SettingName(i), (DWORD)values[i]);
        fake::PutFile(kVxd, "old driver");
        fake::PutFile(kLoader, "old loader");
    }

    std::vector<int> seen_;
    std::map<int, std::deque<Script>> visits_;
};

// ---- start-up and page flow -----------------------------------------------

TEST_F(SetupTest, RunningTouchServiceGetsOnlyTheMessageAndExitCodeOne) {
    HWND touch = fake::AddForeignWindow("Halvern Driver", "Halvern");
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    EXPECT_EQ(fake::MessageBoxes()[0].owner, nullptr);
    EXPECT_EQ(fake::MessageBoxes()[0].text,
              "Halvern Driver Already Install , Please Uninstall Before Setup !!");
    EXPECT_EQ(fake::MessageBoxes()[0].caption, "Halvern Driver");
    EXPECT_EQ(fake::MessageBoxes()[0].flags, (UINT)MB_OK);
    EXPECT_THAT(fake::ArgsOf("SetForegroundWindow"), ElementsAre("window \"Halvern\""));
    (void)touch;
    for (const char* call : {"RegCreateKeyExA", "RegSetValueExA", "CopyFileA", "CreateDirectoryA",
                             "DialogBoxParamA", "RegisterClassExA"})
        EXPECT_EQ(fake::CountOf(call), 0u) << call;
    EXPECT_TRUE(seen_.empty());
}

TEST_F(SetupTest, HiddenWindowOfItsOwnClassThenThePages) {
    On(IDD_WELCOME, IDC_CANCEL);
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(fake::RegisteredClasses().size(), 1u);
    const WNDCLASSEXA wc = fake::RegisteredClasses()[0].wc;
    EXPECT_STREQ(wc.lpszClassName, "Halvern XR Setup 1.10");
    EXPECT_EQ(wc.style, 0u);
    EXPECT_EQ(wc.hbrBackground, (HBRUSH)GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(wc.hIcon, LoadIconA(fake::Instance(), MAKEINTRESOURCEA(101)));
    EXPECT_EQ(wc.hIconSm, wc.hIcon);
    ASSERT_EQ(fake::TopLevelWindows().size(), 1u);
    fake::WindowInfo w = fake::TopLevelWindows()[0];
    EXPECT_EQ(w.text, "Halvern XR Setup");
    EXPECT_FALSE(w.visible);
    EXPECT_EQ(w.x, -1000);
    EXPECT_EQ(w.height, -1000);
    EXPECT_THAT(seen_, ElementsAre(IDD_WELCOME));

    fake::Reset();
    fake::FailRegisterClass(true);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fake::CountOf("DialogBoxParamA"), 0u);
}

// Every row of the page sequence, with what each page does on the way out.
struct FlowCase {
    const char* name;
    std::vector<std::pair<int, int>> presses;  // page, button
    std::vector<int> pages;
    bool keyLeft;
};

TEST_F(SetupTest, PageSequenceFollowsTheResultOfEachPage) {
    const FlowCase cases[] = {
        {"welcome cancel", {{121, 1062}}, {121}, false},
        {"back to welcome, cancel undoes nothing",
         {{121, 1061}, {122, 1060}, {121, 1062}}, {121, 122, 121}, true},
        {"port cancel after right-button back",
         {{121, 1061}, {122, 1061}, {124, 1060}, {122, 1062}}, {121, 122, 124, 122}, false},
        {"right-button cancel after summary back",
         {{121, 1061}, {122, 1061}, {124, 1061}, {114, 1060}, {124, 1062}},
         {121, 122, 124, 114, 124}, false},
        {"summary cancel",
         {{121, 1061}, {122, 1061}, {124, 1061}, {114, 1062}}, {121, 122, 124, 114}, false},
    };
    for (const FlowCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (const auto& p : c.presses) On(p.first, p.second);
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(seen_, c.pages);
        EXPECT_EQ(fake::RegKeyExists(kKey), c.keyLeft);
        EXPECT_EQ(fake::FileExists(kVxd), c.keyLeft);
        EXPECT_TRUE(fake::ExitWindowsCalls().empty());
        EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    }
}

TEST_F(SetupTest, SummaryNextInstallsAndRebootRestartsWindowsAfterThePageCloses) {
    ToInstall();
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(seen_, ElementsAre(121, 122, 124, 114, 125));
    EXPECT_EQ(PageResult, kResultInstall);
    EXPECT_THAT(fake::ExitWindowsCalls(), ElementsAre((UINT)EWX_REBOOT));
    EXPECT_THAT(fake::ArgsOf("ExitWindowsEx"), ElementsAre("0x2, 0"));
    std::vector<std::string> names = fake::CallNames();
    auto exitCall = std::find(names.begin(), names.end(), "ExitWindowsEx");
    ASSERT_NE(exitCall, names.end());
    EXPECT_EQ(*(exitCall - 1), "EndDialog");
}

TEST_F(SetupTest, BackToWelcomeReloadsAndDropsUnsavedChoices) {
    On(IDD_WELCOME, IDC_NEXT);
    On(IDD_PORT, Then(Press(IDC_COM3), Press(IDC_BACK)));
    On(IDD_WELCOME, IDC_NEXT);
    On(IDD_PORT, [](HWND d) {
        EXPECT_THAT(CheckedRadios(d), ElementsAre(IDC_COM1, IDC_BAUD9600, IDC_IRQ4));
        fake::Click(d, IDC_NEXT);
    });
    On(IDD_RIGHTBUTTON, Then(Press(IDC_RIGHTBUTTON), Press(IDC_BACK)));
    On(IDD_PORT, IDC_BACK);
    On(IDD_WELCOME, IDC_NEXT);
    On(IDD_PORT, IDC_NEXT);
    On(IDD_RIGHTBUTTON, [](HWND d) {
        EXPECT_EQ(fake::Checked(d, IDC_RIGHTBUTTON), 0);
        fake::Click(d, IDC_RIGHTBUTTON);
        EXPECT_EQ(fake::Checked(d, IDC_RIGHTBUTTON), 1);
        EXPECT_EQ(Settings.RightButton, 1);
        fake::Click(d, IDC_NEXT);
    });
    On(IDD_SUMMARY, [](HWND d) {
        EXPECT_EQ(fake::Text(d, IDC_PORTLINE), "COM Port Setting : COM 1, IRQ 4");
        EXPECT_EQ(fake::Text(d, IDC_BUTTONLINE), "Right Button Setting :  ON");
        fake::Click(d, IDC_BACK);
    });
    On(IDD_RIGHTBUTTON, [](HWND d) {
        EXPECT_EQ(fake::Checked(d, IDC_RIGHTBUTTON), 1);
        fake::Click(d, IDC_RIGHTBUTTON);  // twice in all: as it was
        fake::Click(d, IDC_NEXT);
    });
    On(IDD_SUMMARY, [](HWND d) {
        EXPECT_EQ(fake::Text(d, IDC_BUTTONLINE), "Right Button Setting : OFF");
        fake::Click(d, IDC_CANCEL);
    });
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(seen_.size(), 12u);
    // The key made on the first pass is still this run's to remove.
    EXPECT_FALSE(fake::RegKeyExists(kKey));
    EXPECT_FALSE(fake::RegKeyExists(kParent));
    EXPECT_FALSE(fake::FileExists(kVxd));
    EXPECT_FALSE(fake::FileExists(kLoader));
}

TEST_F(SetupTest, SummaryLinesNameThePortAndOnlyTheIrqsOnOffer) {
    struct Case {
        LONG port, irq, button;
        const char* portLine;
        const char* buttonLine;
    } cases[] = {
        {1, 4, 0, "COM Port Setting : COM 1, IRQ 4", "Right Button Setting : OFF"},
        {1, 6, 1, "COM Port Setting : COM 1", "Right Button Setting :  ON"},
        {1, 8, 2, "COM Port Setting : COM 1", "Right Button Setting : OFF"},
        {2, 3, 0, "COM Port Setting : COM 2, IRQ 3", "Right Button Setting : OFF"},
        {4, 15, 0, "COM Port Setting : COM 4, IRQ 15", "Right Button Setting : OFF"},
        {7, 4, 0, "COM Port Setting :      ", "Right Button Setting : OFF"},
        {-2147483647 - 1, 10, 0, "COM Port Setting :      ", "Right Button Setting : OFF"},
    };
    for (const Case& c : cases) {
        char line[64];
        FormatPortLine(line, c.port, c.irq);
        EXPECT_STREQ(line, c.portLine) << c.port << " " << c.irq;
        FormatButtonLine(line, c.button);
        EXPECT_STREQ(line, c.buttonLine);
    }
}

// ---- the port page --------------------------------------------------------

TEST_F(SetupTest, PortTemplateGroupsOnlyAtItsStaticTexts) {
    On(IDD_WELCOME, IDC_NEXT);
    On(IDD_PORT, [](HWND d) {
        std::vector<int> ids, groups;
        std::vector<fake::WindowInfo> controls = fake::Controls(d);
        for (size_t i = 0; i < controls.size(); ++i) {
            ids.push_back(controls[i].id);
            if (controls[i].style & WS_GROUP) groups.push_back((int)i + 1);
            if (controls[i].id >= 1003 && controls[i].id <= 1050 &&
                controls[i].className == "Button") {
                EXPECT_EQ(controls[i].style & (BS_TYPEMASK | WS_TABSTOP),
                          (DWORD)BS_AUTORADIOBUTTON);
            }
        }
        EXPECT_THAT(ids, ElementsAreArray({1061, 1062, 1060, 1003, 1004, 1005, 1006, 1040, 1041,
                                           1043, 1042, -1,   -1,   -1,   -1,   -1,   -1,   -1,
                                           -1,   -1,   -1,   -1,   1007, 1008, 1009, 1010, 1044,
                                           1045, 1046, 1047, 1048, 1049, 1050}));
        EXPECT_THAT(groups, ElementsAre(15, 17, 19, 20, 21));
        fake::Click(d, IDC_BACK);
    });
    On(IDD_WELCOME, IDC_CANCEL);
    Run();
}

TEST_F(SetupTest, PortIrqAndBaudClicksKeepOneMarkPerChoice) {
    struct Case {
        const char* name;
        std::vector<int> clicks;
        LONG port, base, irq, baud;
    } cases[] = {
        {"COM1, IRQ 10, COM2", {IDC_COM1, IDC_IRQ10, IDC_COM2}, 2, 760, 3, 9600},
        {"COM2, IRQ 10, COM2", {IDC_COM2, IDC_IRQ10, IDC_COM2}, 2, 760, 10, 9600},
        {"COM3", {IDC_COM3}, 3, 1000, 7, 9600},
        {"COM4", {IDC_COM4}, 4, 744, 5, 9600},
        {"19200 only", {IDC_BAUD19200}, 1, 1016, 4, 19200},
        {"current port again", {IDC_COM1, IDC_COM1}, 1, 1016, 4, 9600},
        {"same IRQ twice, then baud",
         {IDC_IRQ3, IDC_IRQ3, IDC_BAUD1200, IDC_IRQ15, IDC_BAUD2400, IDC_BAUD2400},
         1, 1016, 15, 2400},
        {"IRQ 9 then IRQ 5 then COM4", {IDC_IRQ9, IDC_IRQ5, IDC_COM4}, 4, 744, 5, 9600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        On(IDD_WELCOME, IDC_NEXT);
        On(IDD_PORT, [&c](HWND d) {
            for (int id : c.clicks) {
                fake::Click(d, id);
                // After every click exactly the buttons of the three choices.
                std::set<int> expected;
                for (int r : kRadios) {
                    const fake::WindowInfo w = fake::Window(fake::Control(d, r));
                    std::string t = w.text;
                    LONG v = atol(t.c_str() + (t.rfind("COM", 0) == 0 ? 3 : 0));
                    bool port = r <= 1006, baud = r >= 1007 && r <= 1010;
                    if ((port && v == Settings.ComPort) || (baud && v == Settings.ComBaud) ||
                        (!port && !baud && v == Settings.ComIrq))
                        expected.insert(r);
                }
                EXPECT_EQ(CheckedRadios(d), expected) << "after " << id;
                EXPECT_EQ(expected.size(), 3u);
            }
            EXPECT_EQ(Settings.ComPort, c.port);
            EXPECT_EQ(Settings.ComBase, c.base);
            EXPECT_EQ(Settings.ComIrq, c.irq);
            EXPECT_EQ(Settings.ComBaud, c.baud);
            EXPECT_EQ(CheckedPort, c.port);
            EXPECT_EQ(CheckedIrq, c.irq);
            EXPECT_EQ(CheckedBaud, c.baud);
            fake::Click(d, IDC_NEXT);
        });
        On(IDD_RIGHTBUTTON, IDC_NEXT);
        On(IDD_SUMMARY, IDC_NEXT);
        On(IDD_INSTALL, TickAndReboot());
        Run();
        EXPECT_EQ(fake::RegDword(kKey, "ComPort"), (DWORD)c.port);
        EXPECT_EQ(fake::RegDword(kKey, "ComBase"), (DWORD)c.base);
        EXPECT_EQ(fake::RegDword(kKey, "ComIrq"), (DWORD)c.irq);
        EXPECT_EQ(fake::RegDword(kKey, "ComBaud"), (DWORD)c.baud);
    }
}

TEST_F(SetupTest, PortsOfferedAreThoseTheSystemLists) {
    const char* serial = "HKLM\\hardware\\devicemap\\serialcomm";
    struct Case {
        const char* name;
        std::vector<const char*> values;  // nullptr: no key at all
        bool visible[4];
    } cases[] = {
        {"COM1 and COM2", {"COM1", "COM2"}, {true, true, false, false}},
        {"only COM5", {"COM5"}, {true, true, true, true}},
        {"no key", {nullptr}, {true, true, true, true}},
        {"COM3 alone hides the current COM1", {"COM3"}, {false, false, true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (const char* v : c.values)
            if (v) fake::RegPutString(serial, v, std::string("\\Device\\Serial") + v);
        On(IDD_WELCOME, IDC_NEXT);
        On(IDD_PORT, [&c](HWND d) {
            for (int i = 0; i < 4; ++i) EXPECT_EQ(fake::Visible(d, IDC_COM1 + i), c.visible[i]);
            EXPECT_EQ(fake::Checked(d, IDC_COM1), 1);  // hidden or not, still the port
            fake::Click(d, IDC_CANCEL);
        });
        Run();
        EXPECT_THAT(fake::ArgsOf("RegOpenKeyExA"),
                    ::testing::Contains("HKLM\\hardware\\devicemap\\serialcomm, KEY_READ"));
    }
}

// ---- settings and rollback ------------------------------------------------

TEST_F(SetupTest, CleanFirstRunWritesTheNineteenDefaultsAndTheSystemFiles) {
    On(IDD_WELCOME, IDC_NEXT);
    On(IDD_PORT, [](HWND d) {
        for (int i = 0; i < kSettingCount; ++i)
            EXPECT_EQ(fake::RegDword(kKey, SettingName(i)), (DWORD)kCleanValues[i])
                << SettingName(i);
        EXPECT_EQ(fake::RegValueNames(kKey).size(), 19u);
        EXPECT_EQ(fake::FileContents(kVxd), "new ZAVIR.VXD");
        EXPECT_EQ(fake::FileContents(kLoader), "new STARTVXD.EXE");
        fake::Click(d, IDC_BACK);
    });
    On(IDD_WELCOME, IDC_CANCEL);
    Run();
    EXPECT_THAT(fake::ArgsOf("CopyFileA"),
                ElementsAre("\"ZAVIR.VXD\", \"C:\\WINDOWS\\SYSTEM\\ZAVIR.VXD\", 0",
                            "\"STARTVXD.EXE\", \"C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE\", 0"));
}

TEST_F(SetupTest, RunOverEarlierInstallationKeepsCalibrationAndRewritesConstants) {
    PutEarlierInstallation();
    HKEY key;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\corvale\\zavir", 0, KEY_ALL_ACCESS, &key);
    RegDeleteValueA(key, "ComBaud");
    RegDeleteValueA(key, "RightUpX");
    RegCloseKey(key);
    On(IDD_WELCOME, IDC_NEXT);
    On(IDD_PORT, [](HWND d) {
        EXPECT_THAT(CheckedRadios(d), ElementsAre(IDC_COM2, IDC_BAUD9600, IDC_IRQ3));
        fake::Click(d, IDC_NEXT);
    });
    On(IDD_RIGHTBUTTON, [](HWND d) {
        EXPECT_EQ(fake::Checked(d, IDC_RIGHTBUTTON), 1);
        fake::Click(d, IDC_NEXT);
    });
    On(IDD_SUMMARY, IDC_NEXT);
    On(IDD_INSTALL, TickAndReboot());
    Run();
    const LONG expected[kSettingCount] = {11, 12, 1024, 14, 901, 902, 17, 903, 2, 760,
                                          3, 9600, 3, 1, 2, 2, 1, 0, 1};
    for (int i = 0; i < kSettingCount; ++i) {
        EXPECT_EQ(fake::RegType(kKey, SettingName(i)), (DWORD)REG_DWORD) << SettingName(i);
        EXPECT_EQ(fake::RegDword(kKey, SettingName(i)), (DWORD)expected[i]) << SettingName(i);
    }
}

// Cancel takes back only what this run put in place.
TEST_F(SetupTest, CancelRemovesOnlyWhatThisRunCreated) {
    struct Case {
        const char* name;
        bool keyBefore, filesBefore, siblingKey;
        int cancelPage;
    } cases[] = {
        {"clean system, port page", false, false, false, IDD_PORT},
        {"earlier installation, right-button page", true, true, false, IDD_RIGHTBUTTON},
        {"earlier installation, summary page", true, true, false, IDD_SUMMARY},
        {"settings only from before", true, false, false, IDD_PORT},
        {"files only from before", false, true, false, IDD_PORT},
        {"another key of the maker stays", false, false, true, IDD_SUMMARY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.keyBefore) PutEarlierInstallation();
        if (!c.filesBefore) {
            DeleteFileA(kVxd);
            DeleteFileA(kLoader);
        } else if (!c.keyBefore) {
            fake::PutFile(kVxd, "old driver");
            fake::PutFile(kLoader, "old loader");
        }
        if (c.siblingKey) fake::RegMakeKey("HKLM\\software\\corvale\\other");
        std::vector<uint8_t> before = fake::RegData(kKey, "LeftUpX");
        On(IDD_WELCOME, IDC_NEXT);
        for (int page : {IDD_PORT, IDD_RIGHTBUTTON, IDD_SUMMARY}) {
            if (page == c.cancelPage) {
                On(page, IDC_CANCEL);
                break;
            }
            On(page, IDC_NEXT);
        }
        Run();
        EXPECT_EQ(fake::RegKeyExists(kKey), c.keyBefore);
        EXPECT_EQ(fake::RegKeyExists(kParent), c.keyBefore || c.siblingKey);
        EXPECT_EQ(fake::FileExists(kVxd), c.filesBefore);
        EXPECT_EQ(fake::FileExists(kLoader), c.filesBefore);
        if (c.keyBefore) {
            EXPECT_EQ(fake::RegValueNames(kKey).size(), 19u);
            EXPECT_EQ(fake::RegData(kKey, "LeftUpX"), before);
            EXPECT_EQ(fake::RegDword(kKey, "BB_Len"), 5u);  // nothing saved before Cancel
        }
    }
}

// ---- the installation page ------------------------------------------------

TEST_F(SetupTest, InstallationWritesEntriesThenCopiesInOrder) {
    ToInstall();
    Run();
    auto text = [](const char* key, const char* value) {
        EXPECT_EQ(fake::RegType(key, value), (DWORD)REG_SZ) << value;
        std::vector<uint8_t> data = fake::RegData(key, value);
        return std::string(data.begin(), data.end());
    };
    using namespace std::string_literals;
    EXPECT_EQ(text("HKCU\\Control Panel\\DeskTop", "DoubleClickHeight"), "40\0"s);
    EXPECT_EQ(text("HKCU\\Control Panel\\DeskTop", "DoubleClickWidth"), "40\0"s);
    EXPECT_EQ(text("HKCU\\Control Panel\\Mouse", "DoubleClickSpeed"), "500\0"s);
    EXPECT_EQ(text(kRun, "Zavir"), "C:\\WINDOWS\\Start Menu\\Programs\\ZAVIR\\TOUCH.EXE\0"s);
    EXPECT_EQ(text(kRunServices, "Zavir"), "C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE\0"s);
    EXPECT_STREQ(ProgramsFolder, kPrograms);
    for (const char* f : {"TOUCH.EXE", "UNINSTAL.EXE", "TRUEPOS.EXE", "CONFIG.EXE"})
        EXPECT_EQ(fake::FileContents(std::string(kPrograms) + "\\ZAVIR\\" + f),
                  std::string("new ") + f);

    // The order of the work on the tick: entries, save, folder, copies.
    std::vector<std::string> work;
    bool ticking = false;
    for (const fake::Call& call : fake::Calls()) {
        if (call.name == "SetTimer") ticking = true;
        if (!ticking) continue;
        if (call.name == "RegSetValueExA")
            work.push_back(call.args.substr(call.args.find(", \"") + 3,
                                            call.args.find("\", type") - call.args.find(", \"") - 3));
        if (call.name == "CreateDirectoryA" || call.name == "CopyFileA" ||
            call.name == "KillTimer" || call.name == "EnableWindow" ||
            (call.name == "SetDlgItemTextA" && call.args.find(" 1072,") != std::string::npos))
            work.push_back(call.name + " " + call.args);
    }
    const std::string folder = "C:\\WINDOWS\\Start Menu\\Programs\\ZAVIR";
    auto copy = [&](const char* f) {
        return "CopyFileA \""s + f + "\", \"" + folder + "\\" + f + "\", 0";
    };
    auto status = [](const char* s) { return "SetDlgItemTextA dialog 125, 1072, \""s + s + "\""; };
    std::vector<std::string> expected = {
        "EnableWindow control 1044, 0", "DoubleClickHeight", "DoubleClickWidth",
        "DoubleClickSpeed", "Zavir", "Zavir"};
    for (int i = 0; i < kSettingCount; ++i) expected.push_back(SettingName(i));
    expected.push_back("CreateDirectoryA \"" + folder + "\", sa=NULL");
    for (const char* f : {"TOUCH.EXE", "UNINSTAL.EXE", "TRUEPOS.EXE", "CONFIG.EXE"}) {
        expected.push_back(status(("Now Write "s + f).c_str()));
        expected.push_back(copy(f));
    }
    expected.push_back(status("Installation Driver OK !!"));
    expected.push_back("EnableWindow control 1044, 1");
    expected.push_back("KillTimer dialog 125, 1");
    EXPECT_EQ(work, expected);
    EXPECT_THAT(fake::ArgsOf("SetTimer"), ElementsAre("dialog 125, 1, 200, NULL"));
    EXPECT_THAT(fake::ArgsOf("RegOpenKeyExA"),
                ::testing::Contains(std::string(kShellFolders) + ", KEY_READ"));
}

TEST_F(SetupTest, MissingDeskTopKeyAndUnreadableProgramsFolderAreSurvived) {
    RegDeleteKeyA(HKEY_CURRENT_USER, "Control Panel\\DeskTop");
    fake::RegDenyOpen(kShellFolders);
    ToInstall();
    Run();
    EXPECT_FALSE(fake::RegKeyExists("HKCU\\Control Panel\\DeskTop"));
    EXPECT_EQ(fake::RegString("HKCU\\Control Panel\\Mouse", "DoubleClickSpeed"), "500");
    EXPECT_EQ(fake::RegString(kRun, "Zavir"), "\\ZAVIR\\TOUCH.EXE");
    EXPECT_TRUE(fake::FileExists("C:\\ZAVIR\\TOUCH.EXE"));
}

// A path that does not fit its 256-character buffer is not written at all;
// the rest of the installation goes on.
TEST_F(SetupTest, OverlongPathsAreRefusedAndTheRestInstalls) {
    const std::string longFolder = "C:\\" + std::string(242, 'p');  // 245 characters
    const std::string longSystem = "C:\\" + std::string(247, 's');  // 250 characters
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* runValue;       // nullptr: not written
        bool runServicesWritten;
        bool systemCopies;
        std::string folder;         // where the programs land ("" for none)
    } cases[] = {
        {"long Programs folder",
         [&] { fake::RegPutString(kShellFolders, "Programs", longFolder); fake::MakeDir(longFolder); },
         nullptr, true, true, ""},
        {"Programs value longer than its buffer",
         [&] { fake::RegPutString(kShellFolders, "Programs", "C:\\" + std::string(300, 'q')); },
         "\\ZAVIR\\TOUCH.EXE", true, true, "C:\\ZAVIR"},
        {"Programs value without its terminating zero",
         [&] { fake::RegPut(kShellFolders, "Programs", REG_SZ,
                            std::vector<uint8_t>(kPrograms, kPrograms + strlen(kPrograms))); },
         "\\ZAVIR\\TOUCH.EXE", true, true, "C:\\ZAVIR"},
        {"long system directory", [&] { fake::SetSystemDir(longSystem); },
         "C:\\WINDOWS\\Start Menu\\Programs\\ZAVIR\\TOUCH.EXE", false, false,
         "C:\\WINDOWS\\Start Menu\\Programs\\ZAVIR"},
        {"system directory beyond any buffer",
         [&] { fake::SetSystemDir("C:\\" + std::string(300, 't')); },
         "C:\\WINDOWS\\Start Menu\\Programs\\ZAVIR\\TOUCH.EXE", false, false,
         "C:\\WINDOWS\\Start Menu\\Programs\\ZAVIR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange();
        std::string finalStatus;
        bool rebootEnabled = false;
        ToInstall();
        visits_[IDD_INSTALL].clear();
        On(IDD_INSTALL, [&](HWND d) {
            fake::Tick(d, 1);
            finalStatus = fake::Text(d, IDC_STATUS);
            rebootEnabled = fake::Enabled(d, IDC_REBOOT);
            fake::Click(d, IDC_REBOOT);
        });
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(finalStatus, "Installation Driver OK !!");
        EXPECT_TRUE(rebootEnabled);
        if (c.runValue) {
            EXPECT_EQ(fake::RegString(kRun, "Zavir"), c.runValue);
        } else {
            EXPECT_FALSE(fake::RegValueExists(kRun, "Zavir"));
        }
        EXPECT_EQ(fake::RegValueExists(kRunServices, "Zavir"), c.runServicesWritten);
        // Every path handed to the platform is whole, never cut short.
        size_t systemCopies = 0, programCopies = 0;
        for (const std::string& a : fake::ArgsOf("CopyFileA")) {
            EXPECT_LT(a.size(), 300u) << a;
            if (a.find("\\ZAVIR\\") != std::string::npos) ++programCopies;
            else ++systemCopies;
        }
        EXPECT_EQ(systemCopies, c.systemCopies ? 2u : 0u);
        EXPECT_EQ(programCopies, c.folder.empty() ? 0u : 4u);
        if (!c.folder.empty()) {
            EXPECT_EQ(fake::FileContents(c.folder + "\\CONFIG.EXE"), "new CONFIG.EXE");
        }
        EXPECT_EQ(fake::RegDword(kKey, "ComBaud"), 9600u);  // the settings were saved
        size_t statusTexts = 0;
        for (const std::string& a : fake::ArgsOf("SetDlgItemTextA"))
            statusTexts += a.find("dialog 125, 1072,") == 0;
        EXPECT_EQ(statusTexts, 5u);
        EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    }
}

}  // namespace
