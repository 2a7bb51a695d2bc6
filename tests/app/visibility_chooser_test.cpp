// The visibility chooser: where it lies, what it draws, which taps pick a state, and what picking
// a state does on the phone.
#include <windows.h>

#include <algorithm>

#include "app/visibility_chooser.h"
#include "protocol/session_states.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"
#include "tests/app/shell_fixture.h"

namespace {

class Chooser : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        CreateRunningMain();
        ShowPane(kPaneGroups, true);
        ShowPane(kPaneVisibility, false);
        GetClientRect(chooser(), &client_);
        rowHeight_ = client_.bottom / 4;
    }
    HWND chooser() { return pane(kPaneVisibility); }
    void TapRow(int row) { Tap(chooser(), client_.right / 2, row * rowHeight_ + rowHeight_ / 2); }

    RECT client_ = {};
    int rowHeight_ = 0;
};

TEST_F(Chooser, LiesInTheTabPageWithItsOwnMenuBar) {
    const RECT& content = context().contentRect;
    const RECT bounds = BoundsInParent(chooser());
    EXPECT_EQ(content.left + context().borderX, bounds.left);
    EXPECT_EQ(content.top + context().borderY + 20 * s(), bounds.top);
    EXPECT_EQ(content.right - 2 * context().borderX, bounds.right - bounds.left);
    EXPECT_EQ(content.bottom - 25 * s() - 2 * context().borderY, bounds.bottom - bounds.top);
    HWND bar = context().panes[kPaneVisibility].menuBar;
    ASSERT_NE(nullptr, bar);
    EXPECT_TRUE(IsWindowVisible(bar));

    Command(chooser(), IDM_BACK);
    EXPECT_EQ(kPaneGroups, context().currentPane) << "\"Назад\" returns to the tab";
    EXPECT_FALSE(IsWindowVisible(bar));
}

TEST_F(Chooser, DrawsFourRowsWithSeparatorsIconsAndTexts) {
    Picture picture(client_.right, client_.bottom);
    Capture(chooser(), picture);
    const auto dark = [](COLORREF c) { return GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100; };
    const auto notWhite = [](COLORREF c) { return c != RGB(255, 255, 255); };
    for (int row = 0; row < 4; ++row) {
        const int top = row * rowHeight_;
        if (row > 0) {
            EXPECT_TRUE(picture.IsBlack(client_.right / 2, top - 1)) << "separator above row " << row;
        }
        const int iconTop = top + (rowHeight_ - 24 * s()) / 2;
        EXPECT_TRUE(picture.AnyIn({5 * s(), iconTop, 29 * s(), iconTop + 24 * s()}, notWhite)) << "icon " << row;
        EXPECT_TRUE(picture.AnyIn({34 * s(), top + 2, 138 * s(), top + rowHeight_ - 2}, dark)) << "title " << row;
        EXPECT_TRUE(picture.AnyIn({140 * s(), top + 2, client_.right, top + rowHeight_ - 2}, dark))
            << "description " << row;
    }
}

TEST_F(Chooser, TitlesAndDescriptionsFitTheirColumns) {
    for (const VisibilityState& state : context().visibilityStates) {
        EXPECT_LE(Measure(context().fontBold, state.title).cx, 140 * s() - 34 * s() - 2) << "title overlaps";
        RECT column = {140 * s(), 0, client_.right, 0};
        HDC dc = GetDC(chooser());
        HGDIOBJ old = SelectObject(dc, context().fontSmall);
        DrawTextW(dc, state.description, -1, &column, DT_WORDBREAK | DT_CALCRECT);
        SelectObject(dc, old);
        ReleaseDC(chooser(), dc);
        EXPECT_LE(column.bottom, rowHeight_ - 2) << "description taller than its row";
        EXPECT_LE(column.right, client_.right);
    }
}

TEST_F(Chooser, ATapOnARowPicksItsStateAndReturnsToTheTab) {
    RecordPaintedStatuses();
    TapRow(1);
    EXPECT_EQ(Visibility::VisibleToGroups, context().visibility);
    EXPECT_EQ(kPaneGroups, context().currentPane);
    EXPECT_FALSE(IsWindowVisible(chooser()));
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
    const auto& painted = paintedStatuses();
    EXPECT_NE(painted.end(), std::find(painted.begin(), painted.end(), std::wstring(kTextTransfer)));
}

TEST_F(Chooser, TapsOnTheRowBoundariesPickNothing) {
    Tap(chooser(), client_.right / 2, rowHeight_);
    Tap(chooser(), client_.right / 2, 3 * rowHeight_);
    Tap(chooser(), 0, rowHeight_ + rowHeight_ / 2);
    Tap(chooser(), client_.right, rowHeight_ + rowHeight_ / 2);
    EXPECT_EQ(Visibility::Visible, context().visibility);
    EXPECT_EQ(kPaneVisibility, context().currentPane);
}

TEST_F(Chooser, PickingTheStateInForcePassesThroughTheTransferText) {
    RecordPaintedStatuses();
    TapRow(0);
    EXPECT_EQ(Visibility::Visible, context().visibility);
    EXPECT_EQ(kPaneGroups, context().currentPane);
    const auto& painted = paintedStatuses();
    const auto transfer = std::find(painted.begin(), painted.end(), std::wstring(kTextTransfer));
    ASSERT_NE(painted.end(), transfer);
    ASSERT_NE(painted.end(), transfer + 1);
    EXPECT_EQ(std::wstring(kTextIdleProductLine), *(transfer + 1));
    EXPECT_EQ(std::wstring(kTextIdleProductLine), painted.back());
}

TEST_F(Chooser, SwitchingOffStopsTheLocationWorkOnThePhone) {
    Group group;
    group.id = 3;
    context().groups.push_back(group);
    TapRow(3);
    EXPECT_EQ(Visibility::SwitchedOff, context().visibility);
    EXPECT_TRUE(context().groups.empty());
    EXPECT_FALSE(TakeTimer(TIMER_REPORT)) << "no more periodic reports";
    EXPECT_EQ(std::wstring(kTextIdleOffline), context().statusText);
    EXPECT_EQ(kPaneGroups, context().currentPane);
}

TEST_F(Chooser, InvisibleEmptiesTheGroups) {
    Group group;
    group.id = 3;
    context().groups.push_back(group);
    TapRow(2);
    EXPECT_EQ(Visibility::Invisible, context().visibility);
    EXPECT_TRUE(context().groups.empty());
    EXPECT_TRUE(TakeTimer(TIMER_REPORT)) << "an invisible user still reports";
}

}  // namespace
