// Stand-in until this pane is built: a plain hidden window of its class.
#include "screens/group_list_tab.h"

#include "app/app_context.h"

HWND CreateGroupListTab(HWND parent) {
    AppContext& context = *GetAppContext();
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = context.instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"PelGroupListTabWnd";
    RegisterClassW(&windowClass);
    return CreateWindowW(L"PelGroupListTabWnd", L"", WS_CHILD, 0, 0, 0, 0, parent, nullptr, context.instance, nullptr);
}
