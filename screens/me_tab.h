// The Me tab (pane 0): the user's name and the place line.
#pragma once

#include <windows.h>

#include <string>

struct AppContext;

HWND CreateMeTab(HWND parent);
// The place line after the start and after every accepted location report.
std::wstring ComposePlaceLine(const AppContext& context);
