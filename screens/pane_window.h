// What the panes of the main window share: the tab page rectangle they start at, the soft-key menu
// bar that ShowPane brings up together with them, how their controls look, and the switch between them.
#pragma once

#include <windows.h>

struct AppContext;

// Pane indexes, in the fixed order of AppContext::panes.
inline constexpr int kPaneMe = 0;
inline constexpr int kPaneGroups = 1;
inline constexpr int kPaneConfiguration = 2;
inline constexpr int kPaneVisibility = 3;
inline constexpr int kPaneGroupList = 4;
inline constexpr int kPanePlaceEditor = 5;

// Switches the visible pane; `select` also makes it the tab marked in the header. The pane on screen
// is told first (WM_PELMORA_PANE_LEAVING), so that one holding unsaved changes can ask about them.
void ShowPane(int index, bool select);

// Hides the current pane and shows the selected tab again, without asking and without repainting.
void ReturnToSelectedTab();

// Registers the pane's class and creates the pane: a hidden child of `parent` at the tab page
// rectangle, painted once; null on failure. `creationParameter` goes to CreateWindowEx (the pane's
// own state, app/window_state.h).
HWND CreatePaneWindow(const AppContext& context, const wchar_t* className, WNDPROC procedure, HWND parent,
                      DWORD extraStyle, void* creationParameter = nullptr);

// The pane's menu bar built from menu `resource`, hidden until ShowPane shows it; null on failure.
HWND CreatePaneMenuBar(const AppContext& context, HWND pane, UINT resource);

// A control of a pane in the normal font (the phone's system font, which the desktop's differs
// from), with `id` and at the bounds given in pixels; null on failure.
HWND CreatePaneControl(const AppContext& context, HWND pane, int id, const wchar_t* className, const wchar_t* text,
                       DWORD style, int x, int y, int width, int height);

// WM_CTLCOLORSTATIC of a pane: static texts, check boxes and radio buttons lie on the pane's white.
LRESULT ColourControlOnWhite(WPARAM dc);
