// Stand-in until this pane is built: a plain hidden window of its class.
#include "location/place_editor.h"

#include "app/app_context.h"

HWND CreatePlaceEditor(AppContext& context, HWND parent) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = context.instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"PelPlaceWnd";
    RegisterClassW(&windowClass);
    return CreateWindowW(L"PelPlaceWnd", L"", WS_CHILD, 0, 0, 0, 0, parent, nullptr, context.instance, nullptr);
}

void FillPlaceEditor(AppContext& context) { context.placeEditorNew = context.placeMark.id < 1; }
void SavePlaceEditor(AppContext&) {}
