// The group tab: selection by keys and taps, the detail window, the address split, the messages
// that replace the list, and scrolling.
#include "tests/screens/screen_fixture.h"

#include "resources/resource_ids.h"
#include "screens/group_tab.h"
#include "screens/pane_window.h"
#include "tests/support/picture.h"
#include "tests/support/thumb_drag.h"

namespace {

class GroupTab : public ScreenTest {
protected:
    void UseGroups(std::vector<Group> groups, int shownGroup = -1) {
        context().groups = std::move(groups);
        context().groupSelection.shownGroup = shownGroup;
        SendMessageW(pane(kPaneGroups), WM_SIZE, 0, 0);
    }
    // A (a1, a2) and B (b1).
    void TwoGroups(int shownGroup = -1) {
        UseGroups({MakeGroup(1, L"A (2)", {MakePerson(101, L"Анна: ", L"Тверская, 2.5 км"),
                                           MakePerson(102, L"Андрей: ", L"Арбат, 1.1 км")}),
                   MakeGroup(2, L"B (1)", {MakePerson(201, L"Борис: ", L"Лубянка, 0.4 км")})},
                  shownGroup);
    }
    void Select(int person, int group) {
        context().groupSelection.selectedPerson = person;
        context().groupSelection.selectedPersonGroup = group;
    }
    std::pair<int, int> Selected() {
        return {context().groupSelection.selectedPerson, context().groupSelection.selectedPersonGroup};
    }
    HWND Detail() { return context().groupSelection.detailWindow; }
    // A tap in the middle of entry `row`'s band.
    void TapEntry(int row) {
        const int s = scale_;
        Tap(pane(kPaneGroups), ClientRect(pane(kPaneGroups)).right / 2,
            20 * s + 38 * s * row - GetScrollPos(pane(kPaneGroups), SB_VERT));
    }
    // Width of `text` in the bold font, as the tab measures.
    int BoldWidth(const std::wstring& text) {
        HDC dc = GetDC(pane(kPaneGroups));
        HGDIOBJ old = SelectObject(dc, context().fontBold);
        RECT bounds = {};
        DrawTextW(dc, text.c_str(), -1, &bounds, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(pane(kPaneGroups), dc);
        return bounds.right;
    }
    // Gives the tab a client area `width` wide (the scroll bar comes on top of it).
    void ResizeClientTo(int width) {
        HWND tab = pane(kPaneGroups);
        RECT bounds = BoundsInParent(tab);
        const int chrome = (bounds.right - bounds.left) - ClientRect(tab).right;
        MoveWindow(tab, bounds.left, bounds.top, width + chrome, bounds.bottom - bounds.top, FALSE);
        ASSERT_EQ(width, ClientRect(tab).right);
    }
};

TEST_F(GroupTab, KeysWalkThroughAllGroupsInARing) {
    CreatePanes();
    TwoGroups();
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(std::make_pair(101, 1), Selected()) << "from nothing: the first person";
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(std::make_pair(102, 1), Selected());
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(std::make_pair(201, 2), Selected()) << "on into the next group";
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(std::make_pair(101, 1), Selected()) << "after the last group the first";
    Key(kPaneGroups, VK_UP);
    EXPECT_EQ(std::make_pair(201, 2), Selected()) << "up from the first person: the last of the last group";
    Key(kPaneGroups, VK_UP);
    EXPECT_EQ(std::make_pair(102, 1), Selected());
}

TEST_F(GroupTab, KeysStayInsideTheShownGroup) {
    CreatePanes();
    TwoGroups(1);
    Select(102, 1);
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(std::make_pair(101, 1), Selected());
    Key(kPaneGroups, VK_UP);
    EXPECT_EQ(std::make_pair(102, 1), Selected());

    UseGroups(context().groups, 77);
    Select(-1, -1);
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(std::make_pair(-1, -1), Selected()) << "a shown group that no longer exists";
}

TEST_F(GroupTab, KeysPassOverGroupsWithoutPeople) {
    CreatePanes();
    UseGroups({MakeGroup(1, L"Пустая", {}), MakeGroup(2, L"A", {MakePerson(101, L"Анна: ", L"Дом")}),
               MakeGroup(3, L"Тоже пустая", {}), MakeGroup(4, L"B", {MakePerson(201, L"Борис: ", L"Дача")})});
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(std::make_pair(101, 2), Selected()) << "the first group with people";
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(std::make_pair(201, 4), Selected());
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(std::make_pair(101, 2), Selected()) << "round past both empty groups";
    Key(kPaneGroups, VK_UP);
    EXPECT_EQ(std::make_pair(201, 4), Selected());

    UseGroups(context().groups, 3);
    Select(-1, -1);
    Key(kPaneGroups, VK_DOWN);
    Key(kPaneGroups, VK_UP);
    EXPECT_EQ(std::make_pair(-1, -1), Selected()) << "a shown group without people has nothing to select";

    UseGroups({MakeGroup(1, L"Пустая", {})});
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(std::make_pair(-1, -1), Selected());
}

TEST_F(GroupTab, FramesTheSelectedEntryOnlyInItsGroup) {
    CreatePanes();
    const Person both = MakePerson(300, L"Вера: ", L"Сокольники, 3.0 км");
    UseGroups({MakeGroup(1, L"A", {both}), MakeGroup(2, L"B", {both})});
    Show(kPaneGroups);
    HWND tab = pane(kPaneGroups);
    const int frameX = 2;  // 3 units left of the text
    Select(300, 2);
    EXPECT_EQ(RGB(255, 255, 255), PixelAt(tab, frameX, 8 + 10)) << "entry 0, group A";
    EXPECT_EQ(RGB(0, 0, 0), PixelAt(tab, frameX, 46 + 10)) << "entry 1, group B";
    Select(300, 1);
    EXPECT_EQ(RGB(0, 0, 0), PixelAt(tab, frameX, 8 + 10));
    EXPECT_EQ(RGB(255, 255, 255), PixelAt(tab, frameX, 46 + 10));
}

TEST_F(GroupTab, AddressSplitsAfterTheLastWordThatFits) {
    CreatePanes();
    const std::wstring address = L"ул. Ленина, 15, 0.7 км";
    HDC dc = GetDC(pane(kPaneGroups));
    HGDIOBJ old = SelectObject(dc, context().fontBold);
    const int reachesLenina = BoldWidth(L"ул. Ленина,");
    AddressParts parts = SplitAddressLine(dc, address, reachesLenina);
    EXPECT_EQ(L"ул. Ленина, ", parts.first);
    EXPECT_EQ(L"15, 0.7 км", parts.second);
    parts = SplitAddressLine(dc, address, reachesLenina - 1);
    EXPECT_EQ(L"ул. ", parts.first) << "one pixel short: Ленина, goes below";
    EXPECT_EQ(L"Ленина, 15, 0.7 км", parts.second);
    parts = SplitAddressLine(dc, address, BoldWidth(address));
    EXPECT_EQ(address, parts.first) << "a line that fits stays whole";
    EXPECT_EQ(L"", parts.second);
    parts = SplitAddressLine(dc, address, 3);
    EXPECT_EQ(L"ул. ", parts.first) << "the first word goes first even when it does not fit";
    parts = SplitAddressLine(dc, L"Москва,Тверская,7,0.7км", 3);
    EXPECT_EQ(L"Москва,Тверская,7,0.7км", parts.first) << "no space: whole on the name's line";
    EXPECT_EQ(L"", parts.second);
    SelectObject(dc, old);
    ReleaseDC(pane(kPaneGroups), dc);
}

// The split is found from one measurement of the whole line; it must land where measuring the text
// before each space on its own puts it, at every space's width and one pixel short of it, for lines
// of every length (the longest beyond what the tab measures without the heap).
TEST_F(GroupTab, AddressSplitsWhereEachPrefixMeasuresTheSame) {
    CreatePanes();
    const std::wstring longLine = L"Московская область, Одинцовский район, посёлок Летний Отдых, улица Зелёная, "
                                  L"дом 17, корпус 3, строение 2, подъезд 4, этаж 9, квартира 215, 12.5 км";
    const std::wstring lines[] = {L"ул. Ленина, 15, 0.7 км", L" Арбат, 1.1 км", L"Тверская,  2.5 км", longLine};
    ASSERT_GT(longLine.size(), 128u);
    HDC dc = GetDC(pane(kPaneGroups));
    HGDIOBJ old = SelectObject(dc, context().fontBold);
    for (const std::wstring& line : lines) {
        for (size_t space = line.find(L' '); space != std::wstring::npos; space = line.find(L' ', space + 1)) {
            const int reaches = BoldWidth(line.substr(0, space));
            for (const int available : {reaches, reaches - 1}) {
                // The last space whose text before it is no wider than `available`; the first space always.
                size_t expected = std::wstring::npos;
                for (size_t at = line.find(L' '); at != std::wstring::npos; at = line.find(L' ', at + 1)) {
                    if (expected != std::wstring::npos && BoldWidth(line.substr(0, at)) > available) break;
                    expected = at;
                }
                const AddressParts parts = SplitAddressLine(dc, line, available);
                EXPECT_EQ(line.substr(0, expected + 1), parts.first)
                    << available << " px, a line of " << line.size() << " characters";
                EXPECT_EQ(line.substr(expected + 1), parts.second);
            }
        }
    }
    SelectObject(dc, old);
    ReleaseDC(pane(kPaneGroups), dc);
}

TEST_F(GroupTab, MeasuresEveryEntryForTheWidthOfTheTab) {
    CreatePanes();
    const std::wstring name = L"Сергей: ";
    UseGroups({MakeGroup(1, L"A", {MakePerson(1, name, L"ул. Ленина, 15, 0.7 км"),
                                   MakePerson(2, L"Ян: ", L"Москва,Тверская,7,0.7км")})});
    const int nameWidth = BoldWidth(name);
    ResizeClientTo(nameWidth + 20 + BoldWidth(L"ул. Ленина,"));
    const Person& person = context().groups[0].people[0];
    EXPECT_EQ(nameWidth, person.nameWidth);
    EXPECT_EQ(L"ул. Ленина, ", person.addressFirstPart) << "at the width that reaches it";
    EXPECT_EQ(L"15, 0.7 км", person.addressSecondPart);
    EXPECT_EQ(L"Москва,Тверская,7,0.7км", context().groups[0].people[1].addressFirstPart);
    EXPECT_EQ(L"", context().groups[0].people[1].addressSecondPart);

    ResizeClientTo(nameWidth + 20 + BoldWidth(L"ул. Ленина,") - 1);
    EXPECT_EQ(L"ул. ", person.addressFirstPart) << "each size change measures again";
}

TEST_F(GroupTab, TapsSelectOpenAndCloseTheDetailWindow) {
    for (int scale : {1, 2}) {
        UseScale(scale);
        CreatePanes();
        const int s = scale;
        TwoGroups();
        Show(kPaneGroups);
        TapEntry(1);
        EXPECT_EQ(std::make_pair(102, 1), Selected()) << "first tap selects";
        EXPECT_EQ(nullptr, Detail());
        TapEntry(1);
        ASSERT_NE(nullptr, Detail()) << "second tap opens";
        EXPECT_TRUE(IsWindowVisible(Detail()));
        const RECT bounds = BoundsInParent(Detail());
        EXPECT_EQ(2 * s, bounds.left);
        EXPECT_EQ(8 * s + 38 * s - 4 * s, bounds.top) << "over the entry";
        EXPECT_EQ(84 * s, bounds.bottom - bounds.top);
        // The panel ends where the frame of the selected entry ends: no piece of that frame stands
        // beside it (read back from the screen where this scale's window fits it).
        const RECT client = ClientRect(pane(kPaneGroups));
        EXPECT_EQ(client.right - 2 * s, bounds.right) << "scale " << s;
        if (scale <= ScalesOnThisScreen().back()) {
            pelmora_test::Picture picture(client.right, client.bottom);
            pelmora_test::CaptureClientArea(pane(kPaneGroups), picture);
            EXPECT_TRUE(picture.IsBlack(bounds.right - 1, bounds.top + 10 * s)) << "the panel's frame, scale " << s;
            const RECT beside = {bounds.right, bounds.top, client.right, bounds.bottom};
            EXPECT_FALSE(picture.AnyIn(beside, [](COLORREF c) { return c != RGB(255, 255, 255); }))
                << "nothing beside the panel, scale " << s;
        }
        const HWND detail = Detail();
        TapEntry(0);
        EXPECT_EQ(nullptr, Detail()) << "third tap closes";
        EXPECT_FALSE(IsWindow(detail));
        EXPECT_EQ(std::make_pair(102, 1), Selected()) << "and selects nothing else";

        TapEntry(1);
        ASSERT_NE(nullptr, Detail());
        Tap(Detail(), 20, 20);
        EXPECT_EQ(nullptr, Detail()) << "a tap on the panel closes it too";
    }
}

TEST_F(GroupTab, EnterOpensAndClosesTheDetailWindowOverTheSelection) {
    CreatePanes();
    TwoGroups();
    Show(kPaneGroups);
    Key(kPaneGroups, VK_RETURN);
    EXPECT_EQ(nullptr, Detail()) << "nothing selected";
    TapEntry(2);
    Key(kPaneGroups, VK_RETURN);
    ASSERT_NE(nullptr, Detail());
    EXPECT_EQ(8 + 2 * 38 - 4, BoundsInParent(Detail()).top) << "over the tapped entry";
    Key(kPaneGroups, VK_RETURN);
    EXPECT_EQ(nullptr, Detail());

    Key(kPaneGroups, VK_RETURN);
    ASSERT_NE(nullptr, Detail());
    Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(nullptr, Detail()) << "moving the selection closes it";
    Key(kPaneGroups, VK_RETURN);
    ASSERT_NE(nullptr, Detail());
    SendMessageW(pane(kPaneGroups), WM_SIZE, 0, 0);
    EXPECT_EQ(nullptr, Detail()) << "a refresh closes it";
}

TEST_F(GroupTab, PrivateHoursAndVisibilityReplaceTheList) {
    CreatePanes();
    TwoGroups();
    Show(kPaneGroups);
    HWND tab = pane(kPaneGroups);
    EXPECT_TRUE(ShowsNameBlue(tab)) << "the list's names";

    context().inPrivateHours = true;
    EXPECT_FALSE(ShowsNameBlue(tab)) << "only the privacy text";
    SendMessageW(tab, WM_COMMAND, IDM_CHOOSE_GROUP, 0);
    EXPECT_EQ(L"недоступно", context().statusText);
    EXPECT_EQ(kPaneGroups, context().currentPane);

    context().inPrivateHours = false;
    for (Visibility visibility : {Visibility::Invisible, Visibility::SwitchedOff}) {
        context().visibility = visibility;
        context().statusText.clear();
        EXPECT_FALSE(ShowsNameBlue(tab)) << "visibility " << static_cast<int>(visibility);
        SendMessageW(tab, WM_COMMAND, IDM_CHOOSE_GROUP, 0);
        EXPECT_EQ(L"недоступно", context().statusText) << "visibility " << static_cast<int>(visibility);
    }

    context().visibility = Visibility::VisibleToGroups;
    context().groupSelection.shownGroup = 2;
    context().groupSelection.highlightedGroup = -1;
    SendMessageW(tab, WM_COMMAND, IDM_CHOOSE_GROUP, 0);
    EXPECT_EQ(kPaneGroupList, context().currentPane);
    EXPECT_EQ(kPaneGroups, context().selectedTab);
    EXPECT_EQ(2, context().groupSelection.highlightedGroup) << "the list starts on the shown group";
}

TEST_F(GroupTab, ScrollsTheSelectionToTheTopAndBackOnRefresh) {
    CreatePanes();
    std::vector<Person> people;
    for (int index = 0; index < 20; ++index) people.push_back(MakePerson(index, L"Имя: ", L"Адрес, 1.0 км"));
    UseGroups({MakeGroup(1, L"Все", people)});
    HWND tab = pane(kPaneGroups);
    SCROLLINFO info = {sizeof(info), SIF_ALL};
    GetScrollInfo(tab, SB_VERT, &info);
    EXPECT_EQ(38 * 20 + 60, info.nMax);
    EXPECT_EQ(static_cast<UINT>(ClientRect(tab).bottom), info.nPage);

    for (int step = 0; step < 4; ++step) Key(kPaneGroups, VK_DOWN);
    EXPECT_EQ(3 * 38, GetScrollPos(tab, SB_VERT)) << "the fourth entry at the top";
    TapEntry(3);
    ASSERT_NE(nullptr, Detail()) << "the tap finds the scrolled entry";
    EXPECT_EQ(8 - 4, BoundsInParent(Detail()).top);
    SendMessageW(tab, WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(3 * 38 + 1, GetScrollPos(tab, SB_VERT));
    EXPECT_EQ(8 - 4 - 1, BoundsInParent(Detail()).top) << "the open panel moves with the content";
    SendMessageW(tab, WM_SIZE, 0, 0);
    EXPECT_EQ(0, GetScrollPos(tab, SB_VERT));

    for (int step = 0; step < 50; ++step) SendMessageW(tab, WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(static_cast<int>(info.nMax - info.nPage + 1), GetScrollPos(tab, SB_VERT)) << "stops at the end";
    Show(kPaneGroups);
    ASSERT_TRUE(pelmora_test::DragScrollThumb(tab, 0.0));
    EXPECT_EQ(0, GetScrollPos(tab, SB_VERT)) << "the thumb reaches the top again";
}

// Thousands of people are more than 65,535 pixels of list: the thumb's place does not fit the 16
// bits of the scroll message.
TEST_F(GroupTab, AThumbDraggedPastSixteenBitsLandsWhereItIsDropped) {
    CreatePanes();
    std::vector<Person> people;
    for (int index = 0; index < 3000; ++index) people.push_back(MakePerson(index, L"Имя: ", L"Адрес"));
    UseGroups({MakeGroup(1, L"Все", people)});
    Show(kPaneGroups);
    HWND tab = pane(kPaneGroups);
    SCROLLINFO info = {sizeof(info), SIF_ALL};
    GetScrollInfo(tab, SB_VERT, &info);
    const int last = info.nMax - static_cast<int>(info.nPage) + 1;
    ASSERT_GT(last, 65535);
    const struct {
        double fraction;
        int expected;
    } drops[] = {{1.0, last}, {0.9, last * 9 / 10}, {0.0, 0}, {0.5, last / 2}};
    for (const auto& drop : drops) {
        ASSERT_TRUE(pelmora_test::DragScrollThumb(tab, drop.fraction));
        Pump();
        const int position = GetScrollPos(tab, SB_VERT);
        // One pixel of the thumb's track is worth this many pixels of list.
        const int pixel = last / (ClientRect(tab).bottom - 2 * GetSystemMetrics(SM_CYVSCROLL)) + 1;
        EXPECT_NEAR(drop.expected, position, pixel) << "dropped at " << drop.fraction;
        // The content went along: the entry at the top of the pane is the one there in the list.
        const int row = (position + 37) / 38;
        Tap(tab, ClientRect(tab).right / 2, 20 + 38 * row - position);
        EXPECT_EQ(row, context().groupSelection.selectedPerson) << "dropped at " << drop.fraction;
    }
}

}  // namespace
