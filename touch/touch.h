// The touch service: reads the touch controller's packets from a serial
// port on a 20 ms timer and hands each one to the kernel driver.  All of it
// runs inside the status window's modal dialog.
#ifndef TOUCH_TOUCH_H
#define TOUCH_TOUCH_H

#include <windows.h>

#include "com_port.h"
#include "settings.h"
#include "zavir.h"

// The tray icon's callback message.
#define WM_TRAYICON (WM_APP + 0x64)

// Lead byte of every controller packet, and the data byte pair that marks
// a release packet.
#define TOUCH_LEAD_BYTE 0xFF
#define TOUCH_RELEASE_BYTE 0xFE

// Tick counter values: the hand-over tick, the steady-state window and
// what a tray press sets.
#define TICK_HAND_OVER 9
#define TICK_RESUME 40
#define TICK_LIMIT 50
#define TICK_TRAY_PRESS 1000

// Process-wide state, one of each.
extern TouchSettings g_settings;
extern HANDLE g_port;
extern ZavirDriver g_driver;
extern HWND g_mainWindow;
extern HICON g_appIcon;
extern LONG g_tickCounter;

// Back to the state of a freshly started process.
void ResetTouchState(void);

// ---- serial port -------------------------------------------------------
// The read time-outs; the write time-outs stay as the port reported them.
void ApplyReadTimeouts(COMMTIMEOUTS* timeouts);
// Opens and configures COM<ComPort> of g_settings into g_port.  0 when
// open; 1 when the device would not open; 2 when ComPort is outside 1..8
// or the port state can't be read; 3 when it can't be set.  On failure
// g_port is left closed.
int OpenSerialPort(void);

// ---- the timer tick ----------------------------------------------------
enum TickAction {
    kTickHandOver,  // hide the status window and hand over to the driver
    kTickSkip,      // leave the port alone this tick
    kTickRead       // run the packet pump
};
// Moves the counter on by one tick and says what the tick does.
TickAction AdvanceTickCounter(LONG* counter);

// Reads every packet that follows without a gap and forwards it to the
// driver; the counter goes to 40 for each forwarded packet.  Ends at a byte
// that is not a lead byte, a failed read or a read that timed out empty.
// A packet cut short by the time-outs is dropped.  Returns the number of
// packets forwarded.
int PumpPackets(HANDLE port, ZavirDriver* driver, LONG* counter);

// One WM_TIMER of the status window.
void OnTimerTick(HWND dialog);

// ---- the status window -------------------------------------------------
void AddTrayIcon(HWND dialog);
void DeleteTrayIcon(HWND dialog);
INT_PTR CALLBACK StatusDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

#endif
