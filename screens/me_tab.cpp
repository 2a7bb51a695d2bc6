#include "screens/me_tab.h"

#include "app/app_context.h"
#include "app/status_line.h"
#include "location/cell_monitor.h"
#include "platform/durations.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"
#include "screens/place_editor.h"
#include "screens/place_line.h"

namespace {

constexpr wchar_t kClassName[] = L"PelAITabWnd";

void OnCreate(HWND window, AppContext& context) {
    const int s = context.scale;
    context.panes[kPaneMe].menuBar =
        CreatePaneMenuBar(context, window, context.accountMode != AccountMode::Normal ? IDR_MENU_ME_SIMPLE : IDR_MENU_ME);
    RECT client;
    GetClientRect(window, &client);
    // The notify style turns a tap on the line into a click notification.
    CreatePaneControl(context, window, IDC_PLACE_LINE, L"STATIC", L"", SS_NOTIFY, client.left + 5 * s, 41 * s,
                      client.right - 10 * s, 28 * s);
}

// A turn of the phone changes the width; the place line follows it.
void OnSize(HWND window, const AppContext& context) {
    RECT client;
    GetClientRect(window, &client);
    // The size message that creation sends comes before the line exists when creating it failed.
    HWND line = GetDlgItem(window, IDC_PLACE_LINE);
    if (line == nullptr) return;
    RECT bounds;
    GetWindowRect(line, &bounds);
    SetWindowPos(line, nullptr, 0, 0, client.right - 10 * context.scale, bounds.bottom - bounds.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void OnPaint(HWND window, const AppContext& context) {
    const int s = context.scale;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const int saved = SaveDC(dc);
    RECT client;
    GetClientRect(window, &client);
    SelectObject(dc, context.fontBold);
    SetTextColor(dc, RGB(0, 0, 0));
    RECT nameLine = {client.left + 7 * s, 14 * s, client.right - 12 * s, 28 * s};
    DrawTextW(dc, context.userName.c_str(), -1, &nameLine, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    RestoreDC(dc, saved);
    EndPaint(window, &paint);
}

void OpenPlaceEditor(AppContext& context) {
    FillPlaceEditor(context);
    ShowPane(kPanePlaceEditor, false);
}

void ShowUnavailable() { ShowStatusMessage(kTextUnavailable, GetDurations().statusMessageMs); }

bool OnCommand(HWND window, AppContext& context, WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    const int notification = HIWORD(wParam);
    if (lParam != 0) {
        if (id != IDC_PLACE_LINE || reinterpret_cast<HWND>(lParam) != GetDlgItem(window, IDC_PLACE_LINE)) return false;
        if (notification != STN_CLICKED) return true;
        if (LocationDetermined(context) && context.accountMode != AccountMode::OwnName) {
            OpenPlaceEditor(context);
        } else {
            ShowUnavailable();
        }
        return true;
    }
    switch (id) {
    case IDM_NAME_MY_PLACE:
        if (LocationDetermined(context)) {
            OpenPlaceEditor(context);
        } else {
            ShowUnavailable();
        }
        return true;
    case IDM_CHANGE_STATUS:
        ShowPane(kPaneVisibility, false);
        return true;
    case IDM_MINIMIZE:
        ShowWindow(context.mainWindow, SW_MINIMIZE);
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK MeTabProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    AppContext* application = GetAppContext();
    if (application == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    AppContext& context = *application;
    switch (message) {
    case WM_CREATE:
        OnCreate(window, context);
        return 0;
    case WM_SIZE:
        OnSize(window, context);
        return 0;
    case WM_PAINT:
        OnPaint(window, context);
        return 0;
    case WM_COMMAND:
        if (OnCommand(window, context, wParam, lParam)) return 0;
        break;
    case WM_CTLCOLORSTATIC:
        return ColourControlOnWhite(wParam);
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateMeTab(HWND parent) {
    const AppContext& context = *GetAppContext();
    return CreatePaneWindow(context, kClassName, MeTabProc, parent, 0);
}
