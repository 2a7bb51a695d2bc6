#include "screens/place_editor.h"

#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/status_line.h"
#include "app/window_state.h"
#include "location/place_mark_requests.h"
#include "platform/durations.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/group_model_lookup.h"
#include "screens/pane_scroll.h"
#include "screens/pane_window.h"
#include "screens/place_line.h"

namespace {

constexpr wchar_t kClassName[] = L"PelPlaceWnd";
constexpr COLORREF kHeadingBlue = RGB(48, 48, 255);
constexpr int kGroupAudience = 3;

// The fields that show a placeholder until the user enters them.
struct Placeholder {
    int id;
    const wchar_t* text;
};
constexpr Placeholder kPlaceholders[] = {
    {IDC_PLACE_TITLE, kTextTitlePlaceholder},
    {IDC_PLACE_STREET, kTextStreetPlaceholder},
    {IDC_PLACE_HOUSE, kTextHousePlaceholder},
    {IDC_PLACE_BUILDING, kTextBuildingPlaceholder},
};

const wchar_t* PlaceholderOf(int id) {
    for (const Placeholder& placeholder : kPlaceholders) {
        if (placeholder.id == id) return placeholder.text;
    }
    return nullptr;
}

struct ControlBounds {
    int id;
    int x, y, width, height;
};

// Where the controls lie with the content at the top, for a client area `clientWidth` wide.
std::vector<ControlBounds> LayControls(int clientWidth, int s) {
    const int width = clientWidth - 20 * s;
    const int half = width / 2 - 5 * s;
    return {
        {IDC_PLACE_TITLE, 10 * s, 62 * s, width, 22 * s},
        {IDC_PLACE_STREET, 10 * s, 110 * s, width, 22 * s},
        {IDC_PLACE_HOUSE, 10 * s, 142 * s, half, 22 * s},
        {IDC_PLACE_BUILDING, half + 20 * s, 142 * s, half, 22 * s},
        {IDC_PLACE_TAGS, 10 * s, 200 * s, width, 22 * s},
        // A combo box's height includes its drop-down list.
        {IDC_PLACE_AUDIENCE, 10 * s, 260 * s, width, 80 * s},
        {IDC_PLACE_DELETE, 10 * s, 304 * s, width, 24 * s},
    };
}

void CreateControls(HWND window, const AppContext& context) {
    // In the order of LayControls.
    struct ControlLayout {
        const wchar_t* className;
        const wchar_t* text;
        DWORD style;
        int limit;  // characters; 0 for controls without text entry
    };
    const DWORD edit = WS_BORDER | ES_LEFT | ES_AUTOHSCROLL;
    const ControlLayout controls[] = {
        {L"EDIT", kTextTitlePlaceholder, edit, 50},
        {L"EDIT", kTextStreetPlaceholder, edit, 128},
        {L"EDIT", kTextHousePlaceholder, edit, 8},
        {L"EDIT", kTextBuildingPlaceholder, edit, 8},
        {L"EDIT", L"", edit, 256},
        {L"COMBOBOX", L"", WS_BORDER | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_HASSTRINGS, 0},
        {L"BUTTON", kTextDeleteMark, BS_PUSHBUTTON, 0},
    };
    RECT client;
    GetClientRect(window, &client);
    const std::vector<ControlBounds> bounds = LayControls(client.right, context.scale);
    for (size_t index = 0; index < bounds.size(); ++index) {
        const ControlLayout& layout = controls[index];
        const ControlBounds& at = bounds[index];
        HWND control = CreatePaneControl(context, window, at.id, layout.className, layout.text, layout.style, at.x,
                                         at.y, at.width, at.height);
        if (control != nullptr && layout.limit > 0) SendMessageW(control, EM_LIMITTEXT, layout.limit, 0);
    }
    HWND audience = GetDlgItem(window, IDC_PLACE_AUDIENCE);
    for (const wchar_t* text : {kTextAudienceOnlyMe, kTextAudienceEverybody, kTextAudienceMyGroups}) {
        SendMessageW(audience, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
}

void OnCreate(HWND window, AppContext& context) {
    context.panes[kPanePlaceEditor].menuBar = CreatePaneMenuBar(context, window, IDR_MENU_PLACE);
    CreateControls(window, context);
    SetScrollPos(window, SB_VERT, 0, FALSE);
}

void OnSize(HWND window, const AppContext& context, ScrollingPaneState& state) {
    const int s = context.scale;
    RECT client;
    GetClientRect(window, &client);
    ResetPaneScroll(window, state.scrollOffset, 350 * s - client.bottom, 10);
    GetClientRect(window, &client);
    for (const ControlBounds& at : LayControls(client.right, s)) {
        SetWindowPos(GetDlgItem(window, at.id), nullptr, at.x, at.y, at.width, at.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void DrawLabel(HDC dc, const wchar_t* text, int left, int top, int bottom, int right) {
    RECT area = {left, top, right, bottom};
    DrawTextW(dc, text, -1, &area, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
}

void OnPaint(HWND window, const AppContext& context) {
    const int s = context.scale;
    const int p = GetScrollPos(window, SB_VERT);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const int saved = SaveDC(dc);
    RECT client;
    GetClientRect(window, &client);
    const int right = client.right - 12 * s;
    SelectObject(dc, context.fontHeading);
    SetTextColor(dc, kHeadingBlue);
    DrawLabel(dc, context.placeEditorNew ? kTextNewMarkHeading : kTextMarkHeading, 12 * s, 12 * s - p, 28 * s - p, right);
    SetTextColor(dc, RGB(0, 0, 0));
    SelectObject(dc, context.fontBold);
    DrawLabel(dc, kTextTitleLabel, 12 * s, 44 * s - p, 58 * s - p, right);
    DrawLabel(dc, kTextAddressLabel, 12 * s, 94 * s - p, 108 * s - p, right);
    DrawLabel(dc, kTextTagsLabel, 12 * s, 184 * s - p, 198 * s - p, right);
    DrawLabel(dc, kTextAudienceLabel, 12 * s, 242 * s - p, 256 * s - p, right);
    SelectObject(dc, context.fontNormal);
    DrawLabel(dc, kTextAddressHint, 56 * s, 94 * s - p, 108 * s - p, right);
    RestoreDC(dc, saved);
    EndPaint(window, &paint);
}

std::wstring ReadControlText(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, &text[0], static_cast<int>(text.size()))));
    return text;
}

// A field still showing its placeholder holds nothing.
std::wstring ReadField(HWND window, int id) {
    std::wstring text = ReadControlText(window, id);
    const wchar_t* placeholder = PlaceholderOf(id);
    if (placeholder != nullptr && text == placeholder) text.clear();
    return text;
}

// The user enters a field that still shows its placeholder: it empties for the typing.
void OnFieldFocused(HWND window, int id) {
    const wchar_t* placeholder = PlaceholderOf(id);
    if (ReadControlText(window, id) == placeholder) SetDlgItemTextW(window, id, L"");
}

void DeleteMark(AppContext& context) {
    const unsigned duration = GetDurations().statusMessageMs;
    ShowTransferStatus();
    if (DeletePlaceMark(context, context.placeMark)) {
        ShowStatusMessage(kTextMarkDeleted, duration);
        SetPlaceLine(context, kTextMarkUnnamed);
    } else {
        ShowStatusMessage(kTextCannotDeleteMark, duration);
    }
    ShowPane(kPaneMe, true);
}

bool OnCommand(HWND window, AppContext& context, WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    const int notification = HIWORD(wParam);
    if (lParam == 0) {
        if (id == IDM_SAVE_PLACE) {
            SavePlaceEditor(context);
            return true;
        }
        if (id == IDM_BACK) {
            ShowPane(kPaneMe, true);
            return true;
        }
        return false;
    }
    if (PlaceholderOf(id) != nullptr) {
        if (notification == EN_SETFOCUS) OnFieldFocused(window, id);
        return true;
    }
    if (id == IDC_PLACE_DELETE && notification == BN_CLICKED) {
        DeleteMark(context);
        return true;
    }
    return false;
}

LRESULT CALLBACK PlaceEditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ScrollingPaneState* state = TrackWindowState<ScrollingPaneState>(window, message, lParam);
    AppContext* application = GetAppContext();
    if (state == nullptr || application == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    AppContext& context = *application;
    switch (message) {
    case WM_CREATE:
        OnCreate(window, context);
        return 0;
    case WM_SIZE:
        OnSize(window, context, *state);
        return 0;
    case WM_PAINT:
        OnPaint(window, context);
        return 0;
    case WM_CTLCOLORSTATIC:
        return ColourControlOnWhite(wParam);
    case WM_VSCROLL:
        HandlePaneScrollRequest(window, state->scrollOffset, wParam, context.scale);
        return 0;
    case WM_COMMAND:
        if (OnCommand(window, context, wParam, lParam)) return 0;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreatePlaceEditor(AppContext& context, HWND parent) {
    return CreateScrollingPane(context, kClassName, PlaceEditorProc, parent);
}

void FillPlaceEditor(AppContext& context) {
    HWND window = context.panes[kPanePlaceEditor].window;
    if (window == nullptr) return;
    const PlaceMark& mark = context.placeMark;
    const bool isNew = mark.id < 1;
    SetDlgItemTextW(window, IDC_PLACE_TITLE, isNew ? kTextTitlePlaceholder : mark.title.c_str());
    SetDlgItemTextW(window, IDC_PLACE_STREET, isNew ? kTextStreetPlaceholder : mark.street.c_str());
    SetDlgItemTextW(window, IDC_PLACE_TAGS, isNew ? L"" : mark.tags.c_str());
    SetDlgItemTextW(window, IDC_PLACE_HOUSE, isNew ? kTextHousePlaceholder : mark.house.c_str());
    SetDlgItemTextW(window, IDC_PLACE_BUILDING, isNew ? kTextBuildingPlaceholder : mark.building.c_str());

    // Position 3 of the audience is the group chosen in the group list, when there is one.
    HWND audience = GetDlgItem(window, IDC_PLACE_AUDIENCE);
    if (SendMessageW(audience, CB_GETCOUNT, 0, 0) > kGroupAudience) {
        SendMessageW(audience, CB_DELETESTRING, kGroupAudience, 0);
    }
    const int shownGroup = context.groupSelection.shownGroup;
    if (shownGroup != -1) {
        const Group* group = FindGroup(context.groups, shownGroup);
        const std::wstring entry = std::wstring(kTextAudienceGroup) + (group != nullptr ? group->title : L"");
        SendMessageW(audience, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
    // A scope without its entry in the list leaves the audience unchosen.
    SendMessageW(audience, CB_SETCURSEL, isNew ? 0 : static_cast<WPARAM>(mark.scope), 0);

    ShowWindow(GetDlgItem(window, IDC_PLACE_DELETE), isNew ? SW_HIDE : SW_SHOW);
    context.placeEditorNew = isNew;
    InvalidateRect(window, nullptr, TRUE);
}

void SavePlaceEditor(AppContext& context) {
    HWND window = context.panes[kPanePlaceEditor].window;
    if (window == nullptr) return;
    PlaceMark& mark = context.placeMark;
    // The title is taken as it stands, placeholder included: a mark never goes without a name.
    mark.title = ReadControlText(window, IDC_PLACE_TITLE);
    mark.street = ReadField(window, IDC_PLACE_STREET);
    mark.tags = ReadControlText(window, IDC_PLACE_TAGS);
    mark.house = ReadField(window, IDC_PLACE_HOUSE);
    mark.building = ReadField(window, IDC_PLACE_BUILDING);
    mark.scope = static_cast<int>(SendDlgItemMessageW(window, IDC_PLACE_AUDIENCE, CB_GETCURSEL, 0, 0));
    mark.group = context.groupSelection.shownGroup;

    ShowTransferStatus();
    if (SendPlaceMark(context, mark)) {
        SetPlaceLine(context, mark.title + L" " + mark.street + kTextHousePrefix + mark.house + mark.building);
        ShowIdleStatus();
    } else {
        ShowStatusMessage(kTextTransferError, GetDurations().statusMessageMs);
    }
    ShowPane(kPaneMe, false);
}
