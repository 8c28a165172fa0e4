// The serial ports the suite knows and how the touch controller's port is
// opened: setup offers the ports and rates, the touch service reads its
// port, and CONFIG's finder listens on each port and rate in turn.
#ifndef ZAVIR_COMMON_COM_PORT_H
#define ZAVIR_COMMON_COM_PORT_H

#include <windows.h>

// COM1 to COM4 with the I/O base and the interrupt line proposed with each.
struct ComPortRow {
    LONG port;
    LONG base;
    LONG irq;
};
#define COM_PORT_COUNT 4
extern const ComPortRow kComPorts[COM_PORT_COUNT];

// The baud rates setup offers, in the order it lists them.
#define COM_BAUD_COUNT 4
extern const LONG kComBauds[COM_BAUD_COUNT];

// Which of kComPorts the system lists under hardware\devicemap\serialcomm,
// bit i for kComPorts[i]; all of them when it lists none (or has no list).
DWORD ListedComPorts();

// "\\.\COMn" for port 1 to 8; FALSE (and name untouched) for any other.
BOOL ComPortDeviceName(LONG comPort, char* name, int size);

// 8N1, no abort on a line error and, when it is one of 1200, 2400, 9600,
// 19200, the baud rate; every other field stays as the port reported it.
void ApplyLineSettings(DCB* dcb, LONG baud);

// Opens COM<comPort> for reading only and exclusively, sets the line and
// the queues and asks for received-character events; the read time-outs
// are the caller's.  0 when open (*port set); 1 when the device would not
// open; 2 when comPort is outside 1..8 or the port state can't be read; 3
// when it can't be set.  On failure *port is INVALID_HANDLE_VALUE and
// nothing stays open.
int OpenControllerPort(LONG comPort, LONG baud, HANDLE* port);

#endif
