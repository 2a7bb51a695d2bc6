#include "app/tab_header.h"

#include "app/app_context.h"
#include "app/visibility_chooser.h"
#include "screens/pane_window.h"

namespace {

constexpr int kTabCount = 3;

// The phone's push-button frame is a one-pixel black outline. The desktop's raised edge is two
// pixels deep and would leave a line between the selected tab and the content frame.
void DrawButtonFrame(HDC dc, const RECT& rect) {
    FrameRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

void DrawCaption(HDC dc, const wchar_t* caption, RECT rect) {
    if (caption == nullptr) return;
    DrawTextW(dc, caption, -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void DrawUnselectedTab(HDC dc, const RECT& tab, const wchar_t* caption) {
    DrawButtonFrame(dc, tab);
    DrawCaption(dc, caption, tab);
}

// The selected tab stands taller than the others and opens into the content frame: a background
// fill hides its lower edge and the stretch of the content frame beneath it.
void DrawSelectedTab(HDC dc, const AppContext& context, const RECT& tab, const wchar_t* caption) {
    DrawButtonFrame(dc, tab);
    const RECT inner = {tab.left + context.borderX, tab.top + context.borderY, tab.right - context.borderX,
                        tab.bottom};
    // With the null pen selected a rectangle fills one pixel less to the right and below.
    HGDIOBJ oldBrush =
        SelectObject(dc, reinterpret_cast<HBRUSH>(GetClassLongPtrW(context.mainWindow, GCLP_HBRBACKGROUND)));
    Rectangle(dc, inner.left, inner.top, inner.right + 1, inner.bottom + 1);
    SelectObject(dc, oldBrush);
    DrawCaption(dc, caption, inner);
}

void DrawContentFrame(HDC dc, const AppContext& context) {
    const RECT& content = context.contentRect;
    DrawButtonFrame(dc, {content.left, content.top + 20 * context.scale, content.right, content.bottom});
}

void PaintThreeTabs(HDC dc, const AppContext& context) {
    const RECT& content = context.contentRect;
    const int s = context.scale;
    const int q = content.right / 4;
    const int top = content.top;
    const int by = context.borderY;
    if (const VisibilityState* shown = FindVisibilityState(context, context.visibility)) {
        DrawIconEx(dc, content.left + (q - 24 * s) / 2, top - 2, shown->icon, 24 * s, 24 * s, 0, nullptr, DI_NORMAL);
    }
    for (int tab = 0; tab < kTabCount; ++tab) {
        if (tab == context.selectedTab) continue;
        DrawUnselectedTab(dc, {(tab + 1) * q, top + by, (tab + 2) * q, top + by + 20 * s},
                          context.panes[tab].caption);
    }
    DrawContentFrame(dc, context);
    const int selected = context.selectedTab;
    const int widen = context.currentPane == kPaneConfiguration ? 0 : 1;
    DrawSelectedTab(dc, context, {(selected + 1) * q - 1, top, (selected + 2) * q + widen, top + 20 * s + by},
                    context.panes[selected].caption);
}

// Accounts without groups: "Я" on the left half, "Настр" on the right, no visibility icon.
void PaintTwoTabs(HDC dc, const AppContext& context) {
    const RECT& content = context.contentRect;
    const int s = context.scale;
    const int half = content.right / 2;
    const int top = content.top;
    const int bx = context.borderX;
    const int by = context.borderY;
    const wchar_t* me = context.panes[kPaneMe].caption;
    const wchar_t* settings = context.panes[kPaneConfiguration].caption;
    if (context.selectedTab != kPaneMe) {
        const RECT unselected = {0, top + by, half, top + by + 20 * s};
        DrawButtonFrame(dc, unselected);
        DrawCaption(dc, me, {unselected.left + bx, unselected.top, unselected.right, unselected.bottom});
        DrawContentFrame(dc, context);
        DrawSelectedTab(dc, context, {half - bx, top, content.right, top + 20 * s + by}, settings);
    } else {
        DrawUnselectedTab(dc, {half, top + by, content.right, top + by + 20 * s}, settings);
        DrawContentFrame(dc, context);
        DrawSelectedTab(dc, context, {0, top, bx + half, top + 20 * s + by}, me);
    }
}

void PaintStatusLine(HDC dc, const AppContext& context) {
    const RECT& content = context.contentRect;
    const int s = context.scale;
    const RECT line = {content.left, content.bottom - s, content.right, content.bottom + 15 * s};
    DrawButtonFrame(dc, line);
    SelectObject(dc, context.fontSmall);
    // The colour is kept with its high byte set, which is no valid colour for drawing.
    SetTextColor(dc, context.statusColor & 0x00FFFFFF);
    DrawCaption(dc, context.statusText.c_str(), line);
}

}  // namespace

void PaintMainWindow(HDC dc) {
    const AppContext& context = *GetAppContext();
    const COLORREF oldColor = GetTextColor(dc);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, context.fontBold);
    HGDIOBJ oldPen = SelectObject(dc, context.nullPen);

    if (!context.loginPhase) {
        if (context.accountMode == AccountMode::Normal) {
            PaintThreeTabs(dc, context);
        } else {
            PaintTwoTabs(dc, context);
        }
    }
    PaintStatusLine(dc, context);

    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldPen);
}

void HitTestHeader(const AppContext& context, int x, int y) {
    if (context.loginPhase) return;
    const RECT& content = context.contentRect;
    const int s = context.scale;
    if (y <= content.top + 2 * s || y >= content.top + 22 * s) return;

    if (context.accountMode != AccountMode::Normal) {
        ShowPane(x > 0 && x < content.right / 2 ? kPaneMe : kPaneConfiguration, true);
        return;
    }
    const int q = content.right / 4;
    for (int tab = 0; tab < kTabCount; ++tab) {
        if (x > (tab + 1) * q && x < (tab + 2) * q) {
            if (tab != context.currentPane) ShowPane(tab, true);
            return;
        }
    }
    // The visibility icon: the chooser opens while the header keeps marking the tab it came from.
    if (x > 0 && x < q) ShowPane(kPaneVisibility, false);
}
