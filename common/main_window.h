// The hidden main window every program of the suite creates before its
// dialog: it names the running program to others (setup looks for the touch
// service's) and is never shown.
#ifndef ZAVIR_COMMON_MAIN_WINDOW_H
#define ZAVIR_COMMON_MAIN_WINDOW_H

#include <windows.h>

// Class style 0, icon resource 101 as large and small icon, the arrow
// cursor, the black stock brush, a procedure that leaves everything to
// DefWindowProc.  FALSE when the class can't be registered.
BOOL RegisterMainWindowClass(HINSTANCE instance, const char* className);

// A top-level overlapped window at x, y, width and height -1000.
HWND CreateHiddenMainWindow(HINSTANCE instance, const char* className, const char* title);

// The touch service's hidden main window, which names it to the others.
extern const char kTouchServiceClass[];  // "Halvern Driver"
extern const char kTouchServiceTitle[];  // "Halvern"
// The running touch service's main window, or NULL.
HWND FindTouchService();

#endif
