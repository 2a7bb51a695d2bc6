// The main window "PelMainWnd": the login loop, the panes, the timers and the main loop.
#pragma once

#include <windows.h>

// Pane indexes, in the fixed order of AppContext::panes.
inline constexpr int kPaneMe = 0;
inline constexpr int kPaneGroups = 1;
inline constexpr int kPaneConfiguration = 2;
inline constexpr int kPaneVisibility = 3;
inline constexpr int kPaneGroupList = 4;
inline constexpr int kPanePlaceEditor = 5;

// The start sequence after a successful initialisation: main window, log-in, panes, main loop.
// Returns when the main loop ends; the caller shuts down.
void RunMainWindow();

// Fetches and dispatches messages until the quit message; returns its code.
int RunMessageLoop();

// Switches the visible pane (asking about unsaved settings when leaving the configuration tab);
// `select` also makes it the tab marked in the header.
void ShowPane(int index, bool select);

// Hides the current pane and shows the selected tab again, without asking and without repainting.
void ReturnToSelectedTab();

// Location report, place line and groups: the work of timer 200.
void RunReportCycle();

// Enters or leaves the private hours.
void SetPrivateHours(bool on);
