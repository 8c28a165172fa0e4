// The host platform's own semantics, where a wrong model would let a
// program fault pass unseen.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hostfake.h"

using ::testing::ElementsAre;

namespace {

class HostFakeTest : public ::testing::Test {
   protected:
    void SetUp() override { fake::Reset(); }
};

TEST_F(HostFakeTest, RegistryQueryOfALongValueNeedsMoreData) {
    fake::RegPutString("HKLM\\Soft\\Key", "Name", "twelve chars");
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFT\\key", 0, KEY_READ, &key), ERROR_SUCCESS);
    BYTE buffer[4];
    memset(buffer, 0xFF, sizeof buffer);
    DWORD size = sizeof buffer, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "name", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 13u);
    EXPECT_EQ(buffer[0], 0xFF);  // nothing copied
    EXPECT_EQ(RegQueryValueExA(key, "missing", nullptr, &type, buffer, &size),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(HostFakeTest, RegistryCreateTellsNewFromExistingAndDeleteRefusesSubkeys) {
    HKEY key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "A\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    RegCreateKeyExA(HKEY_CURRENT_USER, "a\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    &disposition);
    EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "A"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "A\\B"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "A"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "A"), ERROR_FILE_NOT_FOUND);
}

TEST_F(HostFakeTest, FilesFollowWindowsRules) {
    fake::PutFile("C:\\SETUP\\TOUCH.EXE", "touch");
    EXPECT_FALSE(CopyFileA("TOUCH.EXE", "C:\\NOWHERE\\TOUCH.EXE", FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(CreateDirectoryA("\\ZAVIR", nullptr));
    EXPECT_FALSE(CreateDirectoryA("C:\\zavir", nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CopyFileA("touch.exe", "C:\\ZAVIR\\TOUCH.EXE", FALSE));
    EXPECT_FALSE(CopyFileA("TOUCH.EXE", "C:\\ZAVIR\\TOUCH.EXE", TRUE));
    EXPECT_EQ(fake::FileContents("c:\\zavir\\touch.exe"), "touch");
    EXPECT_FALSE(RemoveDirectoryA("C:\\ZAVIR"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIR_NOT_EMPTY);
    fake::MarkInUse("C:\\ZAVIR\\TOUCH.EXE");
    EXPECT_FALSE(DeleteFileA("C:\\ZAVIR\\TOUCH.EXE"));
    EXPECT_TRUE(fake::FileExists("C:\\ZAVIR\\TOUCH.EXE"));
    std::string tooLong = "C:\\" + std::string(300, 'x');
    EXPECT_FALSE(CreateDirectoryA(tooLong.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(HostFakeTest, SystemDirectoryNeedsRoomForItsTerminator) {
    char buffer[32];
    EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 17u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(GetSystemDirectoryA(buffer, 17), 18u);
}

TEST_F(HostFakeTest, SerialReadsStopAtAGapAndAPortOpensOnce) {
    fake::AddComPort(1);
    fake::FeedSerial(1, {1, 2, 3});
    fake::SerialGap(1);
    fake::FeedSerial(1, {4});
    fake::SerialReadError(1);
    HANDLE h = CreateFileA("\\\\.\\COM1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA("\\\\.\\COM1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    BYTE b[8];
    DWORD got;
    EXPECT_TRUE(ReadFile(h, b, 2, &got, nullptr));
    EXPECT_EQ(got, 2u);
    EXPECT_TRUE(ReadFile(h, b, 2, &got, nullptr));  // one byte, then the silence
    EXPECT_EQ(got, 1u);
    EXPECT_TRUE(ReadFile(h, b, 1, &got, nullptr));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(b[0], 4);
    EXPECT_FALSE(ReadFile(h, b, 1, &got, nullptr));
    EXPECT_TRUE(ReadFile(h, b, 1, &got, nullptr));  // empty line: times out with nothing
    EXPECT_EQ(got, 0u);
    CloseHandle(h);
    EXPECT_FALSE(fake::SerialPort(1).open);
}

TEST_F(HostFakeTest, SerialReadsWithoutTimeOutsWaitThroughSilenceAndNeverGiveUp) {
    fake::AddComPort(1);
    fake::FeedSerial(1, {1, 2});
    fake::SerialGap(1);
    fake::FeedSerial(1, {3});
    HANDLE h = CreateFileA("\\\\.\\COM1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    COMMTIMEOUTS none = {0, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(h, &none));
    BYTE b[8];
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, b, 3, &got, nullptr));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(b[2], 3);
    EXPECT_DEATH(ReadFile(h, b, 1, &got, nullptr), "would wait forever");
    CloseHandle(h);
}

HANDLE OpenPipe() {
    return CreateFileA(fake::StandInPipeName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

TEST_F(HostFakeTest, StartedProgramServesThePipeOnItsScheduleAndTakesItAlongWhenItEnds) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    char name[] = "C:\\TOOLS\\SERVER.EXE";
    EXPECT_FALSE(CreateProcessA(name, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &info));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    fake::PutFile(name, "MZ");
    fake::SetProgram(name, {300, 1000});
    ASSERT_TRUE(CreateProcessA(nullptr, name, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
    EXPECT_EQ(fake::OpenProcessHandles(), 2);
    // Not there yet: no wait for a pipe that doesn't exist.
    EXPECT_FALSE(WaitNamedPipeA(fake::StandInPipeName().c_str(), 5000));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(fake::Now(), 0u);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 200), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(OpenPipe(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 200), (DWORD)WAIT_TIMEOUT);
    HANDLE pipe = OpenPipe();
    EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
    CloseHandle(pipe);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(fake::Now(), 1000u);
    EXPECT_EQ(OpenPipe(), INVALID_HANDLE_VALUE);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    EXPECT_EQ(fake::OpenProcessHandles(), 0);
    ASSERT_EQ(fake::StartedProcesses().size(), 1u);
    EXPECT_EQ(fake::StartedProcesses()[0].application, name);
}

TEST_F(HostFakeTest, BusyPipeRefusesOpensUntilAWaitFindsAFreeInstance) {
    fake::SetStandInPresent(true);
    fake::SetStandInBusyUntil(1500);
    EXPECT_EQ(OpenPipe(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PIPE_BUSY);
    EXPECT_FALSE(WaitNamedPipeA(fake::StandInPipeName().c_str(), 1000));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SEM_TIMEOUT);
    EXPECT_EQ(GetTickCount(), 1000u);
    EXPECT_TRUE(WaitNamedPipeA(fake::StandInPipeName().c_str(), 1000));
    EXPECT_EQ(GetTickCount(), 1500u);
    HANDLE pipe = OpenPipe();
    EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
    CloseHandle(pipe);
}

class HostDialogTest : public HostFakeTest {
   protected:
    static void SetUpTestSuite() {
        fake::LoadResourceScript(ZAVIR_SOURCE_DIR "/tests/data/sample.rc",
                                 ZAVIR_SOURCE_DIR "/tests/data/sample_resource.h");
    }
    static INT_PTR CALLBACK Proc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
        if (msg == WM_COMMAND) commands.push_back(LOWORD(wParam));
        if (msg == WM_COMMAND && LOWORD(wParam) == 1061) EndDialog(dialog, 42);
        return FALSE;
    }
    static std::vector<int> commands;
};
std::vector<int> HostDialogTest::commands;

TEST_F(HostDialogTest, TemplateGivesControlsInOrderWithStylesAndTexts) {
    commands.clear();
    HWND seen = nullptr;
    fake::OnDialog(200, [&](HWND d) {
        seen = d;
        std::vector<fake::WindowInfo> c = fake::Controls(d);
        ASSERT_EQ(c.size(), 8u);
        EXPECT_EQ(c[0].id, 1061);
        EXPECT_EQ(c[1].text, "#119");
        EXPECT_EQ(c[1].style & SS_TYPEMASK, (DWORD)SS_BITMAP);
        EXPECT_FALSE(c[6].visible);
        EXPECT_FALSE(c[7].enabled);
        EXPECT_EQ(fake::Window(d).text, "Sample \"quoted\"");
        EXPECT_TRUE(fake::Window(d).visible);
        fake::Click(d, 1061);
    });
    EXPECT_EQ(DialogBoxParamA(fake::Instance(), MAKEINTRESOURCEA(200), nullptr, Proc, 0), 42);
    EXPECT_FALSE(fake::Window(seen).alive);
    EXPECT_EQ(fake::DialogsLeftOpen(), 0);
}

TEST_F(HostDialogTest, AutoRadioClickClearsOnlyItsGroupAndHiddenOrDisabledControlsIgnoreClicks) {
    commands.clear();
    fake::OnDialog(200, [](HWND d) {
        SendDlgItemMessageA(d, 1002, BM_SETCHECK, 1, 0);
        SendDlgItemMessageA(d, 1011, BM_SETCHECK, 1, 0);
        fake::Click(d, 1001);
        EXPECT_EQ(fake::Checked(d, 1001), 1);
        EXPECT_EQ(fake::Checked(d, 1002), 0);
        EXPECT_EQ(fake::Checked(d, 1011), 0);  // the last group wraps round to the first
        fake::Click(d, 1012);                  // hidden
        fake::Click(d, 1020);                  // disabled
        fake::PressClose(d);
    });
    EXPECT_EQ(DialogBoxParamA(fake::Instance(), MAKEINTRESOURCEA(200), nullptr, Proc, 0), -1);
    EXPECT_THAT(commands, ElementsAre(1001, IDCANCEL));
    EXPECT_EQ(fake::DialogsLeftOpen(), 1);
}

// Each row: the button clicked and the marks of r1, r2, r3 after it, from
// all three checked.
TEST_F(HostDialogTest, AutoRadioGroupsRunRoundTheEndOfTheControlList) {
    struct Row {
        int clicked;
        int r1, r2, r3;
    };
    const Row rows[] = {
        {1101, 1, 1, 0},  // r1 has no group start before it: the last group's
        {1102, 1, 1, 1},  // a group bounded on both sides
        {1103, 0, 1, 1},
    };
    for (const Row& row : rows) {
        fake::OnDialog(201, [&](HWND d) {
            for (int id = 1101; id <= 1103; ++id) SendDlgItemMessageA(d, id, BM_SETCHECK, 1, 0);
            fake::Click(d, row.clicked);
            EXPECT_EQ(fake::Checked(d, 1101), row.r1) << row.clicked;
            EXPECT_EQ(fake::Checked(d, 1102), row.r2) << row.clicked;
            EXPECT_EQ(fake::Checked(d, 1103), row.r3) << row.clicked;
            EndDialog(d, 1);
        });
        EXPECT_EQ(DialogBoxParamA(fake::Instance(), MAKEINTRESOURCEA(201), nullptr, Proc, 0), 1);
    }
}

}  // namespace
