#include "tests/support/thumb_drag.h"

namespace pelmora_test {

bool DragScrollThumb(HWND window, double fraction) {
    SCROLLBARINFO bar = {};
    bar.cbSize = sizeof(bar);
    if (!GetScrollBarInfo(window, OBJID_VSCROLL, &bar)) return false;
    const int thumb = bar.xyThumbBottom - bar.xyThumbTop;
    if (thumb <= 0) return false;
    const int barHeight = bar.rcScrollBar.bottom - bar.rcScrollBar.top;
    // Wine reports the thumb's size where the arrow's belongs; the arrows are the metric's height.
    const int arrow = GetSystemMetrics(SM_CYVSCROLL);
    const int track = barHeight - 2 * arrow - thumb;
    const int x = (bar.rcScrollBar.left + bar.rcScrollBar.right) / 2;
    const POINT grab = {x, bar.rcScrollBar.top + bar.xyThumbTop + thumb / 2};
    const int targetTop = arrow + static_cast<int>(fraction * track + 0.5);
    POINT drop = {x, grab.y + targetTop - bar.xyThumbTop};
    // The scroll bar's loop reads the mouse from the queue while it holds the capture; the
    // messages wait there in client coordinates, as the capture delivers them.
    ScreenToClient(window, &drop);
    PostMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(drop.x, drop.y));
    PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(drop.x, drop.y));
    SendMessageW(window, WM_NCLBUTTONDOWN, HTVSCROLL, MAKELPARAM(grab.x, grab.y));
    return true;
}

}  // namespace pelmora_test
