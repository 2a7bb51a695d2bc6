// The place editor (pane 5): naming, editing and deleting the place where the phone is.
#pragma once

#include <windows.h>

struct AppContext;

HWND CreatePlaceEditor(AppContext& context, HWND parent);
// Fills the fields from the place mark and chooses the new-mark or existing-mark mode.
void FillPlaceEditor(AppContext& context);
// The "Сохранить" command.
void SavePlaceEditor(AppContext& context);
