#include "screens/pane_window.h"

#include "app/app_context.h"
#include "app/window_class.h"
#include "platform/aygshell.h"
#include "resources/resource_ids.h"

namespace {

// Hides the pane on screen with its menu bar and shows pane `index` with its own.
void SwitchPane(AppContext& context, int index) {
    const Pane& current = context.panes[context.currentPane];
    if (current.window != nullptr) ShowWindow(current.window, SW_HIDE);
    if (current.menuBar != nullptr) ShowWindow(current.menuBar, SW_HIDE);
    context.currentPane = index;
    const Pane& next = context.panes[index];
    if (next.window != nullptr) ShowWindow(next.window, SW_SHOW);
    if (next.menuBar != nullptr) ShowWindow(next.menuBar, SW_SHOW);
}

}  // namespace

void ShowPane(int index, bool select) {
    AppContext& context = *GetAppContext();
    if (HWND leaving = context.panes[context.currentPane].window) SendMessageW(leaving, WM_PELMORA_PANE_LEAVING, 0, 0);
    SwitchPane(context, index);
    InvalidateRect(context.mainWindow, &context.contentRect, TRUE);
    SetFocus(context.mainWindow);
    if (select) context.selectedTab = context.currentPane;
}

void ReturnToSelectedTab() {
    AppContext& context = *GetAppContext();
    SwitchPane(context, context.selectedTab);
}

HWND CreatePaneWindow(const AppContext& context, const wchar_t* className, WNDPROC procedure, HWND parent,
                      DWORD extraStyle, void* creationParameter) {
    if (!RegisterShellWindowClass(context.instance, className, procedure)) return nullptr;
    const RECT& content = context.contentRect;
    const int s = context.scale;
    HWND window = CreateWindowExW(0, className, L"", WS_CHILD | extraStyle, content.left + context.borderX,
                                  content.top + context.borderY + 20 * s, content.right - 2 * context.borderX,
                                  content.bottom - 25 * s - 2 * context.borderY, parent, nullptr, context.instance,
                                  creationParameter);
    if (window != nullptr) UpdateWindow(window);
    return window;
}

HWND CreatePaneMenuBar(const AppContext& context, HWND pane, UINT resource) {
    SHMENUBARINFO info = {};
    info.cbSize = sizeof(info);
    info.hwndParent = pane;
    info.dwFlags = SHCMBF_HMENU;
    info.nToolBarId = resource;
    info.hInstRes = context.instance;
    if (!SHCreateMenuBar(&info)) return nullptr;
    ShowWindow(info.hwndMB, SW_HIDE);
    return info.hwndMB;
}

HWND CreatePaneControl(const AppContext& context, HWND pane, int id, const wchar_t* className, const wchar_t* text,
                       DWORD style, int x, int y, int width, int height) {
    HWND control = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, pane,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), context.instance, nullptr);
    if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(context.fontNormal), FALSE);
    return control;
}

LRESULT ColourControlOnWhite(WPARAM dc) {
    SetBkColor(reinterpret_cast<HDC>(dc), RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}
