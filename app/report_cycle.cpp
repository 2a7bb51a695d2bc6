#include "app/report_cycle.h"

#include <windows.h>

#include "app/app_context.h"
#include "app/private_hours.h"
#include "app/status_line.h"
#include "location/cell_monitor.h"
#include "location/location_report.h"
#include "protocol/groups.h"
#include "protocol/session_states.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"
#include "screens/place_line.h"

namespace {

// After this many failed reports in a row the user counts as switched off.
constexpr int kReportFailuresBeforeSwitchOff = 3;

}  // namespace

// Group panes re-measure on a size message with zero arguments; their lists start at the top again.
void FetchGroupsIntoPanes(AppContext& context) {
    FetchGroups(context);
    for (int index : {kPaneGroups, kPaneGroupList}) {
        HWND pane = context.panes[index].window;
        SetScrollPos(pane, SB_VERT, 0, TRUE);
        SendMessageW(pane, WM_SIZE, 0, 0);
    }
}

void RestoreIdleUnlessReported(const AppContext& context) {
    if (context.statusText == kTextTransfer) ShowIdleStatus();
}

void CheckPrivateHours(const AppContext& context) {
    if (context.privateTime == 0) return;
    const bool privateNow = IsPrivateTime(GetLocalClock());
    if (privateNow == context.inPrivateHours) return;
    if (privateNow) {
        SetPrivateHours(true);
        return;
    }
    // Leaving them fetches the groups: a request like any other, announced on the status line.
    ShowTransferStatus();
    SetPrivateHours(false);
    RestoreIdleUnlessReported(context);
}

unsigned ReportTimerIntervalMs(const AppContext& context) {
    if (context.rateMode != RateMode::Optimal || context.cellMonitor == nullptr || context.cellMonitor->enabled == 0) {
        return kPeriodicReportMs;
    }
    // A server's interval beyond what a timer holds waits as long as a timer can, in whole seconds,
    // rather than wrapping round to a few milliseconds.
    int seconds = context.reportInterval;
    if (seconds < kMinimumReportIntervalSeconds) seconds = kMinimumReportIntervalSeconds;
    if (seconds > kMaximumReportIntervalSeconds) seconds = kMaximumReportIntervalSeconds;
    return static_cast<unsigned>(seconds) * 1000u;
}

void RunReportCycle() {
    AppContext& context = *GetAppContext();
    ShowTransferStatus();
    KillTimer(context.mainWindow, TIMER_REPORT);
    if (!SendLocationReport(context, context.placeMark)) {
        // Only the third failure in a row switches off: a user who switched on again while the
        // reports still fail has decided, and the fourth and later failures leave that alone.
        ++context.reportFailures;
        if (context.reportFailures == kReportFailuresBeforeSwitchOff) context.visibility = Visibility::SwitchedOff;
        RestoreIdleUnlessReported(context);
        return;
    }
    context.reportFailures = 0;
    SetTimer(context.mainWindow, TIMER_REPORT, ReportTimerIntervalMs(context), nullptr);
    ShowPlaceLine(context);
    if (!context.inPrivateHours && context.accountMode == AccountMode::Normal) FetchGroupsIntoPanes(context);
    RestoreIdleUnlessReported(context);
}

void ClearShownGroups() {
    AppContext& context = *GetAppContext();
    ClearGroups(context);
    SendMessageW(context.panes[kPaneGroups].window, WM_SIZE, 0, 0);
    SendMessageW(context.panes[kPaneGroupList].window, WM_SIZE, 0, 0);
}

void SetPrivateHours(bool on) {
    AppContext& context = *GetAppContext();
    context.inPrivateHours = on;
    if (on) {
        ClearShownGroups();
        return;
    }
    FetchGroupsIntoPanes(context);
}
