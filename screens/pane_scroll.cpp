#include "screens/pane_scroll.h"

#include <algorithm>

#include "app/window_state.h"
#include "screens/pane_window.h"

namespace {

// Moves the content by `dy` pixels: the painted part and the child windows. The children are
// moved one by one because scrolling a hidden pane's window moves none of them.
void MoveContent(HWND pane, int dy) {
    if (dy == 0) return;
    ScrollWindowEx(pane, 0, dy, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
    for (HWND child = GetWindow(pane, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT bounds;
        GetWindowRect(child, &bounds);
        MapWindowPoints(HWND_DESKTOP, pane, reinterpret_cast<POINT*>(&bounds), 2);
        SetWindowPos(child, nullptr, bounds.left, bounds.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

}  // namespace

HWND CreateScrollingPane(const AppContext& context, const wchar_t* className, WNDPROC procedure, HWND parent) {
    std::unique_ptr<ScrollingPaneState> state = MakeWindowState<ScrollingPaneState>();
    if (state == nullptr) return nullptr;
    return CreatePaneWindow(context, className, procedure, parent, WS_VSCROLL, WindowStateParameter(state));
}

void ResetPaneScroll(HWND pane, int& offset, int maximum, int page) {
    MoveContent(pane, offset);
    offset = 0;
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMax = std::max(maximum, 0);
    info.nPage = static_cast<UINT>(std::max(page, 0));
    SetScrollInfo(pane, SB_VERT, &info, TRUE);
    InvalidateRect(pane, nullptr, TRUE);
}

void ScrollPaneTo(HWND pane, int& offset, int position) {
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_POS;
    info.nPos = position;
    SetScrollInfo(pane, SB_VERT, &info, TRUE);
    // The scroll bar stops at the end of its range; the content stops with it.
    const int reached = GetScrollPos(pane, SB_VERT);
    MoveContent(pane, offset - reached);
    offset = reached;
    UpdateWindow(pane);
}

void HandlePaneScrollRequest(HWND pane, int& offset, WPARAM request, int scale) {
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(pane, SB_VERT, &info)) return;
    RECT client;
    GetClientRect(pane, &client);
    const int page = std::min(std::max(static_cast<int>(info.nPage), 1) * scale, std::max<int>(client.bottom, scale));
    int step = 0;
    switch (LOWORD(request)) {
    case SB_LINEUP:
        step = -scale;
        break;
    case SB_LINEDOWN:
        step = scale;
        break;
    case SB_PAGEUP:
        step = -page;
        break;
    case SB_PAGEDOWN:
        step = page;
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        // The message carries the thumb in 16 bits only; the scroll bar knows it whole.
        step = info.nTrackPos - info.nPos;
        break;
    default:
        break;
    }
    if (step != 0) ScrollPaneTo(pane, offset, offset + step);
}
