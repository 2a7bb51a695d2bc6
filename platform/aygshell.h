// The Pocket PC shell's menu bar, as the program calls it on the phone. On the desktop it is a
// soft-key strip at the bottom of the screen built from a menu resource: a plain item sends
// WM_COMMAND to the bar's parent, an item with a pop-up opens it above the strip.
#pragma once

#include <windows.h>

#define SHCMBF_EMPTYBAR 0x0001
#define SHCMBF_HIDDEN 0x0002
#define SHCMBF_HIDESIPBUTTON 0x0004
#define SHCMBF_COLORBK 0x0008
#define SHCMBF_HMENU 0x0010

struct SHMENUBARINFO {
    DWORD cbSize;
    HWND hwndParent;
    DWORD dwFlags;
    UINT nToolBarId;
    HINSTANCE hInstRes;
    int nBmpId;
    int cBmpImages;
    HWND hwndMB;
    COLORREF clrBk;
};

// Creates the menu bar described by `info`; on success its window is in info->hwndMB.
BOOL SHCreateMenuBar(SHMENUBARINFO* info);

// The shell's one-time initialisation of its extra controls.
BOOL SHInitExtraControls();

// The window class of the menu bar strip.
inline constexpr wchar_t kMenuBarClass[] = L"PelMenuBarWnd";
