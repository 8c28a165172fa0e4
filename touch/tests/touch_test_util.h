// Shared set-up for the touch service's tests: a machine with the settings
// key, the controller's port and the driver, and helpers to read back what
// reached the driver.
#ifndef TOUCH_TESTS_TOUCH_TEST_UTIL_H
#define TOUCH_TESTS_TOUCH_TEST_UTIL_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostfake.h"
#include "resource.h"
#include "touch.h"

namespace touchtest {

const char kKey[] = "HKLM\\software\\corvale\\zavir";

inline void LoadTouchResources() {
    static bool loaded = false;
    if (loaded) return;
    fake::LoadResourceScript(ZAVIR_SOURCE_DIR "/touch/touch.rc",
                             ZAVIR_SOURCE_DIR "/touch/resource.h");
    loaded = true;
}

// A machine where the service starts: settings naming COM<port> at
// <baud>, the port there, the driver loadable.
inline void InstalledMachine(int port = 1, DWORD baud = 9600) {
    fake::RegPutDword(kKey, "ComPort", (DWORD)port);
    fake::RegPutDword(kKey, "ComBaud", baud);
    fake::AddComPort(port, 9600);
    fake::SetDriverPresent(true);
}

// Each record forwarded to the driver, as its four words.
inline std::vector<std::vector<DWORD>> ForwardedRecords() {
    std::vector<std::vector<DWORD>> out;
    for (const fake::DeviceRequest& r : fake::DeviceRequests())
        if (r.code == kPacketRequest) out.push_back(r.InWords());
    return out;
}

inline size_t HandOvers() {
    size_t n = 0;
    for (const fake::DeviceRequest& r : fake::DeviceRequests())
        if (r.code == kHandOverRequest) ++n;
    return n;
}

// Position of the first recorded call named name whose arguments start
// with prefix, or -1.
inline int CallIndex(const std::string& name, const std::string& prefix = "") {
    const auto& calls = fake::Calls();
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].name == name && calls[i].args.compare(0, prefix.size(), prefix) == 0)
            return (int)i;
    return -1;
}

class TouchTest : public ::testing::Test {
   protected:
    void SetUp() override {
        LoadTouchResources();
        fake::Reset();
        ResetTouchState();
    }
    void TearDown() override {
        if (g_port != INVALID_HANDLE_VALUE) CloseHandle(g_port);
        CloseZavirDriver(&g_driver);
        ResetTouchState();
    }
};

}  // namespace touchtest

#endif
