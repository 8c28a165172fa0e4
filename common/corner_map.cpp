#include "corner_map.h"

namespace {

struct Point2 {
    double x;
    double y;
};

double Cross(Point2 a, Point2 b) { return a.x * b.y - a.y * b.x; }

Point2 Sub(Point2 a, Point2 b) {
    Point2 r = {a.x - b.x, a.y - b.y};
    return r;
}

double Abs(double v) { return v < 0 ? -v : v; }

// The corners in the order of the screen's edge: top-left, top-right,
// bottom-right, bottom-left.
void CornerPoints(const CornerSet* c, Point2 p[4]) {
    p[0].x = c->LeftUpX;  p[0].y = c->LeftUpY;
    p[1].x = c->RightUpX; p[1].y = c->RightUpY;
    p[2].x = c->RightDnX; p[2].y = c->RightDnY;
    p[3].x = c->LeftDnX;  p[3].y = c->LeftDnY;
}

// The corners are the screen's outer edges: the right edge is coordinate
// `size`, one past the last pixel, which is where a calibration's
// extrapolation from its targets puts it.
LONG RoundToPixel(double fraction, int size) {
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    LONG pixel = (LONG)(fraction * size + 0.5);
    if (pixel > size - 1) pixel = size - 1;
    return pixel;
}

}  // namespace

void CornersFromSettings(const TouchSettings* s, CornerSet* c) {
    c->LeftUpX = s->LeftUpX;
    c->LeftUpY = s->LeftUpY;
    c->RightUpX = s->RightUpX;
    c->RightUpY = s->RightUpY;
    c->RightDnX = s->RightDnX;
    c->RightDnY = s->RightDnY;
    c->LeftDnX = s->LeftDnX;
    c->LeftDnY = s->LeftDnY;
}

void DefaultCorners(CornerSet* c) {
    c->LeftUpX = 0;     c->LeftUpY = 0;
    c->RightUpX = 1024; c->RightUpY = 0;
    c->RightDnX = 1024; c->RightDnY = 1024;
    c->LeftDnX = 0;     c->LeftDnY = 1024;
}

BOOL CornersUsable(const CornerSet* corners) {
    Point2 p[4];
    CornerPoints(corners, p);
    // A convex quadrilateral: every turn along its edge goes the same way.
    // Either way round is fine (a panel may be mounted mirrored).
    int sign = 0;
    for (int i = 0; i < 4; ++i) {
        double turn = Cross(Sub(p[(i + 1) % 4], p[i]), Sub(p[(i + 2) % 4], p[(i + 1) % 4]));
        if (turn == 0) return FALSE;
        int s = turn > 0 ? 1 : -1;
        if (sign != 0 && s != sign) return FALSE;
        sign = s;
    }
    return TRUE;
}

BOOL MapRawToScreen(const CornerSet* corners, LONG rawX, LONG rawY, int screenWidth,
                    int screenHeight, LONG* pixelX, LONG* pixelY) {
    if (screenWidth <= 0 || screenHeight <= 0 || !CornersUsable(corners)) return FALSE;
    Point2 p[4];
    CornerPoints(corners, p);
    // Bilinear patch P(u, v) = a + e*u + f*v + g*u*v over the four corners;
    // solve P(u, v) = raw for (u, v) by Newton's method.
    Point2 e = Sub(p[1], p[0]);
    Point2 f = Sub(p[3], p[0]);
    Point2 g = {p[0].x - p[1].x + p[2].x - p[3].x, p[0].y - p[1].y + p[2].y - p[3].y};
    Point2 target = {(double)rawX - p[0].x, (double)rawY - p[0].y};
    double scale = Abs(e.x) + Abs(e.y) + Abs(f.x) + Abs(f.y);
    double u = 0.5, v = 0.5;
    BOOL converged = FALSE;
    for (int i = 0; i < 60 && !converged; ++i) {
        double rx = e.x * u + f.x * v + g.x * u * v - target.x;
        double ry = e.y * u + f.y * v + g.y * u * v - target.y;
        double ju_x = e.x + g.x * v, jv_x = f.x + g.x * u;
        double ju_y = e.y + g.y * v, jv_y = f.y + g.y * u;
        double det = ju_x * jv_y - jv_x * ju_y;
        if (Abs(det) < 1e-12 * scale * scale) return FALSE;
        double du = (rx * jv_y - jv_x * ry) / det;
        double dv = (ju_x * ry - rx * ju_y) / det;
        u -= du;
        v -= dv;
        // Far outside the corners the patch may fold; keep the search
        // finite, yet wide enough for any raw position past the narrowest
        // corners, and judge the step against where it has got to.
        const double kReach = 1e10;
        if (u < -kReach) u = -kReach;
        if (u > kReach) u = kReach;
        if (v < -kReach) v = -kReach;
        if (v > kReach) v = kReach;
        converged = Abs(du) + Abs(dv) < 1e-9 * (1 + Abs(u) + Abs(v));
    }
    if (!converged) return FALSE;
    *pixelX = RoundToPixel(u, screenWidth);
    *pixelY = RoundToPixel(v, screenHeight);
    return TRUE;
}
