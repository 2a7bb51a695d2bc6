#include "app/main_window.h"

#include <windowsx.h>

#include "app/app_context.h"
#include "app/login_window.h"
#include "app/report_cycle.h"
#include "app/shell_frontend.h"
#include "app/status_line.h"
#include "app/tab_header.h"
#include "app/visibility_chooser.h"
#include "app/window_class.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "platform/durations.h"
#include "platform/screen_metrics.h"
#include "protocol/configuration.h"
#include "protocol/handshake.h"
#include "protocol/session_states.h"
#include "protocol/transport_state.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/configuration_tab.h"
#include "screens/group_list_tab.h"
#include "screens/group_tab.h"
#include "screens/me_tab.h"
#include "screens/pane_window.h"
#include "screens/place_editor.h"
#include "screens/place_line.h"

namespace {

constexpr wchar_t kMainWindowClass[] = L"PelMainWnd";

HFONT CreateTahoma(int height, int weight, bool italic, bool underline) {
    return CreateFontW(height, 0, 0, 0, weight, italic, underline, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
}

}  // namespace

void CreateFonts(AppContext& context) {
    const int s = context.scale;
    context.fontHeading = CreateTahoma(16 * s, FW_BOLD, false, false);
    context.fontBold = CreateTahoma(14 * s, FW_BOLD, false, false);
    context.fontLink = CreateTahoma(14 * s, FW_NORMAL, false, true);
    context.fontNormal = CreateTahoma(14 * s, FW_NORMAL, false, false);
    context.fontSmall = CreateTahoma(11 * s, FW_NORMAL, false, false);
    context.fontLogo = CreateTahoma(20 * s, FW_BOLD, true, false);
    context.nullPen = CreatePen(PS_NULL, 0, 0);
}

namespace {

// The panes fill the space between the header and the status line; the login window covers
// everything above the status line.
void LayOutChildren(AppContext& context, int width, int height) {
    const int s = context.scale;
    context.contentRect = {0, 5 * s, width, height - 15 * s};
    for (const Pane& pane : context.panes) {
        if (pane.window == nullptr) continue;
        MoveWindow(pane.window, context.borderX, 25 * s + context.borderY, width - 2 * context.borderX,
                   height - 40 * s - 2 * context.borderY, FALSE);
    }
    if (context.loginWindow != nullptr) MoveWindow(context.loginWindow, 0, 0, width, height - 16 * s, FALSE);
}

bool OnCreate(HWND window, AppContext& context) {
    context.mainWindow = window;
    context.borderX = GetSystemMetrics(SM_CXBORDER);
    context.borderY = GetSystemMetrics(SM_CYBORDER);

    // The soft-key menu bar takes the bottom of the screen; the window ends above it. The size
    // message of the move lays out contentRect.
    RECT frame;
    GetWindowRect(window, &frame);
    const int height = frame.bottom - GetMenuBarHeight() - GetSystemMetrics(SM_CYEDGE) - frame.top - 1;
    MoveWindow(window, frame.left, frame.top, frame.right - frame.left, height, FALSE);

    // The fonts come first: the login window's controls are set in them.
    CreateFonts(context);
    LoadVisibilityStates(context);
    context.loginWindow = CreateLoginWindow(window);
    if (context.loginWindow == nullptr) return false;

    context.visibility = Visibility::Visible;
    ShowIdleStatus();
    return true;
}

void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    PaintMainWindow(dc);
    EndPaint(window, &paint);
}

void OnTimer(AppContext& context, WPARAM id) {
    switch (id) {
    case TIMER_REPORT:
        RunReportCycle();
        break;
    case TIMER_STATUS_MESSAGE:
        ShowIdleStatus();
        break;
    case TIMER_PRIVATE_HOURS:
        CheckPrivateHours(context);
        break;
    default:
        break;
    }
}

// Left and Right walk through all three tabs in a ring, even when the header shows two.
int NeighbourTab(int tab, int step) {
    constexpr int kTabCount = 3;
    return (tab + step + kTabCount) % kTabCount;
}

bool OnKeyDown(const AppContext& context, WPARAM key, LPARAM flags) {
    switch (key) {
    case VK_RETURN:
    case VK_UP:
    case VK_DOWN:
        if (HWND pane = context.panes[context.currentPane].window) SendMessageW(pane, WM_KEYDOWN, key, flags);
        return true;
    case VK_LEFT:
    case VK_RIGHT:
        if (!context.loginPhase) ShowPane(NeighbourTab(context.selectedTab, key == VK_LEFT ? -1 : 1), true);
        return true;
    default:
        return false;
    }
}

// The server asked for a new session (an error reply with code 401). Requests inside the renewal
// may be refused the same way; the flag keeps them from starting another renewal.
void RenewLogIn(AppContext& context) {
    // During the log-in the login flow itself opens the session; a failure there resets the form.
    if (context.loginPhase || context.transport->renewingLogIn) return;
    context.transport->renewingLogIn = true;
    ShowTransferStatus();
    if (!Handshake(context)) {
        ShowStatusMessage(kTextCannotInitializeSession, GetDurations().statusMessageMs);
    } else {
        if (!GetConfiguration(context)) {
            ShowStatusMessage(kTextTransferError, GetDurations().statusMessageMs);
            Sleep(GetDurations().errorGlanceMs);
        }
        ShowIdleStatus();
        RunReportCycle();
    }
    context.transport->renewingLogIn = false;
}

// The soft-key strip is a window of its own that a hidden start hid with the main window; whoever
// shows the main window again (a second start of the program) shows the strip of what is on it.
void OnShow(const AppContext& context) {
    HWND bar = context.loginPhase ? context.loginMenuBar : context.panes[context.currentPane].menuBar;
    if (bar != nullptr) ShowWindow(bar, SW_SHOW);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        // Without its window the program has nothing left to run: whichever loop runs ends, and
        // the program shuts down instead of waiting for a message nobody can send.
        PostQuitMessage(kQuitLoginExit);
        return 0;
    }
    AppContext* application = GetAppContext();
    if (application == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    AppContext& context = *application;
    switch (message) {
    case WM_CREATE:
        return OnCreate(window, context) ? 0 : -1;
    case WM_SIZE:
        LayOutChildren(context, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_TIMER:
        OnTimer(context, wParam);
        return 0;
    case WM_KEYDOWN:
        if (OnKeyDown(context, wParam, lParam)) return 0;
        break;
    case WM_LBUTTONUP:
        HitTestHeader(context, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_SHOWWINDOW:
        if (wParam != FALSE) OnShow(context);
        break;
    case WM_PELMORA_RENEW_LOGIN:
        RenewLogIn(context);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void BringForward(HWND window) {
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetForegroundWindow(window);
}

void CreatePanes(AppContext& context) {
    HWND main = context.mainWindow;
    // Braced lists are evaluated in order: the panes are created 0 to 5.
    const HWND windows[kPaneCount] = {CreateMeTab(main),        CreateGroupTab(main),
                                      CreateConfigurationTab(main), CreateStateWindow(main),
                                      CreateGroupListTab(main), CreatePlaceEditor(context, main)};
    for (int index = 0; index < kPaneCount; ++index) context.panes[index].window = windows[index];
    context.panes[kPaneMe].caption = kTextTabMe;
    context.panes[kPaneGroups].caption = kTextTabGroups;
    context.panes[kPaneConfiguration].caption = kTextTabSettings;

    RECT client;
    GetClientRect(main, &client);
    LayOutChildren(context, client.right, client.bottom);
}

}  // namespace

HWND CreateMainWindow() {
    AppContext& context = *GetAppContext();
    // From here on the layers below report to the windows.
    context.frontend = std::make_unique<ShellFrontend>(context);
    if (!RegisterShellWindowClass(context.instance, kMainWindowClass, MainWindowProc)) return nullptr;
    // On the phone a top-level window of default size covers the screen without a caption; the
    // desktop gives such a window only to pop-ups of an explicit size.
    context.mainWindow = CreateWindowExW(0, kMainWindowClass, kTextProductName, WS_POPUP | WS_VISIBLE, 0, 0,
                                         GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                                         nullptr, context.instance, nullptr);
    return context.mainWindow;
}

void EnterRunningPhase() {
    AppContext& context = *GetAppContext();
    context.loginPhase = false;
    ShowWindow(context.loginWindow, SW_HIDE);
    if (context.loginMenuBar != nullptr) ShowWindow(context.loginMenuBar, SW_HIDE);

    CreatePanes(context);
    ShowPane(kPaneMe, true);
    UpdateWindow(context.mainWindow);
    SetTimer(context.mainWindow, TIMER_REPORT, ReportTimerIntervalMs(context), nullptr);
    ShowPlaceLine(context);
    if (!context.inPrivateHours && context.accountMode == AccountMode::Normal) {
        ShowTransferStatus();
        FetchGroupsIntoPanes(context);
        RestoreIdleUnlessReported(context);
    }
    StartCellSampler(context.cellMonitor);
    SetTimer(context.mainWindow, TIMER_PRIVATE_HOURS, kPrivateHoursCheckMs, nullptr);
    context.reportFailures = 0;
}

void RunMainWindow() {
    AppContext& context = *GetAppContext();
    HWND window = CreateMainWindow();
    if (window == nullptr) return;
    if (context.startedHidden) {
        // The soft-key strip is a window of its own: a hidden program must not leave its "Выход" on screen.
        ShowWindow(window, SW_HIDE);
        if (context.loginMenuBar != nullptr) ShowWindow(context.loginMenuBar, SW_HIDE);
    } else {
        BringForward(window);
    }
    ShowWindow(context.loginWindow, SW_SHOW);
    UpdateWindow(context.loginWindow);
    if (context.autoLogIn) {
        PostMessageW(context.loginWindow, WM_COMMAND, MAKEWPARAM(IDC_LOGIN_BUTTON, BN_CLICKED), 0);
    }
    if (RunMessageLoop() != kQuitLoginSucceeded) return;

    if (context.startedHidden) BringForward(window);
    EnterRunningPhase();
    RunMessageLoop();
}

int RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
