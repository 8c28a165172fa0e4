// The port, IRQ and baud page.  Its automatic radio buttons share groups
// across the three choices (see the template), so after every click the
// page puts the check marks back to match the settings.
#include "com_port.h"
#include "resource.h"
#include "setup.h"

namespace {

// The buttons of kComPorts and kComBauds, in their order.
const int kPortButtons[COM_PORT_COUNT] = {IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4};
const int kBaudButtons[COM_BAUD_COUNT] = {IDC_BAUD19200, IDC_BAUD9600, IDC_BAUD2400,
                                          IDC_BAUD1200};

struct Choice {
    int button;
    LONG value;
};
const Choice kIrqs[] = {
    {IDC_IRQ4, 4},   {IDC_IRQ3, 3},   {IDC_IRQ5, 5},   {IDC_IRQ7, 7},
    {IDC_IRQ9, 9},   {IDC_IRQ10, 10}, {IDC_IRQ11, 11}, {IDC_IRQ12, 12},
    {IDC_IRQ13, 13}, {IDC_IRQ14, 14}, {IDC_IRQ15, 15},
};
#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

int PortButton(LONG port) {
    for (int i = 0; i < COM_PORT_COUNT; ++i)
        if (kComPorts[i].port == port) return kPortButtons[i];
    return 0;
}

int ChoiceButton(const Choice* table, size_t count, LONG value) {
    for (size_t i = 0; i < count; ++i)
        if (table[i].value == value) return table[i].button;
    return 0;
}

int IrqButton(LONG irq) { return ChoiceButton(kIrqs, COUNT(kIrqs), irq); }
int BaudButton(LONG baud) {
    for (int i = 0; i < COM_BAUD_COUNT; ++i)
        if (kComBauds[i] == baud) return kBaudButtons[i];
    return 0;
}

// A value without a button has no mark to set.
void Mark(HWND page, int button, BOOL on) {
    if (button != 0) SendDlgItemMessageA(page, button, BM_SETCHECK, on ? 1 : 0, 0);
}

// Offers the ports 1-4 that the system lists.
void ShowPorts(HWND page) {
    DWORD listed = ListedComPorts();
    for (int i = 0; i < COM_PORT_COUNT; ++i)
        ShowWindow(GetDlgItem(page, kPortButtons[i]), (listed & (1 << i)) ? SW_SHOW : SW_HIDE);
}

void OnPort(HWND page, int button, const ComPortRow& row) {
    if (row.port != Settings.ComPort) {
        Settings.ComPort = row.port;
        Settings.ComBase = row.base;
        Settings.ComIrq = row.irq;
        Mark(page, PortButton(CheckedPort), FALSE);
        Mark(page, IrqButton(CheckedIrq), FALSE);
        Mark(page, button, TRUE);
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
    for (int i = 0; i < COM_PORT_COUNT; ++i) {
        if (kPortButtons[i] == id) {
            OnPort(page, id, kComPorts[i]);
            return TRUE;
        }
    }
    for (size_t i = 0; i < COUNT(kIrqs); ++i) {
        if (kIrqs[i].button == id) {
            OnIrq(page, kIrqs[i].value);
            return TRUE;
        }
    }
    for (int i = 0; i < COM_BAUD_COUNT; ++i) {
        if (kBaudButtons[i] == id) {
            OnBaud(page, kComBauds[i]);
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
