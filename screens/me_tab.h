// The Me tab (pane 0): the user's name and the place line.
#pragma once

#include <windows.h>

HWND CreateMeTab(HWND parent);
