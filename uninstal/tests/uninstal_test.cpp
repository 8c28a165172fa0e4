// The uninstaller run whole, from WinMain, on machines in various states of
// installation: what goes, in which order, what stays, and that nothing is
// ever shown.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hostfake.h"
#include "resource.h"
#include "uninstal.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const std::string kService = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\zavir";
const std::string kParameters = kService + "\\Parameters";
const std::string kEnum = kService + "\\Enum";
const std::string kRun = "HKLM\\software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kRunServices = "HKLM\\software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const std::string kShellFolders =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const std::string kSettings = "HKLM\\software\\corvale\\zavir";
const std::string kSystemDir = "C:\\WINNT\\system32";
const std::string kDriverFile = kSystemDir + "\\DRIVERS\\ZAVIR.SYS";
const std::string kPrograms = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
const std::string kRootFolder = "C:\\ZAVIR";

const std::vector<std::string> kParameterValues = {
    "LupX",    "LupY",    "RupX",               "RupY",
    "RdnX",    "RdnY",    "LdnX",               "LdnY",
    "ComPort", "ComBaud", "MouseDataQueueSize", "NumberOfButtons",
    "PointDeivceBaseName", "SampleRate",        "RightButton",       "Mode",
    "B_Len",   "B_st",    "B_Lst",              "Beep",
    "First"};
const std::vector<std::string> kEnumValues = {"Count", "NextInstance"};
const std::vector<std::string> kServiceValues = {"DisplayName", "ErrorControl", "Group",
                                                 "ImagePath",   "Start",        "Tag",
                                                 "Type"};

// Values are put in reverse so that an uninstaller walking the key's own
// order instead of the fixed list would be caught by the order assertions.
void PutValues(const std::string& key, const std::vector<std::string>& names) {
    fake::RegMakeKey(key);
    for (auto it = names.rbegin(); it != names.rend(); ++it) fake::RegPutDword(key, *it, 7);
}

void InstallService(bool withEnum) {
    PutValues(kParameters, kParameterValues);
    if (withEnum) PutValues(kEnum, kEnumValues);
    PutValues(kService, kServiceValues);
}

void PutProgramFiles(const std::string& folder) {
    fake::PutFile(folder + "\\ZAVIR\\TOUCH.EXE", "touch");
    fake::PutFile(folder + "\\ZAVIR\\UNINSTAL.EXE", "uninstal");
}

void SetCommonPrograms(const std::string& folder) {
    fake::RegPutString(kShellFolders, "common Programs", folder);
}

void SetCommonProgramsBytes(DWORD type, const std::string& bytes) {
    fake::RegPut(kShellFolders, "common Programs", type,
                 std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// Everything a Windows 2000 installation and setup leave behind.
void InstallEverything() {
    InstallService(true);
    fake::RegPutString(kRun, "Zavir", kPrograms + "\\ZAVIR\\TOUCH.EXE");
    fake::RegPutString(kRun, "Other", "C:\\OTHER.EXE");
    fake::RegPutString(kRunServices, "Zavir", "C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE");
    fake::RegPutDword(kSettings, "LeftUpX", 100);
    fake::RegPutDword(kSettings, "ComPort", 2);
    fake::PutFile(kDriverFile, "driver");
    fake::PutFile(kSystemDir + "\\ZAVIR.VXD", "vxd");
    SetCommonPrograms(kPrograms);
    PutProgramFiles(kPrograms);
}

int RunUninstaller() { return WinMain(fake::Instance(), nullptr, (LPSTR) "", SW_SHOWNORMAL); }

std::vector<std::string> Prefixed(const std::string& key, const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& n : names) out.push_back(key + ", " + n);
    return out;
}

// The registry and file calls, in order, as "Name args".
std::vector<std::string> Trace() {
    std::vector<std::string> out;
    for (const auto& c : fake::Calls())
        if ((c.name.compare(0, 3, "Reg") == 0 && c.name != "RegisterClassExA") ||
            c.name == "DeleteFileA" ||
            c.name == "RemoveDirectoryA")
            out.push_back(c.name + " " + c.args);
    return out;
}

std::vector<std::string> ProgramFileCalls() {
    std::vector<std::string> out;
    for (const auto& a : fake::ArgsOf("DeleteFileA"))
        if (a.find("ZAVIR.SYS") == std::string::npos) out.push_back("DeleteFileA " + a);
    for (const auto& a : fake::ArgsOf("RemoveDirectoryA")) out.push_back("RemoveDirectoryA " + a);
    return out;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

class UninstalTest : public ::testing::Test {
   protected:
    void SetUp() override {
        fake::Reset();
        fake::LoadResourceScript(ZAVIR_SOURCE_DIR "/uninstal/uninstal.rc",
                                 ZAVIR_SOURCE_DIR "/uninstal/resource.h");
        fake::SetSystemDir(kSystemDir);
        fake::OnDialog(IDD_UNINSTAL, [this](HWND) { dialogReachedItsLoop_ = true; });
    }
    void TearDown() override {
        EXPECT_FALSE(dialogReachedItsLoop_) << "the dialog outlived its initialisation";
        EXPECT_THAT(fake::MessageBoxes(), IsEmpty());
    }
    bool dialogReachedItsLoop_ = false;
};

TEST_F(UninstalTest, FullyInstalledMachineLosesEverythingInOrder) {
    InstallEverything();
    EXPECT_EQ(RunUninstaller(), 0);

    std::vector<std::string> expected;
    auto removeKey = [&](const std::string& key, const std::vector<std::string>& names) {
        expected.push_back("RegOpenKeyExA " + key + ", KEY_ALL_ACCESS");
        for (const auto& n : names) expected.push_back("RegDeleteValueA " + key + ", " + n);
        expected.push_back("RegEnumKeyExA " + key + ", 0");
        expected.push_back("RegCloseKey " + key);
        expected.push_back("RegDeleteKeyA " + key);
    };
    removeKey(kParameters, kParameterValues);
    removeKey(kEnum, kEnumValues);
    removeKey(kService, kServiceValues);
    expected.push_back("RegOpenKeyExA " + kRun + ", KEY_ALL_ACCESS");
    expected.push_back("RegDeleteValueA " + kRun + ", Zavir");
    expected.push_back("RegCloseKey " + kRun);
    expected.push_back("DeleteFileA " + Quoted(kDriverFile));
    expected.push_back("RegOpenKeyExA " + kShellFolders + ", KEY_READ");
    expected.push_back("RegQueryValueExA " + kShellFolders + ", \"common Programs\", size=260");
    expected.push_back("RegCloseKey " + kShellFolders);
    expected.push_back("DeleteFileA " + Quoted(kPrograms + "\\ZAVIR\\UNINSTAL.EXE"));
    expected.push_back("DeleteFileA " + Quoted(kPrograms + "\\ZAVIR\\TOUCH.EXE"));
    expected.push_back("RemoveDirectoryA " + Quoted(kPrograms + "\\ZAVIR"));
    EXPECT_THAT(Trace(), ElementsAreArray(expected));

    EXPECT_FALSE(fake::RegKeyExists(kService));
    EXPECT_TRUE(fake::RegKeyExists("HKLM\\SYSTEM\\CurrentControlSet\\Services"));
    EXPECT_THAT(fake::RegValueNames(kRun), ElementsAre("Other"));
    EXPECT_FALSE(fake::FileExists(kDriverFile));
    EXPECT_FALSE(fake::FileExists(kPrograms + "\\ZAVIR\\TOUCH.EXE"));
    EXPECT_FALSE(fake::FileExists(kPrograms + "\\ZAVIR\\UNINSTAL.EXE"));
    EXPECT_FALSE(fake::DirExists(kPrograms + "\\ZAVIR"));
    EXPECT_TRUE(fake::DirExists(kPrograms));

    // What setup and the settings store own is not the uninstaller's.
    EXPECT_EQ(fake::RegString(kRunServices, "Zavir"), "C:\\WINDOWS\\SYSTEM\\STARTVXD.EXE");
    EXPECT_EQ(fake::RegDword(kSettings, "LeftUpX"), 100u);
    EXPECT_EQ(fake::RegDword(kSettings, "ComPort"), 2u);
    EXPECT_TRUE(fake::FileExists(kSystemDir + "\\ZAVIR.VXD"));
    EXPECT_EQ(fake::RegString(kShellFolders, "common Programs"), kPrograms);
}

TEST_F(UninstalTest, NothingInstalledEveryStepFailsSilently) {
    fake::RegMakeKey(kRun);
    EXPECT_EQ(RunUninstaller(), 0);
    EXPECT_EQ(fake::CountOf("RegOpenKeyExA"), 5u);
    EXPECT_THAT(fake::ArgsOf("RegDeleteValueA"), ElementsAre(kRun + ", Zavir"));
    EXPECT_THAT(fake::ArgsOf("RegDeleteKeyA"), IsEmpty());
    // No Shell Folders key: the files are looked for at the root.
    EXPECT_THAT(ProgramFileCalls(),
                ElementsAre("DeleteFileA \"\\ZAVIR\\UNINSTAL.EXE\"",
                            "DeleteFileA \"\\ZAVIR\\TOUCH.EXE\"", "RemoveDirectoryA \"\\ZAVIR\""));
    EXPECT_EQ(fake::CountOf("EndDialog"), 1u);

}

TEST_F(UninstalTest, ServiceWithoutEnumStillLosesParametersAndServiceKey) {
    InstallService(false);
    EXPECT_EQ(RunUninstaller(), 0);
    EXPECT_THAT(fake::ArgsOf("RegDeleteKeyA"), ElementsAre(kParameters, kService));
    std::vector<std::string> deleted = Prefixed(kParameters, kParameterValues);
    for (const auto& v : Prefixed(kService, kServiceValues)) deleted.push_back(v);
    EXPECT_THAT(fake::ArgsOf("RegDeleteValueA"), ElementsAreArray(deleted));
    EXPECT_FALSE(fake::RegKeyExists(kService));
}

// Windows 9x would delete the further subkey with its key, NT refuses.
TEST_F(UninstalTest, ServiceKeyWithAFurtherSubkeyKeepsTheKey) {
    for (DWORD version : {0x0A280105u, 0xC0000A04u}) {
        SCOPED_TRACE(version);
        fake::Reset();
        fake::SetVersion(version);
        InstallService(true);
        fake::RegPutDword(kService + "\\Security", "Security", 1);
        EXPECT_EQ(RunUninstaller(), 0);
        EXPECT_THAT(fake::ArgsOf("RegDeleteKeyA"), ElementsAre(kParameters, kEnum));
        EXPECT_THAT(fake::RegValueNames(kService), IsEmpty());
        EXPECT_THAT(fake::RegSubkeys(kService), ElementsAre("Security"));
        EXPECT_TRUE(fake::RegValueExists(kService + "\\Security", "Security"));
    }
}

TEST_F(UninstalTest, RunValueGoesWhetherOrNotTheServiceWasThere) {
    for (bool service : {false, true}) {
        SCOPED_TRACE(service ? "service registered" : "no service");
        fake::Reset();
        fake::SetSystemDir(kSystemDir);
        if (service) InstallService(true);
        fake::RegPutString(kRun, "Zavir", "C:\\ZAVIR\\TOUCH.EXE");
        fake::RegPutString(kRun, "Other", "C:\\OTHER.EXE");
        EXPECT_EQ(RunUninstaller(), 0);
        EXPECT_FALSE(fake::RegValueExists(kRun, "Zavir"));
        EXPECT_TRUE(fake::RegValueExists(kRun, "Other"));
        EXPECT_TRUE(fake::RegKeyExists(kRun));
        EXPECT_FALSE(fake::RegKeyExists(kService));
    }
}

TEST_F(UninstalTest, RunningFromItsFolderKeepsItsOwnFileAndTheFolder) {
    InstallEverything();
    fake::MarkInUse(kPrograms + "\\ZAVIR\\UNINSTAL.EXE");
    EXPECT_EQ(RunUninstaller(), 0);
    EXPECT_TRUE(fake::FileExists(kPrograms + "\\ZAVIR\\UNINSTAL.EXE"));
    EXPECT_FALSE(fake::FileExists(kPrograms + "\\ZAVIR\\TOUCH.EXE"));
    EXPECT_TRUE(fake::DirExists(kPrograms + "\\ZAVIR"));
    EXPECT_EQ(fake::CountOf("RemoveDirectoryA"), 1u);
    EXPECT_FALSE(fake::RegKeyExists(kService));
}

// "C:\P\xxx..." of exactly n characters.
std::string FolderOfLength(size_t n) { return "C:\\P\\" + std::string(n - 5, 'x'); }

// Longest folder whose "\ZAVIR\UNINSTAL.EXE" still fits 255 characters.
const size_t kLongestFolder = 255 - 19;

enum Where { kNowhere, kRoot, kFolder };
enum Setting { kValue, kNoValue, kKeyDenied };

struct FolderCase {
    const char* name;
    Setting setting;
    DWORD type;
    std::string bytes;  // the stored value
    Where where;        // where the program files are looked for
};

std::vector<FolderCase> FolderCases() {
    const std::string end(1, '\0');
    return {
        {"plain folder", kValue, REG_SZ, kPrograms + end, kFolder},
        {"text after the NUL", kValue, REG_SZ, kPrograms + end + "\\JUNK", kFolder},
        {"longest folder that fits", kValue, REG_SZ, FolderOfLength(kLongestFolder) + end, kFolder},
        {"one character more", kValue, REG_SZ, FolderOfLength(kLongestFolder + 1) + end, kNowhere},
        {"255 characters", kValue, REG_SZ, FolderOfLength(255) + end, kNowhere},
        {"256 characters", kValue, REG_SZ, FolderOfLength(256) + end, kNowhere},
        {"260 bytes without NUL", kValue, REG_SZ, FolderOfLength(260), kNowhere},
        {"longer than the value buffer", kValue, REG_SZ, FolderOfLength(400) + end, kNowhere},
        {"unterminated", kValue, REG_SZ, kPrograms, kNowhere},
        {"zero bytes", kValue, REG_SZ, "", kNowhere},
        {"a number", kValue, REG_DWORD, std::string(4, '\0'), kNowhere},
        {"binary", kValue, REG_BINARY, kPrograms + end, kNowhere},
        {"empty text", kValue, REG_SZ, end, kRoot},
        {"no value", kNoValue, REG_SZ, "", kRoot},
        {"key refuses to open", kKeyDenied, REG_SZ, kPrograms + end, kRoot},
    };
}

TEST_F(UninstalTest, CommonProgramsIsTakenOnlyWhenItFits) {
    for (const FolderCase& c : FolderCases()) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        fake::SetSystemDir(kSystemDir);
        if (c.setting != kNoValue) SetCommonProgramsBytes(c.type, c.bytes);
        if (c.setting == kKeyDenied) fake::RegDenyOpen(kShellFolders);
        // Program files both at the root and in the folder the value names.
        PutProgramFiles("C:");
        std::string named = c.bytes.substr(0, c.bytes.find('\0'));
        bool decoy = named.size() > 3 && named.size() < 300;
        if (decoy) PutProgramFiles(named);

        EXPECT_EQ(RunUninstaller(), 0);
        std::string folder = c.where == kFolder ? named : "";
        std::vector<std::string> expected;
        if (c.where != kNowhere)
            expected = {"DeleteFileA " + Quoted(folder + "\\ZAVIR\\UNINSTAL.EXE"),
                        "DeleteFileA " + Quoted(folder + "\\ZAVIR\\TOUCH.EXE"),
                        "RemoveDirectoryA " + Quoted(folder + "\\ZAVIR")};
        EXPECT_THAT(ProgramFileCalls(), ElementsAreArray(expected));
        EXPECT_EQ(fake::DirExists(kRootFolder), c.where != kRoot);
        if (decoy) {
            EXPECT_EQ(fake::DirExists(named + "\\ZAVIR"), c.where != kFolder);
        }
    }
}

// The folder, the value buffer and the path buffer live for the process:
// a later run must see nothing of an earlier one.
TEST_F(UninstalTest, NothingCarriesOverFromAnEarlierRun) {
    std::string first = FolderOfLength(200);
    SetCommonPrograms(first);
    RunUninstaller();

    // An unterminated value shorter than the last one: the old bytes after
    // it in the buffer must not complete it.
    fake::Reset();
    fake::SetSystemDir(kSystemDir);
    SetCommonProgramsBytes(REG_SZ, "C:\\P");
    PutProgramFiles("C:");
    RunUninstaller();
    EXPECT_THAT(ProgramFileCalls(), IsEmpty());
    EXPECT_TRUE(fake::DirExists(kRootFolder));

    // No value at all: the root, not the folder read the time before.
    fake::Reset();
    fake::SetSystemDir(kSystemDir);
    RunUninstaller();
    EXPECT_THAT(ProgramFileCalls(),
                ElementsAre("DeleteFileA \"\\ZAVIR\\UNINSTAL.EXE\"",
                            "DeleteFileA \"\\ZAVIR\\TOUCH.EXE\"", "RemoveDirectoryA \"\\ZAVIR\""));
}

TEST_F(UninstalTest, DriverFileNeedsASystemDirectoryThatLeavesRoomForIt) {
    const size_t tail = 18;  // "\DRIVERS\ZAVIR.SYS"
    struct Case {
        size_t length;
        bool deleted;
    } cases[] = {{255 - tail, true}, {256 - tail, false}, {255, false}, {300, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        fake::Reset();
        std::string dir = FolderOfLength(c.length);
        fake::SetSystemDir(dir);
        fake::PutFile(dir + "\\DRIVERS\\ZAVIR.SYS", "driver");
        fake::PutFile("C:\\DRIVERS\\ZAVIR.SYS", "decoy");
        EXPECT_EQ(RunUninstaller(), 0);
        EXPECT_EQ(fake::FileExists(dir + "\\DRIVERS\\ZAVIR.SYS"), !c.deleted);
        EXPECT_TRUE(fake::FileExists("C:\\DRIVERS\\ZAVIR.SYS"));
        EXPECT_EQ(fake::CountOf("DeleteFileA"), c.deleted ? 3u : 2u);
    }
}

TEST_F(UninstalTest, NoWindowIsEverShown) {
    InstallEverything();
    EXPECT_EQ(RunUninstaller(), 0);

    EXPECT_EQ(fake::CountOf("ShowWindow"), 0u);
    EXPECT_EQ(fake::DialogsLeftOpen(), 0);
    EXPECT_THAT(fake::ArgsOf("DialogBoxParamA"), ElementsAre("#114, owner=NULL, param=0"));
    EXPECT_THAT(fake::ArgsOf("EndDialog"), ElementsAre("dialog 114, 0"));
    // The removal happens inside the dialog's initialisation.
    std::vector<std::string> names = fake::CallNames();
    auto first = [&](const std::string& n) {
        return std::find(names.begin(), names.end(), n) - names.begin();
    };
    EXPECT_LT(first("DialogBoxParamA"), first("RegOpenKeyExA"));
    EXPECT_LT(first("RemoveDirectoryA"), first("EndDialog"));

    std::vector<fake::WindowInfo> windows = fake::TopLevelWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].className, "Halvern XR Uninstall 1.10");
    EXPECT_EQ(windows[0].text, "Halvern XR Uninstall");
    EXPECT_EQ(windows[0].style, (DWORD)WS_OVERLAPPEDWINDOW);
    EXPECT_FALSE(windows[0].visible);
    EXPECT_EQ(windows[0].x, -1000);
    EXPECT_EQ(windows[0].y, -1000);
    EXPECT_EQ(windows[0].width, -1000);
    EXPECT_EQ(windows[0].height, -1000);

    std::vector<fake::ClassInfo> classes = fake::RegisteredClasses();
    ASSERT_EQ(classes.size(), 1u);
    EXPECT_EQ(classes[0].wc.style, 0u);
    EXPECT_EQ(classes[0].wc.hIcon, LoadIconA(fake::Instance(), MAKEINTRESOURCEA(IDI_UNINSTAL)));
    EXPECT_EQ(classes[0].wc.hIconSm, classes[0].wc.hIcon);
    EXPECT_EQ(classes[0].wc.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(classes[0].wc.hbrBackground, (HBRUSH)GetStockObject(BLACK_BRUSH));
}

TEST_F(UninstalTest, DialogTemplateIsATinyVisiblePopupWithItsControlsOutside) {
    RunUninstaller();
    ASSERT_EQ(fake::DialogsOf(IDD_UNINSTAL).size(), 1u);
    HWND dialog = fake::DialogsOf(IDD_UNINSTAL)[0];
    fake::WindowInfo info = fake::Window(dialog);
    EXPECT_EQ(info.text, "Halvern XR Uninstall Utility For WINDOWS 2000");
    const DWORD wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER;
    EXPECT_EQ(info.style & wanted, wanted);
    EXPECT_FALSE(info.visible);

    EXPECT_EQ(fake::Text(dialog, IDC_UNINSTALL), "Uninstall (&U)");
    EXPECT_EQ(fake::Window(fake::Control(dialog, IDC_UNINSTALL)).style & BS_TYPEMASK,
              (DWORD)BS_DEFPUSHBUTTON);
    EXPECT_EQ(fake::Text(dialog, IDCANCEL), "Cancel  (&C)");
    EXPECT_EQ(fake::Window(fake::Control(dialog, IDCANCEL)).style & BS_TYPEMASK,
              (DWORD)BS_PUSHBUTTON);

    int icons = 0, bitmaps = 0, lines = 0, texts = 0;
    for (const fake::WindowInfo& c : fake::Controls(dialog)) {
        SCOPED_TRACE(c.text);
        // 1 x 1 dialog units: every control starts beyond it.
        EXPECT_TRUE(c.x >= info.width || c.y >= info.height);
        if (c.className != "Static") continue;
        DWORD type = c.style & SS_TYPEMASK;
        if (type == SS_ICON && c.text == "#117") ++icons;
        if (type == SS_BITMAP && c.text == "#118") ++bitmaps;
        if (type == SS_ETCHEDHORZ) ++lines;
        if (type == SS_LEFT && !c.text.empty()) ++texts;
    }
    EXPECT_EQ(icons, 1);
    EXPECT_EQ(bitmaps, 1);
    EXPECT_EQ(lines, 2);
    EXPECT_EQ(texts, 3);
}

TEST_F(UninstalTest, FailedClassRegistrationEndsAtOnceRemovingNothing) {
    InstallEverything();
    fake::FailRegisterClass(true);
    fake::ClearCalls();
    EXPECT_EQ(RunUninstaller(), 0);
    EXPECT_THAT(fake::CallNames(), ::testing::Not(::testing::Contains("CreateWindowExA")));
    EXPECT_EQ(fake::CountOf("DialogBoxParamA"), 0u);
    EXPECT_THAT(Trace(), IsEmpty());
    EXPECT_TRUE(fake::RegKeyExists(kParameters));
    EXPECT_TRUE(fake::FileExists(kDriverFile));
}

}  // namespace
