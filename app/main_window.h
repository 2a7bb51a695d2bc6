// The main window "PelMainWnd": the login loop, the panes, the timers and the main loop.
#pragma once

#include <windows.h>

struct AppContext;

// The start sequence after a successful initialisation: main window, log-in, panes, main loop.
// Returns when the main loop ends; the caller shuts down.
void RunMainWindow();

// The six Tahoma fonts and the null pen of AppContext, for the context's `scale`.
void CreateFonts(AppContext& context);

// Puts the windows' frontend in place for the layers below, registers the class and creates the main
// window with its login window; null on failure.
HWND CreateMainWindow();

// What follows a successful log-in: the panes, the Me tab on screen, the first groups, the timers
// and the sampling worker.
void EnterRunningPhase();

// Fetches and dispatches messages until the quit message; returns its code.
int RunMessageLoop();
