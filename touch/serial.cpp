// The serial side of the service: opening and configuring the controller's
// port, the tick counter and the packet pump.
#include "touch.h"

namespace {

// A read that delivered every byte asked for.  A short count means the
// time-outs ran out first.
BOOL ReadExactly(HANDLE port, BYTE* buffer, DWORD count) {
    DWORD got = 0;
    return ReadFile(port, buffer, count, &got, NULL) && got == count;
}

BOOL ReadLeadByte(HANDLE port) {
    BYTE lead = 0;
    return ReadExactly(port, &lead, 1) && lead == TOUCH_LEAD_BYTE;
}

}  // namespace

void ApplyReadTimeouts(COMMTIMEOUTS* timeouts) {
    // A lone byte waits at most 251 ms, a pair 501 ms: a silent line ends
    // a tick within about a quarter of a second.
    timeouts->ReadIntervalTimeout = 500;
    timeouts->ReadTotalTimeoutMultiplier = 250;
    timeouts->ReadTotalTimeoutConstant = 1;
}

int OpenSerialPort(void) {
    int result = OpenControllerPort(g_settings.ComPort, g_settings.ComBaud, &g_port);
    if (result != 0) return result;
    COMMTIMEOUTS timeouts;
    ZeroMemory(&timeouts, sizeof timeouts);
    GetCommTimeouts(g_port, &timeouts);
    ApplyReadTimeouts(&timeouts);
    SetCommTimeouts(g_port, &timeouts);
    return 0;
}

TickAction AdvanceTickCounter(LONG* counter) {
    if (*counter == TICK_HAND_OVER) {
        *counter = TICK_HAND_OVER + 1;
        return kTickHandOver;
    }
    ++*counter;
    if (*counter > TICK_LIMIT) {
        // Every eleventh idle tick, and the tick after a tray press, lets
        // the message loop breathe without a blocking read.
        *counter = TICK_RESUME;
        return kTickSkip;
    }
    return kTickRead;
}

int PumpPackets(HANDLE port, ZavirDriver* driver, LONG* counter) {
    int forwarded = 0;
    if (!ReadLeadByte(port)) return 0;
    do {
        BYTE data[4];
        if (!ReadExactly(port, data, 2)) continue;  // cut short: dropped
        PacketRecord record;
        if (data[0] == TOUCH_RELEASE_BYTE && data[1] == TOUCH_RELEASE_BYTE) {
            record.word[0] = TOUCH_RELEASE_BYTE;
            record.word[1] = TOUCH_RELEASE_BYTE;
            record.word[2] = 0;
            record.word[3] = 0;
            // The driver takes a release twice in a row.
            SendPacket(driver, &record);
            SendPacket(driver, &record);
        } else {
            if (!ReadExactly(port, data + 2, 2)) continue;  // cut short: dropped
            for (int i = 0; i < 4; ++i) record.word[i] = data[i];
            SendPacket(driver, &record);
        }
        *counter = TICK_RESUME;
        ++forwarded;
    } while (ReadLeadByte(port));
    return forwarded;
}

void OnTimerTick(HWND dialog) {
    switch (AdvanceTickCounter(&g_tickCounter)) {
        case kTickHandOver:
            ShowWindow(dialog, SW_HIDE);
            SendHandOver(&g_driver);
            break;
        case kTickSkip:
            break;
        case kTickRead:
            PumpPackets(g_port, &g_driver, &g_tickCounter);
            break;
    }
}
