// The group list tab: the ring of rows, choosing by Enter and by tap, frames and scrolling.
#include "tests/screens/screen_fixture.h"

#include "resources/resource_ids.h"
#include "screens/pane_window.h"
#include "tests/support/thumb_drag.h"

namespace {

constexpr int kNoIdentifier = 2147483647;

class GroupList : public ScreenTest {
protected:
    void UseGroups(std::vector<Group> groups) {
        context().groups = std::move(groups);
        SendMessageW(pane(kPaneGroupList), WM_SIZE, 0, 0);
    }
    void ThreeGroups() {
        UseGroups({MakeGroup(11, L"Семья (3)", {MakePerson(1, L"Мама: ", L"Дом")}),
                   MakeGroup(12, L"Друзья (5)", {MakePerson(2, L"Олег: ", L"Работа")}),
                   MakeGroup(13, L"Коллеги (12)", {MakePerson(3, L"Ира: ", L"Офис")})});
    }
    int Highlighted() { return context().groupSelection.highlightedGroup; }
    // A tap at the middle of the row band's width.
    void TapRow(int y) { Tap(pane(kPaneGroupList), ClientRect(pane(kPaneGroupList)).right / 2, y); }
};

TEST_F(GroupList, RowsFormARingWithShowEverybody) {
    CreatePanes();
    ThreeGroups();
    context().groupSelection.highlightedGroup = 13;
    Key(kPaneGroupList, VK_DOWN);
    EXPECT_EQ(-1, Highlighted()) << "after the last group: Показать всех";
    Key(kPaneGroupList, VK_DOWN);
    EXPECT_EQ(11, Highlighted()) << "after Показать всех: the first group";
    Key(kPaneGroupList, VK_UP);
    EXPECT_EQ(-1, Highlighted());
    Key(kPaneGroupList, VK_UP);
    EXPECT_EQ(13, Highlighted());
    Key(kPaneGroupList, VK_UP);
    EXPECT_EQ(12, Highlighted());

    context().groupSelection.highlightedGroup = 99;
    Key(kPaneGroupList, VK_DOWN);
    EXPECT_EQ(99, Highlighted()) << "an identifier no longer listed stays";
}

TEST_F(GroupList, WithoutGroupsOnlyShowEverybodyRemains) {
    CreatePanes();
    UseGroups({});
    context().groupSelection.highlightedGroup = -1;
    Key(kPaneGroupList, VK_DOWN);
    EXPECT_EQ(-1, Highlighted());
    Key(kPaneGroupList, VK_UP);
    EXPECT_EQ(-1, Highlighted());
    context().groupSelection.shownGroup = 12;
    TapRow(10);
    EXPECT_EQ(-1, context().groupSelection.shownGroup) << "the first row is Показать всех";
    EXPECT_EQ(kPaneGroups, context().currentPane);
}

TEST_F(GroupList, EnterShowsTheHighlightedGroupWithNothingSelected) {
    CreatePanes();
    ThreeGroups();
    GroupSelection& selection = context().groupSelection;
    selection.selectedPerson = 1;
    selection.selectedPersonGroup = 11;
    selection.highlightedGroup = 12;
    Show(kPaneGroupList);
    Key(kPaneGroupList, VK_RETURN);
    EXPECT_EQ(12, selection.shownGroup);
    EXPECT_EQ(-1, selection.selectedPerson);
    EXPECT_EQ(kPaneGroups, context().currentPane);
    EXPECT_EQ(kPaneGroups, context().selectedTab);
    EXPECT_EQ(L"Работа", context().groups[1].people[0].addressFirstPart) << "the group tab measured the shown group";
    EXPECT_EQ(L"", context().groups[0].people[0].addressFirstPart) << "and only that one";
}

TEST_F(GroupList, TapsHitTheBandFromFourUnitsAboveTheText) {
    for (int scale : {1, 2}) {
        UseScale(scale);
        CreatePanes();
        ThreeGroups();
        const int s = scale;
        GroupSelection& selection = context().groupSelection;
        selection.highlightedGroup = 11;
        for (int row = 0; row < 3; ++row) {
            const int textTop = 8 * s + 28 * s * row;
            const int id = context().groups[row].id;
            selection.shownGroup = -1;
            TapRow(4 * s + 28 * s * row);
            EXPECT_EQ(-1, selection.shownGroup) << "upper edge, row " << row << ", scale " << s;
            TapRow(24 * s + 28 * s * row);
            EXPECT_EQ(-1, selection.shownGroup) << "lower edge, row " << row << ", scale " << s;
            TapRow(textTop - 2 * s);
            EXPECT_EQ(id, selection.shownGroup) << "2 units above the text, row " << row << ", scale " << s;
        }
        EXPECT_EQ(11, selection.highlightedGroup) << "a tap leaves the highlight";

        selection.shownGroup = 13;
        TapRow(8 * s + 28 * s * 3);
        EXPECT_EQ(-1, selection.shownGroup) << "Показать всех, scale " << s;

        selection.shownGroup = 13;
        const RECT client = ClientRect(pane(kPaneGroupList));
        Tap(pane(kPaneGroupList), 10 * s, 10 * s);
        Tap(pane(kPaneGroupList), client.right - 10 * s, 10 * s);
        EXPECT_EQ(13, selection.shownGroup) << "left and right edges, scale " << s;
    }
}

TEST_F(GroupList, AGroupWithoutIdentifierIsChosenOnlyWithEnter) {
    CreatePanes();
    UseGroups({MakeGroup(kNoIdentifier, L"Без номера", {}), MakeGroup(7, L"Соседи (2)", {})});
    GroupSelection& selection = context().groupSelection;
    selection.shownGroup = 7;
    Show(kPaneGroupList);
    TapRow(10);
    EXPECT_EQ(7, selection.shownGroup);
    EXPECT_EQ(kPaneGroupList, context().currentPane);
    selection.highlightedGroup = kNoIdentifier;
    Key(kPaneGroupList, VK_RETURN);
    EXPECT_EQ(kNoIdentifier, selection.shownGroup);
}

TEST_F(GroupList, FramesTheHighlightedRow) {
    UseScale(2);
    CreatePanes();
    ThreeGroups();
    Show(kPaneGroupList);
    HWND list = pane(kPaneGroupList);
    const int s = 2;
    const int middle = 16 * s;  // half-way down the first row's band
    context().groupSelection.highlightedGroup = 11;
    EXPECT_EQ(RGB(0, 0, 0), PixelAt(list, 10 * s - 5 * s, middle)) << "a group's frame: 5 units out";
    context().groupSelection.highlightedGroup = 12;
    EXPECT_EQ(RGB(255, 255, 255), PixelAt(list, 10 * s - 5 * s, middle)) << "not highlighted";

    UseGroups({});
    context().groupSelection.highlightedGroup = -1;
    EXPECT_EQ(RGB(0, 0, 0), PixelAt(list, 10 * s - 5, middle)) << "Показать всех: 5 pixels out";
    EXPECT_EQ(RGB(255, 255, 255), PixelAt(list, 10 * s - 5 * s, middle));
}

TEST_F(GroupList, ScrollsTheHighlightedRowToTheTopAndBackOnRefresh) {
    CreatePanes();
    std::vector<Group> groups;
    for (int index = 0; index < 30; ++index) groups.push_back(MakeGroup(100 + index, L"Группа", {}));
    UseGroups(groups);
    HWND list = pane(kPaneGroupList);
    SCROLLINFO info = {sizeof(info), SIF_ALL};
    GetScrollInfo(list, SB_VERT, &info);
    EXPECT_EQ((28 * 30 + 48) - ClientRect(list).bottom, info.nMax);
    EXPECT_EQ(10u, info.nPage);

    context().groupSelection.highlightedGroup = 104;
    Key(kPaneGroupList, VK_DOWN);
    EXPECT_EQ(5 * 28, GetScrollPos(list, SB_VERT)) << "row 5 at the top";
    context().groupSelection.highlightedGroup = 128;
    Key(kPaneGroupList, VK_DOWN);
    EXPECT_EQ(static_cast<int>(info.nMax - info.nPage + 1), GetScrollPos(list, SB_VERT))
        << "the last rows stop at the end of the range";
    Key(kPaneGroupList, VK_DOWN);
    EXPECT_EQ(-1, Highlighted());
    EXPECT_EQ(static_cast<int>(info.nMax - info.nPage + 1), GetScrollPos(list, SB_VERT)) << "no scrolling";

    // The tap goes by the scrolled position: row 29 lies at the top of the window.
    context().groupSelection.shownGroup = -1;
    TapRow(29 * 28 + 16 - GetScrollPos(list, SB_VERT));
    EXPECT_EQ(129, context().groupSelection.shownGroup);

    SendMessageW(list, WM_SIZE, 0, 0);
    EXPECT_EQ(0, GetScrollPos(list, SB_VERT)) << "a refresh starts at the top";
    SendMessageW(list, WM_VSCROLL, SB_LINEDOWN, 0);
    SendMessageW(list, WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(1 + 10, GetScrollPos(list, SB_VERT)) << "a line is one unit, a page ten";
    Show(kPaneGroupList);
    ASSERT_TRUE(pelmora_test::DragScrollThumb(list, 1.0));
    EXPECT_EQ(static_cast<int>(info.nMax - info.nPage + 1), GetScrollPos(list, SB_VERT)) << "the thumb drags to the end";
    for (int step = 0; step < 70; ++step) SendMessageW(list, WM_VSCROLL, SB_PAGEUP, 0);
    EXPECT_EQ(0, GetScrollPos(list, SB_VERT));
}

}  // namespace
