// The controller finder's page: one setting after the other on a timer, so
// that the page answers Stop and Close while it listens.
#include "finder.h"
#include "main_window.h"
#include "pages.h"
#include "resource.h"

namespace {

const UINT_PTR kListenTimer = 1;
// Read in pieces; a tick takes what came since the last, a few pieces at
// the fastest rate.
const DWORD kReadPiece = 256;
const int kPiecesPerTick = 8;

const char kTouchHoldsPort[] =
    "TOUCH.EXE runs and holds the controller's port: end it first.";
const char kHowTo[] =
    "Touch the panel now and then while it listens, 2 s per setting. Nothing is sent.";
const char kNotStoredCaption[] = "Cannot Save Settings";

FinderSearch g_search;
PacketCounter g_counter;
HANDLE g_listening;  // INVALID_HANDLE_VALUE while no port is open
DWORD g_listenStartedAt;

void Show(HWND dialog, int id, BOOL show) {
    ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

void Enable(HWND dialog, int id, BOOL enable) { EnableWindow(GetDlgItem(dialog, id), enable); }

void ShowTable(HWND dialog) {
    static char table[1024];
    FormatFinderTable(&g_search, table, sizeof table);
    SetDlgItemTextA(dialog, IDC_FINDER_TABLE, table);
}

void ShowFinding(HWND dialog) {
    char finding[160];
    FormatFinding(&g_search, finding, sizeof finding);
    SetDlgItemTextA(dialog, IDC_FINDER_STATUS, finding);
}

// Bytes are to be taken as they come: a read returns at once with what
// the port holds.
void ReadAtOnce(HANDLE port) {
    COMMTIMEOUTS timeouts;
    ZeroMemory(&timeouts, sizeof timeouts);  // nothing is ever written
    timeouts.ReadIntervalTimeout = MAXDWORD;
    SetCommTimeouts(port, &timeouts);
}

// Opens the current setting, passing over the ports that won't open;
// FALSE when no setting is left.
BOOL OpenCurrentSetting() {
    for (; g_search.current < g_search.count; ++g_search.current) {
        FinderSetting* s = &g_search.settings[g_search.current];
        if (OpenControllerPort(s->port->port, s->baud, &g_listening) != 0) {
            s->verdict = kPortNotOpen;
            continue;
        }
        ReadAtOnce(g_listening);
        // What the line held before, at another rate, is not this setting's.
        PurgeComm(g_listening, PURGE_RXCLEAR);
        StartCounting(&g_counter);
        g_listenStartedAt = GetTickCount();
        return TRUE;
    }
    return FALSE;
}

void ReadWhatCame() {
    BYTE piece[kReadPiece];
    for (int i = 0; i < kPiecesPerTick; ++i) {
        DWORD got = 0;
        if (!ReadFile(g_listening, piece, sizeof piece, &got, NULL)) return;
        CountBytes(&g_counter, piece, got);
        if (got < sizeof piece) return;
    }
}

void CloseCurrentSetting() {
    if (g_listening == INVALID_HANDLE_VALUE) return;
    ReadWhatCame();
    CloseHandle(g_listening);
    g_listening = INVALID_HANDLE_VALUE;
    FinishCounting(&g_counter);
    FinderSetting* s = &g_search.settings[g_search.current];
    s->tally = g_counter.tally;
    s->verdict = JudgeTally(&s->tally);
    ++g_search.current;
}

void EndSearch(HWND dialog) {
    KillTimer(dialog, kListenTimer);
    CloseCurrentSetting();
    g_search.current = g_search.count;
    ShowTable(dialog);
    ShowFinding(dialog);
    Enable(dialog, IDC_FINDER_START, TRUE);
    Enable(dialog, IDC_FINDER_STOP, FALSE);
    Enable(dialog, IDC_FINDER_STORE, FirstCleanSetting(&g_search) != NULL);
}

// With TOUCH running (also one started since the page opened) its port
// can't be opened, and any other port it can't be using: the page says so
// and offers nothing else.
BOOL RefusedBesideTouch(HWND dialog) {
    if (!FindTouchService()) return FALSE;
    SetDlgItemTextA(dialog, IDC_FINDER_STATUS, kTouchHoldsPort);
    Show(dialog, IDC_FINDER_TABLE, FALSE);
    Show(dialog, IDC_FINDER_START, FALSE);
    Show(dialog, IDC_FINDER_STOP, FALSE);
    Show(dialog, IDC_FINDER_STORE, FALSE);
    SetFocus(GetDlgItem(dialog, IDC_FINDER_CLOSE));
    return TRUE;
}

void StartSearch(HWND dialog) {
    if (RefusedBesideTouch(dialog)) return;
    PlanSearch(&g_search, ListedComPorts());
    Enable(dialog, IDC_FINDER_START, FALSE);
    Enable(dialog, IDC_FINDER_STORE, FALSE);
    Enable(dialog, IDC_FINDER_STOP, TRUE);
    if (!OpenCurrentSetting()) {
        EndSearch(dialog);
        return;
    }
    SetTimer(dialog, kListenTimer, FINDER_READ_MS, NULL);
    ShowTable(dialog);
    ShowFinding(dialog);
}

void OnListenTick(HWND dialog) {
    ReadWhatCame();
    if (GetTickCount() - g_listenStartedAt < FINDER_LISTEN_MS) return;
    CloseCurrentSetting();
    if (!OpenCurrentSetting()) {
        EndSearch(dialog);
        return;
    }
    ShowTable(dialog);
    ShowFinding(dialog);
}

void TellNotStored(HWND dialog, const FinderSetting* found) {
    char text[320];
    wsprintfA(text, "COM %ld at %ld baud was not stored: this user may not change the settings "
              "in HKLM\\software\\corvale\\zavir (or setup has not made them).\n\n"
              "Run CONFIG.EXE as an administrator.", (long)found->port->port, (long)found->baud);
    MessageBoxA(dialog, text, kNotStoredCaption, MB_ICONEXCLAMATION | MB_OK);
}

// Whether the key holds a base and an IRQ of its own, not the defaults.
BOOL StoresBaseAndIrq() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;
    DWORD base = 0, irq = 0;  // sizes only
    BOOL stored =
        RegQueryValueExA(key, SettingName(kComBase), NULL, NULL, NULL, &base) == ERROR_SUCCESS &&
        RegQueryValueExA(key, SettingName(kComIrq), NULL, NULL, NULL, &irq) == ERROR_SUCCESS &&
        base == 4 && irq == 4;
    RegCloseKey(key);
    return stored;
}

void StoreFound(HWND dialog) {
    const FinderSetting* found = FirstCleanSetting(&g_search);
    if (!found) return;
    TouchSettings settings;
    ZeroMemory(&settings, sizeof settings);
    LoadSettingValues(&settings, kFoundValues);
    if (!SaveSettingValues(&settings, FoundSettings(found, &settings, StoresBaseAndIrq()))) {
        TellNotStored(dialog, found);
        return;
    }
    char text[160];
    wsprintfA(text, "Stored: COM %ld at %ld baud, base 0x%lX, IRQ %ld, for TOUCH.EXE's next start.",
              (long)settings.ComPort, (long)settings.ComBaud, (long)settings.ComBase,
              (long)settings.ComIrq);
    SetDlgItemTextA(dialog, IDC_FINDER_STATUS, text);
    Enable(dialog, IDC_FINDER_STORE, FALSE);
}

void StartPage(HWND dialog) {
    g_listening = INVALID_HANDLE_VALUE;
    PlanSearch(&g_search, 0);
    Enable(dialog, IDC_FINDER_STOP, FALSE);
    Enable(dialog, IDC_FINDER_STORE, FALSE);
    if (RefusedBesideTouch(dialog)) return;
    static const INT kTabStops[1] = {36};
    SendDlgItemMessageA(dialog, IDC_FINDER_TABLE, EM_SETTABSTOPS, 1, (LPARAM)kTabStops);
    SetDlgItemTextA(dialog, IDC_FINDER_STATUS, kHowTo);
    SetFocus(GetDlgItem(dialog, IDC_FINDER_START));
}

}  // namespace

INT_PTR CALLBACK FinderDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            StartPage(dialog);
            return FALSE;
        case WM_TIMER:
            if (wParam == kListenTimer) OnListenTick(dialog);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_FINDER_START: StartSearch(dialog); break;
                case IDC_FINDER_STOP: EndSearch(dialog); break;
                case IDC_FINDER_STORE: StoreFound(dialog); break;
                case IDC_FINDER_CLOSE:
                case IDCANCEL:
                    KillTimer(dialog, kListenTimer);
                    CloseCurrentSetting();
                    EndDialog(dialog, 0);
                    break;
            }
            return TRUE;
    }
    return FALSE;
}
