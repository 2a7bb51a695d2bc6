#include "screens/configuration_tab.h"

#include <windowsx.h>

#include <string>

#include "app/app_context.h"
#include "app/autostart.h"
#include "app/message_box.h"
#include "app/private_hours.h"
#include "app/report_cycle.h"
#include "app/settings_file.h"
#include "app/status_line.h"
#include "app/window_state.h"
#include "deployment.h"
#include "platform/durations.h"
#include "platform/text_conversion.h"
#include "platform/web_link.h"
#include "protocol/configuration.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_scroll.h"
#include "screens/pane_window.h"

namespace {

constexpr wchar_t kClassName[] = L"PelConfigTabWnd";
constexpr COLORREF kHeadingBlue = RGB(48, 48, 255);
constexpr COLORREF kLinkBlue = RGB(0, 0, 255);
constexpr int kNameLength = 255;

// Every mode but the normal one gets the short layout with the name field.
bool HasNameLayout(const AppContext& context) { return context.accountMode != AccountMode::Normal; }

struct ControlLayout {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    int y;       // units
    int height;  // units
};

void CreateControl(HWND window, const AppContext& context, const ControlLayout& layout) {
    const int s = context.scale;
    RECT client;
    GetClientRect(window, &client);
    // The phone places the controls 10 pixels in, whatever the scale.
    CreatePaneControl(context, window, layout.id, layout.className, layout.text, layout.style, client.left + 10,
                      layout.y * s, client.right - 20, layout.height * s);
}

bool IsChecked(HWND window, int id) { return IsDlgButtonChecked(window, id) == BST_CHECKED; }

void Check(HWND window, int id, bool on) { CheckDlgButton(window, id, on ? BST_CHECKED : BST_UNCHECKED); }

// Start with the phone needs the automatic log-in: without it the start would stop at the form.
void ShowAutoLogIn(HWND window, const AppContext& context) {
    Check(window, IDC_CONFIG_AUTO_LOGIN, context.autoLogIn);
    EnableWindow(GetDlgItem(window, IDC_CONFIG_AUTO_RUN), context.autoLogIn);
    Check(window, IDC_CONFIG_AUTO_RUN, context.autoLogIn && context.autoRun);
}

void ShowRate(HWND window, const AppContext& context) {
    Check(window, IDC_CONFIG_RATE_OPTIMAL, context.rateMode == RateMode::Optimal);
    Check(window, IDC_CONFIG_RATE_CELL_CHANGE, context.rateMode == RateMode::CellChange);
    Check(window, IDC_CONFIG_PRIVATE_TIME, context.privateTime == 1);
}

void ShowName(HWND window, const AppContext& context) {
    if (!context.subName.empty()) SetDlgItemTextW(window, IDC_CONFIG_NAME, Utf8ToWide(context.subName).c_str());
}

void OnCreate(HWND window, AppContext& context) {
    context.panes[kPaneConfiguration].menuBar = CreatePaneMenuBar(context, window, IDR_MENU_CONFIGURATION);
    const DWORD checkBox = BS_AUTOCHECKBOX | BS_MULTILINE;
    if (!HasNameLayout(context)) {
        const ControlLayout controls[] = {
            {IDC_CONFIG_REFRESH, L"BUTTON", kTextRefreshAll, BS_PUSHBUTTON, 46, 24},
            {IDC_CONFIG_QUIT, L"BUTTON", kTextQuitCompletely, BS_PUSHBUTTON, 80, 24},
            {IDC_CONFIG_RATE_OPTIMAL, L"BUTTON", kTextRateOptimal, BS_AUTORADIOBUTTON | WS_GROUP, 152, 15},
            {IDC_CONFIG_RATE_CELL_CHANGE, L"BUTTON", kTextRateCellChange, BS_AUTORADIOBUTTON, 172, 15},
            {IDC_CONFIG_PRIVATE_TIME, L"BUTTON", kTextPrivateTimeOption, checkBox | WS_GROUP, 206, 46},
            {IDC_CONFIG_AUTO_LOGIN, L"BUTTON", kTextAutoLogIn, checkBox, 266, 30},
            {IDC_CONFIG_AUTO_RUN, L"BUTTON", kTextAutoRun, checkBox, 306, 30},
        };
        for (const ControlLayout& control : controls) CreateControl(window, context, control);
        ShowRate(window, context);
    } else {
        // Only account mode 1 lets the user rename themselves; other modes show the name.
        const DWORD nameStyle = WS_BORDER | ES_LEFT | (context.accountMode == AccountMode::OwnName ? 0 : ES_READONLY);
        const ControlLayout controls[] = {
            {IDC_CONFIG_NAME, L"EDIT", L"", nameStyle, 70, 24},
            {IDC_CONFIG_AUTO_LOGIN, L"BUTTON", kTextAutoLogIn, checkBox, 114, 30},
            {IDC_CONFIG_AUTO_RUN, L"BUTTON", kTextAutoRun, checkBox, 164, 30},
        };
        for (const ControlLayout& control : controls) CreateControl(window, context, control);
        ShowName(window, context);
    }
    ShowAutoLogIn(window, context);
    SetScrollPos(window, SB_VERT, 0, FALSE);
}

void OnSize(HWND window, const AppContext& context, ScrollingPaneState& state) {
    const int s = context.scale;
    RECT client;
    GetClientRect(window, &client);
    ResetPaneScroll(window, state.scrollOffset, (HasNameLayout(context) ? 200 : 400) * s, client.bottom);
    // The scroll bar may have come or gone with the new range.
    GetClientRect(window, &client);
    for (int id = IDC_CONFIG_REFRESH; id <= IDC_CONFIG_NAME; ++id) {
        HWND control = GetDlgItem(window, id);
        if (control == nullptr) continue;
        RECT bounds;
        GetWindowRect(control, &bounds);
        SetWindowPos(control, nullptr, 0, 0, client.right - 20, bounds.bottom - bounds.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// The web-site paragraph: the sentence, cut at its last space that fits, then the rest of it
// with the site's name as a link on the line below. The words are measured in the font they are
// drawn in, against the line they are drawn in, so the first line is never clipped.
void PaintWebSiteParagraph(HDC dc, const AppContext& context, const RECT& client, int p) {
    const int s = context.scale;
    const int left = client.left + 12 * s;
    const int rightEdge = client.right - 12 * s + 10;
    SelectObject(dc, context.fontNormal);
    const SentenceLines lines = CutAtLastFittingSpace(dc, kTextManageGroups, rightEdge - left);
    const std::wstring& kept = lines.first;
    const std::wstring& rest = lines.rest;

    SetTextColor(dc, RGB(0, 0, 0));
    RECT line = {left, 352 * s - p, rightEdge, 367 * s - p};
    DrawTextW(dc, kept.c_str(), static_cast<int>(kept.size()), &line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    RECT restLine = {left, 367 * s - p, rightEdge, 382 * s - p};
    RECT measured = {};
    DrawTextW(dc, rest.c_str(), static_cast<int>(rest.size()), &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    DrawTextW(dc, rest.c_str(), static_cast<int>(rest.size()), &restLine, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);

    SelectObject(dc, context.fontLink);
    SetTextColor(dc, kLinkBlue);
    restLine.left += measured.right - measured.left;
    DrawTextW(dc, PELMORA_WEB_SITE_NAME, -1, &restLine, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
}

void OnPaint(HWND window, const AppContext& context) {
    const int s = context.scale;
    const int p = GetScrollPos(window, SB_VERT);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const int saved = SaveDC(dc);
    RECT client;
    GetClientRect(window, &client);
    SelectObject(dc, context.fontHeading);
    SetTextColor(dc, kHeadingBlue);
    RECT heading = {client.left + 12 * s, 12 * s - p, client.right - 12 * s, 28 * s - p};
    DrawTextW(dc, kTextMenuHeading, -1, &heading, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, context.fontBold);
    SetTextColor(dc, RGB(0, 0, 0));
    if (HasNameLayout(context)) {
        RECT label = {client.left + 12 * s, 46 * s - p, client.right - 12 * s, 60 * s - p};
        DrawTextW(dc, kTextNameLabel, -1, &label, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    } else {
        RECT question = {client.left + 12 * s, 114 * s - p, client.right - 12 * s, 142 * s - p};
        DrawTextW(dc, kTextRateQuestion, -1, &question, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
        PaintWebSiteParagraph(dc, context, client, p);
    }
    RestoreDC(dc, saved);
    EndPaint(window, &paint);
}

void OnTap(HWND window, const AppContext& context, int x, int y) {
    if (HasNameLayout(context)) return;
    const int s = context.scale;
    const int p = GetScrollPos(window, SB_VERT);
    RECT client;
    GetClientRect(window, &client);
    if (x > client.left + 10 && x < client.right - 10 && y > 367 * s - p && y < 382 * s - p) {
        OpenInBrowser(PELMORA_WEB_SITE_ADDRESS);
    }
}

// A control of the tab reports a change; true when the notification was the tab's to handle.
bool OnControl(HWND window, AppContext& context, int id, int notification) {
    switch (id) {
    case IDC_CONFIG_REFRESH:
        RunReportCycle();
        ShowPane(kPaneGroups, true);
        return true;
    case IDC_CONFIG_QUIT:
        if (notification == BN_CLICKED) PostQuitMessage(0);
        return true;
    case IDC_CONFIG_AUTO_LOGIN:
        if (notification != BN_CLICKED) return true;
        EnableWindow(GetDlgItem(window, IDC_CONFIG_AUTO_RUN), IsChecked(window, IDC_CONFIG_AUTO_LOGIN));
        context.settingsDirty = true;
        return true;
    case IDC_CONFIG_RATE_OPTIMAL:
    case IDC_CONFIG_RATE_CELL_CHANGE:
    case IDC_CONFIG_PRIVATE_TIME:
    case IDC_CONFIG_AUTO_RUN:
        if (notification == BN_CLICKED) context.settingsDirty = true;
        return true;
    case IDC_CONFIG_NAME:
        if (notification == EN_CHANGE) context.settingsDirty = true;
        return true;
    default:
        return false;
    }
}

// The tab goes off screen while it holds changes not saved: the user decides whether they are saved.
void OnLeaving(AppContext& context) {
    if (!context.settingsDirty) return;
    const int answer = ShowMessageBox(context.mainWindow, kTextUnsavedSettings, kTextAttentionCaption,
                                      MB_YESNO | MB_ICONEXCLAMATION);
    if (answer == IDYES) {
        SaveConfigurationTab();
    } else {
        RevertConfigurationTab();
    }
    context.settingsDirty = false;
}

LRESULT CALLBACK ConfigurationTabProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
    case WM_LBUTTONUP:
        OnTap(window, context, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_CTLCOLORSTATIC:
        return ColourControlOnWhite(wParam);
    case WM_PELMORA_PANE_LEAVING:
        OnLeaving(context);
        return 0;
    case WM_VSCROLL:
        HandlePaneScrollRequest(window, state->scrollOffset, wParam, context.scale);
        return 0;
    case WM_COMMAND:
        if (lParam != 0) {
            if (OnControl(window, context, LOWORD(wParam), HIWORD(wParam))) return 0;
        } else if (LOWORD(wParam) == IDM_SAVE_CONFIGURATION) {
            SaveConfigurationTab();
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateConfigurationTab(HWND parent) {
    AppContext& context = *GetAppContext();
    HWND window = CreateScrollingPane(context, kClassName, ConfigurationTabProc, parent);
    // Filling the name field counts as an edit; the tab starts clean.
    if (window != nullptr) context.settingsDirty = false;
    return window;
}

void SaveConfigurationTab() {
    AppContext& context = *GetAppContext();
    HWND window = context.panes[kPaneConfiguration].window;
    ShowTransferStatus();
    context.autoLogIn = IsChecked(window, IDC_CONFIG_AUTO_LOGIN);
    context.autoRun = IsChecked(window, IDC_CONFIG_AUTO_RUN);
    if (context.accountMode == AccountMode::OwnName) {
        wchar_t name[kNameLength + 1] = {};
        GetDlgItemTextW(window, IDC_CONFIG_NAME, name, kNameLength + 1);
        context.subName = WideToUtf8(name);
    }
    WriteSettings(context, SettingsWriter::Configuration);
    if (context.autoLogIn && context.autoRun) {
        CreateAutostartShortcut("-a");
    } else {
        DeleteAutostartShortcut();
    }
    if (IsChecked(window, IDC_CONFIG_RATE_OPTIMAL)) context.rateMode = RateMode::Optimal;
    if (IsChecked(window, IDC_CONFIG_RATE_CELL_CHANGE)) context.rateMode = RateMode::CellChange;
    const int previousPrivateTime = context.privateTime;
    context.privateTime = IsChecked(window, IDC_CONFIG_PRIVATE_TIME) ? 1 : 0;
    ActOnSaveVerdict(SaveConfiguration(context), previousPrivateTime);
}

void ActOnSaveVerdict(ChangeVerdict verdict, int previousPrivateTime) {
    AppContext& context = *GetAppContext();
    if (verdict == ChangeVerdict::NoReply) return;
    if (verdict == ChangeVerdict::Refused) {
        ShowPane(kPaneGroups, true);
        return;
    }
    ShowStatusMessage(kTextSettingsSaved, GetDurations().statusMessageMs);
    context.settingsDirty = false;
    if (context.privateTime != previousPrivateTime) {
        if (context.privateTime == 1 && IsPrivateTime(GetLocalClock())) SetPrivateHours(true);
        if (context.privateTime == 0) SetPrivateHours(false);
    }
    // Only the two modes the service defines name a pane to go to; any other stays where it is.
    if (context.accountMode == AccountMode::Normal) ShowPane(kPaneGroups, true);
    if (context.accountMode == AccountMode::OwnName) ShowPane(kPaneMe, true);
}

void RevertConfigurationTab() {
    AppContext& context = *GetAppContext();
    HWND window = context.panes[kPaneConfiguration].window;
    if (window != nullptr) {
        ShowName(window, context);
        ShowAutoLogIn(window, context);
        if (!HasNameLayout(context)) ShowRate(window, context);
    }
    context.settingsDirty = false;
}

SentenceLines CutAtLastFittingSpace(HDC dc, const std::wstring& sentence, int width) {
    std::wstring kept = sentence;
    for (;;) {
        RECT measured = {};
        DrawTextW(dc, kept.c_str(), static_cast<int>(kept.size()), &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        if (measured.right <= width) break;
        const size_t space = kept.rfind(L' ');
        if (space == std::wstring::npos) break;
        kept.erase(space);
    }
    std::wstring rest = kept.size() < sentence.size() ? sentence.substr(kept.size() + 1) : std::wstring();
    return {std::move(kept), std::move(rest)};
}
