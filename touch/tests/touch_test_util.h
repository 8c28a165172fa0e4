// Shared set-up of the touch service's tests: a machine where the service
// starts (settings naming COM1 at 19200, the port at 2400, the driver), and
// what reached the driver.
#ifndef TOUCH_TESTS_TOUCH_TEST_UTIL_H
#define TOUCH_TESTS_TOUCH_TEST_UTIL_H

#include <gtest/gtest.h>

#include <vector>

#include "hostfake.h"
#include "resource.h"
#include "touch.h"

typedef std::vector<DWORD> Words;
const char kKey[] = "HKLM\\software\\corvale\\zavir";
const int kGap = -1, kError = -2;  // line events besides bytes

class TouchTest : public ::testing::Test {
 protected:
    void SetUp() override {
        static bool loaded = false;
        if (!loaded)
            fake::LoadResourceScript(ZAVIR_SOURCE_DIR "/touch/touch.rc",
                                     ZAVIR_SOURCE_DIR "/touch/resource.h");
        loaded = true;
        fake::Reset();
        ResetTouchState();
        fake::RegPutDword(kKey, "ComPort", 1);
        fake::RegPutDword(kKey, "ComBaud", 19200);
        fake::AddComPort(1, 2400);
        fake::SetDriverPresent(true);
    }
    // Port and driver open as the dialog opens them, for the pump alone.
    void OpenHandles() {
        g_settings.ComPort = 1;
        ASSERT_EQ(OpenSerialPort(), 0);
        ASSERT_TRUE(OpenZavirDriver(&g_driver));
    }
    static void Feed(const std::vector<int>& line) {
        for (int v : line) {
            if (v == kGap)
                fake::SerialGap(1);
            else if (v == kError)
                fake::SerialReadError(1);
            else
                fake::FeedSerial(1, {(uint8_t)v});
        }
    }
    static std::vector<Words> Forwarded() {
        std::vector<Words> out;
        for (const fake::DeviceRequest& r : fake::DeviceRequests())
            if (r.code == kPacketRequest && r.inSize == 16) out.push_back(r.InWords());
        return out;
    }
};

#endif
