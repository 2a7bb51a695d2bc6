// What the panes of the main window share: the tab page rectangle they start at, the soft-key menu
// bar that ShowPane brings up together with them, and how their controls look.
#pragma once

#include <windows.h>

struct AppContext;

// Registers the pane's class and creates the pane: a hidden child of `parent` at the tab page
// rectangle, painted once; null on failure.
HWND CreatePaneWindow(const AppContext& context, const wchar_t* className, WNDPROC procedure, HWND parent,
                      DWORD extraStyle);

// The pane's menu bar built from menu `resource`, hidden until ShowPane shows it; null on failure.
HWND CreatePaneMenuBar(const AppContext& context, HWND pane, UINT resource);

// A control of a pane in the normal font (the phone's system font, which the desktop's differs
// from), with `id` and at the bounds given in pixels; null on failure.
HWND CreatePaneControl(const AppContext& context, HWND pane, int id, const wchar_t* className, const wchar_t* text,
                       DWORD style, int x, int y, int width, int height);

// WM_CTLCOLORSTATIC of a pane: static texts, check boxes and radio buttons lie on the pane's white.
LRESULT ColourControlOnWhite(WPARAM dc);
