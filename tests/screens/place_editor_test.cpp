// The place editor: its fields for a new and an existing mark, placeholders, limits, the
// audience list with the chosen group, and what Save, Delete and Cancel leave behind.
#include "tests/screens/screen_fixture.h"

#include "resources/resource_ids.h"
#include "screens/pane_window.h"
#include "screens/place_editor.h"
#include "screens/place_line.h"

namespace {

class PlaceEditor : public ScreenTest {
protected:
    // The group chosen in the group list, if any, is set after the panes exist: creating the
    // group tab starts with all groups shown.
    void Open(int shownGroup = -1) {
        CreatePanes();
        context().groups = {MakeGroup(17, L"Друзья (5)", {}), MakeGroup(18, L"Семья (3)", {})};
        context().groupSelection.shownGroup = shownGroup;
        FillPlaceEditor(context());
        Show(kPanePlaceEditor);
    }
    std::wstring Field(int id) { return ControlText(kPanePlaceEditor, id); }
    void Type(int id, const wchar_t* text) { SetDlgItemTextW(pane(kPanePlaceEditor), id, text); }
    void Enter(int id) {
        SetFocus(control(kPanePlaceEditor, id));
        Pump();
    }
    HWND Audience() { return control(kPanePlaceEditor, IDC_PLACE_AUDIENCE); }
    int AudienceCount() { return static_cast<int>(SendMessageW(Audience(), CB_GETCOUNT, 0, 0)); }
    int AudienceChoice() { return static_cast<int>(SendMessageW(Audience(), CB_GETCURSEL, 0, 0)); }
    std::wstring AudienceEntry(int index) {
        wchar_t text[128] = {};
        SendMessageW(Audience(), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }
    void ExistingMark(int scope) {
        PlaceMark& mark = context().placeMark;
        mark.id = 44;
        mark.scope = scope;
        mark.title = L"Работа";
        mark.street = L"Ленинский проспект";
        mark.house = L"32";
        mark.building = L"а";
        mark.tags = L"офис обед";
    }
};

TEST_F(PlaceEditor, NewMarkShowsPlaceholdersAndOnlyMe) {
    Open();
    EXPECT_TRUE(context().placeEditorNew);
    EXPECT_EQ(L"Введите название", Field(IDC_PLACE_TITLE));
    EXPECT_EQ(L"Улица", Field(IDC_PLACE_STREET));
    EXPECT_EQ(L"Дом", Field(IDC_PLACE_HOUSE));
    EXPECT_EQ(L"Корпус", Field(IDC_PLACE_BUILDING));
    EXPECT_EQ(L"", Field(IDC_PLACE_TAGS));
    EXPECT_EQ(3, AudienceCount()) << "no group chosen";
    EXPECT_EQ(0, AudienceChoice());
    EXPECT_EQ(L"Только я", AudienceEntry(0));
    EXPECT_EQ(L"Все", AudienceEntry(1));
    EXPECT_EQ(L"Мои группы", AudienceEntry(2));
    EXPECT_FALSE(IsWindowVisible(control(kPanePlaceEditor, IDC_PLACE_DELETE)));
}

TEST_F(PlaceEditor, ExistingMarkShowsItsFieldsAndTheDeleteButton) {
    ExistingMark(1);
    Open();
    EXPECT_FALSE(context().placeEditorNew);
    EXPECT_EQ(L"Работа", Field(IDC_PLACE_TITLE));
    EXPECT_EQ(L"Ленинский проспект", Field(IDC_PLACE_STREET));
    EXPECT_EQ(L"32", Field(IDC_PLACE_HOUSE));
    EXPECT_EQ(L"а", Field(IDC_PLACE_BUILDING));
    EXPECT_EQ(L"офис обед", Field(IDC_PLACE_TAGS));
    EXPECT_EQ(1, AudienceChoice());
    EXPECT_TRUE(IsWindowVisible(control(kPanePlaceEditor, IDC_PLACE_DELETE)));
    EXPECT_EQ(L"Удалить метку", ControlText(kPanePlaceEditor, IDC_PLACE_DELETE));

    context().placeMark.id = 0;
    FillPlaceEditor(context());
    EXPECT_TRUE(context().placeEditorNew) << "every opening sets the mode anew";
    EXPECT_EQ(L"Введите название", Field(IDC_PLACE_TITLE));
    EXPECT_FALSE(IsWindowVisible(control(kPanePlaceEditor, IDC_PLACE_DELETE)));
}

TEST_F(PlaceEditor, EnteringAFieldClearsOnlyItsPlaceholder) {
    Open();
    Enter(IDC_PLACE_STREET);
    EXPECT_EQ(L"", Field(IDC_PLACE_STREET));
    Type(IDC_PLACE_STREET, L"Тверская");
    Enter(IDC_PLACE_TITLE);
    Enter(IDC_PLACE_STREET);
    EXPECT_EQ(L"Тверская", Field(IDC_PLACE_STREET)) << "typed text stays";
    EXPECT_EQ(L"", Field(IDC_PLACE_TITLE));
    Enter(IDC_PLACE_HOUSE);
    EXPECT_EQ(L"", Field(IDC_PLACE_HOUSE));
    EXPECT_EQ(L"Корпус", Field(IDC_PLACE_BUILDING)) << "untouched fields keep theirs";
    Enter(IDC_PLACE_TITLE);
    EXPECT_EQ(L"", Field(IDC_PLACE_TITLE)) << "an emptied field stays empty";
}

TEST_F(PlaceEditor, FieldsAcceptTheirLengthsOnly) {
    Open();
    const std::pair<int, int> limits[] = {{IDC_PLACE_TITLE, 50}, {IDC_PLACE_STREET, 128}, {IDC_PLACE_HOUSE, 8},
                                          {IDC_PLACE_BUILDING, 8}, {IDC_PLACE_TAGS, 256}};
    for (const auto& limit : limits) {
        EXPECT_EQ(limit.second, SendMessageW(control(kPanePlaceEditor, limit.first), EM_GETLIMITTEXT, 0, 0))
            << "control " << limit.first;
    }
    HWND house = control(kPanePlaceEditor, IDC_PLACE_HOUSE);
    SendMessageW(house, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    for (wchar_t digit : std::wstring(L"1234567890")) SendMessageW(house, WM_CHAR, digit, 0);
    EXPECT_EQ(L"12345678", Field(IDC_PLACE_HOUSE)) << "typing stops at 8";
}

TEST_F(PlaceEditor, ChosenGroupIsTheFourthAudience) {
    StartServer();
    Open(17);
    ASSERT_EQ(4, AudienceCount());
    EXPECT_EQ(L"Группа Друзья (5)", AudienceEntry(3));
    SendMessageW(Audience(), CB_SETCURSEL, 3, 0);
    Type(IDC_PLACE_TITLE, L"Дача");
    server().Push(pelmora_test::XmlReply("<itake><id>5</id></itake>"));
    SavePlaceEditor(context());
    EXPECT_EQ(3, context().placeMark.scope);
    EXPECT_EQ(17, context().placeMark.group);
    EXPECT_EQ("token=T0K&mnc=01&lac=7718&cid=40402&sint_id=0&sint_scope=3&sint_scope_group=17&sint_title=Дача",
              RequestBody(0));

    context().groupSelection.shownGroup = 99;
    FillPlaceEditor(context());
    ASSERT_EQ(4, AudienceCount()) << "the old fourth entry went";
    EXPECT_EQ(L"Группа ", AudienceEntry(3)) << "a group no longer listed";
    context().groupSelection.shownGroup = -1;
    FillPlaceEditor(context());
    EXPECT_EQ(3, AudienceCount());
}

TEST_F(PlaceEditor, GroupScopeWithoutAChosenGroupSendsNoAudience) {
    StartServer();
    ExistingMark(3);
    Open();
    EXPECT_EQ(-1, AudienceChoice());
    server().Push(pelmora_test::XmlReply("<itake><id>44</id></itake>"));
    SavePlaceEditor(context());
    EXPECT_EQ(-1, context().placeMark.scope);
    EXPECT_EQ(-1, context().placeMark.group);
    const std::string body = RequestBody(0);
    EXPECT_NE(std::string::npos, body.find("&sint_scope=-1&sint_title=")) << body;
}

TEST_F(PlaceEditor, SavingANewMarkAtOnceSendsOnlyTheTitlePlaceholder) {
    StartServer();
    Open();
    server().Push(pelmora_test::XmlReply("<itake><id>5</id></itake>"));
    SavePlaceEditor(context());
    EXPECT_EQ("token=T0K&mnc=01&lac=7718&cid=40402&sint_id=0&sint_scope=0&sint_title=Введите название",
              RequestBody(0));
    const PlaceMark& mark = context().placeMark;
    EXPECT_EQ(L"", mark.street);
    EXPECT_EQ(L"", mark.house);
    EXPECT_EQ(L"", mark.building);
    EXPECT_EQ(0, mark.id) << "the next report brings the server's number";
    EXPECT_EQ(L"Введите название , д.", ControlText(kPaneMe, IDC_PLACE_LINE));
    EXPECT_EQ(L"Pelmora — где мои люди", context().statusText);
    EXPECT_EQ(kPaneMe, context().currentPane);
}

TEST_F(PlaceEditor, SavedFieldsGoToTheServerAndThePlaceLine) {
    StartServer();
    Open();
    Type(IDC_PLACE_TITLE, L"Дом");
    Type(IDC_PLACE_STREET, L"Тверская");
    Type(IDC_PLACE_HOUSE, L"7");
    Type(IDC_PLACE_BUILDING, L"а");
    Type(IDC_PLACE_TAGS, L"семья");
    SendMessageW(Audience(), CB_SETCURSEL, 2, 0);
    server().Push(pelmora_test::XmlReply("<itake><id>9</id></itake>"));
    SavePlaceEditor(context());
    EXPECT_EQ("token=T0K&mnc=01&lac=7718&cid=40402&sint_id=0&sint_scope=2&sint_title=Дом&sint_address_street=Тверская"
              "&sint_address_number=7&sint_address_build=а&sint_tags=семья",
              RequestBody(0));
    EXPECT_EQ(L"Дом Тверская, д.7а", ControlText(kPaneMe, IDC_PLACE_LINE));

    FillPlaceEditor(context());
    Type(IDC_PLACE_STREET, L"Улица");
    server().Push(pelmora_test::XmlReply("<itake><id>10</id></itake>"));
    SavePlaceEditor(context());
    EXPECT_EQ(L"", context().placeMark.street) << "the placeholder word typed in is no street";
    EXPECT_EQ(std::string::npos, RequestBody(1).find("sint_address_street"));
}

TEST_F(PlaceEditor, RefusedSaveSaysSoAndKeepsThePlaceLine) {
    StartServer();
    Open();
    SetPlaceLine(context(), L"Работа");
    Type(IDC_PLACE_TITLE, L"Дача");
    server().Push(pelmora_test::XmlReply("<itake><id>0</id></itake>"));
    SavePlaceEditor(context());
    EXPECT_EQ(L"Ошибка передачи данных", context().statusText);
    EXPECT_EQ(L"Работа", ControlText(kPaneMe, IDC_PLACE_LINE));
    EXPECT_EQ(L"Дача", context().placeMark.title) << "the typed values stay";
    EXPECT_EQ(kPaneMe, context().currentPane);
}

TEST_F(PlaceEditor, DeleteNamesThePlaceLineAfterTheServerAgrees) {
    StartServer();
    ExistingMark(1);
    Open();
    SetPlaceLine(context(), L"Работа Ленинский проспект, д.32а");
    server().Push(pelmora_test::XmlReply("<cancel><status>0</status></cancel>"));
    Click(kPanePlaceEditor, IDC_PLACE_DELETE);
    EXPECT_EQ("token=T0K&sint_id=44", RequestBody(0));
    EXPECT_EQ(L"Метка без названия, укажите название", ControlText(kPaneMe, IDC_PLACE_LINE));
    EXPECT_EQ(L"Метка успешно удалена", context().statusText);
    EXPECT_EQ(kPaneMe, context().currentPane);
    EXPECT_EQ(kPaneMe, context().selectedTab);
    EXPECT_EQ(44, context().placeMark.id) << "the mark stays until the next report";

    Show(kPanePlaceEditor);
    SetPlaceLine(context(), L"Работа");
    server().Push(pelmora_test::XmlReply("<cancel><status>1</status></cancel>"));
    Click(kPanePlaceEditor, IDC_PLACE_DELETE);
    EXPECT_EQ(L"Невозможно удалить метку", context().statusText);
    EXPECT_EQ(L"Работа", ControlText(kPaneMe, IDC_PLACE_LINE));
    EXPECT_EQ(kPaneMe, context().currentPane);
}

TEST_F(PlaceEditor, CancelStoresNothing) {
    ExistingMark(2);
    Open();
    Type(IDC_PLACE_TITLE, L"Другое");
    SendMessageW(pane(kPanePlaceEditor), WM_COMMAND, IDM_BACK, 0);
    EXPECT_EQ(L"Работа", context().placeMark.title);
    EXPECT_EQ(kPaneMe, context().currentPane);
    EXPECT_EQ(kPaneMe, context().selectedTab);
}

TEST_F(PlaceEditor, LaysOutTheFieldsForTheWidth) {
    UseScale(2);
    Open();
    const int s = 2;
    const int width = ClientRect(pane(kPanePlaceEditor)).right - 20 * s;
    const RECT house = BoundsInParent(control(kPanePlaceEditor, IDC_PLACE_HOUSE));
    const RECT building = BoundsInParent(control(kPanePlaceEditor, IDC_PLACE_BUILDING));
    EXPECT_EQ(10 * s, house.left);
    EXPECT_EQ(142 * s, house.top);
    EXPECT_EQ(width / 2 - 5 * s, house.right - house.left);
    EXPECT_EQ(width / 2 - 5 * s + 20 * s, building.left);
    EXPECT_EQ(house.right - house.left, building.right - building.left);
    EXPECT_EQ(22 * s, building.bottom - building.top);
    const RECT title = BoundsInParent(control(kPanePlaceEditor, IDC_PLACE_TITLE));
    EXPECT_EQ(62 * s, title.top);
    EXPECT_EQ(width, title.right - title.left);

    HWND editor = pane(kPanePlaceEditor);
    SCROLLINFO info = {sizeof(info), SIF_ALL};
    GetScrollInfo(editor, SB_VERT, &info);
    EXPECT_EQ(350 * s - ClientRect(editor).bottom, info.nMax);
    SendMessageW(editor, WM_VSCROLL, SB_LINEDOWN, 0);
    SendMessageW(editor, WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(2 * s, GetScrollPos(editor, SB_VERT));
    EXPECT_EQ(62 * s - 2 * s, BoundsInParent(control(kPanePlaceEditor, IDC_PLACE_TITLE)).top) << "fields scroll";
    SendMessageW(editor, WM_SIZE, 0, 0);
    EXPECT_EQ(0, GetScrollPos(editor, SB_VERT));
    EXPECT_EQ(62 * s, BoundsInParent(control(kPanePlaceEditor, IDC_PLACE_TITLE)).top);
}

}  // namespace
