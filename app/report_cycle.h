// The running program's periodic work: the report cycle of timer 200 (location report, place line,
// groups) and the private hours of timer 203, with what they refresh in the group panes.
#pragma once

struct AppContext;

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

// Location report, place line and groups: the work of timer 200.
void RunReportCycle();

// The interval timer 200 is armed with after a successful report.
unsigned ReportTimerIntervalMs(const AppContext& context);

// Fetches the groups; the group panes re-measure and start at the top.
void FetchGroupsIntoPanes(AppContext& context);

// A request that failed without a message of its own must not leave "Передача данных..." behind; one
// that failed with a message (a failed groups fetch after a good report) leaves it for its 5 seconds.
void RestoreIdleUnlessReported(const AppContext& context);

// Timer 203: enters or leaves the private hours as the clock says, when the user wants them.
void CheckPrivateHours(const AppContext& context);

// Enters or leaves the private hours.
void SetPrivateHours(bool on);

// Empties the groups and lets the group panes show that.
void ClearShownGroups();
