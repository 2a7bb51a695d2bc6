#include "screens/group_list_tab.h"

#include "app/app_context.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/group_model_lookup.h"
#include "screens/pane_scroll.h"
#include "screens/pane_window.h"

namespace {

constexpr wchar_t kClassName[] = L"PelGroupListTabWnd";
constexpr int kAllGroups = -1;
constexpr int kNoIdentifier = 2147483647;

// The list's scroll offset in pixels.
int g_listScroll = 0;

// Rows are 28 units apart; row k's text band starts 8 units down.
int RowTop(int row, int s) { return 8 * s + 28 * s * row; }

void OnCreate(HWND window) {
    AppContext& context = *GetAppContext();
    context.panes[kPaneGroupList].menuBar = CreatePaneMenuBar(context, window, IDR_MENU_GROUP_LIST);
    SetScrollPos(window, SB_VERT, 0, FALSE);
    g_listScroll = 0;
}

void OnSize(HWND window) {
    const AppContext& context = *GetAppContext();
    const int s = context.scale;
    RECT client;
    GetClientRect(window, &client);
    const int rows = static_cast<int>(context.groups.size());
    ResetPaneScroll(window, g_listScroll, (28 * rows + 48) * s - client.bottom, 10);
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

void OnPaint(HWND window) {
    const AppContext& context = *GetAppContext();
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
void MoveHighlight(HWND window, bool down) {
    AppContext& context = *GetAppContext();
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
void ChooseGroup(int group) {
    AppContext& context = *GetAppContext();
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

void OnKeyDown(HWND window, WPARAM key) {
    switch (key) {
    case VK_DOWN:
        MoveHighlight(window, true);
        break;
    case VK_UP:
        MoveHighlight(window, false);
        break;
    case VK_RETURN:
        ChooseGroup(GetAppContext()->groupSelection.highlightedGroup);
        break;
    default:
        break;
    }
}

void OnTap(HWND window, int x, int y) {
    const AppContext& context = *GetAppContext();
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
            ChooseGroup(kAllGroups);
        } else if (context.groups[row].id != kNoIdentifier) {
            ChooseGroup(context.groups[row].id);
        }
        return;
    }
}

LRESULT CALLBACK GroupListTabProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
        if (wParam != VK_DOWN && wParam != VK_UP && wParam != VK_RETURN) break;
        OnKeyDown(window, wParam);
        return 0;
    case WM_LBUTTONUP:
        OnTap(window, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return 0;
    case WM_VSCROLL:
        HandlePaneScrollRequest(window, g_listScroll, wParam, context.scale);
        return 0;
    case WM_PELMORA_SCROLL_TO_ROW:
        ScrollPaneTo(window, g_listScroll, static_cast<int>(wParam) * 28 * context.scale);
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
    return CreatePaneWindow(context, kClassName, GroupListTabProc, parent, WS_VSCROLL);
}
