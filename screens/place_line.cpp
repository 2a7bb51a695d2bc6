#include "screens/place_line.h"

#include <windows.h>

#include "app/app_context.h"
#include "location/cell_monitor.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"

bool LocationDetermined(const AppContext& context) {
    return context.cellMonitor != nullptr && context.cellMonitor->enabled != 0;
}

std::wstring ComposePlaceLine(const AppContext& context) {
    if (!LocationDetermined(context)) return kTextPlaceUndetermined;
    const PlaceMark& mark = context.placeMark;
    if (!mark.title.empty()) {
        std::wstring line = mark.title + L" " + mark.street;
        if (!mark.house.empty() && mark.house != L"0") line += kTextHousePrefix + mark.house + mark.building;
        return line;
    }
    if (!mark.address.empty()) return mark.address;
    return kTextPlaceUnnamed;
}

void SetPlaceLine(const AppContext& context, const std::wstring& text) {
    HWND pane = context.panes[kPaneMe].window;
    if (pane != nullptr) SetDlgItemTextW(pane, IDC_PLACE_LINE, text.c_str());
}

void ShowPlaceLine(const AppContext& context) { SetPlaceLine(context, ComposePlaceLine(context)); }
