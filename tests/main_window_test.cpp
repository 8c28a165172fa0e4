// The hidden main window each program creates.
#include <gtest/gtest.h>

#include "hostfake.h"
#include "main_window.h"

namespace {

TEST(MainWindowTest, ClassAndWindowAreExactlyAsOtherProgramsLookForThem) {
    fake::Reset();
    HINSTANCE instance = fake::Instance();
    ASSERT_TRUE(RegisterMainWindowClass(instance, "Halvern Driver"));
    HWND hwnd = CreateHiddenMainWindow(instance, "Halvern Driver", "Halvern");
    ASSERT_NE(hwnd, nullptr);

    std::vector<fake::ClassInfo> classes = fake::RegisteredClasses();
    ASSERT_EQ(classes.size(), 1u);
    const WNDCLASSEXA& wc = classes[0].wc;
    EXPECT_EQ(wc.cbSize, sizeof(WNDCLASSEXA));
    EXPECT_EQ(wc.style, 0u);
    EXPECT_EQ(wc.cbClsExtra, 0);
    EXPECT_EQ(wc.cbWndExtra, 0);
    EXPECT_EQ(wc.hIcon, LoadIconA(instance, MAKEINTRESOURCEA(101)));
    EXPECT_EQ(wc.hIconSm, wc.hIcon);
    EXPECT_EQ(wc.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ((HGDIOBJ)wc.hbrBackground, GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(wc.lpszMenuName, nullptr);

    fake::WindowInfo w = fake::Window(hwnd);
    EXPECT_EQ(w.style, (DWORD)WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(w.exStyle, 0u);
    EXPECT_EQ(w.x, -1000);
    EXPECT_EQ(w.y, -1000);
    EXPECT_EQ(w.width, -1000);
    EXPECT_EQ(w.height, -1000);
    EXPECT_FALSE(w.visible);
    EXPECT_EQ(FindWindowA("Halvern Driver", "Halvern"), hwnd);

    // Everything goes to the default procedure: a close destroys it.
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(FindWindowA("Halvern Driver", "Halvern"), nullptr);
}

TEST(MainWindowTest, FailedRegistrationIsReported) {
    fake::Reset();
    fake::FailRegisterClass(true);
    EXPECT_FALSE(RegisterMainWindowClass(fake::Instance(), "Halvern XR Setup 1.10"));
}

}  // namespace
