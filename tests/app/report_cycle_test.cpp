// The running program against the fake service: the report cycle and its failure count, the private
// hours fetching the groups again, the log-in renewal, and the visibility requests.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/private_hours.h"
#include "app/report_cycle.h"
#include "app/visibility_chooser.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "protocol/session_states.h"
#include "protocol/transport_state.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"
#include "tests/app/shell_fixture.h"

namespace {

class Running : public ServedShellTest {
protected:
    void SetUp() override {
        ServedShellTest::SetUp();
        SYSTEMTIME wednesdayNoon = MakeLocalTime(3, 12, 0);
        SetLocalClockForTesting(&wednesdayNoon);
        OpenSession();
        TakeFirstReading(context().cellMonitor);  // as the log-in does
        Reply(kOneGroup);  // the groups fetched right after the log-in
        CreateRunningMain();
        ASSERT_EQ((std::vector<std::string>{"ineed"}), RequestKinds());
    }
    std::wstring PlaceLine() { return TextOf(GetDlgItem(pane(kPaneMe), IDC_PLACE_LINE)); }
    void ReportFails() {
        Reply(kReportRefused);
        RunReportCycle();
    }
    void ReportSucceeds() {
        Reply(kReportAccepted);
        Reply(kOneGroup);
        RunReportCycle();
    }
};

TEST_F(Running, ASuccessInBetweenStartsTheFailureCountAgain) {
    ReportFails();
    ReportFails();
    EXPECT_EQ(2, context().reportFailures);
    ReportSucceeds();
    EXPECT_EQ(0, context().reportFailures);
    ReportFails();
    ReportFails();
    EXPECT_EQ(Visibility::Visible, context().visibility);
    ReportFails();
    EXPECT_EQ(Visibility::SwitchedOff, context().visibility);
    EXPECT_EQ(std::wstring(kTextIdleOffline), context().statusText)
        << "a refused report shows nothing of its own, so the idle text is back at once";
}

TEST_F(Running, OnlyASuccessfulReportArmsTheTimerAgainAndFetchesTheGroups) {
    ReportFails();
    EXPECT_FALSE(TakeTimer(TIMER_REPORT));
    EXPECT_EQ((std::vector<std::string>{"ineed", "isee"}), RequestKinds()) << "no groups after a failed report";

    ReportSucceeds();
    EXPECT_TRUE(TakeTimer(TIMER_REPORT));
    EXPECT_EQ(300, context().reportInterval);
    EXPECT_EQ(300000u, ReportTimerIntervalMs(context()));
    EXPECT_EQ((std::vector<std::string>{"ineed", "isee", "isee", "ineed"}), RequestKinds());
    EXPECT_EQ(1u, context().groups.size());
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
    EXPECT_EQ(L"Дом Лесная, д.3", PlaceLine()) << "the place of the reply on the Me tab";
}

TEST_F(Running, ATransferErrorStaysOnTheStatusLine) {
    context().transport->serverAddress.sin_port = htons(pelmora_test::FakeServer::UnusedPort());
    RunReportCycle();
    EXPECT_EQ(std::wstring(kTextTransferError), context().statusText);
    EXPECT_EQ(1, context().reportFailures);
}

TEST_F(Running, AFailedGroupsFetchAfterAGoodReportLeavesItsErrorForFiveSeconds) {
    std::string tooDeep = "<ineed>";
    for (int level = 0; level < 10000; ++level) tooDeep += "<a>";
    Reply(kReportAccepted);
    Reply(tooDeep);
    RunReportCycle();
    EXPECT_EQ((std::vector<std::string>{"ineed", "isee", "ineed"}), RequestKinds());
    EXPECT_TRUE(context().groups.empty());
    EXPECT_EQ(std::wstring(kTextTransferError), context().statusText);
    EXPECT_TRUE(TakeTimer(TIMER_STATUS_MESSAGE)) << "the idle text comes back with timer 202";
    EXPECT_TRUE(TakeTimer(TIMER_REPORT)) << "the next cycle is armed";
}

TEST_F(Running, TimerTwoHundredRunsTheReportCycle) {
    Reply(kReportAccepted);
    Reply(kOneGroup);
    Timer(TIMER_REPORT);
    EXPECT_EQ((std::vector<std::string>{"ineed", "isee", "ineed"}), RequestKinds());
    EXPECT_NE(std::string::npos, RequestBody(1).find("token=T0K&mnc="));
}

TEST_F(Running, NoGroupsAreFetchedInThePrivateHoursAndLeavingThemFetchesThem) {
    context().privateTime = 1;
    SYSTEMTIME wednesdayNight = MakeLocalTime(3, 0, 30);
    SetLocalClockForTesting(&wednesdayNight);
    Timer(TIMER_PRIVATE_HOURS);
    ASSERT_TRUE(context().inPrivateHours);
    EXPECT_TRUE(context().groups.empty());

    Reply(kReportAccepted);
    RunReportCycle();
    EXPECT_EQ((std::vector<std::string>{"ineed", "isee"}), RequestKinds()) << "the report goes on, the groups not";

    SYSTEMTIME wednesdayMorning = MakeLocalTime(3, 8, 0);
    SetLocalClockForTesting(&wednesdayMorning);
    Reply(kOneGroup);
    Timer(TIMER_PRIVATE_HOURS);
    EXPECT_FALSE(context().inPrivateHours);
    EXPECT_EQ((std::vector<std::string>{"ineed", "isee", "ineed"}), RequestKinds());
    EXPECT_EQ(1u, context().groups.size());
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
}

TEST_F(Running, AnExpiredSessionIsRenewedAndTheReportRepeated) {
    Reply(kLogInExpired);
    Reply(kHandshakeAccepted);
    Reply(kConfigurationVisibleToGroups);
    Reply(kReportAccepted);
    Reply(kOneGroup);
    RunReportCycle();
    EXPECT_EQ((std::vector<std::string>{"ineed", "isee", "hand", "config", "isee", "ineed"}), RequestKinds());
    EXPECT_EQ("T1", context().token) << "the new session's token";
    EXPECT_NE(std::string::npos, RequestBody(4).find("token=T1&"));
    EXPECT_FALSE(context().transport->renewingLogIn);
    EXPECT_TRUE(TakeTimer(TIMER_REPORT));
}

TEST_F(Running, ARefusalInsideTheRenewalStartsNoSecondRenewal) {
    Reply(kHandshakeAccepted);
    Reply(kLogInExpired);  // the configuration fetch of the renewal
    Reply(kLogInExpired);  // its report
    SendMessageW(main(), WM_PELMORA_RENEW_LOGIN, 0, 0);
    EXPECT_EQ((std::vector<std::string>{"ineed", "hand", "config", "isee"}), RequestKinds());
    EXPECT_FALSE(context().transport->renewingLogIn);
    EXPECT_EQ(1, context().reportFailures);
}

TEST_F(Running, AFailedRenewalSaysTheSessionCannotBeOpened) {
    server_.Push(pelmora_test::DroppedConnection());
    SendMessageW(main(), WM_PELMORA_RENEW_LOGIN, 0, 0);
    EXPECT_EQ((std::vector<std::string>{"ineed", "hand"}), RequestKinds());
    EXPECT_EQ(std::wstring(kTextCannotInitializeSession), context().statusText);
}

class Visibility : public Running {
protected:
    void Pick(::Visibility state) {
        ShowPane(kPaneVisibility, false);
        RECT client;
        GetClientRect(pane(kPaneVisibility), &client);
        const int row = client.bottom / 4;
        Tap(pane(kPaneVisibility), client.right / 2, static_cast<int>(state) * row + row / 2);
    }
};

TEST_F(Visibility, PickingTheStateInForceSendsNothing) {
    Pick(::Visibility::Visible);
    EXPECT_EQ(1u, server_.RequestCount());
}

TEST_F(Visibility, AnotherStateIsSentToTheServer) {
    Reply("<config><status>0</status></config>");
    Pick(::Visibility::VisibleToGroups);
    EXPECT_EQ((std::vector<std::string>{"ineed", "config"}), RequestKinds());
    EXPECT_EQ("token=T0K&config_visibilily=1", RequestBody(1));
    EXPECT_EQ(::Visibility::VisibleToGroups, context().visibility);
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
}

std::vector<std::pair<size_t, size_t>>& SizesSeen() {
    static std::vector<std::pair<size_t, size_t>> seen;  // requests received, groups held
    return seen;
}
const pelmora_test::FakeServer* watchedServer = nullptr;
WNDPROC originalGroupTabProc = nullptr;

LRESULT CALLBACK SizeRecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SIZE) SizesSeen().push_back({watchedServer->RequestCount(), GetAppContext()->groups.size()});
    return CallWindowProcW(originalGroupTabProc, window, message, wParam, lParam);
}

TEST_F(Visibility, InvisibleEmptiesTheGroupsBeforeTheRequest) {
    ASSERT_EQ(1u, context().groups.size());
    SizesSeen().clear();
    watchedServer = &server_;
    originalGroupTabProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(pane(kPaneGroups), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SizeRecordingProc)));
    Reply("<config><status>0</status></config>");
    Pick(::Visibility::Invisible);
    SetWindowLongPtrW(pane(kPaneGroups), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(originalGroupTabProc));

    ASSERT_FALSE(SizesSeen().empty());
    EXPECT_EQ(1u, SizesSeen().front().first) << "the group tab learns of the empty groups before the request";
    EXPECT_EQ(0u, SizesSeen().front().second);
    EXPECT_EQ("token=T0K&config_visibilily=2", RequestBody(1));
}

TEST_F(Visibility, SwitchingOffStopsTheWorkerAndSendsNothing) {
    ASSERT_TRUE(IsCellSamplerRunning(context().cellMonitor));
    ASSERT_NE(L"", PlaceLine());
    Pick(::Visibility::SwitchedOff);
    EXPECT_EQ(L"", PlaceLine()) << "no place while switched off";
    EXPECT_EQ(1u, server_.RequestCount());
    EXPECT_FALSE(IsCellSamplerRunning(context().cellMonitor));
    EXPECT_FALSE(TakeTimer(TIMER_REPORT));
    EXPECT_TRUE(context().groups.empty());
    EXPECT_EQ(std::wstring(kTextIdleOffline), context().statusText);
}

TEST_F(Visibility, LeavingSwitchedOffReportsAtOnceAndStartsTheWorkerAgain) {
    Pick(::Visibility::SwitchedOff);
    Reply(kReportAccepted);
    Reply(kOneGroup);
    Reply("<config><status>0</status></config>");
    Pick(::Visibility::Visible);
    EXPECT_EQ((std::vector<std::string>{"ineed", "isee", "ineed", "config"}), RequestKinds());
    EXPECT_EQ("token=T0K&config_visibilily=0", RequestBody(3));
    EXPECT_TRUE(IsCellSamplerRunning(context().cellMonitor));
    EXPECT_TRUE(TakeTimer(TIMER_REPORT)) << "the periodic report runs again";
    EXPECT_EQ(1u, context().groups.size());
}

TEST_F(Visibility, LeavingASwitchOffByFailedReportsKeepsTheOneWorker) {
    ReportFails();
    ReportFails();
    ReportFails();
    ASSERT_EQ(::Visibility::SwitchedOff, context().visibility);
    const HANDLE worker = context().cellMonitor->worker;
    ASSERT_NE(nullptr, worker);
    ASSERT_TRUE(IsCellSamplerRunning(context().cellMonitor));

    Reply(kReportAccepted);
    Reply(kOneGroup);
    Reply("<config><status>0</status></config>");
    Pick(::Visibility::VisibleToGroups);
    EXPECT_EQ(worker, context().cellMonitor->worker) << "the running worker is kept, no second one started";
    EXPECT_TRUE(IsCellSamplerRunning(context().cellMonitor));
    EXPECT_EQ(::Visibility::VisibleToGroups, context().visibility);
}

// Three failures in a row switch the user off once; the user may switch on again while reports
// keep failing, and the fourth, fifth... failure leaves that choice alone. A success starts the
// count again.
TEST_F(Visibility, OnlyTheThirdFailureInARowSwitchesOff) {
    enum Step { Fail, Succeed, SwitchOnWithAFailingReport };
    struct Case {
        Step step;
        int failures;
        ::Visibility visibility;
    };
    const Case steps[] = {
        {Fail, 1, ::Visibility::Visible},
        {Fail, 2, ::Visibility::Visible},
        {Fail, 3, ::Visibility::SwitchedOff},
        {SwitchOnWithAFailingReport, 4, ::Visibility::Visible},
        {Fail, 5, ::Visibility::Visible},
        {Fail, 6, ::Visibility::Visible},
        {Succeed, 0, ::Visibility::Visible},
        {Fail, 1, ::Visibility::Visible},
        {Fail, 2, ::Visibility::Visible},
        {Fail, 3, ::Visibility::SwitchedOff},
    };
    int number = 0;
    for (const Case& test : steps) {
        ++number;
        switch (test.step) {
        case Fail:
            ReportFails();
            break;
        case Succeed:
            ReportSucceeds();
            break;
        case SwitchOnWithAFailingReport:
            Reply(kReportRefused);
            Reply("<config><status>0</status></config>");
            Pick(::Visibility::Visible);
            break;
        }
        EXPECT_EQ(test.failures, context().reportFailures) << "step " << number;
        EXPECT_EQ(test.visibility, context().visibility) << "step " << number;
    }
}

// Leaving "Не виден" or "Отключен" reports at once, before the new state is sent, with the worker
// running (started when it was not) for every state but "Отключен".
TEST_F(Visibility, LeavingInvisibleOrSwitchedOffReportsFirstWithTheWorkerRunning) {
    const char kAccepted[] = "<config><status>0</status></config>";
    struct Case {
        ::Visibility from;
        bool workerStopped;
        ::Visibility to;
        std::vector<std::string> kinds;
    };
    const Case cases[] = {
        {::Visibility::Invisible, false, ::Visibility::Visible, {"isee", "ineed", "config"}},
        {::Visibility::Invisible, false, ::Visibility::VisibleToGroups, {"isee", "ineed", "config"}},
        {::Visibility::Invisible, true, ::Visibility::Visible, {"isee", "ineed", "config"}},
        {::Visibility::Invisible, false, ::Visibility::SwitchedOff, {"isee", "ineed"}},
        {::Visibility::SwitchedOff, false, ::Visibility::Visible, {"isee", "ineed", "config"}},
        {::Visibility::SwitchedOff, false, ::Visibility::VisibleToGroups, {"isee", "ineed", "config"}},
        {::Visibility::SwitchedOff, false, ::Visibility::Invisible, {"isee", "ineed", "config"}},
    };
    for (const Case& test : cases) {
        const std::string name = std::to_string(static_cast<int>(test.from)) + " to " + std::to_string(static_cast<int>(test.to)) +
                                 (test.workerStopped ? " without the worker" : "");
        if (test.from != ::Visibility::SwitchedOff) Reply(kAccepted);
        Pick(test.from);
        ASSERT_EQ(test.from, context().visibility) << name;
        if (test.workerStopped) StopCellSampler(context().cellMonitor);
        ASSERT_EQ(test.from != ::Visibility::SwitchedOff && !test.workerStopped,
                  IsCellSamplerRunning(context().cellMonitor))
            << name;

        const size_t before = server_.RequestCount();
        Reply(kReportAccepted);
        Reply(kOneGroup);
        if (test.to != ::Visibility::SwitchedOff) Reply(kAccepted);
        Pick(test.to);
        std::vector<std::string> kinds = RequestKinds();
        kinds.erase(kinds.begin(), kinds.begin() + static_cast<std::ptrdiff_t>(before));
        EXPECT_EQ(test.kinds, kinds) << name;
        EXPECT_EQ(test.to, context().visibility) << name;
        EXPECT_EQ(test.to != ::Visibility::SwitchedOff, IsCellSamplerRunning(context().cellMonitor)) << name;
        EXPECT_EQ(test.to != ::Visibility::SwitchedOff, TakeTimer(TIMER_REPORT)) << name << ": the periodic report";

        // Back to "Виден" for the next case, through the report that leaving either state makes.
        if (test.to == ::Visibility::Visible) continue;
        if (test.to == ::Visibility::Invisible || test.to == ::Visibility::SwitchedOff) {
            Reply(kReportAccepted);
            Reply(kOneGroup);
        }
        Reply(kAccepted);
        Pick(::Visibility::Visible);
        ASSERT_EQ(::Visibility::Visible, context().visibility) << name;
    }
}

}  // namespace
