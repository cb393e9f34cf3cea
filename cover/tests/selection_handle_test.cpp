// The selection handle's rules, driven without a screen and with a test clock.
#include "cover/selection_handle.h"

#include <gtest/gtest.h>

namespace zn::cover {
namespace {

struct THandleFixture : ::testing::Test {
    int64_t now = 1000;
    TFaxHandle handle{[this] { return now; }};
    TFaxCoverShapes a, b;
    void SetUp() override
    {
        a.SetBounds(15, 20, 95, 45); // handle 13, 18, 100 x 50
        b.SetBounds(300, 400, 40, 40);
    }
    // A press, a pause and a release: a drag from (x0, y0) to (x1, y1).
    void Drag(int x0, int y0, int x1, int y1, int64_t ms = 200)
    {
        handle.Move(x0, y0, false, true);
        handle.Press(x0, y0, true);
        now += ms;
        handle.Move(x1, y1, true, true);
        handle.Release(x1, y1);
    }
};

TEST_F(THandleFixture, SelectingSurroundsTheItemsAndUnselectableOnesStayOut)
{
    handle.Select(&a);
    EXPECT_EQ(handle.Bounds(), QRect(13, 18, 100, 50));
    handle.Select(&b);
    EXPECT_EQ(handle.Bounds(), QRect(13, 18, 340 - 13 + 3, 440 - 18 + 3));
    handle.Refit();
    EXPECT_EQ(handle.Bounds(), QRect(13, 18, 340 - 15 + 6, 440 - 20 + 6));
    handle.Deselect(&b);
    EXPECT_EQ(handle.Bounds(), QRect(13, 18, 100, 50));
    TFaxCoverLabel hidden;
    hidden.SetUnselectable(true);
    handle.Select(&hidden);
    EXPECT_EQ(handle.Count(), 1);
    handle.ClearSelection();
    EXPECT_FALSE(handle.Visible());
    EXPECT_EQ(handle.Bounds().size(), QSize(24, 24));
}

TEST_F(THandleFixture, MoveSnapsToTheGridAndItemsFollowByTheSameOffset)
{
    handle.SetGridX(8);
    handle.SetGridY(8);
    handle.SetSnapToGrid(true);
    handle.Select(&a);
    Drag(50, 20, 60, 20);
    EXPECT_EQ(handle.Bounds().left(), 16); // 8 x (23 div 8)
    EXPECT_EQ(a.Left, 18);                 // moved by 3
    EXPECT_EQ(handle.Bounds().top(), 16);  // 8 x (18 div 8)
    EXPECT_EQ(a.Width, 95);
}

TEST_F(THandleFixture, BottomRightResizeWithoutSnappingLosesOnePixel)
{
    handle.Select(&a);
    Drag(100, 50, 110, 60);
    EXPECT_EQ(handle.Bounds(), QRect(13, 18, 109, 59));
    EXPECT_EQ(a.Width, 104);
    EXPECT_EQ(a.Height, 54);
}

TEST_F(THandleFixture, ResizeNeverGoesBelowFivePixels)
{
    handle.Select(&a);
    Drag(100, 25, 3, 25); // the right edge far to the left
    EXPECT_EQ(handle.Bounds().width(), 5);
}

TEST_F(THandleFixture, QuickClickMovesNothingEvenWhenThePointerMoved)
{
    handle.Select(&a);
    Drag(50, 20, 90, 60, 100);
    EXPECT_EQ(handle.Bounds(), QRect(13, 18, 100, 50));
    EXPECT_EQ(a.Left, 15);
}

TEST_F(THandleFixture, LockedItemsStayWhileTheOthersMove)
{
    a.Locked = true;
    handle.Select(&a);
    handle.Select(&b);
    Drag(50, 50, 70, 80);
    EXPECT_EQ(a.Left, 15);
    EXPECT_EQ(b.Left, 320);
    EXPECT_EQ(b.Top, 430);
}

TEST_F(THandleFixture, SeveralItemsOnlyMoveEvenFromACorner)
{
    handle.Select(&a);
    handle.Select(&b);
    THandleCursor cursor;
    EXPECT_EQ(handle.ZoneAt(0, 0, &cursor), hzMove);
    EXPECT_EQ(cursor, hcGrab);
    Drag(0, 0, 10, 10);
    EXPECT_EQ(a.Width, 95);
    EXPECT_EQ(a.Left, 25);
    EXPECT_EQ(b.Left, 310);
}

TEST_F(THandleFixture, ADragStartsOnlyAfterTheDelay)
{
    handle.Select(&a);
    handle.Press(50, 20, false); // not pointing: no drag at the press
    EXPECT_FALSE(handle.IsDragging());
    now += 5;
    handle.Move(55, 20, true, true);
    EXPECT_FALSE(handle.IsDragging());
    now += 10;
    handle.Move(56, 20, true, true);
    EXPECT_TRUE(handle.IsDragging());
    // A double click ends the drag at the next move.
    handle.DoubleClick();
    handle.Move(57, 20, false, true);
    EXPECT_FALSE(handle.IsDragging());
}

struct TZoneCase {
    int x, y;
    THandleZone zone;
    THandleCursor cursor;
};
class HandleZones : public ::testing::TestWithParam<TZoneCase> {};

TEST_P(HandleZones, PointerPlaceGivesZoneAndCursor)
{
    TFaxHandle handle;
    TFaxCoverShapes item;
    item.SetBounds(2, 2, 95, 45); // handle 0, 0, 100 x 50
    handle.Select(&item);
    THandleCursor cursor;
    EXPECT_EQ(handle.ZoneAt(GetParam().x, GetParam().y, &cursor), GetParam().zone);
    EXPECT_EQ(cursor, GetParam().cursor);
}

INSTANTIATE_TEST_SUITE_P(CoverHandle, HandleZones,
                         ::testing::Values(TZoneCase{2, 3, hzTopLeft, hcSizeNWSE},
                                           TZoneCase{98, 47, hzBottomRight, hcSizeNWSE},
                                           TZoneCase{96, 4, hzTopRight, hcSizeNESW},
                                           TZoneCase{5, 45, hzBottomLeft, hcSizeNESW},
                                           TZoneCase{52, 2, hzTop, hcSizeNS}, TZoneCase{48, 49, hzBottom, hcSizeNS},
                                           TZoneCase{1, 27, hzLeft, hcSizeWE}, TZoneCase{99, 22, hzRight, hcSizeWE},
                                           TZoneCase{50, 25, hzMove, hcGrab}, TZoneCase{30, 3, hzMove, hcGrab}),
                         [](const ::testing::TestParamInfo<TZoneCase>& info) { return "At" + std::to_string(info.param.x) + "_" + std::to_string(info.param.y); });

TEST_F(THandleFixture, ArrowKeysMoveOrWithShiftResizeOneItemOnRelease)
{
    handle.Select(&a);
    handle.KeyDown(hkRight, true);
    handle.KeyDown(hkRight, true);
    EXPECT_EQ(a.Width, 95); // applied on release
    handle.KeyUp();
    EXPECT_EQ(a.Width, 97);
    EXPECT_EQ(a.Left, 15);
    handle.KeyDown(hkLeft, false);
    handle.KeyDown(hkUp, false);
    handle.KeyUp();
    EXPECT_EQ(a.Left, 14);
    EXPECT_EQ(a.Top, 19);
    // With two items Shift+right moves both.
    handle.Select(&b);
    handle.KeyDown(hkRight, true);
    handle.KeyUp();
    EXPECT_EQ(a.Left, 15);
    EXPECT_EQ(b.Left, 301);
    EXPECT_EQ(b.Width, 40);
}

} // namespace
} // namespace zn::cover
