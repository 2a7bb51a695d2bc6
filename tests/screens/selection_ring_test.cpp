// The arrow keys over unusual models the server may send: people without an identifier, people
// and groups whose identifiers repeat. Every walk visits each entry that can be selected, once,
// in order, and comes back to where it started; a repeated identifier is told apart by its row.
#include "tests/screens/screen_fixture.h"

#include <string>
#include <utility>
#include <vector>

#include "resources/resource_ids.h"
#include "screens/pane_window.h"

namespace {

constexpr int kNoIdentifier = 2147483647;

// One person per number; -1 is a person the server sent without an identifier.
Group GroupOf(int id, std::vector<int> people) {
    Group group;
    group.id = id;
    group.title = L"Группа " + std::to_wstring(id);
    for (int person : people) {
        Person entry;
        entry.id = person;
        entry.name = L"Человек " + std::to_wstring(person) + L": ";
        entry.address = L"Москва";
        group.people.push_back(entry);
    }
    return group;
}

struct PeopleCase {
    const char* name;
    std::vector<Group> groups;
    int shownGroup;
    std::vector<int> downFromNothing;  // rows selected by Down, Down, ... starting with nothing selected
    std::vector<int> upFromFirst;      // rows selected by Up, Up, ... from the first selection
};

class SelectionRing : public ScreenTest {
protected:
    void UseGroups(std::vector<Group> groups, int shownGroup) {
        context().groups = std::move(groups);
        GroupSelection& selection = context().groupSelection;
        selection.shownGroup = shownGroup;
        selection.selectedPerson = -1;
        selection.selectedPersonGroup = -1;
        SendMessageW(pane(kPaneGroups), WM_SIZE, 0, 0);
        SendMessageW(pane(kPaneGroupList), WM_SIZE, 0, 0);
    }
    // The entries of the group tab, as (group, person) identifiers in the order they are listed.
    std::vector<std::pair<int, int>> Entries(const PeopleCase& test) {
        std::vector<std::pair<int, int>> entries;
        for (const Group& group : context().groups) {
            if (test.shownGroup != -1 && group.id != test.shownGroup) continue;
            for (const Person& person : group.people) entries.emplace_back(group.id, person.id);
            if (test.shownGroup != -1) break;
        }
        return entries;
    }
    // The row that the group tab draws framed, -1 when none is; -2 when several are or when the
    // selection's identifiers are not those of the framed entry.
    int SelectedRow(const PeopleCase& test) {
        const std::vector<std::pair<int, int>> entries = Entries(test);
        int framed = -1;
        for (int row = 0; row < static_cast<int>(entries.size()); ++row) {
            if (!Framed(row)) continue;
            if (framed != -1) return -2;
            framed = row;
        }
        if (framed < 0) return -1;
        const GroupSelection& selection = context().groupSelection;
        const std::pair<int, int> selected(selection.selectedPersonGroup, selection.selectedPerson);
        return entries[framed] == selected ? framed : -2;
    }
    std::vector<int> Walk(const PeopleCase& test, WPARAM key, size_t presses) {
        std::vector<int> rows;
        for (size_t press = 0; press < presses; ++press) {
            Key(kPaneGroups, key);
            rows.push_back(SelectedRow(test));
        }
        return rows;
    }
    // Whether the group tab draws the selection frame beside entry `row` (3 units left of the text).
    bool Framed(int row) {
        const int s = scale_;
        return PixelAt(pane(kPaneGroups), 2 * s, 8 * s + 38 * s * row + 10 * s) == RGB(0, 0, 0);
    }
    // Whether the group list draws its highlight frame around row `row` of `groups` groups (the
    // frame of "Показать всех" is 5 pixels left of the text, a group's 5 units).
    bool ListFramed(int row, int groups) {
        const int s = scale_;
        const int x = row == groups ? 10 * s - 5 : 5 * s;
        return PixelAt(pane(kPaneGroupList), x, 8 * s + 28 * s * row + 5 * s) == RGB(0, 0, 0);
    }
    // The one row of the group list drawn highlighted; -1 for none, -2 for several.
    int FramedListRow(int groups) {
        int framed = -1;
        for (int row = 0; row <= groups; ++row) {
            if (!ListFramed(row, groups)) continue;
            if (framed != -1) return -2;
            framed = row;
        }
        return framed;
    }
};

TEST_F(SelectionRing, DownAndUpVisitEveryPersonWithAnIdentifierAndCloseTheRing) {
    const PeopleCase cases[] = {
        {"a person without an identifier between two", {GroupOf(1, {11, -1, 13})}, -1, {0, 2, 0}, {2, 0}},
        {"the first person without an identifier", {GroupOf(1, {-1, 12, 13})}, -1, {1, 2, 1}, {2, 1}},
        {"nobody with an identifier", {GroupOf(1, {-1, -1})}, -1, {-1, -1}, {}},
        {"the same person twice in one group", {GroupOf(1, {7, 7, 8})}, -1, {0, 1, 2, 0}, {2, 1, 0}},
        {"the same identifier three times", {GroupOf(1, {7, 7, 7})}, -1, {0, 1, 2, 0}, {2, 1, 0}},
        {"the same group twice, not adjacent", {GroupOf(5, {1}), GroupOf(6, {2}), GroupOf(5, {1})}, -1,
         {0, 1, 2, 0}, {2, 1, 0}},
        {"groups without people and people without identifiers",
         {GroupOf(1, {}), GroupOf(2, {-1, 21}), GroupOf(3, {}), GroupOf(4, {-1}), GroupOf(5, {51, -1})}, -1,
         {1, 3, 1}, {3, 1}},
        {"the shown group repeats a person and has one without identifier", {GroupOf(9, {4, -1, 4}), GroupOf(8, {1})},
         9, {0, 2, 0}, {2, 0}},
        {"the last person of the last group without identifier", {GroupOf(1, {11}), GroupOf(2, {21, -1})}, -1,
         {0, 1, 0}, {1, 0}},
    };
    CreatePanes();
    Show(kPaneGroups);
    for (const PeopleCase& test : cases) {
        SCOPED_TRACE(test.name);
        UseGroups(test.groups, test.shownGroup);
        EXPECT_EQ(test.downFromNothing, Walk(test, VK_DOWN, test.downFromNothing.size()));
        UseGroups(test.groups, test.shownGroup);
        Key(kPaneGroups, VK_DOWN);
        EXPECT_EQ(test.upFromFirst, Walk(test, VK_UP, test.upFromFirst.size()));
    }
}

TEST_F(SelectionRing, OnlyTheSelectedRowIsFramedWhereIdentifiersRepeat) {
    CreatePanes();
    Show(kPaneGroups);
    UseGroups({GroupOf(5, {1, 1}), GroupOf(6, {2}), GroupOf(5, {1})}, -1);
    const std::vector<std::vector<bool>> framedAfterEachDown = {
        {true, false, false, false},
        {false, true, false, false},
        {false, false, true, false},
        {false, false, false, true},
        {true, false, false, false},
    };
    for (size_t press = 0; press < framedAfterEachDown.size(); ++press) {
        Key(kPaneGroups, VK_DOWN);
        std::vector<bool> framed;
        for (int row = 0; row < 4; ++row) framed.push_back(Framed(row));
        EXPECT_EQ(framedAfterEachDown[press], framed) << "after Down number " << press + 1;
    }
}

TEST_F(SelectionRing, ATapOnAPersonWithoutIdentifierSelectsNothing) {
    CreatePanes();
    Show(kPaneGroups);
    UseGroups({GroupOf(1, {11, -1, 13})}, -1);
    const int s = scale_;
    const int middle = ClientRect(pane(kPaneGroups)).right / 2;
    Tap(pane(kPaneGroups), middle, 20 * s + 38 * s * 2);
    EXPECT_EQ(13, context().groupSelection.selectedPerson);
    Tap(pane(kPaneGroups), middle, 20 * s + 38 * s * 1);
    EXPECT_EQ(13, context().groupSelection.selectedPerson) << "the selection stays where it was";
    EXPECT_EQ(nullptr, context().groupSelection.detailWindow);
    EXPECT_TRUE(Framed(2));
    EXPECT_FALSE(Framed(1));
}

struct GroupListCase {
    const char* name;
    std::vector<Group> groups;
    int highlightedGroup;  // the group tab's shown group when "Выбрать группу" was chosen
    std::vector<int> down;  // rows highlighted by Down, Down, ...; the last row is "Показать всех"
    std::vector<int> up;    // rows highlighted by Up, Up, ... from the same start
};

TEST_F(SelectionRing, TheGroupListRingReachesEveryRowAndShowEverybody) {
    const GroupListCase cases[] = {
        {"the same group twice, not adjacent", {GroupOf(5, {}), GroupOf(6, {}), GroupOf(5, {})}, 5, {1, 2, 3, 0},
         {3, 2, 1, 0}},
        {"the same group twice, adjacent", {GroupOf(5, {}), GroupOf(5, {}), GroupOf(6, {})}, 5, {1, 2, 3, 0},
         {3, 2, 1, 0}},
        {"groups without identifiers", {GroupOf(kNoIdentifier, {}), GroupOf(kNoIdentifier, {}), GroupOf(5, {})},
         kNoIdentifier, {1, 2, 3, 0}, {3, 2, 1, 0}},
        {"from Показать всех", {GroupOf(5, {}), GroupOf(6, {}), GroupOf(5, {})}, -1, {0, 1, 2, 3}, {2, 1, 0, 3}},
        {"no groups", {}, -1, {0, 0}, {0, 0}},
    };
    CreatePanes();
    for (const GroupListCase& test : cases) {
        SCOPED_TRACE(test.name);
        for (bool down : {true, false}) {
            UseGroups(test.groups, test.highlightedGroup);
            Show(kPaneGroups);
            SendMessageW(pane(kPaneGroups), WM_COMMAND, IDM_CHOOSE_GROUP, 0);
            ASSERT_EQ(kPaneGroupList, context().currentPane);
            std::vector<int> rows;
            const std::vector<int>& expected = down ? test.down : test.up;
            for (size_t press = 0; press < expected.size(); ++press) {
                Key(kPaneGroupList, down ? VK_DOWN : VK_UP);
                rows.push_back(FramedListRow(static_cast<int>(test.groups.size())));
            }
            EXPECT_EQ(expected, rows) << (down ? "Down" : "Up");
        }
    }
}

TEST_F(SelectionRing, TheGroupListFramesOnlyTheHighlightedRowOfARepeatedGroup) {
    CreatePanes();
    UseGroups({GroupOf(5, {}), GroupOf(6, {}), GroupOf(5, {})}, 5);
    Show(kPaneGroups);
    SendMessageW(pane(kPaneGroups), WM_COMMAND, IDM_CHOOSE_GROUP, 0);
    EXPECT_EQ(0, FramedListRow(3));
    Key(kPaneGroupList, VK_DOWN);
    Key(kPaneGroupList, VK_DOWN);
    EXPECT_EQ(2, FramedListRow(3));
    SendMessageW(pane(kPaneGroupList), WM_SIZE, 0, 0);
    EXPECT_EQ(2, FramedListRow(3)) << "a refresh keeps the highlighted row";
    Key(kPaneGroupList, VK_RETURN);
    EXPECT_EQ(5, context().groupSelection.shownGroup);
}

}  // namespace
