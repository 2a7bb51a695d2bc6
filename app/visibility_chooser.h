// The visibility chooser "StateWnd" (pane 3) and the change of the visibility state.
#pragma once

#include <windows.h>

HWND CreateStateWindow(HWND parent);
// Switches to state 0..3: tells the server, or for "Отключен" stops all location work locally.
void SetVisibility(int state);
