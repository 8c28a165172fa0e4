// The setup wizard driven through WinMain as a user would: each page's
// script clicks its buttons (and ticks the installation timer); the
// registry, the drive and the call record show what the wizard did.
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

using ::testing::Contains;
using ::testing::ElementsAre;
using namespace std::string_literals;

namespace {

const char kKey[] = "HKLM\\software\\corvale\\zavir";
const char kParent[] = "HKLM\\software\\corvale";
const char kShell[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kPrograms[] = "C:\\WINDOWS\\Start Menu\\Programs";
const char kRun[] = "HKLM\\software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunServices[] = "HKLM\\software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const char kVxd[] = "C:\\WINDOWS\\SYSTEM\\ZAVIR.VXD";
const char kLoader[] = "C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE";
const char* const kFiles[] = {"TOUCH.EXE", "UNINSTAL.EXE", "TRUEPOS.EXE", "CONFIG.EXE"};

using Script = std::function<void(HWND)>;
Script Press(int button) { return [button](HWND d) { fake::Click(d, button); }; }

// The radio buttons checked on the port page.
std::set<int> Marks(HWND d) {
    std::set<int> on;
    for (int id : {1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1040, 1041, 1042, 1043, 1044,
                   1045, 1046, 1047, 1048, 1049, 1050})
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
            fake::PutFile("C:\\SETUP\\"s + f, "new "s + f);
        fake::RegMakeKey("HKCU\\Control Panel\\DeskTop");
        fake::RegPutString(kShell, "Programs", kPrograms);
        fake::MakeDir(kPrograms);
        for (int page : {IDD_WELCOME, IDD_PORT, IDD_RIGHTBUTTON, IDD_SUMMARY, IDD_INSTALL}) {
            fake::OnDialog(page, [this, page](HWND d) {
                seen_.push_back(page);
                fake::PressEscape(d);  // Esc and the close box leave every page open
                fake::PressClose(d);
                EXPECT_TRUE(fake::Window(d).visible) << page;
                if (visits_[page].empty()) return;
                Script next = visits_[page].front();
                visits_[page].pop_front();
                next(d);
            });
        }
    }
    void TearDown() override { EXPECT_EQ(fake::DialogsLeftOpen(), leftOpen_); }

    void On(int page, Script script) { visits_[page].push_back(script); }
    void On(int page, int button) { On(page, Press(button)); }
    // Next on every page, the timer's tick and Reboot; `install` replaces
    // the installation page's script.
    void Through(Script port = Press(IDC_NEXT), Script install = nullptr) {
        On(IDD_WELCOME, IDC_NEXT);
        On(IDD_PORT, port);
        On(IDD_RIGHTBUTTON, IDC_NEXT);
        On(IDD_SUMMARY, IDC_NEXT);
        On(IDD_INSTALL, install ? install : [](HWND d) {
            EXPECT_FALSE(fake::Enabled(d, IDC_REBOOT));
            EXPECT_TRUE(fake::Tick(d, 1));
            EXPECT_TRUE(fake::Enabled(d, IDC_REBOOT));
            EXPECT_EQ(fake::FocusId(), IDC_REBOOT);
            fake::Click(d, IDC_REBOOT);
        });
    }
    int Run() { return WinMain(fake::Instance(), nullptr, (LPSTR) "", SW_SHOWNORMAL); }

    void PutEarlierInstallation() {
        const LONG values[] = {11, 12, 900, 14, 901, 902, 17, 903, 2, 760,
                               3,  19200, 3, 1, 5, 7, 9, 0, 1};
        for (int i = 0; i < kSettingCount; ++i) fake::RegPutDword(kKey, SettingName(i), values[i]);
        fake::PutFile(kVxd, "old driver");
        fake::PutFile(kLoader, "old loader");
    }

    std::vector<int> seen_;
    std::map<int, std::deque<Script>> visits_;
    int leftOpen_ = 0;
};

TEST_F(SetupTest, RunningTouchServiceGetsOnlyTheMessageAndExitCodeOne) {
    fake::AddForeignWindow("Halvern Driver", "Halvern");
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    fake::MessageBoxInfo box = fake::MessageBoxes()[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text, "Halvern Driver Already Install , Please Uninstall Before Setup !!");
    EXPECT_EQ(box.caption, "Halvern Driver");
    EXPECT_EQ(box.flags, (UINT)MB_OK);
    EXPECT_THAT(fake::ArgsOf("SetForegroundWindow"), ElementsAre("window \"Halvern\""));
    for (const char* call : {"RegCreateKeyExA", "RegSetValueExA", "CopyFileA", "DialogBoxParamA"})
        EXPECT_EQ(fake::CountOf(call), 0u) << call;
}

TEST_F(SetupTest, AClassThatCannotBeRegisteredEndsWithZeroAndNoPage) {
    fake::FailRegisterClass(true);
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(fake::MessageBoxes().empty());
    for (const char* call : {"RegCreateKeyExA", "CopyFileA", "DialogBoxParamA"})
        EXPECT_EQ(fake::CountOf(call), 0u) << call;
}

TEST_F(SetupTest, PageSequenceFollowsEachPagesResult) {
    struct Case {
        std::vector<std::pair<int, int>> presses;  // page, button
        bool left;                                 // the key and files stay
    } cases[] = {
        {{{121, 1062}}, false},
        {{{121, 1061}, {122, 1060}, {121, 1062}}, true},  // welcome Cancel undoes nothing
        {{{121, 1061}, {122, 1061}, {124, 1060}, {122, 1062}}, false},
        {{{121, 1061}, {122, 1061}, {124, 1061}, {114, 1060}, {124, 1062}}, false},
        {{{121, 1061}, {122, 1061}, {124, 1061}, {114, 1062}}, false},
        {{{121, 1061}, {122, 1061}, {124, 1061}, {114, 1061}, {125, 0}}, true},
    };
    for (const Case& c : cases) {
        SetUp();
        std::vector<int> pages;
        for (const auto& p : c.presses) {
            pages.push_back(p.first);
            On(p.first, p.second ? Press(p.second) : [](HWND d) {
                fake::Tick(d, 1);
                fake::Click(d, IDC_REBOOT);
            });
        }
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(seen_, pages);
        EXPECT_EQ(fake::RegKeyExists(kKey), c.left);
        EXPECT_EQ(fake::FileExists(kVxd), c.left);
        bool installed = pages.back() == IDD_INSTALL;
        EXPECT_EQ(fake::ExitWindowsCalls().size(), installed ? 1u : 0u);
        EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    }
    EXPECT_EQ(fake::RegisteredClasses()[0].name, "Halvern XR Setup 1.10");
    EXPECT_EQ(fake::TopLevelWindows()[0].text, "Halvern XR Setup");
    EXPECT_FALSE(fake::TopLevelWindows()[0].visible);
    // Reboot closes the page first, then asks for a plain restart.
    EXPECT_THAT(fake::ArgsOf("ExitWindowsEx"), ElementsAre("0x2, 0"));
    EXPECT_EQ(fake::CallNames()[fake::CallNames().size() - 6], "EndDialog");
}

// The NT family restarts only with the shutdown privilege enabled; its
// calls are looked up at run time, and the restart is asked for regardless.
TEST_F(SetupTest, RebootEnablesTheShutdownPrivilegeOnTheNtFamily) {
    struct Case {
        DWORD version;
        const char* hidden;
        std::vector<std::string> calls;
    } cases[] = {
        {0x0A280105u, "",
         {"OpenProcessToken this process, 0x28",
          "LookupPrivilegeValueA NULL, \"SeShutdownPrivilege\"",
          "AdjustTokenPrivileges token, 0, count=1, luid=19:0 attributes=0x2, 0, NULL, NULL",
          "CloseHandle 0x7070"}},
        {0xC0000A04u, "", {}},  // Windows 98
        {0x0A280105u, "AdjustTokenPrivileges", {}},
    };
    for (const Case& c : cases) {
        SetUp();
        fake::SetVersion(c.version);
        fake::HideExport(c.hidden);
        Through();
        Run();
        std::vector<std::string> calls;
        for (const fake::Call& call : fake::Calls()) {
            if (call.name == "EndDialog") calls.clear();
            else if (call.name != "ExitWindowsEx") calls.push_back(call.name + " " + call.args);
        }
        EXPECT_EQ(calls, c.calls);
        EXPECT_THAT(fake::ExitWindowsCalls(), ElementsAre((UINT)EWX_REBOOT));
    }
}

TEST_F(SetupTest, APageThatFailsEndsTheWizardInsteadOfSkippingAhead) {
    On(IDD_WELCOME, IDC_NEXT);  // the port page then never closes
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(seen_, ElementsAre(IDD_WELCOME, IDD_PORT));
    leftOpen_ = 1;
}

TEST_F(SetupTest, BackToWelcomeReloadsAndDropsUnsavedChoices) {
    On(IDD_WELCOME, IDC_NEXT);
    On(IDD_PORT, [](HWND d) {
        fake::Click(d, IDC_COM3);
        fake::Click(d, IDC_BACK);
    });
    On(IDD_WELCOME, IDC_NEXT);
    On(IDD_PORT, IDC_NEXT);
    On(IDD_RIGHTBUTTON, [](HWND d) {
        fake::Click(d, IDC_RIGHTBUTTON);
        fake::Click(d, IDC_BACK);
    });
    On(IDD_PORT, IDC_BACK);
    On(IDD_WELCOME, IDC_NEXT);
    On(IDD_PORT, [](HWND d) {
        EXPECT_THAT(Marks(d), ElementsAre(IDC_COM1, IDC_BAUD9600, IDC_IRQ4));
        fake::Click(d, IDC_NEXT);
    });
    On(IDD_RIGHTBUTTON, [](HWND d) {
        EXPECT_EQ(fake::Checked(d, IDC_RIGHTBUTTON), 0);
        fake::Click(d, IDC_RIGHTBUTTON);
        fake::Click(d, IDC_NEXT);
    });
    On(IDD_SUMMARY, [](HWND d) {
        EXPECT_EQ(fake::Text(d, IDC_PORTLINE), "COM Port Setting : COM 1, IRQ 4");
        EXPECT_EQ(fake::Text(d, IDC_BUTTONLINE), "Right Button Setting :  ON");
        fake::Click(d, IDC_CANCEL);
    });
    Run();
    EXPECT_EQ(seen_.size(), 10u);
    // The key made on the first pass is still this run's to take back.
    EXPECT_FALSE(fake::RegKeyExists(kParent));
    EXPECT_FALSE(fake::FileExists(kVxd) || fake::FileExists(kLoader));
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
        {4, 15, 0, "COM Port Setting : COM 4, IRQ 15", "Right Button Setting : OFF"},
        {4, 16, 0, "COM Port Setting : COM 4", "Right Button Setting : OFF"},
        {2, 3, 0, "COM Port Setting : COM 2, IRQ 3", "Right Button Setting : OFF"},
        {3, 2, 0, "COM Port Setting : COM 3", "Right Button Setting : OFF"},
        {5, 4, 0, "COM Port Setting :      ", "Right Button Setting : OFF"},
        {0, 4, 0, "COM Port Setting :      ", "Right Button Setting : OFF"},
        {7, 4, 0, "COM Port Setting :      ", "Right Button Setting : OFF"},
        {-2147483647 - 1, 10, -1, "COM Port Setting :      ", "Right Button Setting : OFF"},
    };
    for (const Case& c : cases) {
        char line[64];
        FormatPortLine(line, c.port, c.irq);
        EXPECT_STREQ(line, c.portLine) << c.port << " " << c.irq;
        FormatButtonLine(line, c.button);
        EXPECT_STREQ(line, c.buttonLine);
    }
}

TEST_F(SetupTest, PortTemplateStartsGroupsOnlyAtItsStaticTexts) {
    Through([](HWND d) {
        std::vector<int> ids, groups;
        std::vector<fake::WindowInfo> controls = fake::Controls(d);
        for (size_t i = 0; i < controls.size(); ++i) {
            ids.push_back(controls[i].id);
            if (controls[i].style & WS_GROUP) groups.push_back((int)i + 1);
        }
        EXPECT_EQ(ids, (std::vector<int>{1061, 1062, 1060, 1003, 1004, 1005, 1006, 1040, 1041,
                                         1043, 1042, -1,   -1,   -1,   -1,   -1,   -1,   -1,
                                         -1,   -1,   -1,   -1,   1007, 1008, 1009, 1010, 1044,
                                         1045, 1046, 1047, 1048, 1049, 1050}));
        EXPECT_THAT(groups, ElementsAre(15, 17, 19, 20, 21));
        fake::Click(d, IDC_CANCEL);
    });
    Run();
}

TEST_F(SetupTest, PortIrqAndBaudClicksLeaveOneMarkPerChoice) {
    struct Case {
        std::vector<int> clicks;
        LONG port, base, irq, baud;
    } cases[] = {
        {{IDC_COM1, IDC_IRQ10, IDC_COM2}, 2, 760, 3, 9600},
        {{IDC_COM2, IDC_IRQ10, IDC_COM2}, 2, 760, 10, 9600},
        {{IDC_COM3}, 3, 1000, 7, 9600},
        {{IDC_COM4}, 4, 744, 5, 9600},
        {{IDC_BAUD19200}, 1, 1016, 4, 19200},
        {{IDC_COM1, IDC_COM1}, 1, 1016, 4, 9600},  // the current port clears its IRQ 4 too
        {{IDC_IRQ3, IDC_IRQ3, IDC_BAUD1200, IDC_IRQ15, IDC_BAUD2400, IDC_BAUD2400},
         1, 1016, 15, 2400},
    };
    for (const Case& c : cases) {
        SetUp();
        Through([&c](HWND d) {
            for (int id : c.clicks) {
                fake::Click(d, id);
                // After every click: exactly the buttons of the three values.
                std::set<int> expected;
                for (const fake::WindowInfo& w : fake::Controls(d)) {
                    LONG v = atol(w.text.c_str() + (w.text.rfind("COM", 0) == 0 ? 3 : 0));
                    bool port = w.id >= 1003 && w.id <= 1006, baud = w.id >= 1007 && w.id <= 1010;
                    bool irq = w.id >= 1040 && w.id <= 1050;
                    if ((port && v == Settings.ComPort) || (baud && v == Settings.ComBaud) ||
                        (irq && v == Settings.ComIrq))
                        expected.insert(w.id);
                }
                EXPECT_EQ(expected.size(), 3u);
                EXPECT_EQ(Marks(d), expected) << "after " << id;
            }
            EXPECT_EQ(CheckedPort * 100000 + CheckedIrq, c.port * 100000 + c.irq);
            EXPECT_EQ(CheckedBaud, c.baud);
            fake::Click(d, IDC_NEXT);
        });
        Run();
        EXPECT_EQ(fake::RegDword(kKey, "ComPort"), (DWORD)c.port);
        EXPECT_EQ(fake::RegDword(kKey, "ComBase"), (DWORD)c.base);
        EXPECT_EQ(fake::RegDword(kKey, "ComIrq"), (DWORD)c.irq);
        EXPECT_EQ(fake::RegDword(kKey, "ComBaud"), (DWORD)c.baud);
    }
}

TEST_F(SetupTest, PortsOfferedAreThoseTheSystemLists) {
    struct Case {
        std::vector<const char*> values;
        std::vector<bool> visible;
    } cases[] = {
        {{"COM1", "COM2"}, {true, true, false, false}},
        {{"COM5"}, {true, true, true, true}},
        {{}, {true, true, true, true}},              // no key
        {{"COM3"}, {false, false, true, false}},     // COM1 hidden stays the port
    };
    for (const Case& c : cases) {
        SetUp();
        for (const char* v : c.values)
            fake::RegPutString("HKLM\\hardware\\devicemap\\serialcomm", v, "\\Device\\Serial0");
        Through([&c](HWND d) {
            for (int i = 0; i < 4; ++i) EXPECT_EQ(fake::Visible(d, IDC_COM1 + i), c.visible[i]);
            EXPECT_EQ(fake::Checked(d, IDC_COM1), 1);
            fake::Click(d, IDC_CANCEL);
        });
        Run();
        EXPECT_THAT(fake::ArgsOf("RegOpenKeyExA"),
                    Contains("HKLM\\hardware\\devicemap\\serialcomm, KEY_READ"));
    }
}

// A clean first run writes the defaults at once; a run over an earlier
// installation keeps its calibration, reads deleted values as defaults and
// rewrites BB_Len, BB_st and BB_Lst.
TEST_F(SetupTest, SettingsOfAFirstRunAndOfARunOverAnEarlierInstallation) {
    struct Case {
        bool earlier;
        std::set<int> marks;
        std::vector<LONG> values;  // after the welcome page, after the installation
        std::map<std::string, DWORD> stored;  // over the earlier installation's
    } cases[] = {
        {false, {IDC_COM1, IDC_BAUD9600, IDC_IRQ4},
         {0, 0, 1024, 0, 1024, 1024, 0, 1024, 1, 1016, 4, 9600, 1, 0, 2, 2, 1, 0, 0}},
        {true, {IDC_COM2, IDC_BAUD9600, IDC_IRQ3},
         {11, 12, 1024, 14, 901, 902, 17, 903, 2, 760, 3, 9600, 3, 1, 2, 2, 1, 0, 1}},
        // Values without a button mark nothing and are kept as they were.
        {true, {},
         {11, 12, 1024, 14, 901, 902, 17, 903, 5, 760, 16, 4800, 3, 1, 2, 2, 1, 0, 1},
         {{"ComPort", 5}, {"ComIrq", 16}, {"ComBaud", 4800}}},
        {true, {},
         {11, 12, 1024, 14, 901, 902, 17, 903, 0, 760, 2, 38400, 3, 1, 2, 2, 1, 0, 1},
         {{"ComPort", 0}, {"ComIrq", 2}, {"ComBaud", 38400}}},
    };
    for (const Case& c : cases) {
        SetUp();
        if (c.earlier) {
            PutEarlierInstallation();
            HKEY key;
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\corvale\\zavir", 0, KEY_ALL_ACCESS,
                          &key);
            RegDeleteValueA(key, "ComBaud");
            RegDeleteValueA(key, "RightUpX");
            RegCloseKey(key);
            for (const auto& value : c.stored) fake::RegPutDword(kKey, value.first, value.second);
        }
        auto check = [&c]() {
            for (int i = 0; i < kSettingCount; ++i)
                EXPECT_EQ(fake::RegDword(kKey, SettingName(i)), (DWORD)c.values[i])
                    << SettingName(i);
        };
        Through([&](HWND d) {
            if (!c.earlier) check();
            EXPECT_EQ(Marks(d), c.marks);
            EXPECT_EQ(fake::FileContents(kVxd), "new ZAVIR.VXD");
            EXPECT_EQ(fake::FileContents(kLoader), "new STARTVXD.EXE");
            fake::Click(d, IDC_NEXT);
        });
        Run();
        check();
    }
    EXPECT_EQ(fake::ArgsOf("CopyFileA")[1],
              "\"C:\\SETUP\\STARTVXD.EXE\", \"C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE\", 0");
}

// Cancel takes back only what this run put in place.
TEST_F(SetupTest, CancelRemovesOnlyWhatThisRunCreated) {
    struct Case {
        bool keyBefore, filesBefore, otherKey;
        int cancelPage;
    } cases[] = {
        {false, false, false, IDD_PORT},  {true, true, false, IDD_RIGHTBUTTON},
        {true, true, false, IDD_SUMMARY}, {true, false, false, IDD_PORT},
        {false, true, false, IDD_PORT},   {false, false, true, IDD_SUMMARY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cancelPage + 1000 * c.keyBefore + 100 * c.filesBefore);
        SetUp();
        if (c.keyBefore) PutEarlierInstallation();
        fake::PutFile(kVxd, "old driver");
        fake::PutFile(kLoader, "old loader");
        if (!c.filesBefore) {
            DeleteFileA(kVxd);
            DeleteFileA(kLoader);
        }
        if (c.otherKey) fake::RegMakeKey("HKLM\\software\\corvale\\other");
        On(IDD_WELCOME, IDC_NEXT);
        for (int page : {IDD_PORT, IDD_RIGHTBUTTON, IDD_SUMMARY})
            On(page, page == c.cancelPage ? IDC_CANCEL : IDC_NEXT);
        Run();
        EXPECT_EQ(fake::RegKeyExists(kKey), c.keyBefore);
        EXPECT_EQ(fake::RegKeyExists(kParent), c.keyBefore || c.otherKey);
        EXPECT_EQ(fake::FileExists(kVxd) && fake::FileExists(kLoader), c.filesBefore);
        EXPECT_EQ(fake::FileExists(kVxd) || fake::FileExists(kLoader), c.filesBefore);
        if (c.keyBefore) {
            EXPECT_EQ(fake::RegValueNames(kKey).size(), 19u);
            EXPECT_EQ(fake::RegDword(kKey, "LeftUpX"), 11u);
            EXPECT_EQ(fake::RegDword(kKey, "BB_Len"), 5u);  // nothing saved before Cancel
        }
    }
}

TEST_F(SetupTest, InstallationWritesEntriesThenCopiesInOrder) {
    // Started from elsewhere: the medium is where SETUP.EXE is.
    fake::SetCurrentDir("C:\\WINDOWS");
    for (const char* f : kFiles) fake::PutFile("C:\\WINDOWS\\"s + f, "not the medium's");
    Through();
    Run();
    auto text = [](const char* key, const char* value) {
        std::vector<uint8_t> data = fake::RegData(key, value);
        return std::to_string(*fake::RegType(key, value)) + std::string(data.begin(), data.end());
    };
    EXPECT_EQ(text("HKCU\\Control Panel\\DeskTop", "DoubleClickHeight"), "140\0"s);
    EXPECT_EQ(text("HKCU\\Control Panel\\DeskTop", "DoubleClickWidth"), "140\0"s);
    EXPECT_EQ(text("HKCU\\Control Panel\\Mouse", "DoubleClickSpeed"), "1500\0"s);
    EXPECT_EQ(text(kRun, "Zavir"), "1\""s + kPrograms + "\\ZAVIR\\TOUCH.EXE\"\0"s);
    EXPECT_EQ(text(kRunServices, "Zavir"), "1\"C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE\"\0"s);
    EXPECT_THAT(fake::ArgsOf("RegOpenKeyExA"), Contains(kShell + ", KEY_READ"s));
    EXPECT_THAT(fake::ArgsOf("SetTimer"), ElementsAre("dialog 125, 1, 200, NULL"));

    // What the tick did, in order: the timer's end, entries, the save, the
    // folder, the copies.
    std::vector<std::string> work, expected = {"dialog 125, 1", "DoubleClickHeight",
                                               "DoubleClickWidth", "DoubleClickSpeed",
                                               "Zavir", "Zavir"};
    for (int i = 0; i < kSettingCount; ++i) expected.push_back(SettingName(i));
    const std::string folder = kPrograms + "\\ZAVIR"s;
    expected.push_back("\"" + folder + "\", sa=NULL");
    for (const char* f : kFiles) {
        expected.push_back("dialog 125, 1072, \"Now Write "s + f + "\"");
        expected.push_back("\"C:\\SETUP\\"s + f + "\", \"" + folder + "\\" + f + "\", 0");
        EXPECT_EQ(fake::FileContents(folder + "\\" + f), "new "s + f);
    }
    expected.push_back("dialog 125, 1072, \"Installation Driver OK !!\"");
    expected.push_back("control 1044, 1");
    bool ticked = false;
    for (const fake::Call& call : fake::Calls()) {
        ticked = ticked || call.name == "EnableWindow";  // Reboot disabled: waiting for the tick
        const std::string& a = call.args;
        if (!ticked || (call.name == "EnableWindow" && a == "control 1044, 0")) continue;
        size_t quote = a.find('"');
        if (call.name == "RegSetValueExA")
            work.push_back(a.substr(quote + 1, a.find("\", t") - quote - 1));
        if (call.name == "CreateDirectoryA" || call.name == "CopyFileA" ||
            call.name == "EnableWindow" || call.name == "KillTimer" ||
            (call.name == "SetDlgItemTextA" && a.find("1072") != std::string::npos))
            work.push_back(a);
    }
    EXPECT_EQ(work, expected);
}

// Whatever can't be put in place is told, and the status line then never
// says OK: a path that doesn't fit its 256-character buffer (refused, not
// cut), a Programs folder that can't be used, a running program's file, a
// settings key the user can't write.  A file the medium doesn't carry, or a
// missing DeskTop key, passes silently.
TEST_F(SetupTest, WhatCouldNotBeInstalledIsToldAndNeverReportedOk) {
    auto programs = [](size_t n) {  // a Programs folder of n characters
        std::string folder = "C:\\P\\" + std::string(n - 5, 'p');
        fake::RegPutString(kShell, "Programs", folder);
        fake::MakeDir(folder);
        return folder + "\\ZAVIR";
    };
    auto medium = [](size_t n) {  // SETUP.EXE's folder, n characters with its backslash
        std::string folder = "C:\\" + std::string(n - 4, 'm') + "\\";
        for (const char* f : {"ZAVIR.VXD", "STARTVXD.EXE", "TOUCH.EXE", "UNINSTAL.EXE",
                              "TRUEPOS.EXE", "CONFIG.EXE"})
            fake::PutFile(folder + f, "new "s + f);
        fake::SetModulePath(folder + "SETUP.EXE");
    };
    const std::string kFolder = kPrograms + "\\ZAVIR"s, kSys = "C:\\WINDOWS\\SYSTEM";
    const std::string vxd = "Cannot Write ZAVIR.VXD", loader = "Cannot Write STARTVXD.EXE",
                      touch = "Cannot Write TOUCH.EXE", uninstal = "Cannot Write UNINSTAL.EXE",
                      truepos = "Cannot Write TRUEPOS.EXE", config = "Cannot Write CONFIG.EXE",
                      notSaved = "Cannot Save Settings";
    std::string folder;
    struct Case {
        std::function<void()> arrange;
        const char* run;     // the Run value's program (nullptr: none, "": in `folder`)
        std::string system;  // where RunServices points ("": not written)
        size_t landed;       // programs in `folder` afterwards
        std::vector<std::string> told;
    } cases[] = {
        {[&] { folder = programs(236); }, "", kSys, 4, {}},  // 255 characters each
        {[&] { folder = programs(237); }, "", kSys, 3, {uninstal}},
        {[&] { folder = programs(239); }, "", kSys, 1, {uninstal, truepos, config}},
        {[&] { folder = programs(240); }, nullptr, kSys, 0, {touch, uninstal, truepos, config}},
        {[&] { folder = programs(259); }, nullptr, kSys, 0, {touch, uninstal, truepos, config}},
        {[&] { folder = programs(260); }, nullptr, kSys, 0, {touch, uninstal, truepos, config}},
        {[&] {
             fake::RegPut(kShell, "Programs", REG_SZ,
                          std::vector<uint8_t>(kPrograms, kPrograms + strlen(kPrograms)));
             folder = "C:\\ZAVIR";
         },
         nullptr, kSys, 0, {touch, uninstal, truepos, config}},
        {[&] {
             fake::RegPut(kShell, "Programs", REG_EXPAND_SZ,
                          std::vector<uint8_t>(kPrograms, kPrograms + strlen(kPrograms) + 1));
             folder = "C:\\ZAVIR";
         },
         nullptr, kSys, 0, {touch, uninstal, truepos, config}},
        {[&] {
             fake::RegPut(kShell, "Programs", REG_DWORD, {0x41, 0, 0, 0});
             folder = "C:\\ZAVIR";
         },
         nullptr, kSys, 0, {touch, uninstal, truepos, config}},
        {[&] {
             fake::RegPut(kShell, "Programs", REG_BINARY,
                          std::vector<uint8_t>(kPrograms, kPrograms + strlen(kPrograms) + 1));
             folder = "C:\\ZAVIR";
         },
         nullptr, kSys, 0, {touch, uninstal, truepos, config}},
        {[&] {  // no Programs folder, setup started from the floppy
             RegDeleteKeyA(HKEY_CURRENT_USER, kShell + 5);
             fake::SetCurrentDir("A:\\");
             folder = "C:\\ZAVIR";
         },
         "C:\\ZAVIR\\TOUCH.EXE", kSys, 4, {}},
        {[&] {
             RegDeleteKeyA(HKEY_CURRENT_USER, kShell + 5);
             fake::RegPutString(kShell, "Desktop", "C:\\WINDOWS\\Desktop");
             fake::SetSystemDir("D:\\WIN\\SYSTEM");
             fake::MakeDir("D:\\WIN\\SYSTEM");
             folder = "D:\\ZAVIR";
         },
         "D:\\ZAVIR\\TOUCH.EXE", "D:\\WIN\\SYSTEM", 4, {}},
        {[] { fake::SetSystemDir("C:\\" + std::string(239, 's')); }, "",
         "C:\\" + std::string(239, 's'), 4, {}},  // "\STARTVXD.EXE" makes 255
        {[] { fake::SetSystemDir("C:\\" + std::string(240, 's')); }, "", "", 4, {loader}},
        {[] { fake::SetSystemDir("C:\\" + std::string(300, 't')); }, "", "", 4, {vxd, loader}},
        {[&] { medium(243); }, "", kSys, 4, {}},  // "STARTVXD.EXE" makes 255
        {[&] { medium(244); }, "", kSys, 3, {loader, uninstal}},
        {[] { fake::SetModulePath("C:\\SETUP\\" + std::string(250, 'm')); }, "", kSys, 4,
         {}},  // a module path of 259 characters
        {[] { fake::SetModulePath("C:\\" + std::string(257, 'm')); }, "", kSys, 0,
         {vxd, loader, touch, uninstal, truepos, config}},
        {[] {
             DeleteFileA("C:\\SETUP\\ZAVIR.VXD");
             DeleteFileA("C:\\SETUP\\CONFIG.EXE");
             RegDeleteKeyA(HKEY_CURRENT_USER, "Control Panel\\DeskTop");
         },
         "", kSys, 3, {}},
        {[] {
             fake::PutFile(kLoader, "old loader");
             fake::AddRunningProgram(kLoader, "Halvern XR Loader", 300);
         },
         "", kSys, 4, {}},
        {[] {
             fake::PutFile(kLoader, "old loader");
             fake::AddRunningProgram(kLoader, "Halvern XR Loader", -1);
         },
         "", kSys, 4, {loader}},
        {[&] { fake::AddRunningProgram(kFolder + "\\TRUEPOS.EXE", "TruePos", -1); }, "", kSys, 4,
         {truepos}},  // the old file stays
        {[] { fake::RegReadOnly(kKey); }, "", kSys, 4, {notSaved}},
    };
    for (const Case& c : cases) {
        SetUp();
        folder = kFolder;
        c.arrange();
        SCOPED_TRACE(folder);
        const char* desktop = "HKCU\\Control Panel\\DeskTop";
        bool hadDesktop = fake::RegKeyExists(desktop);
        std::string status;
        Through(Press(IDC_NEXT), [&status](HWND d) {
            fake::Tick(d, 1);
            status = fake::Text(d, IDC_STATUS);
            fake::Click(d, IDC_REBOOT);
        });
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(status, c.told.empty() ? "Installation Driver OK !!"
                                         : "Installation Driver Failed !!");
        std::vector<std::string> told;
        for (const fake::MessageBoxInfo& box : fake::MessageBoxes()) told.push_back(box.text);
        EXPECT_EQ(told, c.told);
        EXPECT_EQ(fake::ExitWindowsCalls().size(), 1u);
        std::string run = !c.run ? "" : '"' + (*c.run ? c.run : folder + "\\TOUCH.EXE") + '"';
        EXPECT_EQ(fake::RegString(kRun, "Zavir").value_or(""), run);
        EXPECT_EQ(fake::RegString(kRunServices, "Zavir").value_or(""),
                  c.system.empty() ? "" : '"' + c.system + "\\STARTVXD.EXE\"");
        size_t landed = 0;
        for (const char* f : kFiles) landed += fake::FileExists(folder + "\\" + f);
        EXPECT_EQ(landed, c.landed);
        auto wasTold = [&c](const std::string& text) {
            return std::find(c.told.begin(), c.told.end(), text) != c.told.end();
        };
        if (fake::FileExists(kLoader)) {
            EXPECT_EQ(fake::FileContents(kLoader),
                      wasTold(loader) ? "old loader" : "new STARTVXD.EXE");
        }
        EXPECT_EQ(fake::RegDword(kKey, "ComBaud").has_value(), !wasTold(notSaved));
        EXPECT_EQ(fake::RegValueExists(desktop, "DoubleClickWidth"), hadDesktop);  // never made
        EXPECT_EQ(fake::RegKeyExists(desktop), hadDesktop);
        EXPECT_EQ(fake::OpenProcessHandles(), 0);
        EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    }
}

}  // namespace
