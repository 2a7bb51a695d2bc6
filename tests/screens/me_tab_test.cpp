// The Me tab: the place line and what a tap on it or the menu does.
#include "tests/screens/screen_fixture.h"

#include "location/cell_monitor.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"
#include "screens/place_line.h"

namespace {

class MeTab : public ScreenTest {
protected:
    void NamePlace(const wchar_t* title, const wchar_t* street, const wchar_t* house, const wchar_t* building) {
        PlaceMark& mark = context().placeMark;
        mark.title = title;
        mark.street = street;
        mark.house = house;
        mark.building = building;
    }
    void TapPlaceLine() { Tap(control(kPaneMe, IDC_PLACE_LINE), 5, 5); }
    // A tap on the soft-key strip's left or right half; `keys` choose in a pop-up it opens.
    void TapMenuBar(bool left, std::vector<WPARAM> keys = {}) {
        HWND bar = context().panes[kPaneMe].menuBar;
        for (WPARAM key : keys) PostMessageW(bar, WM_KEYDOWN, key, 0);
        RECT strip;
        GetClientRect(bar, &strip);
        SendMessageW(bar, WM_LBUTTONUP, 0, MAKELPARAM(left ? 10 : strip.right - 10, 10));
        Pump();
    }
};

TEST_F(MeTab, PlaceLineFollowsTheMarkAndTheLocation) {
    NamePlace(L"Дом", L"Тверская", L"7", L"а");
    EXPECT_EQ(L"Дом Тверская, д.7а", ComposePlaceLine(context()));
    NamePlace(L"Дом", L"Тверская", L"0", L"а");
    EXPECT_EQ(L"Дом Тверская", ComposePlaceLine(context())) << "house 0";
    NamePlace(L"Дом", L"Тверская", L"", L"а");
    EXPECT_EQ(L"Дом Тверская", ComposePlaceLine(context())) << "no house";

    NamePlace(L"", L"Тверская", L"7", L"");
    context().placeMark.address = L"Москва, Тверская ул., 7";
    EXPECT_EQ(L"Москва, Тверская ул., 7", ComposePlaceLine(context())) << "without a title the reported address";
    context().placeMark.address.clear();
    EXPECT_EQ(L"Место без названия. Укажите название", ComposePlaceLine(context()));

    NamePlace(L"Дом", L"Тверская", L"7", L"а");
    context().cellMonitor->enabled = 0;
    EXPECT_EQ(L"Место не определяется", ComposePlaceLine(context()));
}

TEST_F(MeTab, PlaceLineLiesBelowTheNameLineAtEveryScale) {
    for (int scale : {1, 2}) {
        UseScale(scale);
        CreatePanes();
        const int s = scale;
        const RECT line = BoundsInParent(control(kPaneMe, IDC_PLACE_LINE));
        const RECT client = ClientRect(pane(kPaneMe));
        EXPECT_EQ(5 * s, line.left) << "scale " << s;
        EXPECT_EQ(41 * s, line.top) << "scale " << s;
        EXPECT_EQ(client.right - 5 * s, line.right) << "scale " << s;
        EXPECT_EQ(69 * s, line.bottom) << "scale " << s;
        EXPECT_EQ(L"", ControlText(kPaneMe, IDC_PLACE_LINE));

        SetPlaceLine(context(), L"Работа Ленинский проспект, д.32а");
        EXPECT_EQ(L"Работа Ленинский проспект, д.32а", ControlText(kPaneMe, IDC_PLACE_LINE));
    }
}

// The creation's own size message comes before the place line exists, and a failed creation of
// the line leaves none: the handler must then touch no window and read no rectangle. Every call
// on a missing window fails with ERROR_INVALID_WINDOW_HANDLE, so a clean last error shows none
// was made.
TEST_F(MeTab, ASizeChangeWithoutThePlaceLineTouchesNothing) {
    CreatePanes();
    HWND tab = pane(kPaneMe);
    SetWindowPos(tab, nullptr, 0, 0, 200, 150, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT line = BoundsInParent(control(kPaneMe, IDC_PLACE_LINE));
    EXPECT_EQ(ClientRect(tab).right - 10, line.right - line.left) << "with the line, a size change gives it the width";
    DestroyWindow(control(kPaneMe, IDC_PLACE_LINE));
    SetLastError(ERROR_SUCCESS);
    SendMessageW(tab, WM_SIZE, SIZE_RESTORED, MAKELPARAM(180, 150));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
}

TEST_F(MeTab, TapOnThePlaceLineOpensTheEditorForTheCurrentPlace) {
    CreatePanes();
    Show(kPaneMe);
    context().placeMark.id = 12;
    context().placeMark.title = L"Дача";
    TapPlaceLine();
    EXPECT_EQ(kPanePlaceEditor, context().currentPane);
    EXPECT_EQ(kPaneMe, context().selectedTab) << "the editor is never the selected tab";
    EXPECT_EQ(L"Дача", ControlText(kPanePlaceEditor, IDC_PLACE_TITLE)) << "the editor was filled first";
    EXPECT_FALSE(context().placeEditorNew);
}

TEST_F(MeTab, PlaceActionsAnswerUnavailableWhereTheyCannotWork) {
    context().accountMode = AccountMode::OwnName;
    CreatePanes();
    Show(kPaneMe);
    TapPlaceLine();
    EXPECT_EQ(L"Недоступно", context().statusText) << "mode 1 with the location determined";
    EXPECT_EQ(kPaneMe, context().currentPane);

    context().statusText.clear();
    context().accountMode = AccountMode::Normal;
    context().cellMonitor->enabled = 0;
    TapPlaceLine();
    EXPECT_EQ(L"Недоступно", context().statusText) << "location not determined";
    context().statusText.clear();
    SendMessageW(pane(kPaneMe), WM_COMMAND, IDM_NAME_MY_PLACE, 0);
    EXPECT_EQ(L"Недоступно", context().statusText) << "menu command, location not determined";
    EXPECT_EQ(kPaneMe, context().currentPane);

    context().cellMonitor->enabled = 1;
    context().accountMode = AccountMode::OwnName;
    SendMessageW(pane(kPaneMe), WM_COMMAND, IDM_NAME_MY_PLACE, 0);
    EXPECT_EQ(kPanePlaceEditor, context().currentPane) << "the menu command does not look at the mode";
    EXPECT_TRUE(context().placeEditorNew);
}

TEST_F(MeTab, MenuOfTheNormalModeChangesStatusAndMinimises) {
    CreatePanes();
    HWND bar = context().panes[kPaneMe].menuBar;
    ASSERT_NE(nullptr, bar);
    EXPECT_FALSE(IsWindowVisible(bar)) << "ShowPane shows it with the tab";
    Show(kPaneMe);
    EXPECT_TRUE(IsWindowVisible(bar));

    TapMenuBar(true, {VK_DOWN, VK_RETURN});
    EXPECT_EQ(kPaneVisibility, context().currentPane) << "Дополнительно, Сменить статус";
    EXPECT_EQ(kPaneMe, context().selectedTab);

    Show(kPaneMe);
    TapMenuBar(true, {VK_DOWN, VK_DOWN, VK_RETURN});
    EXPECT_EQ(kPanePlaceEditor, context().currentPane) << "Дополнительно, Назвать мое место";

    Show(kPaneMe);
    TapMenuBar(false);
    EXPECT_TRUE(IsIconic(main_)) << "Свернуть";
}

TEST_F(MeTab, MenuOfOtherModesOnlyMinimises) {
    context().accountMode = AccountMode::OwnName;
    CreatePanes();
    Show(kPaneMe);
    TapMenuBar(false);
    EXPECT_FALSE(IsIconic(main_)) << "one item only: the right half is empty";
    EXPECT_EQ(kPaneMe, context().currentPane);
    TapMenuBar(true);
    EXPECT_TRUE(IsIconic(main_)) << "Свернуть";
}

}  // namespace
