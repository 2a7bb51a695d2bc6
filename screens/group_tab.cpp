#include "screens/group_tab.h"

#include <windowsx.h>

#include <vector>

#include "app/app_context.h"
#include "app/status_line.h"
#include "app/window_state.h"
#include "platform/durations.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/detail_window.h"
#include "screens/group_model_lookup.h"
#include "screens/pane_scroll.h"
#include "screens/pane_window.h"

namespace {

constexpr wchar_t kClassName[] = L"PelGroupTabWnd";
constexpr COLORREF kNameBlue = RGB(48, 48, 255);

constexpr int kNoPerson = -1;

// Entries are 38 units apart, the first one 8 units down.
int EntryTop(int row, int s) { return 8 * s + 38 * s * row; }

int MeasureWidth(HDC dc, const std::wstring& text) {
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// Most address lines are shorter than this; longer ones measure into the heap.
constexpr std::size_t kInlineExtents = 128;

bool ShowsMessage(const AppContext& context) {
    return context.inPrivateHours ||
           (context.visibility != Visibility::Visible && context.visibility != Visibility::VisibleToGroups);
}

void OnCreate(HWND window) {
    AppContext& context = *GetAppContext();
    context.panes[kPaneGroups].menuBar = CreatePaneMenuBar(context, window, IDR_MENU_GROUPS);
    SetScrollPos(window, SB_VERT, 0, FALSE);
    GroupSelection& selection = context.groupSelection;
    selection.shownGroup = -1;
    selection.selectedPerson = -1;
    selection.selectedPersonGroup = -1;
    selection.selectedRow = 0;
    selection.detailWindow = nullptr;
}

// Texts are measured here only, once per model refresh or resize; painting draws stored parts.
void OnSize(HWND window, ScrollingPaneState& state) {
    AppContext& context = *GetAppContext();
    const int s = context.scale;
    RECT client;
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    HGDIOBJ oldFont = SelectObject(dc, context.fontBold);
    int entries = 0;
    for (int index : ShownGroupIndexes(context.groups, context.groupSelection.shownGroup)) {
        Group& group = context.groups[index];
        entries += static_cast<int>(group.people.size());
        for (Person& person : group.people) LayOutEntry(dc, person, client.right);
    }
    SelectObject(dc, oldFont);
    ReleaseDC(window, dc);
    ResetPaneScroll(window, state.scrollOffset, (38 * entries + 60) * s, client.bottom);
    CloseDetailWindow(context);
}

void PaintMessage(HDC dc, const AppContext& context, const RECT& client) {
    const int s = context.scale;
    std::wstring text;
    if (context.inPrivateHours) {
        text = kTextPrivateHoursNotice;
    } else if (context.visibility == Visibility::SwitchedOff) {
        text = kTextSwitchedOffNotice;
    } else if (context.visibility == Visibility::Invisible) {
        text = std::wstring(kTextInvisibleHint) + L'"' + kTextStateVisible + L'"';
    }
    SelectObject(dc, context.fontBold);
    SetTextColor(dc, RGB(0, 0, 0));
    RECT area = {client.left + 10 * s, client.top + 10 * s, client.right - 10 * s, client.bottom};
    DrawTextW(dc, text.c_str(), -1, &area, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

// The row of the selected entry among `entries`, or -1.
int SelectedRow(const AppContext& context, const std::vector<EntryPlace>& entries) {
    const GroupSelection& selection = context.groupSelection;
    return FindSelectedRow(context.groups, entries, selection.selectedPerson, selection.selectedPersonGroup,
                           selection.selectedRow);
}

void PaintEntries(HDC dc, const AppContext& context, const RECT& client, const RECT& dirty, int p) {
    const int s = context.scale;
    const std::vector<EntryPlace> entries = ShownEntries(context.groups, context.groupSelection.shownGroup);
    const int selected = SelectedRow(context, entries);
    RECT line = {client.left + 5 * s, 8 * s - p, client.right - 5 * s, 22 * s - p};
    for (int row = 0; row < static_cast<int>(entries.size()); ++row) {
        const Person& person = PersonAt(context.groups, entries[row]);
        const int top = line.top;
        if (top + 34 * s >= dirty.top && top - 4 * s <= dirty.bottom) {
            if (row == selected) Rectangle(dc, line.left - 3 * s, top - 4 * s, line.right + 3 * s, top + 34 * s);
            SelectObject(dc, context.fontBold);
            SetTextColor(dc, kNameBlue);
            DrawTextW(dc, person.name.c_str(), -1, &line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
            SelectObject(dc, context.fontNormal);
            SetTextColor(dc, RGB(0, 0, 0));
            RECT first = line;
            first.left += person.nameWidth;
            DrawTextW(dc, person.addressFirstPart.c_str(), -1, &first, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
            RECT second = {line.left, line.top + 16 * s, line.right, line.bottom + 16 * s};
            DrawTextW(dc, person.addressSecondPart.c_str(), -1, &second, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
        }
        line.top += 38 * s;
        line.bottom += 38 * s;
    }
}

void OnPaint(HWND window) {
    const AppContext& context = *GetAppContext();
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const int saved = SaveDC(dc);
    RECT client;
    GetClientRect(window, &client);
    if (ShowsMessage(context)) {
        PaintMessage(dc, context, client);
    } else {
        PaintEntries(dc, context, client, paint.rcPaint, GetScrollPos(window, SB_VERT));
    }
    RestoreDC(dc, saved);
    EndPaint(window, &paint);
}

void OpenDetailWindow(HWND window, int row) {
    AppContext& context = *GetAppContext();
    const int s = context.scale;
    context.groupSelection.detailWindow =
        CreateDetailWindow(window, EntryTop(row, s) - GetScrollPos(window, SB_VERT));
}

// Selects the entry at `row`: its identifiers, and the row that tells it apart from entries that
// repeat them.
void Select(AppContext& context, const std::vector<EntryPlace>& entries, int row) {
    GroupSelection& selection = context.groupSelection;
    selection.selectedPerson = PersonAt(context.groups, entries[row]).id;
    selection.selectedPersonGroup = GroupAt(context.groups, entries[row]).id;
    selection.selectedRow = row;
}

// Moves the selection one entry down or up in the ring of the shown entries, passing over people
// without an identifier (they cannot be held as a selection); true when something is selected
// afterwards.
bool MoveSelection(AppContext& context, bool down) {
    const std::vector<EntryPlace> entries = ShownEntries(context.groups, context.groupSelection.shownGroup);
    const int rows = static_cast<int>(entries.size());
    const auto selectable = [&](int row) { return PersonAt(context.groups, entries[row]).id != kNoPerson; };
    int next = -1;
    if (context.groupSelection.selectedPerson == kNoPerson) {
        next = NextInRing(rows, -1, 1, selectable);
    } else {
        CloseDetailWindow(context);
        const int current = SelectedRow(context, entries);
        if (current < 0) return false;
        next = NextInRing(rows, current, down ? 1 : -1, selectable);
    }
    if (next < 0) return false;
    Select(context, entries, next);
    return true;
}

void OnArrowKey(HWND window, bool down) {
    AppContext& context = *GetAppContext();
    if (!MoveSelection(context, down)) return;
    SendMessageW(window, WM_PELMORA_SCROLL_TO_ROW, static_cast<WPARAM>(context.groupSelection.selectedRow), 0);
    InvalidateRect(window, nullptr, TRUE);
}

void OnEnter(HWND window) {
    AppContext& context = *GetAppContext();
    if (context.groupSelection.selectedPerson == kNoPerson) return;
    if (context.groupSelection.detailWindow != nullptr) {
        CloseDetailWindow(context);
        return;
    }
    const int row = SelectedRow(context, ShownEntries(context.groups, context.groupSelection.shownGroup));
    OpenDetailWindow(window, row >= 0 ? row : context.groupSelection.selectedRow);
}

// A tap on a person without an identifier changes nothing: such an entry cannot be selected.
void OnTap(HWND window, int x, int y) {
    AppContext& context = *GetAppContext();
    if (context.groupSelection.detailWindow != nullptr) {
        CloseDetailWindow(context);
        return;
    }
    const int s = context.scale;
    RECT client;
    GetClientRect(window, &client);
    if (x <= client.left + 10 * s || x >= client.right - 10 * s) return;
    const int listY = GetScrollPos(window, SB_VERT) + y;
    const std::vector<EntryPlace> entries = ShownEntries(context.groups, context.groupSelection.shownGroup);
    for (int row = 0; row < static_cast<int>(entries.size()); ++row) {
        if (listY <= EntryTop(row, s) || listY >= 34 * s + 38 * s * row) continue;
        if (PersonAt(context.groups, entries[row]).id == kNoPerson) return;
        if (row == SelectedRow(context, entries)) {
            OpenDetailWindow(window, row);
        } else {
            Select(context, entries, row);
            InvalidateRect(window, nullptr, TRUE);
        }
        return;
    }
}

void OnChooseGroup() {
    AppContext& context = *GetAppContext();
    if (ShowsMessage(context)) {
        ShowStatusMessage(kTextUnavailableLower, GetDurations().statusMessageMs);
        return;
    }
    context.groupSelection.highlightedGroup = context.groupSelection.shownGroup;
    context.groupSelection.highlightedRow = -1;
    ShowPane(kPaneGroupList, false);
}

bool OnKeyDown(HWND window, WPARAM key) {
    switch (key) {
    case VK_RETURN:
        OnEnter(window);
        return true;
    case VK_DOWN:
        OnArrowKey(window, true);
        return true;
    case VK_UP:
        OnArrowKey(window, false);
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK GroupTabProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ScrollingPaneState* state = TrackWindowState<ScrollingPaneState>(window, message, lParam);
    AppContext* application = GetAppContext();
    if (state == nullptr || application == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    AppContext& context = *application;
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_SIZE:
        OnSize(window, *state);
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_KEYDOWN:
        if (OnKeyDown(window, wParam)) return 0;
        break;
    case WM_LBUTTONUP:
        OnTap(window, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_VSCROLL:
        HandlePaneScrollRequest(window, state->scrollOffset, wParam, context.scale);
        return 0;
    case WM_PELMORA_SCROLL_TO_ROW:
        context.groupSelection.selectedRow = static_cast<int>(wParam);
        ScrollPaneTo(window, state->scrollOffset, static_cast<int>(wParam) * 38 * context.scale);
        return 0;
    case WM_COMMAND:
        if (lParam != 0) break;
        if (LOWORD(wParam) == IDM_CHOOSE_GROUP) {
            OnChooseGroup();
            return 0;
        }
        if (LOWORD(wParam) == IDM_MINIMIZE) {
            ShowWindow(context.mainWindow, SW_MINIMIZE);
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateGroupTab(HWND parent) {
    const AppContext& context = *GetAppContext();
    return CreateScrollingPane(context, kClassName, GroupTabProc, parent);
}

void LayOutEntry(HDC dc, Person& person, int width) {
    person.nameWidth = MeasureWidth(dc, person.name);
    AddressParts parts = SplitAddressLine(dc, person.address, width - person.nameWidth - 20);
    person.addressFirstPart = std::move(parts.first);
    person.addressSecondPart = std::move(parts.second);
}

AddressParts SplitAddressLine(HDC dc, const std::wstring& address, int available) {
    // One measurement of the whole line gives the width of every prefix: extents[i] is the width of the
    // first i + 1 characters, so the text before a space at index i is extents[i - 1] wide.
    int inlineExtents[kInlineExtents] = {};
    std::vector<int> heapExtents;
    int* extents = inlineExtents;
    if (address.size() > kInlineExtents) {
        heapExtents.resize(address.size());
        extents = heapExtents.data();
    }
    SIZE whole = {};
    GetTextExtentExPointW(dc, address.c_str(), static_cast<int>(address.size()), 0, nullptr, extents, &whole);
    size_t split = std::wstring::npos;
    if (whole.cx > available) {
        for (size_t space = address.find(L' '); space != std::wstring::npos; space = address.find(L' ', space + 1)) {
            const int before = space == 0 ? 0 : extents[space - 1];
            if (split != std::wstring::npos && before > available) break;
            split = space;
        }
    }
    if (split == std::wstring::npos) return {address, std::wstring()};
    return {address.substr(0, split + 1), address.substr(split + 1)};
}
