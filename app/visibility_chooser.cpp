// Stand-in until the visibility chooser is built: a plain hidden pane; the state changes locally.
#include "app/visibility_chooser.h"

#include "app/app_context.h"

HWND CreateStateWindow(HWND parent) {
    AppContext& context = *GetAppContext();
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = context.instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"StateWnd";
    RegisterClassW(&windowClass);
    return CreateWindowW(L"StateWnd", L"", WS_CHILD, 0, 0, 0, 0, parent, nullptr, context.instance, nullptr);
}

void SetVisibility(int state) { GetAppContext()->visibility = state; }
