// The visibility chooser "StateWnd" (pane 3) and the change of the visibility state.
#pragma once

#include <windows.h>

#include "protocol/configuration.h"
#include "protocol/session_states.h"

struct AppContext;

// Fills AppContext::visibilityStates: the icon, title and description of each state.
void LoadVisibilityStates(AppContext& context);

HWND CreateStateWindow(HWND parent);
// Switches to state 0..3: tells the server, or for "Отключен" stops all location work locally.
void SetVisibility(int state);
// The server's verdict on a visibility change: a refusal puts the idle text back on the status line.
void ActOnVisibilityVerdict(ChangeVerdict verdict);
