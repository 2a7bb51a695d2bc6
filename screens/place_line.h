// The place line of the Me tab: the line under the user's name that says where the phone is.
#pragma once

#include <string>

struct AppContext;

// True when the phone can tell its cell: a cell monitor that is enabled.
bool LocationDetermined(const AppContext& context);

// What the line says after the start and after every accepted location report.
std::wstring ComposePlaceLine(const AppContext& context);

// Puts `text` into the place line of pane 0; nothing before the pane exists.
void SetPlaceLine(const AppContext& context, const std::wstring& text);

// The composed line, into the pane.
void ShowPlaceLine(const AppContext& context);
