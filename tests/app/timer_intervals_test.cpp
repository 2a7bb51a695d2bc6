// The intervals the main window's three timers are armed with, as SetTimer receives them: the
// periodic report (200), the end of a status message (202) and the private-hours check (203).
#include <windows.h>

#include <climits>
#include <string>
#include <vector>

#include "app/report_cycle.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "platform/durations.h"
#include "protocol/transport_state.h"
#include "resources/resource_ids.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/import_patch.h"

namespace {

struct ArmedTimer {
    HWND window;
    UINT_PTR id;
    UINT milliseconds;
};

std::vector<ArmedTimer>& ArmedTimers() {
    static std::vector<ArmedTimer> armed;
    return armed;
}

using SetTimerFunction = UINT_PTR(WINAPI*)(HWND, UINT_PTR, UINT, TIMERPROC);
SetTimerFunction realSetTimer = nullptr;

UINT_PTR WINAPI RecordingSetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure) {
    ArmedTimers().push_back({window, id, milliseconds});
    return realSetTimer(window, id, milliseconds, procedure);
}

class TimerIntervals : public ServedShellTest {
protected:
    void SetUp() override {
        ServedShellTest::SetUp();
        ASSERT_TRUE(patch_.Active());
        realSetTimer = patch_.Original<SetTimerFunction>();
        ArmedTimers().clear();
        OpenSession();
        TakeFirstReading(context().cellMonitor);
    }

    // The interval timer `id` of the main window was last armed with; -1 when it was not armed.
    long long LastInterval(UINT_PTR id) {
        long long interval = -1;
        for (const ArmedTimer& timer : ArmedTimers()) {
            if (timer.window == main() && timer.id == id) interval = timer.milliseconds;
        }
        return interval;
    }

    pelmora_test::ImportPatch patch_{GetModuleHandleW(nullptr), "user32.dll", "SetTimer",
                                     reinterpret_cast<void*>(RecordingSetTimer)};
};

std::string ReportWithTimer(const char* seconds) {
    return std::string("<isee><status>1</status><timer>") + seconds + "</timer></isee>";
}

TEST_F(TimerIntervals, TheStartArmsTheReportAndThePrivateHoursCheck) {
    context().reportInterval = 120;
    Reply(kOneGroup);
    CreateRunningMain();
    EXPECT_EQ(120000, LastInterval(TIMER_REPORT));
    EXPECT_EQ(60000, LastInterval(TIMER_PRIVATE_HOURS));
}

TEST_F(TimerIntervals, ASuccessfulReportArmsTheReportByTheRateTheLocationAndTheServersInterval) {
    Reply(kOneGroup);
    CreateRunningMain();
    struct Case {
        RateMode rateMode;
        bool locationKnown;
        const char* serverSeconds;
        long long expected;
    };
    const Case cases[] = {
        {RateMode::Optimal, true, "300", 300000},
        {RateMode::Optimal, true, "31", 31000},
        {RateMode::Optimal, true, "30", 30000},
        {RateMode::Optimal, true, "29", 30000},            // the lower bound
        {RateMode::Optimal, true, "0", 30000},
        {RateMode::Optimal, true, "-5", 30000},
        {RateMode::CellChange, true, "300", 900000},          // "При смене соты": every 15 minutes
        {RateMode::Optimal, false, nullptr, 900000},       // no location, no request: every 15 minutes
        {RateMode::Optimal, true, "2147483", 2147483000},
        {RateMode::Optimal, true, "4294968", kMaximumReportIntervalSeconds * 1000LL},  // beyond what a timer holds, not wrapped round
    };
    for (const Case& test : cases) {
        context().rateMode = test.rateMode;
        context().cellMonitor->enabled = test.locationKnown ? 1 : 0;
        context().reportInterval = 300;
        if (test.serverSeconds != nullptr) Reply(ReportWithTimer(test.serverSeconds));
        Reply(kOneGroup);
        ArmedTimers().clear();
        RunReportCycle();
        EXPECT_EQ(test.expected, LastInterval(TIMER_REPORT))
            << "rate " << static_cast<int>(test.rateMode) << ", location " << test.locationKnown << ", timer "
            << (test.serverSeconds != nullptr ? test.serverSeconds : "-");
    }
}

TEST_F(TimerIntervals, AStatusMessageStaysForItsDuration) {
    Reply(kOneGroup);
    CreateRunningMain();
    for (unsigned duration : {5000u, 700u}) {
        GetDurations().statusMessageMs = duration;
        context().transport->serverAddress.sin_port = htons(pelmora_test::FakeServer::UnusedPort());
        ArmedTimers().clear();
        RunReportCycle();
        EXPECT_EQ(duration, LastInterval(TIMER_STATUS_MESSAGE)) << "the failed report's message";
        EXPECT_EQ(-1, LastInterval(TIMER_REPORT)) << "no report after a failed one";
    }
}

}  // namespace
