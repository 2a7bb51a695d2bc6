#include "screens/group_tab.h"

#include "app/app_context.h"
#include "app/durations.h"
#include "app/main_window.h"
#include "app/status_line.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/detail_window.h"
#include "screens/group_model_lookup.h"
#include "screens/pane_scroll.h"
#include "screens/pane_window.h"

namespace {

constexpr wchar_t kClassName[] = L"PelGroupTabWnd";
constexpr COLORREF kNameBlue = RGB(48, 48, 255);

// The tab's scroll offset in pixels, and the row of the selected entry as the last move left it.
int g_tabScroll = 0;
int g_selectedRow = 0;

// Entries are 38 units apart, the first one 8 units down.
int EntryTop(int row, int s) { return 8 * s + 38 * s * row; }

int MeasureWidth(HDC dc, const std::wstring& text, int length) {
    RECT bounds = {};
    DrawTextW(dc, text.c_str(), length, &bounds, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    return bounds.right - bounds.left;
}

bool ShowsMessage(const AppContext& context) {
    return context.inPrivateHours || (context.visibility != 0 && context.visibility != 1);
}

void OnCreate(HWND window) {
    AppContext& context = *GetAppContext();
    context.panes[kPaneGroups].menuBar = CreatePaneMenuBar(context, window, IDR_MENU_GROUPS);
    SetScrollPos(window, SB_VERT, 0, FALSE);
    g_tabScroll = 0;
    GroupSelection& selection = context.groupSelection;
    selection.shownGroup = -1;
    selection.selectedPerson = -1;
    selection.selectedPersonGroup = -1;
    selection.detailWindow = nullptr;
}

// Texts are measured here only, once per model refresh or resize; painting draws stored parts.
void OnSize(HWND window) {
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
    ResetPaneScroll(window, g_tabScroll, (38 * entries + 60) * s, client.bottom);
    CloseDetailWindow(context);
}

void PaintMessage(HDC dc, const AppContext& context, const RECT& client) {
    const int s = context.scale;
    std::wstring text;
    if (context.inPrivateHours) {
        text = kTextPrivateHoursNotice;
    } else if (context.visibility == 3) {
        text = kTextSwitchedOffNotice;
    } else if (context.visibility == 2) {
        text = std::wstring(kTextInvisibleHint) + L'"' + kTextStateVisible + L'"';
    }
    SelectObject(dc, context.fontBold);
    SetTextColor(dc, RGB(0, 0, 0));
    RECT area = {client.left + 10 * s, client.top + 10 * s, client.right - 10 * s, client.bottom};
    DrawTextW(dc, text.c_str(), -1, &area, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

void PaintEntries(HDC dc, const AppContext& context, const RECT& client, const RECT& dirty, int p) {
    const int s = context.scale;
    const GroupSelection& selection = context.groupSelection;
    RECT line = {client.left + 5 * s, 8 * s - p, client.right - 5 * s, 22 * s - p};
    for (int index : ShownGroupIndexes(context.groups, selection.shownGroup)) {
        const Group& group = context.groups[index];
        for (const Person& person : group.people) {
            const int top = line.top;
            if (top + 34 * s >= dirty.top && top - 4 * s <= dirty.bottom) {
                if (selection.selectedPerson != -1 && person.id == selection.selectedPerson &&
                    group.id == selection.selectedPersonGroup) {
                    Rectangle(dc, line.left - 3 * s, top - 4 * s, line.right + 3 * s, top + 34 * s);
                }
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

// Row of the selected entry among the shown entries, or -1 when it is not shown.
int FindSelectedRow(const AppContext& context) {
    const GroupSelection& selection = context.groupSelection;
    int row = 0;
    for (int index : ShownGroupIndexes(context.groups, selection.shownGroup)) {
        const Group& group = context.groups[index];
        for (const Person& person : group.people) {
            if (group.id == selection.selectedPersonGroup && person.id == selection.selectedPerson) return row;
            ++row;
        }
    }
    return -1;
}

void OpenDetailWindow(HWND window, int row) {
    AppContext& context = *GetAppContext();
    const int s = context.scale;
    context.groupSelection.detailWindow =
        CreateDetailWindow(window, EntryTop(row, s) - GetScrollPos(window, SB_VERT));
}

void Select(AppContext& context, const Group& group, const Person& person) {
    context.groupSelection.selectedPerson = person.id;
    context.groupSelection.selectedPersonGroup = group.id;
}

// The group `step` places away from `from` in the ring of the shown groups that have people.
// Groups without people have no entry to select and are passed over.
const Group* NextGroupWithPeople(const GroupList& groups, int from, int step) {
    const int count = static_cast<int>(groups.size());
    for (int offset = 1; offset <= count; ++offset) {
        const Group& group = groups[((from + step * offset) % count + count) % count];
        if (!group.people.empty()) return &group;
    }
    return nullptr;
}

// Moves the selection one entry down or up; true when something is selected afterwards.
bool MoveSelection(AppContext& context, bool down) {
    GroupSelection& selection = context.groupSelection;
    const std::vector<int> shown = ShownGroupIndexes(context.groups, selection.shownGroup);
    if (selection.selectedPerson == -1) {
        for (int index : shown) {
            const Group& group = context.groups[index];
            if (group.people.empty()) continue;
            Select(context, group, group.people.front());
            return true;
        }
        return false;
    }
    CloseDetailWindow(context);
    for (int index : shown) {
        const Group& group = context.groups[index];
        if (group.id != selection.selectedPersonGroup) continue;
        const int count = static_cast<int>(group.people.size());
        int position = -1;
        for (int at = 0; at < count; ++at) {
            if (group.people[at].id == selection.selectedPerson) {
                position = at;
                break;
            }
        }
        if (position < 0) return false;
        const int next = position + (down ? 1 : -1);
        if (next >= 0 && next < count) {
            Select(context, group, group.people[next]);
        } else if (selection.shownGroup != -1) {
            Select(context, group, down ? group.people.front() : group.people.back());
        } else {
            const Group* other = NextGroupWithPeople(context.groups, index, down ? 1 : -1);
            Select(context, *other, down ? other->people.front() : other->people.back());
        }
        return true;
    }
    return false;
}

void OnArrowKey(HWND window, bool down) {
    AppContext& context = *GetAppContext();
    if (!MoveSelection(context, down)) return;
    const int row = FindSelectedRow(context);
    if (row >= 0) SendMessageW(window, WM_PELMORA_SCROLL_TO_ROW, static_cast<WPARAM>(row), 0);
    InvalidateRect(window, nullptr, TRUE);
}

void OnEnter(HWND window) {
    AppContext& context = *GetAppContext();
    if (context.groupSelection.selectedPerson == -1) return;
    if (context.groupSelection.detailWindow != nullptr) {
        CloseDetailWindow(context);
        return;
    }
    const int row = FindSelectedRow(context);
    OpenDetailWindow(window, row >= 0 ? row : g_selectedRow);
}

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
    const GroupSelection& selection = context.groupSelection;
    int row = 0;
    for (int index : ShownGroupIndexes(context.groups, selection.shownGroup)) {
        const Group& group = context.groups[index];
        for (const Person& person : group.people) {
            if (listY > EntryTop(row, s) && listY < 34 * s + 38 * s * row) {
                if (selection.selectedPerson != -1 && person.id == selection.selectedPerson &&
                    group.id == selection.selectedPersonGroup) {
                    OpenDetailWindow(window, row);
                } else {
                    Select(context, group, person);
                    g_selectedRow = row;
                    InvalidateRect(window, nullptr, TRUE);
                }
                return;
            }
            ++row;
        }
    }
}

void OnChooseGroup() {
    AppContext& context = *GetAppContext();
    if (ShowsMessage(context)) {
        ShowStatusMessage(kTextUnavailableLower, GetDurations().statusMessageMs);
        return;
    }
    context.groupSelection.highlightedGroup = context.groupSelection.shownGroup;
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
    const AppContext& context = *GetAppContext();
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_SIZE:
        OnSize(window);
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_KEYDOWN:
        if (OnKeyDown(window, wParam)) return 0;
        break;
    case WM_LBUTTONUP:
        OnTap(window, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return 0;
    case WM_VSCROLL:
        HandlePaneScrollRequest(window, g_tabScroll, wParam, context.scale);
        return 0;
    case WM_PELMORA_SCROLL_TO_ROW:
        g_selectedRow = static_cast<int>(wParam);
        ScrollPaneTo(window, g_tabScroll, g_selectedRow * 38 * context.scale);
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
    return CreatePaneWindow(context, kClassName, GroupTabProc, parent, WS_VSCROLL);
}

void LayOutEntry(HDC dc, Person& person, int width) {
    person.nameWidth = MeasureWidth(dc, person.name, -1);
    AddressParts parts = SplitAddressLine(dc, person.address, width - person.nameWidth - 20);
    person.addressFirstPart = std::move(parts.first);
    person.addressSecondPart = std::move(parts.second);
}

AddressParts SplitAddressLine(HDC dc, const std::wstring& address, int available) {
    size_t split = std::wstring::npos;
    if (MeasureWidth(dc, address, -1) > available) {
        for (size_t space = address.find(L' '); space != std::wstring::npos; space = address.find(L' ', space + 1)) {
            if (split != std::wstring::npos && MeasureWidth(dc, address, static_cast<int>(space)) > available) break;
            split = space;
        }
    }
    if (split == std::wstring::npos) return {address, std::wstring()};
    return {address.substr(0, split + 1), address.substr(split + 1)};
}
