// What the start-up hands WinMain: the arguments after the program's name
// and the show state.
#include <gtest/gtest.h>

#include <string>

#include "arguments.h"

namespace {

std::string ArgumentsOf(const char* line) {
    std::string copy = line;
    return CommandLineArguments(&copy[0]);
}

TEST(StartupTest, ArgumentsFollowTheProgramsNameQuotedOrNot) {
    const struct {
        const char* line;
        const char* arguments;
    } cases[] = {
        {"ZAVIREMU.EXE --log C:\\E.LOG", "--log C:\\E.LOG"},
        {"\"C:\\Program Files\\ZAVIR\\ZAVIREMU.EXE\" --qpc", "--qpc"},
        {"C:\\ZAVIR\\TOUCH.EXE", ""},
        {"\"C:\\My Programs\\TOUCH.EXE\"", ""},
        {"TOUCH.EXE \t  a  b ", "a  b "},
        {"\"C:\\Dir\\\"A.EXE x", "x"},              // a quote inside the name
        {"C:\\\xc4RGER\\Z.EXE --qpc", "--qpc"},     // a letter above 127
        {"\"C:\\NO END QUOTE --qpc", ""},          // all of it is the name
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ArgumentsOf(c.line), c.arguments) << c.line;
}

TEST(StartupTest, ShowStateOnlyWhenTheStarterGaveOne) {
    STARTUPINFOA startup = {};
    startup.wShowWindow = SW_HIDE;
    EXPECT_EQ(StartupShowState(&startup), SW_SHOWDEFAULT);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    EXPECT_EQ(StartupShowState(&startup), SW_HIDE);
}

}  // namespace
