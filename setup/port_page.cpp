// The port, IRQ and baud page.  Its automatic radio buttons share groups
// across the three choices (see the template), so after every click the
// page puts the check marks back to match the settings.
#include "resource.h"
#include "setup.h"

namespace {

struct PortRow {
    int button;
    LONG port;
    LONG base;
    LONG irq;  // proposed with the port
};
const PortRow kPorts[] = {
    {IDC_COM1, 1, 0x3F8, 4},
    {IDC_COM2, 2, 0x2F8, 3},
    {IDC_COM3, 3, 0x3E8, 7},
    {IDC_COM4, 4, 0x2E8, 5},
};

struct Choice {
    int button;
    LONG value;
};
const Choice kIrqs[] = {
    {IDC_IRQ4, 4},   {IDC_IRQ3, 3},   {IDC_IRQ5, 5},   {IDC_IRQ7, 7},
    {IDC_IRQ9, 9},   {IDC_IRQ10, 10}, {IDC_IRQ11, 11}, {IDC_IRQ12, 12},
    {IDC_IRQ13, 13}, {IDC_IRQ14, 14}, {IDC_IRQ15, 15},
};
const Choice kBauds[] = {
    {IDC_BAUD19200, 19200},
    {IDC_BAUD9600, 9600},
    {IDC_BAUD2400, 2400},
    {IDC_BAUD1200, 1200},
};

const char kSerialKey[] = "hardware\\devicemap\\serialcomm";
const char* const kPortValues[] = {"COM1", "COM2", "COM3", "COM4"};

#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

int PortButton(LONG port) {
    for (size_t i = 0; i < COUNT(kPorts); ++i)
        if (kPorts[i].port == port) return kPorts[i].button;
    return 0;
}

int ChoiceButton(const Choice* table, size_t count, LONG value) {
    for (size_t i = 0; i < count; ++i)
        if (table[i].value == value) return table[i].button;
    return 0;
}

int IrqButton(LONG irq) { return ChoiceButton(kIrqs, COUNT(kIrqs), irq); }
int BaudButton(LONG baud) { return ChoiceButton(kBauds, COUNT(kBauds), baud); }

// A value without a button has no mark to set.
void Mark(HWND page, int button, BOOL on) {
    if (button != 0) SendDlgItemMessageA(page, button, BM_SETCHECK, on ? 1 : 0, 0);
}

// Offers the ports 1-4 that the system lists; when it lists none of them
// (or has no list), all four.
void ShowPorts(HWND page) {
    int found = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        found = 4;
        for (size_t i = 0; i < COUNT(kPorts); ++i)
            ShowWindow(GetDlgItem(page, kPorts[i].button), SW_SHOW);
    } else {
        for (size_t i = 0; i < COUNT(kPorts); ++i) {
            DWORD size = 0;
            if (RegQueryValueExA(key, kPortValues[i], NULL, NULL, NULL, &size) == ERROR_SUCCESS)
                ++found;
            else
                ShowWindow(GetDlgItem(page, kPorts[i].button), SW_HIDE);
        }
        RegCloseKey(key);
    }
    if (found == 0)
        for (size_t i = 0; i < COUNT(kPorts); ++i)
            ShowWindow(GetDlgItem(page, kPorts[i].button), SW_SHOW);
}

void OnPort(HWND page, const PortRow& row) {
    if (row.port != Settings.ComPort) {
        Settings.ComPort = row.port;
        Settings.ComBase = row.base;
        Settings.ComIrq = row.irq;
        Mark(page, PortButton(CheckedPort), FALSE);
        Mark(page, IrqButton(CheckedIrq), FALSE);
        Mark(page, row.button, TRUE);
        Mark(page, IrqButton(row.irq), TRUE);
        CheckedPort = row.port;
        CheckedIrq = row.irq;
    }
    // The click cleared every other choice button of its group (IRQ 4, 3,
    // 7 and 5, and round the end of the list the baud and IRQ 9-15 ones),
    // so the IRQ mark is restored as well as the baud mark.
    Mark(page, IrqButton(Settings.ComIrq), TRUE);
    Mark(page, BaudButton(Settings.ComBaud), TRUE);
}

void OnIrq(HWND page, LONG irq) {
    if (irq != Settings.ComIrq) {
        Settings.ComIrq = irq;
        Mark(page, IrqButton(CheckedIrq), FALSE);
        Mark(page, IrqButton(irq), TRUE);
        CheckedIrq = irq;
    }
    Mark(page, PortButton(Settings.ComPort), TRUE);
    Mark(page, BaudButton(Settings.ComBaud), TRUE);
}

void OnBaud(HWND page, LONG baud) {
    if (baud != Settings.ComBaud) {
        Settings.ComBaud = baud;
        Mark(page, BaudButton(CheckedBaud), FALSE);
        Mark(page, BaudButton(baud), TRUE);
        CheckedBaud = baud;
    }
    Mark(page, PortButton(Settings.ComPort), TRUE);
    Mark(page, IrqButton(Settings.ComIrq), TRUE);
}

// Handles a click on one of the choice buttons; FALSE for any other id.
BOOL OnChoice(HWND page, int id) {
    for (size_t i = 0; i < COUNT(kPorts); ++i) {
        if (kPorts[i].button == id) {
            OnPort(page, kPorts[i]);
            return TRUE;
        }
    }
    for (size_t i = 0; i < COUNT(kIrqs); ++i) {
        if (kIrqs[i].button == id) {
            OnIrq(page, kIrqs[i].value);
            return TRUE;
        }
    }
    for (size_t i = 0; i < COUNT(kBauds); ++i) {
        if (kBauds[i].button == id) {
            OnBaud(page, kBauds[i].value);
            return TRUE;
        }
    }
    return FALSE;
}

void ClosePage(HWND page, int result) {
    PageResult = result;
    EndDialog(page, result);
}

}  // namespace

INT_PTR CALLBACK PortPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            PageResult = kResultNone;
            ShowPorts(page);
            // A port whose button is hidden stays the current port.
            Mark(page, PortButton(Settings.ComPort), TRUE);
            Mark(page, IrqButton(Settings.ComIrq), TRUE);
            Mark(page, BaudButton(Settings.ComBaud), TRUE);
            return TRUE;
        case WM_COMMAND: {
            int id = LOWORD(wParam);
            if (OnChoice(page, id)) return TRUE;
            if (id == IDC_NEXT) {
                ClosePage(page, kResultNext);
            } else if (id == IDC_BACK) {
                ClosePage(page, kResultBack);
            } else if (id == IDC_CANCEL) {
                RollBackInstall();
                ClosePage(page, kResultCancel);
            }
            return TRUE;
        }
    }
    return FALSE;
}
