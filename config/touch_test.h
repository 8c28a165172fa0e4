// The touch test's figures: for each touch the raw position the driver
// reports, where the stored corners put it, where the pointer landed and
// how far apart those two are; the marks of the touches so far.
#ifndef ZAVIR_CONFIG_TOUCH_TEST_H
#define ZAVIR_CONFIG_TOUCH_TEST_H

#include <windows.h>

#include "zavir.h"

struct TouchMark {
    BOOL haveRaw;          // the driver answered the raw-position request
    LONG rawX, rawY;
    BOOL mapped;           // and the stored corners map it
    LONG mappedX, mappedY;
    LONG pointerX, pointerY;
    LONG distance;         // pixels between mapped and pointer, when mapped
};

// A touch measured: corners NULL when none are stored.
void MeasureTouch(const CornerSet* corners, BOOL haveRaw, LONG rawX, LONG rawY, LONG pointerX,
                  LONG pointerY, int screenWidth, int screenHeight, TouchMark* mark);

// The straight distance, rounded to the nearest pixel.
LONG PixelDistance(LONG dx, LONG dy);

// The newest TOUCH_TRAIL_SIZE marks; an older one makes room for a newer.
#define TOUCH_TRAIL_SIZE 256
struct TouchTrail {
    TouchMark marks[TOUCH_TRAIL_SIZE];
    int count;   // marks held, up to TOUCH_TRAIL_SIZE
    int next;    // where the next one goes
    LONG total;  // touches since the test began
};
void ClearTrail(TouchTrail* trail);
void AddMark(TouchTrail* trail, const TouchMark* mark);
// The i-th mark held, oldest first (0 <= i < count).
const TouchMark* TrailMark(const TouchTrail* trail, int i);

// The line shown for a touch ("Touch 3: raw 512, 512 ..."); always
// terminated within size.
void FormatTouchLine(const TouchMark* mark, LONG number, char* text, int size);

#endif
