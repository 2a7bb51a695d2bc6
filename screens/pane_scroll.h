// Vertical scrolling of the panes. Each pane keeps its scroll offset in pixels in its own state;
// these functions keep that offset, the scroll bar's position and the place of the
// content (child windows included) in step, so that a thumb drag always reaches both ends.
#pragma once

#include <windows.h>

struct AppContext;

// What a scrolling pane keeps of its own, attached to its window (app/window_state.h).
struct ScrollingPaneState {
    int scrollOffset = 0;  // pixels the content is moved up
};

// Creates a pane with a vertical scroll bar and a ScrollingPaneState of its own, which `procedure`
// tracks with TrackWindowState<ScrollingPaneState>; null on failure (CreatePaneWindow).
HWND CreateScrollingPane(const AppContext& context, const wchar_t* className, WNDPROC procedure, HWND parent);

// Brings the content back to the top, gives the scroll bar the range 0..maximum (nothing below 0)
// with `page`, and repaints the whole pane: the callers have just laid out new content.
void ResetPaneScroll(HWND pane, int& offset, int maximum, int page);

// Scrolls so that `position` is at the top, as far as the scroll bar's range allows, and paints
// the uncovered part at once.
void ScrollPaneTo(HWND pane, int& offset, int position);

// WM_VSCROLL: a line is one `scale` unit, a page the scroll bar's page in units but never more
// than the visible height, the thumb moves the content with it (to where the scroll bar's tracking
// position says, which unlike the message's 16 bits reaches past 65,535 pixels).
void HandlePaneScrollRequest(HWND pane, int& offset, WPARAM request, int scale);
