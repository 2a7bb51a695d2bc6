// Stand-in until the main window is built: panes switch, nothing else runs.
#include "app/main_window.h"

#include "app/app_context.h"

void RunMainWindow() {}

int RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void ShowPane(int index, bool select) {
    AppContext& context = *GetAppContext();
    const Pane& current = context.panes[context.currentPane];
    if (current.window != nullptr) ShowWindow(current.window, SW_HIDE);
    if (current.menuBar != nullptr) ShowWindow(current.menuBar, SW_HIDE);
    context.currentPane = index;
    const Pane& next = context.panes[index];
    if (next.window != nullptr) ShowWindow(next.window, SW_SHOW);
    if (next.menuBar != nullptr) ShowWindow(next.menuBar, SW_SHOW);
    if (select) context.selectedTab = index;
}

void ReturnToSelectedTab() { ShowPane(GetAppContext()->selectedTab, false); }

void RunReportCycle() {}

void SetPrivateHours(bool on) { GetAppContext()->inPrivateHours = on; }
