// What the main window draws around its panes: the tab header with the visibility icon at the top
// and the status line at the bottom, and the taps on the header.
#pragma once

#include <windows.h>

struct AppContext;

// Draws the header (after log-in) and the status line into `dc`, which covers the main window's client area.
void PaintMainWindow(HDC dc);

// A tap at client coordinates x, y of the main window: switches tabs or opens the visibility chooser.
void HitTestHeader(const AppContext& context, int x, int y);
