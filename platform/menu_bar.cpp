// The soft-key menu bar strip that stands in for the Pocket PC shell's menu bar.
#include "platform/aygshell.h"

#include <commctrl.h>

#include <vector>

#include "platform/screen_metrics.h"

namespace {

struct MenuBarData {
    HMENU menu = nullptr;
    HWND parent = nullptr;
    HFONT font = nullptr;
};

MenuBarData* GetMenuBarData(HWND window) {
    return reinterpret_cast<MenuBarData*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Soft keys share the strip: two halves for one or two items, equal cells beyond that.
int CellWidth(HWND window, int itemCount) {
    RECT client;
    GetClientRect(window, &client);
    const int cells = itemCount > 2 ? itemCount : 2;
    return client.right / cells;
}

int HitTestItem(HWND window, const MenuBarData& data, int x) {
    const int count = GetMenuItemCount(data.menu);
    if (count <= 0) return -1;
    const int width = CellWidth(window, count);
    if (width <= 0) return -1;
    const int index = x / width;
    return index < count ? index : -1;
}

void ChooseItem(HWND window, const MenuBarData& data, int index) {
    HMENU popup = GetSubMenu(data.menu, index);
    if (popup == nullptr) {
        const UINT command = GetMenuItemID(data.menu, index);
        PostMessageW(data.parent, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        return;
    }
    RECT strip;
    GetWindowRect(window, &strip);
    const int left = strip.left + index * CellWidth(window, GetMenuItemCount(data.menu));
    const UINT command = static_cast<UINT>(TrackPopupMenu(
        popup, TPM_LEFTALIGN | TPM_BOTTOMALIGN | TPM_RETURNCMD | TPM_NONOTIFY, left, strip.top, 0, window, nullptr));
    if (command != 0) PostMessageW(data.parent, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void PaintMenuBar(HWND window, const MenuBarData& data) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH background = CreateSolidBrush(RGB(0x23, 0x3e, 0x6e));
    FillRect(dc, &client, background);
    DeleteObject(background);

    HGDIOBJ oldFont = SelectObject(dc, data.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0xff, 0xff, 0xff));
    const int count = GetMenuItemCount(data.menu);
    const int width = CellWidth(window, count);
    for (int index = 0; index < count; ++index) {
        wchar_t text[64] = {};
        GetMenuStringW(data.menu, index, text, 64, MF_BYPOSITION);
        RECT cell = {index * width, 0, (index + 1) * width, client.bottom};
        DrawTextW(dc, text, -1, &cell, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        if (index > 0) {
            RECT separator = {cell.left, cell.top + client.bottom / 4, cell.left + 1, cell.bottom - client.bottom / 4};
            HBRUSH line = CreateSolidBrush(RGB(0x6d, 0x86, 0xb3));
            FillRect(dc, &separator, line);
            DeleteObject(line);
        }
    }
    SelectObject(dc, oldFont);
    EndPaint(window, &paint);
}

LRESULT CALLBACK MenuBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MenuBarData* data = GetMenuBarData(window);
    switch (message) {
    case WM_NCCREATE: {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
    }
    case WM_PAINT:
        if (data != nullptr) {
            PaintMenuBar(window, *data);
            return 0;
        }
        break;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_LBUTTONUP:
        if (data != nullptr) {
            const int index = HitTestItem(window, *data, static_cast<short>(LOWORD(lParam)));
            if (index >= 0) ChooseItem(window, *data, index);
            return 0;
        }
        break;
    case WM_NCDESTROY:
        if (data != nullptr) {
            DestroyMenu(data->menu);
            DeleteObject(data->font);
            delete data;
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterMenuBarClass(HINSTANCE instance) {
    WNDCLASSW windowClass = {};
    if (GetClassInfoW(instance, kMenuBarClass, &windowClass)) return true;
    windowClass.lpfnWndProc = MenuBarProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kMenuBarClass;
    return RegisterClassW(&windowClass) != 0;
}

}  // namespace

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
    if (info == nullptr || info->cbSize != sizeof(SHMENUBARINFO)) return FALSE;
    info->hwndMB = nullptr;
    HINSTANCE instance = info->hInstRes != nullptr ? info->hInstRes : GetModuleHandleW(nullptr);
    if (!RegisterMenuBarClass(instance)) return FALSE;

    auto* data = new MenuBarData;
    data->parent = info->hwndParent;
    if ((info->dwFlags & SHCMBF_EMPTYBAR) == 0) {
        data->menu = LoadMenuW(instance, MAKEINTRESOURCEW(info->nToolBarId));
        if (data->menu == nullptr) {
            delete data;
            return FALSE;
        }
    } else {
        data->menu = CreateMenu();
    }
    const int scale = GetScreenScale();
    data->font = CreateFontW(-13 * scale, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");

    // The strip belongs to the parent's top-level window, so it minimises and closes with it.
    HWND owner = info->hwndParent != nullptr ? GetAncestor(info->hwndParent, GA_ROOT) : nullptr;
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const int height = GetMenuBarHeight();
    const DWORD visible = (info->dwFlags & SHCMBF_HIDDEN) != 0 ? 0 : WS_VISIBLE;
    HWND bar = CreateWindowExW(WS_EX_NOACTIVATE, kMenuBarClass, L"", WS_POPUP | visible, 0, screenHeight - height,
                               screenWidth, height, owner, nullptr, instance, data);
    if (bar == nullptr) {
        DestroyMenu(data->menu);
        DeleteObject(data->font);
        delete data;
        return FALSE;
    }
    info->hwndMB = bar;
    return TRUE;
}

BOOL SHInitExtraControls() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    return InitCommonControlsEx(&controls);
}
