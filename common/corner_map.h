// How a raw controller position maps to a screen pixel through the eight
// corner values: the stand-in moves the pointer by it, and CONFIG's touch
// test shows where the stored corners put a touch.
#ifndef ZAVIR_COMMON_CORNER_MAP_H
#define ZAVIR_COMMON_CORNER_MAP_H

#include <windows.h>

#include "settings.h"
#include "zavir.h"

// The eight corner values of a settings record.
void CornersFromSettings(const TouchSettings* settings, CornerSet* corners);

// The corners every program starts from when the settings hold none:
// raw (0, 0) is the top-left pixel and raw (1024, 1024) the bottom-right.
void DefaultCorners(CornerSet* corners);

// TRUE when the four corners span an area that a raw position can be
// mapped through (no three of them on one line, no crossed edges).
BOOL CornersUsable(const CornerSet* corners);

// Maps a raw position through the corners to a pixel of a screen of the
// given size.  The corners are the raw positions of the screen's four outer
// corners (the far edges lie one past the last pixel); a position outside
// them lands on the nearest edge pixel.  FALSE, and
// nothing written, when the corners are not usable or the screen is empty.
BOOL MapRawToScreen(const CornerSet* corners, LONG rawX, LONG rawY, int screenWidth,
                    int screenHeight, LONG* pixelX, LONG* pixelY);

#endif
