#include "app/login_window.h"

#include <windowsx.h>
#include <commctrl.h>

#include <string>

#include "app/app_context.h"
#include "app/private_hours.h"
#include "app/settings_file.h"
#include "app/status_line.h"
#include "app/window_class.h"
#include "app/window_state.h"
#include "deployment.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "location/location_report.h"
#include "platform/durations.h"
#include "platform/text_conversion.h"
#include "platform/web_link.h"
#include "protocol/configuration.h"
#include "protocol/handshake.h"
#include "protocol/transport.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"

namespace {

constexpr wchar_t kLoginWindowClass[] = L"PelLoginWnd";

// The form is laid out for 250 units of height; a shorter window scrolls.
constexpr int kFormHeightUnits = 250;
constexpr int kScrollPage = 10;
constexpr int kProgressSteps = 4;

// What one login window keeps of its own (app/window_state.h).
struct LoginWindowState {
    int scrollOffset = 0;  // pixels the form is moved up
};

// How far the form reaches below a client area of this height: the largest scroll offset.
int FormOverflow(const AppContext& context, int clientHeight) {
    const int overflow = kFormHeightUnits * context.scale - clientHeight;
    return overflow > 0 ? overflow : 0;
}

int ClientHeight(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    return client.bottom;
}

// The width rule of the controls that follow the window's width.
int ControlWidth(const AppContext& context, int id, int clientWidth) {
    const int full = clientWidth - 20 * context.scale;
    return id == IDC_LOGIN_BUTTON ? full / 2 : full;
}

struct ControlPlace {
    int x;
    int y;
    int width;
    int height;
};

HWND CreateControl(const AppContext& context, HWND parent, const wchar_t* windowClass, const wchar_t* text,
                   DWORD style, const ControlPlace& place, int id) {
    return CreatePaneControl(context, parent, id, windowClass, text, style, place.x, place.y, place.width,
                             place.height);
}

// A control's place from its position and height in units of `scale` and its width in pixels.
ControlPlace Place(const AppContext& context, int x, int y, int width, int height) {
    const int s = context.scale;
    return {x * s, y * s, width, height * s};
}

HWND CreatePasswordField(const AppContext& context, HWND window, const wchar_t* text, bool hidden,
                         const ControlPlace& place) {
    const DWORD style = WS_BORDER | ES_AUTOHSCROLL | (hidden ? ES_PASSWORD : 0);
    return CreateControl(context, window, L"EDIT", text, style, place, IDC_LOGIN_PASSWORD);
}

void CreateControls(HWND window, AppContext& context) {
    RECT client;
    GetClientRect(window, &client);
    const int w = client.right;
    const int full = ControlWidth(context, IDC_LOGIN_EMAIL, w);

    const std::wstring storedAddress = AnsiToWide(context.userId);
    if (!storedAddress.empty()) context.emailEntered = true;
    CreateControl(context, window, L"EDIT", storedAddress.empty() ? kTextEmailCue : storedAddress.c_str(),
                  WS_BORDER | ES_LOWERCASE | ES_AUTOHSCROLL, Place(context, 10, 45, full, 22), IDC_LOGIN_EMAIL);
    // With a stored hash the cue stands in the field as hidden characters, like a stored password.
    CreatePasswordField(context, window, kTextPasswordCue, !context.passHash.empty(), Place(context, 10, 73, full, 22));
    CreateControl(context, window, L"BUTTON", kTextLogInButton, BS_DEFPUSHBUTTON | WS_DISABLED,
                  Place(context, 10, 149, ControlWidth(context, IDC_LOGIN_BUTTON, w), 24), IDC_LOGIN_BUTTON);
    HWND progress = CreateControl(context, window, PROGRESS_CLASSW, L"", WS_BORDER, Place(context, 10, 183, full, 16),
                                  IDC_LOGIN_PROGRESS);
    SendMessageW(progress, PBM_SETRANGE, 0, MAKELPARAM(0, kProgressSteps));
    SendMessageW(progress, PBM_SETPOS, 0, 0);
    HWND check = CreateControl(context, window, L"BUTTON", kTextAutoLogIn, BS_AUTOCHECKBOX | BS_MULTILINE,
                               Place(context, 10, 105, full, 30), IDC_LOGIN_AUTO);
    Button_SetCheck(check, context.autoLogIn ? BST_CHECKED : BST_UNCHECKED);
    CreateControl(context, window, L"STATIC", kTextNotRegistered, 0, Place(context, 10, 209, full, 14), 0);
    CreateControl(context, window, L"STATIC", kTextGoTo, 0, Place(context, 10, 225, 58 * context.scale, 14), 0);
}

// The scroll bar for a client area of `height`, at the top. Its positions are the scroll offsets
// themselves: the range ends a page beyond the overflow, because a scroll bar's last position is its
// maximum less the page. A form that fits needs no scroll bar, and the bar disappears.
void SetUpScrollBar(HWND window, const AppContext& context, int height) {
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    const int overflow = FormOverflow(context, height);
    info.nMax = overflow > 0 ? overflow + kScrollPage - 1 : 0;
    info.nPage = kScrollPage;
    SetScrollInfo(window, SB_VERT, &info, TRUE);
}

bool OnCreate(HWND window, AppContext& context) {
    // Unlike a pane's, the login window's menu bar is on screen with it from the start.
    context.loginMenuBar = CreatePaneMenuBar(context, window, IDR_MENU_LOGIN);
    if (context.loginMenuBar != nullptr) ShowWindow(context.loginMenuBar, SW_SHOW);
    // The controls are laid out for the width left beside the scroll bar, if the form needs one.
    SetUpScrollBar(window, context, ClientHeight(window));
    CreateControls(window, context);
    return true;
}

void OnSize(HWND window, const AppContext& context, LoginWindowState& state, int height) {
    ScrollWindowEx(window, 0, state.scrollOffset, nullptr, nullptr, nullptr, nullptr, SW_SCROLLCHILDREN | SW_INVALIDATE);
    state.scrollOffset = 0;
    SetUpScrollBar(window, context, height);
    // Showing or hiding the scroll bar changes the width the controls get.
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right;
    for (int id = IDC_LOGIN_EMAIL; id <= IDC_LOGIN_PROGRESS; ++id) {
        HWND control = GetDlgItem(window, id);
        RECT frame;
        GetWindowRect(control, &frame);
        SetWindowPos(control, nullptr, 0, 0, ControlWidth(context, id, width), frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void OnPaint(HWND window, const AppContext& context, const LoginWindowState& state) {
    const int s = context.scale;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    const COLORREF oldColor = SetTextColor(dc, RGB(0, 0, 0));
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, context.fontLogo);
    RECT logo = {client.left, 10 * s - state.scrollOffset, client.right, client.bottom};
    DrawTextW(dc, kTextProductName, -1, &logo, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);

    // The web-site name continues the line "Идите на " as a link.
    SetTextColor(dc, RGB(0, 0, 255));
    SelectObject(dc, context.fontLink);
    RECT link = {68 * s, 226 * s - state.scrollOffset, client.right, 240 * s - state.scrollOffset};
    DrawTextW(dc, PELMORA_WEB_SITE_NAME, -1, &link, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);

    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
    EndPaint(window, &paint);
}

void OnTap(const AppContext& context, const LoginWindowState& state, int x, int y) {
    const int s = context.scale;
    const int formY = y + state.scrollOffset;
    if (x > context.contentRect.left && x < context.contentRect.right && formY > 230 * s && formY < 244 * s) {
        OpenInBrowser(PELMORA_WEB_SITE_ADDRESS);
    }
}

void OnVerticalScroll(HWND window, const AppContext& context, LoginWindowState& state, int code) {
    const int s = context.scale;
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(window, SB_VERT, &info);
    const int page = static_cast<int>(info.nPage) < 1 ? 1 : static_cast<int>(info.nPage);
    int delta = 0;
    switch (code) {
    case SB_LINEUP:
        delta = -s;
        break;
    case SB_LINEDOWN:
        delta = s;
        break;
    case SB_PAGEUP:
        delta = -page * s;
        break;
    case SB_PAGEDOWN:
        delta = page * s;
        break;
    case SB_THUMBTRACK:
        // The tracking position of the scroll bar, not the message's 16 bits of it.
        delta = info.nTrackPos - state.scrollOffset;
        break;
    default:
        break;
    }
    const int maximum = FormOverflow(context, ClientHeight(window));
    if (delta < -state.scrollOffset) delta = -state.scrollOffset;
    if (delta > maximum - state.scrollOffset) delta = maximum - state.scrollOffset;
    if (delta == 0) return;
    state.scrollOffset += delta;
    ScrollWindowEx(window, 0, -delta, nullptr, nullptr, nullptr, nullptr, SW_SCROLLCHILDREN | SW_INVALIDATE);
    SetScrollPos(window, SB_VERT, state.scrollOffset, TRUE);
    UpdateWindow(window);
}

std::wstring ControlText(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The password cue sits in a field of its own style; typing starts in a fresh, empty password field
// at the same place, so that a stored hash is never shown.
void ReplacePasswordCue(HWND window, const AppContext& context) {
    HWND old = GetDlgItem(window, IDC_LOGIN_PASSWORD);
    RECT frame;
    GetWindowRect(old, &frame);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&frame), 2);
    DestroyWindow(old);
    const int s = context.scale;
    const ControlPlace place = {context.contentRect.left + 10 * s, frame.top, context.contentRect.right - 20 * s,
                                22 * s};
    SetFocus(CreatePasswordField(context, window, L"", true, place));
}

void EnableLogInWhenComplete(HWND window, const AppContext& context) {
    if (context.emailEntered && context.passwordEntered) EnableWindow(GetDlgItem(window, IDC_LOGIN_BUTTON), TRUE);
}

void OnEmailNotification(HWND window, AppContext& context, int code) {
    if (code == EN_SETFOCUS) {
        if (ControlText(window, IDC_LOGIN_EMAIL) == kTextEmailCue) SetDlgItemTextW(window, IDC_LOGIN_EMAIL, L"");
    } else if (code == EN_CHANGE) {
        // Once an address looked plausible the button may be enabled, even if the "@" goes again.
        if (ControlText(window, IDC_LOGIN_EMAIL).find(L'@') != std::wstring::npos) context.emailEntered = true;
        EnableLogInWhenComplete(window, context);
    }
}

void OnPasswordNotification(HWND window, AppContext& context, int code) {
    if (code == EN_SETFOCUS) {
        if (ControlText(window, IDC_LOGIN_PASSWORD) == kTextPasswordCue) ReplacePasswordCue(window, context);
    } else if (code == EN_CHANGE) {
        const std::wstring text = ControlText(window, IDC_LOGIN_PASSWORD);
        if (!text.empty() && text != kTextPasswordCue) context.passwordEntered = true;
        EnableLogInWhenComplete(window, context);
    }
}

bool OnCommand(HWND window, AppContext& context, int id, int code) {
    switch (id) {
    case IDC_LOGIN_EMAIL:
        OnEmailNotification(window, context, code);
        return true;
    case IDC_LOGIN_PASSWORD:
        OnPasswordNotification(window, context, code);
        return true;
    case IDC_LOGIN_BUTTON:
        if (code != BN_CLICKED) return false;
        if (LogIn()) {
            PostQuitMessage(kQuitLoginSucceeded);
        } else {
            ResetLoginForm();
        }
        return true;
    case IDM_EXIT:
        PostQuitMessage(kQuitLoginExit);
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK LoginWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LoginWindowState* state = TrackWindowState<LoginWindowState>(window, message, lParam);
    AppContext* application = GetAppContext();
    if (state == nullptr || application == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    AppContext& context = *application;
    switch (message) {
    case WM_CREATE:
        return OnCreate(window, context) ? 0 : -1;
    case WM_SIZE:
        OnSize(window, context, *state, HIWORD(lParam));
        return 0;
    case WM_PAINT:
        OnPaint(window, context, *state);
        return 0;
    case WM_COMMAND:
        if (OnCommand(window, context, LOWORD(wParam), HIWORD(wParam))) return 0;
        break;
    case WM_VSCROLL:
        OnVerticalScroll(window, context, *state, LOWORD(wParam));
        return 0;
    case WM_LBUTTONUP:
        OnTap(context, *state, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_CTLCOLORSTATIC:
        return ColourControlOnWhite(wParam);
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void EnableForm(HWND window, bool enable) {
    for (int id : {IDC_LOGIN_EMAIL, IDC_LOGIN_PASSWORD, IDC_LOGIN_BUTTON, IDC_LOGIN_AUTO}) {
        EnableWindow(GetDlgItem(window, id), enable);
    }
}

void SetProgress(const AppContext& context, int step) {
    SendDlgItemMessageW(context.loginWindow, IDC_LOGIN_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(step), 0);
}

bool FailLogIn(const wchar_t* text) {
    ShowStatusMessage(text, GetDurations().statusMessageMs);
    return false;
}

}  // namespace

HWND CreateLoginWindow(HWND parent) {
    AppContext& context = *GetAppContext();
    context.emailEntered = false;
    context.passwordEntered = false;
    context.loginPhase = true;
    if (!RegisterShellWindowClass(context.instance, kLoginWindowClass, LoginWindowProc)) return nullptr;
    std::unique_ptr<LoginWindowState> state = MakeWindowState<LoginWindowState>();
    if (state == nullptr) return nullptr;
    RECT client;
    GetClientRect(parent, &client);
    HWND window = CreateWindowExW(0, kLoginWindowClass, L"", WS_CHILD | WS_VSCROLL, 0, 0, client.right,
                                  client.bottom - 16 * context.scale, parent, nullptr, context.instance,
                                  WindowStateParameter(state));
    if (window != nullptr) UpdateWindow(window);
    return window;
}

bool LogIn() {
    AppContext& context = *GetAppContext();
    HWND window = context.loginWindow;
    if (!StartNetwork(context)) return FailLogIn(kTextCannotConnect);
    context.serverHost = GetServiceHost();
    if (!ResolveServerHost(context, context.serverHost)) return FailLogIn(kTextCannotConnect);
    EnableForm(window, false);

    // The stored credentials serve the automatic log-in and its retries. A password typed into the
    // form after a refusal is the user's answer to it and is taken instead.
    if (!context.autoLogIn || context.passwordEntered) {
        context.userId = WideToAnsi(ControlText(window, IDC_LOGIN_EMAIL));
        std::string digits;
        if (!HashPassword(WideToAnsi(ControlText(window, IDC_LOGIN_PASSWORD)), &digits)) return false;
        context.passHash = digits;
    }
    return RunLoginSequence();
}

bool RunLoginSequence() {
    AppContext& context = *GetAppContext();
    ShowTransferStatus();
    if (!Handshake(context)) return FailLogIn(kTextTransferError);
    context.autoLogIn = IsDlgButtonChecked(context.loginWindow, IDC_LOGIN_AUTO) == BST_CHECKED;
    WriteSettings(context, SettingsWriter::LogIn);
    SetProgress(context, 1);
    TakeFirstReading(context.cellMonitor);
    if (context.accountMode != AccountMode::Normal) {
        // Accounts without groups have no configuration of their own and report every 15 minutes.
        context.rateMode = RateMode::CellChange;
    } else if (!GetConfiguration(context)) {
        return FailLogIn(kTextTransferError);
    }
    if (context.privateTime != 0) context.inPrivateHours = IsPrivateTime(GetLocalClock());
    SetProgress(context, 3);
    if (!SendLocationReport(context, context.placeMark)) return FailLogIn(kTextTransferError);
    ShowIdleStatus();
    SetProgress(context, kProgressSteps);
    return true;
}

void ResetLoginForm() {
    AppContext& context = *GetAppContext();
    StopNetwork(context);
    SetProgress(context, 0);
    EnableForm(context.loginWindow, true);
}
