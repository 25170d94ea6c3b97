#include "workspace/grid_layout.h"
#include "workspace/sequence_caption.h"

#include <gtest/gtest.h>

using namespace sorowa;

TEST(SequenceCaption, OnlyTheFirstSemicolonSeparates) {
    const auto caption = ReadSequenceCaption("12;my;trip;.jpg");
    ASSERT_TRUE(caption);
    EXPECT_EQ(caption->Number(), 12);
    EXPECT_EQ(caption->fileName, "my;trip;.jpg");
    EXPECT_EQ(BuildSequenceCaption("12", caption->fileName), "12;my;trip;.jpg");
    EXPECT_FALSE(ReadSequenceCaption("Form_Grp"));
    EXPECT_FALSE(ReadSequenceCaption("x;a.bmp")->Number());
    EXPECT_EQ(ReadSequenceCaption("999;")->fileName, "");
}

namespace {
std::vector<QPoint> Place(int windowWidth, QSize size, int count) {
    TGridPlacer placer(size, WrapLimit(windowWidth, size));
    std::vector<QPoint> positions;
    for (int i = 0; i < count; ++i)
        positions.push_back(placer.Next());
    return positions;
}
} // namespace

TEST(GridLayout, WorkedExampleThreePerRow) {
    EXPECT_EQ(WrapLimit(449, {100, 100}), 308);
    const auto p = Place(449, {100, 100}, 7);
    const std::vector<QPoint> expected{{0, 0},     {108, 0},   {216, 0}, {0, 131},
                                       {108, 131}, {216, 131}, {0, 262}};
    EXPECT_EQ(p, expected);
}

TEST(GridLayout, NegativeWrapLimitLeavesTheFirstRowEmpty) {
    // 130 - 100 - 41 < 0: every window in a row of its own, starting with the second row.
    const auto p = Place(130, {100, 100}, 3);
    EXPECT_EQ(p, (std::vector<QPoint>{{0, 131}, {0, 262}, {0, 393}}));
}

TEST(GridLayout, SmallNonNegativeWrapLimitGivesOneColumnFromTheTop) {
    for (int width : {141, 141 + 107}) { // L = 0 and L = W + 7
        const auto p = Place(width, {100, 100}, 3);
        EXPECT_EQ(p, (std::vector<QPoint>{{0, 0}, {0, 131}, {0, 262}})) << width;
    }
    // L = W + 8 fits two per row.
    EXPECT_EQ(Place(141 + 108, {100, 100}, 3), (std::vector<QPoint>{{0, 0}, {108, 0}, {0, 131}}));
}

TEST(GridLayout, StepsFollowTheThumbnailSize) {
    const auto p = Place(1000, {150, 150}, 7);
    EXPECT_EQ(p[1], QPoint(158, 0));
    EXPECT_EQ(p[5], QPoint(790, 0));
    EXPECT_EQ(p[6], QPoint(0, 181));
}
