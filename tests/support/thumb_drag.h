// Dragging the thumb of a window's vertical scroll bar with the mouse, as a user does: the scroll
// bar tracks it in its own loop and reports the tracking position, which the window reads with
// SIF_TRACKPOS. Messages that a test sends itself carry no tracking position.
#pragma once

#include <windows.h>

namespace pelmora_test {

// Grabs the thumb of `window`'s vertical scroll bar, moves it so that its top lies `fraction` of
// the way from the top of its track (0) to the bottom (1), and lets it go there. The window must
// be visible. False when it has no scroll bar with a thumb.
bool DragScrollThumb(HWND window, double fraction);

}  // namespace pelmora_test
