// Apart from main_window.cpp: a program that only looks for the touch
// service links none of the window-class code and its imports.
#include "main_window.h"

const char kTouchServiceClass[] = "Halvern Driver";
const char kTouchServiceTitle[] = "Halvern";

HWND FindTouchService() { return FindWindowA(kTouchServiceClass, kTouchServiceTitle); }
