// The Me tab (pane 0): the user's name and the place line.
#pragma once

#include <windows.h>

#include <string>

struct AppContext;

HWND CreateMeTab(HWND parent);

// The place line after the start and after every accepted location report.
std::wstring ComposePlaceLine(const AppContext& context);

// Puts `text` into the place line of pane 0; nothing before the pane exists.
void SetPlaceLine(const AppContext& context, const std::wstring& text);
