// The main window "PelMainWnd": the login loop, the panes, the timers and the main loop.
#pragma once

#include <windows.h>

struct AppContext;

// Pane indexes, in the fixed order of AppContext::panes.
inline constexpr int kPaneMe = 0;
inline constexpr int kPaneGroups = 1;
inline constexpr int kPaneConfiguration = 2;
inline constexpr int kPaneVisibility = 3;
inline constexpr int kPaneGroupList = 4;
inline constexpr int kPanePlaceEditor = 5;

// The periodic report when it does not follow the server's interval: 15 minutes.
inline constexpr unsigned kPeriodicReportMs = 900000;
// The private hours are checked once a minute.
inline constexpr unsigned kPrivateHoursCheckMs = 60000;
// The shortest report interval taken from the server: a "timer" of 0 or less (or a few seconds)
// would otherwise make the phone report without pause and drain its battery.
inline constexpr int kMinimumReportIntervalSeconds = 30;
// The longest: the most whole seconds a timer holds (USER_TIMER_MAXIMUM milliseconds). A larger
// "timer" would overflow the milliseconds and could come out as an interval of a few seconds.
inline constexpr int kMaximumReportIntervalSeconds = 0x7FFFFFFF / 1000;

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

// Switches the visible pane (asking about unsaved settings when leaving the configuration tab);
// `select` also makes it the tab marked in the header.
void ShowPane(int index, bool select);

// Hides the current pane and shows the selected tab again, without asking and without repainting.
void ReturnToSelectedTab();

// Location report, place line and groups: the work of timer 200.
void RunReportCycle();

// The interval timer 200 is armed with after a successful report.
unsigned ReportTimerIntervalMs(const AppContext& context);

// Enters or leaves the private hours.
void SetPrivateHours(bool on);

// Empties the groups and lets the group panes show that.
void ClearShownGroups();
