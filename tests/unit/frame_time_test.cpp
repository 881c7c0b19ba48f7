// The frame time is the wall-clock difference of two timer readings, in seconds.
#include <gtest/gtest.h>

#include "app/FrameTime.h"

TEST(FrameTimeTest, NanosecondsBecomeSeconds) {
    EXPECT_DOUBLE_EQ(wallToSeconds(0, 16666667), 0.016666667);
    EXPECT_DOUBLE_EQ(wallToSeconds(1000000000, 3500000000), 2.5);
    EXPECT_DOUBLE_EQ(wallToSeconds(5, 5), 0.0);
    // Readings past 2^32 ns (4.3 s) must not wrap.
    EXPECT_DOUBLE_EQ(wallToSeconds(int64_t(1) << 33, (int64_t(1) << 33) + 1000), 1e-6);
}
