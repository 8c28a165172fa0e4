#include "calibration.h"

namespace {

// Keeps the low 32 bits, as the 32-bit arithmetic of the driver's corner
// words would; only readings far outside any panel's range ever need it.
LONG Low32(long long value) { return (LONG)(DWORD)((unsigned long long)value & 0xFFFFFFFFu); }

}  // namespace

BOOL LoadCalibrationSettings(TouchSettings* settings) {
    return LoadSettingValues(settings, kTrueposValues);
}

BOOL SaveCalibrationSettings(const TouchSettings* settings) {
    return SaveSettingValues(settings, kTrueposValues);
}

void CornersToSettings(const CornerSet* c, TouchSettings* s) {
    s->LeftUpX = c->LeftUpX;
    s->LeftUpY = c->LeftUpY;
    s->RightUpX = c->RightUpX;
    s->RightUpY = c->RightUpY;
    s->RightDnX = c->RightDnX;
    s->RightDnY = c->RightDnY;
    s->LeftDnX = c->LeftDnX;
    s->LeftDnY = c->LeftDnY;
}

void TakeSavedCorners(CalibrationValues* values) {
    CornersFromSettings(&values->settings, &values->saved);
}

void RestoreSavedCorners(CalibrationValues* values) {
    CornersToSettings(&values->saved, &values->settings);
}

LONG EdgeExtension(LONG from, LONG to) {
    // The span is taken in 64 bits so that readings at the ends of the
    // 32-bit range can't overflow; C++ division truncates toward zero, and
    // an eighth of any such span fits in 32 bits again.
    long long span = (long long)to - (long long)from - 1;
    return (LONG)(span / 8);
}

void ComputeCorners(const RawReading r[kReadingCount], CornerSet* c) {
    const RawReading& tl = r[kTopLeftReading];
    const RawReading& tr = r[kTopRightReading];
    const RawReading& bl = r[kBottomLeftReading];
    const RawReading& br = r[kBottomRightReading];

    long long top = EdgeExtension(tl.x, tr.x);
    long long bottom = EdgeExtension(bl.x, br.x);
    long long left = EdgeExtension(tl.y, bl.y);
    long long right = EdgeExtension(tr.y, br.y);

    c->LeftUpX = Low32(tl.x - top);
    c->RightUpX = Low32(tr.x + top);
    c->LeftDnX = Low32(bl.x - bottom);
    c->RightDnX = Low32(br.x + bottom);
    c->LeftUpY = Low32(tl.y - left);
    c->LeftDnY = Low32(bl.y + left);
    c->RightUpY = Low32(tr.y - right);
    c->RightDnY = Low32(br.y + right);
}
