// STARTVXD, the start-up loader that setup registers under RunServices:
// what it does with the Windows session, free of platform calls.
#ifndef ZAVIR_STARTVXD_LOADER_H
#define ZAVIR_STARTVXD_LOADER_H

#include <windows.h>

// The platform calls the loader makes, given by the caller (the program's
// edge, or a test).
struct LoaderPlatform {
    void* context;
    // The kernel driver's device, opened so that it loads and stays
    // loaded while the handle is open; INVALID_HANDLE_VALUE when absent.
    HANDLE (*openDevice)(void* context);
    void (*closeDevice)(void* context, HANDLE device);
    // Starts serving the driver stand-in's pipe; 0 when it serves.
    int (*startStandIn)(void* context);
    // Returns when the Windows session ends.
    void (*waitForSessionEnd)(void* context);
};

enum LoaderRole {
    kLoaderHeldDevice,    // the real driver, kept loaded for the session
    kLoaderServedStandIn, // no driver: this process was its stand-in
    kLoaderEndedQuietly   // neither: nothing to do here
};

// The device first; where it can't be opened (Windows NT and later, Wine)
// the stand-in; where that can't serve either (Windows 9x without the
// driver, or a stand-in already running) the loader ends at once.
LoaderRole RunLoader(const LoaderPlatform* platform);

// TRUE for the message that ends the loader.  On Windows 9x: Windows is
// shutting down or restarting; a log-off is not the end, since the loader
// starts before log-on and serves the next user too.  On Windows NT and
// later it runs as its user and ends with their session, log-off included,
// but only when the system confirms that the session ends (systemSaysEnding):
// any program can send the message.
BOOL LoaderSessionEnds(UINT message, WPARAM wParam, LPARAM lParam, BOOL windowsNT,
                       BOOL systemSaysEnding);

#endif
