// The detail window: a framed panel inside the group tab showing the selected person at full
// length - the group's title, the name and the whole address line with the distance.
#pragma once

#include <windows.h>

struct AppContext;

// Opens the panel over the row whose top is `rowTop` in the group tab's client coordinates;
// null on failure. The caller keeps the handle as the detail window of the group selection.
HWND CreateDetailWindow(HWND groupTab, int rowTop);

// Closes the open panel, if there is one.
void CloseDetailWindow(AppContext& context);
