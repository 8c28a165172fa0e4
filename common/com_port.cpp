#include "com_port.h"

const ComPortRow kComPorts[COM_PORT_COUNT] = {
    {1, 0x3F8, 4},
    {2, 0x2F8, 3},
    {3, 0x3E8, 7},
    {4, 0x2E8, 5},
};

const LONG kComBauds[COM_BAUD_COUNT] = {19200, 9600, 2400, 1200};

namespace {

const LONG kFirstPort = 1;
const LONG kLastPort = 8;

const char kSerialKey[] = "hardware\\devicemap\\serialcomm";
const char* const kPortValues[COM_PORT_COUNT] = {"COM1", "COM2", "COM3", "COM4"};

}  // namespace

DWORD ListedComPorts() {
    const DWORD all = (1 << COM_PORT_COUNT) - 1;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return all;
    DWORD listed = 0;
    for (int i = 0; i < COM_PORT_COUNT; ++i) {
        DWORD size = 0;
        if (RegQueryValueExA(key, kPortValues[i], NULL, NULL, NULL, &size) == ERROR_SUCCESS)
            listed |= 1 << i;
    }
    RegCloseKey(key);
    return listed != 0 ? listed : all;
}

BOOL ComPortDeviceName(LONG comPort, char* name, int size) {
    static const char kPrefix[] = "\\\\.\\COM";
    if (comPort < kFirstPort || comPort > kLastPort) return FALSE;
    if (size < (int)sizeof kPrefix + 1) return FALSE;
    lstrcpynA(name, kPrefix, size);
    int length = lstrlenA(name);
    name[length] = (char)('0' + comPort);
    name[length + 1] = 0;
    return TRUE;
}
