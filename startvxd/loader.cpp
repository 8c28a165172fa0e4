#include "loader.h"

LoaderRole RunLoader(const LoaderPlatform* p) {
    HANDLE device = p->openDevice(p->context);
    if (device != INVALID_HANDLE_VALUE && device != NULL) {
        p->waitForSessionEnd(p->context);
        p->closeDevice(p->context, device);
        return kLoaderHeldDevice;
    }
    if (p->startStandIn(p->context) != 0) return kLoaderEndedQuietly;
    p->waitForSessionEnd(p->context);
    return kLoaderServedStandIn;
}

BOOL LoaderSessionEnds(UINT message, WPARAM wParam, LPARAM lParam, BOOL windowsNT,
                       BOOL systemSaysEnding) {
    if (message != WM_ENDSESSION || !wParam) return FALSE;
    if (windowsNT) return systemSaysEnding;
    return (lParam & ENDSESSION_LOGOFF) == 0;
}
