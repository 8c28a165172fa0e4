// The touch test's figures and its trail of marks.
#include <gtest/gtest.h>

#include <string>

#include "corner_map.h"
#include "touch_test.h"

namespace {

TEST(TouchMarks, DistanceIsRoundedAndSurvivesAnyPointer) {
    struct { LONG dx, dy, want; } cases[] = {
        {0, 0, 0}, {3, 4, 5}, {-3, -4, 5}, {1, 1, 1}, {1, 2, 2}, {2, 2, 3},
        {1023, 767, 1279}, {0x7FFFFFFF, 0, 1 << 20}, {-0x7FFFFFFF - 1, 0x7FFFFFFF, 1482910},
        {1 << 20, 0, 1 << 20}, {(1 << 20) + 1, 0, 1 << 20}, {0, -(1 << 20), 1 << 20},
        {0, -(1 << 20) - 1, 1 << 20},
    };
    for (auto& c : cases) EXPECT_EQ(PixelDistance(c.dx, c.dy), c.want) << c.dx << "," << c.dy;
}

TEST(TouchMarks, MeasuresThroughTheStoredCornersAndSaysWhatIsMissing) {
    CornerSet corners;
    DefaultCorners(&corners);
    TouchMark m;
    char line[200];
    MeasureTouch(&corners, TRUE, 512, 512, 515, 388, 1024, 768, &m);
    FormatTouchLine(&m, 1, line, sizeof line);
    EXPECT_STREQ(line, "Touch 1: raw 512, 512; corners give 512, 384; pointer at 515, 388; "
                       "5 px apart");
    CornerSet flat = {0, 0, 1024, 0, 1024, 0, 0, 0};
    MeasureTouch(&flat, TRUE, 5, 6, 7, 8, 1024, 768, &m);
    FormatTouchLine(&m, 2, line, sizeof line);
    EXPECT_STREQ(line, "Touch 2: raw 5, 6; stored corners map nothing; pointer at 7, 8");
    MeasureTouch(NULL, TRUE, 5, 6, 7, 8, 1024, 768, &m);
    EXPECT_FALSE(m.mapped);
    MeasureTouch(&corners, FALSE, 5, 6, 7, 8, 1024, 768, &m);
    FormatTouchLine(&m, 3, line, sizeof line);
    EXPECT_STREQ(line, "Touch 3: no raw position; pointer at 7, 8");
    FormatTouchLine(&m, 3, line, 12);
    EXPECT_STREQ(line, "Touch 3: no");
}

TEST(TouchMarks, TrailKeepsTheNewestMarksOldestFirst) {
    static TouchTrail trail;
    ClearTrail(&trail);
    TouchMark m = {};
    for (LONG i = 0; i < TOUCH_TRAIL_SIZE; ++i) {
        m.pointerX = i;
        AddMark(&trail, &m);
    }
    EXPECT_EQ(trail.count, TOUCH_TRAIL_SIZE);
    EXPECT_EQ(TrailMark(&trail, 0)->pointerX, 0);
    EXPECT_EQ(TrailMark(&trail, TOUCH_TRAIL_SIZE - 1)->pointerX, TOUCH_TRAIL_SIZE - 1);
    m.pointerX = TOUCH_TRAIL_SIZE;  // one past: the oldest makes room
    AddMark(&trail, &m);
    EXPECT_EQ(trail.count, TOUCH_TRAIL_SIZE);
    EXPECT_EQ(trail.total, TOUCH_TRAIL_SIZE + 1);
    EXPECT_EQ(TrailMark(&trail, 0)->pointerX, 1);
    EXPECT_EQ(TrailMark(&trail, TOUCH_TRAIL_SIZE - 1)->pointerX, TOUCH_TRAIL_SIZE);
}

}  // namespace
