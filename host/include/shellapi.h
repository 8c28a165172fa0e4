// Host stand-in: the shell declarations live in windows.h.
#include <windows.h>
