#include "app/visibility_chooser.h"

#include <windowsx.h>

#include "app/app_context.h"
#include "app/report_cycle.h"
#include "app/status_line.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "protocol/configuration.h"
#include "protocol/session_states.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"
#include "screens/place_line.h"

namespace {

constexpr wchar_t kStateWindowClass[] = L"StateWnd";

struct StateDefinition {
    Visibility state;
    int icon;
    const wchar_t* title;
    const wchar_t* description;
};

// The rows of the chooser, top to bottom.
constexpr StateDefinition kStates[kVisibilityStateCount] = {
    {Visibility::Visible, IDI_STATE_VISIBLE, kTextStateVisible, kTextStateVisibleDescription},
    {Visibility::VisibleToGroups, IDI_STATE_VISIBLE_TO_GROUPS, kTextStateVisibleToGroups,
     kTextStateVisibleToGroupsDescription},
    {Visibility::Invisible, IDI_STATE_INVISIBLE, kTextStateInvisible, kTextStateInvisibleDescription},
    {Visibility::SwitchedOff, IDI_STATE_SWITCHED_OFF, kTextStateSwitchedOff, kTextStateSwitchedOffDescription},
};

// One row per state: the icon, the title, and the description wrapped in the right-hand column.
void PaintStateRow(HDC dc, const AppContext& context, int index, RECT row, int rowHeight) {
    const int s = context.scale;
    const VisibilityState& entry = context.visibilityStates[index];
    // The outline of each row draws the separators between them.
    Rectangle(dc, -1, row.top - 1, row.right + 1, row.bottom);
    DrawIconEx(dc, 5 * s, row.top + (rowHeight - 24 * s) / 2, entry.icon, 24 * s, 24 * s, 0, nullptr, DI_NORMAL);

    SelectObject(dc, context.fontBold);
    RECT title = {34 * s, row.top, row.right, row.bottom};
    DrawTextW(dc, entry.title, -1, &title, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);

    SelectObject(dc, context.fontSmall);
    RECT description = {140 * s, row.top, row.right, row.bottom};
    RECT measured = description;
    DrawTextW(dc, entry.description, -1, &measured, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
    OffsetRect(&description, 0, (rowHeight - (measured.bottom - measured.top)) / 2);
    DrawTextW(dc, entry.description, -1, &description, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

void OnPaint(HWND window, const AppContext& context) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    const int rowHeight = client.bottom / kVisibilityStateCount;
    const COLORREF oldColor = SetTextColor(dc, RGB(0, 0, 0));
    HGDIOBJ oldFont = GetCurrentObject(dc, OBJ_FONT);
    for (int index = 0; index < kVisibilityStateCount; ++index) {
        const bool last = index == kVisibilityStateCount - 1;
        const RECT row = {0, index * rowHeight, client.right, last ? client.bottom + 1 : (index + 1) * rowHeight};
        PaintStateRow(dc, context, index, row, rowHeight);
    }
    SetTextColor(dc, oldColor);
    SelectObject(dc, oldFont);
    EndPaint(window, &paint);
}

void OnTap(HWND window, const AppContext& context, int x, int y) {
    RECT client;
    GetClientRect(window, &client);
    const int rowHeight = client.bottom / kVisibilityStateCount;
    if (x <= client.left || x >= client.right) return;
    for (int index = 0; index < kVisibilityStateCount; ++index) {
        if (y > index * rowHeight && y < (index + 1) * rowHeight) {
            ShowTransferStatus();
            SetVisibility(context.visibilityStates[index].state);
            ShowIdleStatus();
            ReturnToSelectedTab();
            return;
        }
    }
}

bool OnCommand(const AppContext& context, WORD command) {
    switch (command) {
    case IDM_MINIMIZE:
        ShowWindow(context.mainWindow, SW_MINIMIZE);
        return true;
    case IDM_BACK:
        ReturnToSelectedTab();
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK StateWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    AppContext* application = GetAppContext();
    if (application == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    AppContext& context = *application;
    switch (message) {
    case WM_CREATE:
        context.panes[kPaneVisibility].menuBar = CreatePaneMenuBar(context, window, IDR_MENU_STATE);
        return 0;
    case WM_PAINT:
        OnPaint(window, context);
        return 0;
    case WM_LBUTTONUP:
        OnTap(window, context, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_COMMAND:
        if (OnCommand(context, LOWORD(wParam))) return 0;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void LoadVisibilityStates(AppContext& context) {
    const int size = 24 * context.scale;
    for (int index = 0; index < kVisibilityStateCount; ++index) {
        VisibilityState& entry = context.visibilityStates[index];
        entry.state = kStates[index].state;
        entry.icon = static_cast<HICON>(
            LoadImageW(context.instance, MAKEINTRESOURCEW(kStates[index].icon), IMAGE_ICON, size, size, 0));
        entry.title = kStates[index].title;
        entry.description = kStates[index].description;
    }
}

const VisibilityState* FindVisibilityState(const AppContext& context, Visibility state) {
    for (const VisibilityState& entry : context.visibilityStates) {
        if (entry.state == state) return &entry;
    }
    return nullptr;
}

HWND CreateStateWindow(HWND parent) {
    return CreatePaneWindow(*GetAppContext(), kStateWindowClass, StateWindowProc, parent, 0);
}

void SetVisibility(Visibility state) {
    AppContext& context = *GetAppContext();
    if (state == context.visibility) return;
    // Leaving "Не виден" or "Отключен": the place and the groups are out of date, and a switch-off
    // stopped the worker. A worker that still runs is not started twice.
    if (context.visibility == Visibility::Invisible || context.visibility == Visibility::SwitchedOff) {
        StartCellSampler(context.cellMonitor);
        RunReportCycle();
    }
    context.visibility = state;
    ShowTransferStatus();
    if (state == Visibility::SwitchedOff) {
        // Switching off stays on the phone: nothing is sent, nothing is measured or reported.
        SetPlaceLine(context, L"");
        KillTimer(context.mainWindow, TIMER_REPORT);
        StopCellSampler(context.cellMonitor);
        ClearShownGroups();
        ShowIdleStatus();
        return;
    }
    if (state == Visibility::Invisible) ClearShownGroups();
    ActOnVisibilityVerdict(SendVisibility(context, state));
}

void ActOnVisibilityVerdict(ChangeVerdict verdict) {
    if (verdict == ChangeVerdict::Refused) ShowIdleStatus();
}
