// Text built in fixed buffers.
#ifndef ZAVIR_CONFIG_TEXT_H
#define ZAVIR_CONFIG_TEXT_H

#include <windows.h>

// Appends as much of more as fits; text (size bytes) stays terminated.
inline void AppendText(char* text, int size, const char* more) {
    int used = lstrlenA(text);
    int room = size - used;
    if (room > 1) lstrcpynA(text + used, more, room);
}

#endif
