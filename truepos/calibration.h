// The calibration tool's values: the thirteen settings it carries, the
// corner set saved at start for Cancel, the four raw readings and the
// extrapolation from the readings to the eight corners.  No screen here.
#ifndef TRUEPOS_CALIBRATION_H
#define TRUEPOS_CALIBRATION_H

#include <windows.h>

#include "corner_map.h"
#include "settings.h"
#include "zavir.h"

// One raw touch position as the driver reports it.
struct RawReading {
    LONG x;
    LONG y;
};

// Readings by stage: the order in which the targets are shown.
enum ReadingStage { kTopLeftReading, kTopRightReading, kBottomLeftReading, kBottomRightReading,
                    kReadingCount };

struct CalibrationValues {
    TouchSettings settings;  // working values; its eight corners are the working CornerSet
    BOOL loaded;             // the settings were read at dialog start
    CornerSet saved;         // taken once at dialog start, read only by Cancel
    RawReading readings[kReadingCount];
};

// Load: the thirteen values in record order.  Without the key nothing is
// read and nothing defaulted (FALSE); a value that can't be read takes its
// default.
BOOL LoadCalibrationSettings(TouchSettings* settings);

// Save: the thirteen values as REG_DWORD; the key is never created here.
// TRUE only when every value was stored.
BOOL SaveCalibrationSettings(const TouchSettings* settings);

void CornersToSettings(const CornerSet* corners, TouchSettings* settings);

// The saved set: taken once right after the load, given back by Cancel.
void TakeSavedCorners(CalibrationValues* values);
void RestoreSavedCorners(CalibrationValues* values);

// Raw distance from a target to the nearer screen edge: the targets sit a
// tenth of the screen in, so one eighth of the span between two of them.
LONG EdgeExtension(LONG from, LONG to);

// Extends each screen edge on its own from the four readings; nothing is
// refused, crossed or equal readings included.
void ComputeCorners(const RawReading readings[kReadingCount], CornerSet* corners);

#endif
