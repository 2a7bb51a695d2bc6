// The group tab (pane 1): the people of the shown groups with their addresses and distances.
#pragma once

#include <windows.h>

HWND CreateGroupTab(HWND parent);
