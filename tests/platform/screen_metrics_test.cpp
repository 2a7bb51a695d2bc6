#include <gtest/gtest.h>

#include "platform/screen_metrics.h"

namespace {

TEST(ScreenMetrics, ScaleFollowsTheScreen) {
    EXPECT_EQ(1, ComputeScale(240, 320));
    EXPECT_EQ(2, ComputeScale(480, 640));
    EXPECT_EQ(2, ComputeScale(640, 480));
    EXPECT_EQ(1, ComputeScale(320, 240));
    EXPECT_EQ(0, ComputeScale(300, 200)) << "a landscape screen 200 high";
    EXPECT_EQ(0, ComputeScale(0, 0));
}

TEST(ScreenMetrics, ThePhoneScreenOfTheTests) {
    EXPECT_EQ(1, GetScreenScale()) << "tests run in a 240x320 virtual desktop";
    EXPECT_EQ(26, GetMenuBarHeight());
}

}  // namespace
