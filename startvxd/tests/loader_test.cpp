// The loader's choice between the real driver, the stand-in and a quiet
// end, and which session messages end it.
#include <gtest/gtest.h>

#include <string>

#include "loader.h"

namespace {

struct FakePlatform {
    HANDLE device;
    int standIn;
    std::string calls;
    HANDLE closed;
};

FakePlatform* Of(void* context) { return static_cast<FakePlatform*>(context); }

HANDLE OpenDevice(void* c) {
    Of(c)->calls += "open ";
    return Of(c)->device;
}
void CloseDevice(void* c, HANDLE device) {
    Of(c)->calls += "close ";
    Of(c)->closed = device;
}
int StartStandIn(void* c) {
    Of(c)->calls += "standin ";
    return Of(c)->standIn;
}
void WaitForSessionEnd(void* c) { Of(c)->calls += "wait "; }

struct RoleCase {
    const char* name;
    HANDLE device;
    int standIn;
    LoaderRole role;
    const char* calls;
};

TEST(RunLoader, PrefersTheDeviceThenTheStandInElseEndsAtOnce) {
    HANDLE device = reinterpret_cast<HANDLE>(0x1234);
    const RoleCase cases[] = {
        // The handle is what keeps the driver loaded: held through the
        // session, closed only after it.
        {"driver present", device, 0, kLoaderHeldDevice, "open wait close "},
        {"driver present, stand-in unused", device, 4, kLoaderHeldDevice, "open wait close "},
        {"no driver, stand-in serves", INVALID_HANDLE_VALUE, 0, kLoaderServedStandIn,
         "open standin wait "},
        // Windows 9x without the driver, or a stand-in already running:
        // nothing to wait for.
        {"no driver, no pipe server", INVALID_HANDLE_VALUE, 4, kLoaderEndedQuietly,
         "open standin "},
        {"null handle is no device", NULL, 4, kLoaderEndedQuietly, "open standin "},
    };
    for (const RoleCase& c : cases) {
        FakePlatform fake = {c.device, c.standIn, "", NULL};
        LoaderPlatform platform = {&fake, OpenDevice, CloseDevice, StartStandIn,
                                   WaitForSessionEnd};
        EXPECT_EQ(RunLoader(&platform), c.role) << c.name;
        EXPECT_EQ(fake.calls, c.calls) << c.name;
        EXPECT_EQ(fake.closed, c.role == kLoaderHeldDevice ? device : NULL) << c.name;
    }
}

struct SessionCase {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    BOOL windowsNT;
    BOOL confirmed;  // the system says the session ends
    BOOL ends;
};

TEST(LoaderSessionEnds, OnlyASessionEndThatGoesAhead) {
    const LPARAM logoff = (LPARAM)ENDSESSION_LOGOFF;
    const SessionCase cases[] = {
        // Windows 9x
        {WM_ENDSESSION, TRUE, 0, FALSE, FALSE, TRUE},      // shutdown or restart
        {WM_ENDSESSION, FALSE, 0, FALSE, FALSE, FALSE},    // another program cancelled it
        {WM_ENDSESSION, TRUE, logoff, FALSE, FALSE, FALSE},  // the next user needs it too
        {WM_ENDSESSION, FALSE, logoff, FALSE, FALSE, FALSE},
        {WM_QUERYENDSESSION, TRUE, 0, FALSE, FALSE, FALSE},  // only asked, not yet ending
        {WM_CLOSE, 0, 0, FALSE, FALSE, FALSE},
        // Windows NT and later: the user's own session, confirmed by the system
        {WM_ENDSESSION, TRUE, 0, TRUE, TRUE, TRUE},
        {WM_ENDSESSION, TRUE, logoff, TRUE, TRUE, TRUE},
        {WM_ENDSESSION, TRUE, 0, TRUE, FALSE, FALSE},       // sent by some program
        {WM_ENDSESSION, TRUE, logoff, TRUE, FALSE, FALSE},
        {WM_ENDSESSION, FALSE, 0, TRUE, TRUE, FALSE},
        {WM_CLOSE, 0, 0, TRUE, TRUE, FALSE},
    };
    for (const SessionCase& c : cases)
        EXPECT_EQ(LoaderSessionEnds(c.message, c.wParam, c.lParam, c.windowsNT, c.confirmed),
                  c.ends)
            << std::hex << c.message << " " << c.wParam << " " << c.lParam << " " << c.windowsNT
            << c.confirmed;
}

}  // namespace
