#include "screens/group_list_tab.h"

#include <windowsx.h>

#include "app/app_context.h"
#include "app/window_state.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/group_model_lookup.h"
#include "screens/pane_scroll.h"
#include "screens/pane_window.h"

namespace {

constexpr wchar_t kClassName[] = L"PelGroupListTabWnd";
constexpr int kAllGroups = -1;
constexpr int kNoIdentifier = 2147483647;

// Rows are 28 units apart; row k's text band starts 8 units down.
int RowTop(int row, int s) { return 8 * s + 28 * s * row; }

void OnCreate(HWND window, AppContext& context) {
    context.panes[kPaneGroupList].menuBar = CreatePaneMenuBar(context, window, IDR_MENU_GROUP_LIST);
    SetScrollPos(window, SB_VERT, 0, FALSE);
}

void OnSize(HWND window, const AppContext& context, ScrollingPaneState& state) {
    const int s = context.scale;
    RECT client;
    GetClientRect(window, &client);
    const int rows = static_cast<int>(context.groups.size());
    ResetPaneScroll(window, state.scrollOffset, (28 * rows + 48) * s - client.bottom, 10);
}

// The group list's rows: the groups, then "Показать всех" (its identifier is -1).
int RowCount(const GroupList& groups) { return static_cast<int>(groups.size()) + 1; }

int IdentifierOfRow(const GroupList& groups, int row) {
    return row < static_cast<int>(groups.size()) ? groups[row].id : kAllGroups;
}

// The highlighted row: the identifier tells which, the kept row tells apart groups that share it.
// -1 when the identifier is no longer listed.
int HighlightedRow(const AppContext& context) {
    const GroupSelection& selection = context.groupSelection;
    return FindRowOf(RowCount(context.groups), selection.highlightedRow, [&](int row) {
        return IdentifierOfRow(context.groups, row) == selection.highlightedGroup;
    });
}

void DrawFrame(HDC dc, const RECT& band, int dx, int dy) {
    Rectangle(dc, band.left - dx, band.top - dy, band.right + dx, band.bottom + dy);
}

void OnPaint(HWND window, const AppContext& context) {
    const int s = context.scale;
    const int p = GetScrollPos(window, SB_VERT);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const int saved = SaveDC(dc);
    RECT client;
    GetClientRect(window, &client);
    SetTextColor(dc, RGB(0, 0, 0));
    SelectObject(dc, context.fontHeading);
    const int highlighted = HighlightedRow(context);
    int row = 0;
    for (const Group& group : context.groups) {
        RECT band = {client.left + 10 * s, RowTop(row, s) - p, client.right - 10 * s, 24 * s + 28 * s * row - p};
        if (row == highlighted) DrawFrame(dc, band, 5 * s, 2 * s);
        DrawTextW(dc, group.title.c_str(), -1, &band, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
        ++row;
    }
    RECT band = {client.left + 10 * s, RowTop(row, s) - p, client.right - 10 * s, 24 * s + 28 * s * row - p};
    if (row == highlighted) DrawFrame(dc, band, 5, 2);
    DrawTextW(dc, kTextShowEverybody, -1, &band, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    RestoreDC(dc, saved);
    EndPaint(window, &paint);
}

// Moves the highlight one row down or up in the ring of the groups and "Показать всех"; a
// highlight whose identifier is no longer listed stays.
void MoveHighlight(HWND window, AppContext& context, bool down) {
    const int from = HighlightedRow(context);
    if (from < 0) return;
    const int row = NextInRing(RowCount(context.groups), from, down ? 1 : -1, [](int) { return true; });
    GroupSelection& selection = context.groupSelection;
    selection.highlightedGroup = IdentifierOfRow(context.groups, row);
    selection.highlightedRow = row;
    if (row < static_cast<int>(context.groups.size())) {
        SendMessageW(window, WM_PELMORA_SCROLL_TO_ROW, static_cast<WPARAM>(row), 0);
    }
    InvalidateRect(window, nullptr, TRUE);
}

// The group tab shows `group` from its top, with nothing selected.
void ChooseGroup(AppContext& context, int group) {
    context.groupSelection.shownGroup = group;
    context.groupSelection.selectedPerson = -1;
    context.groupSelection.selectedPersonGroup = -1;
    HWND groupTab = context.panes[kPaneGroups].window;
    if (groupTab != nullptr) {
        SetScrollPos(groupTab, SB_VERT, 0, TRUE);
        SendMessageW(groupTab, WM_SIZE, 0, 0);
    }
    ShowPane(kPaneGroups, true);
}

void OnKeyDown(HWND window, AppContext& context, WPARAM key) {
    switch (key) {
    case VK_DOWN:
        MoveHighlight(window, context, true);
        break;
    case VK_UP:
        MoveHighlight(window, context, false);
        break;
    case VK_RETURN:
        ChooseGroup(context, context.groupSelection.highlightedGroup);
        break;
    default:
        break;
    }
}

void OnTap(HWND window, AppContext& context, int x, int y) {
    const int s = context.scale;
    RECT client;
    GetClientRect(window, &client);
    if (x <= client.left + 10 * s || x >= client.right - 10 * s) return;
    const int listY = GetScrollPos(window, SB_VERT) + y;
    const int rows = static_cast<int>(context.groups.size());
    for (int row = 0; row <= rows; ++row) {
        // The band that answers a tap starts 4 units above the drawn text.
        if (listY <= 4 * s + 28 * s * row || listY >= 24 * s + 28 * s * row) continue;
        if (row == rows) {
            ChooseGroup(context, kAllGroups);
        } else if (context.groups[row].id != kNoIdentifier) {
            ChooseGroup(context, context.groups[row].id);
        }
        return;
    }
}

LRESULT CALLBACK GroupListTabProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
    case WM_KEYDOWN:
        if (wParam != VK_DOWN && wParam != VK_UP && wParam != VK_RETURN) break;
        OnKeyDown(window, context, wParam);
        return 0;
    case WM_LBUTTONUP:
        OnTap(window, context, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_VSCROLL:
        HandlePaneScrollRequest(window, state->scrollOffset, wParam, context.scale);
        return 0;
    case WM_PELMORA_SCROLL_TO_ROW:
        ScrollPaneTo(window, state->scrollOffset, static_cast<int>(wParam) * 28 * context.scale);
        return 0;
    case WM_COMMAND:
        if (lParam != 0) break;
        if (LOWORD(wParam) == IDM_BACK) {
            ShowPane(kPaneGroups, true);
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

HWND CreateGroupListTab(HWND parent) {
    const AppContext& context = *GetAppContext();
    return CreateScrollingPane(context, kClassName, GroupListTabProc, parent);
}
