// The settings viewer's report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hostfake.h"
#include "report.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char* kKey = "HKLM\\software\\corvale\\zavir";

class ReportTest : public ::testing::Test {
   protected:
    void SetUp() override { fake::Reset(); }
    std::string Report() {
        static char text[REPORT_SIZE];
        memset(text, 0x55, sizeof text);
        BuildSettingsReport(text);
        EXPECT_LT(strlen(text), (size_t)REPORT_SIZE);
        return text;
    }
};

TEST_F(ReportTest, SaysClearlyWhenTheSuiteIsNotInstalled) {
    std::string r = Report();
    EXPECT_THAT(r, HasSubstr("software\\corvale\\zavir is missing"));
    EXPECT_THAT(r, HasSubstr("run SETUP.EXE"));
    EXPECT_THAT(r, HasSubstr("(not registered)"));
}

TEST_F(ReportTest, ShowsEveryValueMissingOnesAndOddOnes) {
    fake::RegPutDword(kKey, "LeftUpX", (DWORD)-3);
    fake::RegPutDword(kKey, "ComBaud", 19200);
    fake::RegPutString(kKey, "ComPort", "far too long for a number");
    fake::RegPutString("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                       "Programs", "C:\\WINDOWS\\Start Menu\\Programs");
    std::string r = Report();
    EXPECT_THAT(r, HasSubstr("LeftUpX\t-3\t"));
    EXPECT_THAT(r, HasSubstr("ComBaud\t19200\tline speed"));
    EXPECT_THAT(r, HasSubstr("ComPort\tunreadable"));
    EXPECT_THAT(r, HasSubstr("First\tmissing\tsetup flag (programs use 0)"));
    EXPECT_THAT(r, HasSubstr("Programs folder: C:\\WINDOWS\\Start Menu\\Programs\\ZAVIR"));
    for (REGSAM access : fake::RegAccessMasks()) EXPECT_EQ(access, (REGSAM)KEY_READ);
    EXPECT_EQ(fake::CountOf("RegSetValueExA"), 0u);
}

TEST_F(ReportTest, UnterminatedOrOverlongFolderTextIsCutSafely) {
    const char* shell = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    std::string longText(600, 'p');
    fake::RegPut(shell, "Programs", REG_SZ, std::vector<uint8_t>(longText.begin(), longText.end()));
    std::string r = Report();
    EXPECT_THAT(r, Not(HasSubstr("Programs folder: p")));  // too long to read: unknown
    EXPECT_THAT(r, HasSubstr("Programs folder: (unknown)"));
    fake::RegPut(shell, "Programs", REG_SZ, {'C', ':', '\\', 'P'});  // no NUL
    EXPECT_THAT(Report(), HasSubstr("Programs folder: C:\\P\\ZAVIR\r\n"));
    fake::RegPut(shell, "Programs", REG_SZ, std::vector<uint8_t>(MAX_PATH, 'q'));  // the limit
    EXPECT_THAT(Report(), HasSubstr(": " + std::string(MAX_PATH - 1, 'q') + "\\ZAVIR\r\n"));
    fake::RegPut(shell, "Programs", REG_SZ, std::vector<uint8_t>(MAX_PATH + 1, 'q'));
    EXPECT_THAT(Report(), HasSubstr("Programs folder: (unknown)"));
}

}  // namespace
