// Stand-in until this pane is built: a plain hidden window of its class.
#include "screens/group_tab.h"

#include "app/app_context.h"

HWND CreateGroupTab(HWND parent) {
    AppContext& context = *GetAppContext();
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = context.instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"PelGroupTabWnd";
    RegisterClassW(&windowClass);
    return CreateWindowW(L"PelGroupTabWnd", L"", WS_CHILD, 0, 0, 0, 0, parent, nullptr, context.instance, nullptr);
}
