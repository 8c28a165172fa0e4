// Opening a controller's port: a file of its own, so that a program that
// only lists the ports links none of the serial calls.
#include "com_port.h"

namespace {

BOOL IsSupportedBaud(LONG baud) {
    return baud == CBR_1200 || baud == CBR_2400 || baud == CBR_9600 || baud == CBR_19200;
}

}  // namespace

void ApplyLineSettings(DCB* dcb, LONG baud) {
    if (IsSupportedBaud(baud)) dcb->BaudRate = (DWORD)baud;
    dcb->ByteSize = 8;
    dcb->Parity = NOPARITY;
    dcb->StopBits = ONESTOPBIT;
    // A port left to abort on a line error would fail every read after the
    // first garbled byte until someone cleared the error.
    dcb->fAbortOnError = FALSE;
}

int OpenControllerPort(LONG comPort, LONG baud, HANDLE* port) {
    *port = INVALID_HANDLE_VALUE;
    char name[16];
    if (!ComPortDeviceName(comPort, name, sizeof name)) return 2;
    // Read only and exclusive: nobody else reads the controller meanwhile.
    HANDLE h = CreateFileA(name, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return 1;

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    int result = 0;
    if (!GetCommState(h, &dcb)) {
        result = 2;
    } else {
        ApplyLineSettings(&dcb, baud);
        if (!SetCommState(h, &dcb)) result = 3;
    }
    if (result != 0) {
        // Nobody else is to find the port held while the failure is shown.
        CloseHandle(h);
        return result;
    }
    SetupComm(h, 1000, 1000);
    SetCommMask(h, EV_RXCHAR);
    *port = h;
    return 0;
}
