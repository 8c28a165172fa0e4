#include "touch_test.h"

#include "corner_map.h"

namespace {

// Far enough for any screen; keeps the square inside 64 bits' reach.
const LONG kFarthest = 1 << 20;

LONG Clamp(LONG v) { return v < -kFarthest ? -kFarthest : v > kFarthest ? kFarthest : v; }

}  // namespace

LONG PixelDistance(LONG dx, LONG dy) {
    dx = Clamp(dx);
    dy = Clamp(dy);
    unsigned long long square = (unsigned long long)((long long)dx * dx + (long long)dy * dy);
    // Whole square root by bisection, then to the nearer neighbour.
    unsigned long long low = 0, high = 2 * (unsigned long long)kFarthest;
    while (low < high) {
        unsigned long long mid = (low + high + 1) / 2;
        if (mid * mid <= square) low = mid; else high = mid - 1;
    }
    // (low + 0.5)^2 = low^2 + low + 0.25: round up past low^2 + low.
    if (square > low * low + low) ++low;
    return (LONG)low;
}

void MeasureTouch(const CornerSet* corners, BOOL haveRaw, LONG rawX, LONG rawY, LONG pointerX,
                  LONG pointerY, int screenWidth, int screenHeight, TouchMark* mark) {
    ZeroMemory(mark, sizeof *mark);
    mark->pointerX = pointerX;
    mark->pointerY = pointerY;
    if (!haveRaw) return;
    mark->haveRaw = TRUE;
    mark->rawX = rawX;
    mark->rawY = rawY;
    if (!corners || !MapRawToScreen(corners, rawX, rawY, screenWidth, screenHeight,
                                    &mark->mappedX, &mark->mappedY))
        return;
    mark->mapped = TRUE;
    mark->distance = PixelDistance(pointerX - mark->mappedX, pointerY - mark->mappedY);
}

void ClearTrail(TouchTrail* trail) { ZeroMemory(trail, sizeof *trail); }

void AddMark(TouchTrail* trail, const TouchMark* mark) {
    trail->marks[trail->next] = *mark;
    trail->next = (trail->next + 1) % TOUCH_TRAIL_SIZE;
    if (trail->count < TOUCH_TRAIL_SIZE) ++trail->count;
    ++trail->total;
}

const TouchMark* TrailMark(const TouchTrail* trail, int i) {
    int oldest = trail->count < TOUCH_TRAIL_SIZE ? 0 : trail->next;
    return &trail->marks[(oldest + i) % TOUCH_TRAIL_SIZE];
}

void FormatTouchLine(const TouchMark* m, LONG number, char* text, int size) {
    char line[200];  // the longest with every number at its longest fits
    int n = wsprintfA(line, "Touch %ld: ", (long)number);
    if (!m->haveRaw)
        n += wsprintfA(line + n, "no raw position");
    else
        n += wsprintfA(line + n, "raw %ld, %ld", (long)m->rawX, (long)m->rawY);
    if (m->mapped)
        n += wsprintfA(line + n, "; corners give %ld, %ld", (long)m->mappedX, (long)m->mappedY);
    else if (m->haveRaw)
        n += wsprintfA(line + n, "; stored corners map nothing");
    n += wsprintfA(line + n, "; pointer at %ld, %ld", (long)m->pointerX, (long)m->pointerY);
    if (m->mapped) wsprintfA(line + n, "; %ld px apart", (long)m->distance);
    if (size > 0) lstrcpynA(text, line, size);
}
