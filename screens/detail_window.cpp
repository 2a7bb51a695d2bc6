#include "screens/detail_window.h"

#include <string>

#include "app/app_context.h"
#include "app/window_class.h"
#include "screens/group_model_lookup.h"

namespace {

constexpr wchar_t kClassName[] = L"DetailWnd";
constexpr COLORREF kNameBlue = RGB(48, 48, 255);

void OnPaint(HWND window, const AppContext& context) {
    const int s = context.scale;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const int saved = SaveDC(dc);
    RECT client;
    GetClientRect(window, &client);
    Rectangle(dc, client.left, client.top, client.right, client.bottom);

    RECT text = {client.left + 5 * s, client.top + 5 * s, client.right - 5 * s, client.bottom};
    SelectObject(dc, context.fontBold);
    SetTextColor(dc, RGB(0, 0, 0));
    // The entry the group tab has selected, even where the server repeated its identifiers.
    const GroupSelection& selection = context.groupSelection;
    const std::vector<EntryPlace> entries = ShownEntries(context.groups, selection.shownGroup);
    const int row = FindSelectedRow(context.groups, entries, selection.selectedPerson, selection.selectedPersonGroup,
                                    selection.selectedRow);
    if (row >= 0) {
        const Group& group = GroupAt(context.groups, entries[row]);
        const Person& person = PersonAt(context.groups, entries[row]);
        DrawTextW(dc, group.title.c_str(), -1, &text, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
        text.top += 18 * s;
        // The model keeps the name with the ": " that introduces the address on the group tab.
        const std::wstring& name = person.name;
        const std::wstring bareName = name.size() >= 2 ? name.substr(0, name.size() - 2) : std::wstring();
        SetTextColor(dc, kNameBlue);
        DrawTextW(dc, bareName.c_str(), -1, &text, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
        text.top += 18 * s;
        SetTextColor(dc, RGB(0, 0, 0));
        DrawTextW(dc, person.address.c_str(), -1, &text, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    }
    RestoreDC(dc, saved);
    EndPaint(window, &paint);
}

LRESULT CALLBACK DetailWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    AppContext* application = GetAppContext();
    if (application == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    AppContext& context = *application;
    switch (message) {
    case WM_PAINT:
        OnPaint(window, context);
        return 0;
    case WM_LBUTTONUP:
        CloseDetailWindow(context);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateDetailWindow(HWND groupTab, int rowTop) {
    const AppContext& context = *GetAppContext();
    if (!RegisterShellWindowClass(context.instance, kClassName, DetailWindowProc)) return nullptr;
    const int s = context.scale;
    const int x = context.contentRect.left + 2 * s;
    // The panel ends where the selected entry's frame ends (3 units beyond the 5-unit margin of
    // the entries), so it covers that frame whole: the phone's width of the content rectangle less
    // 19 units assumes the phone's scroll bar, and a desktop scroll bar, which does not grow with
    // the scale, would leave the frame's right edge standing out beside the panel or cut the panel.
    RECT client;
    GetClientRect(groupTab, &client);
    const int width = client.right - 2 * s - x;
    HWND window = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE, x, rowTop - 4 * s, width, 84 * s, groupTab,
                                  nullptr, context.instance, nullptr);
    if (window == nullptr) return nullptr;
    UpdateWindow(window);
    ShowWindow(window, SW_SHOW);
    return window;
}

void CloseDetailWindow(AppContext& context) {
    HWND window = context.groupSelection.detailWindow;
    if (window == nullptr) return;
    context.groupSelection.detailWindow = nullptr;
    DestroyWindow(window);
}
