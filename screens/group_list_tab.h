// The group list tab (pane 4) that chooses which group the group tab shows.
#pragma once

#include <windows.h>

HWND CreateGroupListTab(HWND parent);
