// CONFIG's two further pages, each a modal dialog of the settings viewer.
#ifndef ZAVIR_CONFIG_PAGES_H
#define ZAVIR_CONFIG_PAGES_H

#include <windows.h>

// The controller finder (IDD_FINDER).
INT_PTR CALLBACK FinderDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// How long each setting is listened to, and how often the port is read.
#define FINDER_LISTEN_MS 2000
#define FINDER_READ_MS 50

// The full-screen touch test (IDD_TOUCH_TEST).
INT_PTR CALLBACK TouchTestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
