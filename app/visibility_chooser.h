// The visibility chooser "StateWnd" (pane 3) and the change of the visibility state.
#pragma once

#include <windows.h>

#include "protocol/configuration.h"
#include "protocol/session_states.h"

struct AppContext;

struct VisibilityState;

// Fills AppContext::visibilityStates, in the chooser's order: the state, its icon, title and description.
void LoadVisibilityStates(AppContext& context);

// The entry of `state` among AppContext::visibilityStates, or null for a state the server named
// outside the four.
const VisibilityState* FindVisibilityState(const AppContext& context, Visibility state);

HWND CreateStateWindow(HWND parent);
// Switches to `state`: tells the server, or for "Отключен" stops all location work locally.
void SetVisibility(Visibility state);
// The server's verdict on a visibility change: a refusal puts the idle text back on the status line.
void ActOnVisibilityVerdict(ChangeVerdict verdict);
