// The group list tab (pane 4) that chooses the shown group, and the detail window.
#pragma once

#include <windows.h>

HWND CreateGroupListTab(HWND parent);
