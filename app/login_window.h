// The login window "PelLoginWnd" and the log-in flow behind its button.
#pragma once

#include <windows.h>

// Codes of the quit message that ends the login message loop.
inline constexpr int kQuitLoginExit = 0;      // "Выход": the program ends
inline constexpr int kQuitLoginSucceeded = 1;  // the session is open: the main window takes over

// Registers the class and creates the (hidden) login window over `parent`'s client area.
HWND CreateLoginWindow(HWND parent);

// The button's work: network, server address, credentials, then RunLoginSequence.
bool LogIn();
// Handshake, settings file, first reading, configuration and first location report, with progress.
bool RunLoginSequence();
// After a failed log-in: network released, progress back to 0, the form enabled again.
void ResetLoginForm();
