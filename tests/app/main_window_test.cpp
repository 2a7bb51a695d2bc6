// The main window: its place on the screen, the panes and their switching, the keys, the report
// cycle and its timer, the private hours, and the log-in renewal.
#include <windows.h>

#include "app/private_hours.h"
#include "app/report_cycle.h"
#include "app/status_line.h"
#include "app/visibility_chooser.h"
#include "location/cell_monitor.h"
#include "protocol/session_states.h"
#include "protocol/transport_state.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"
#include "tests/app/shell_fixture.h"

namespace {

using MainWindow = ShellTest;

LOGFONTW FontOf(HFONT font) {
    LOGFONTW description = {};
    GetObjectW(font, sizeof(description), &description);
    return description;
}

TEST_F(MainWindow, FillsTheScreenAboveTheMenuBarWithTheLoginWindowOverIt) {
    CreateMain();
    RECT frame;
    GetWindowRect(main(), &frame);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const int height = screenHeight - 26 * s() - GetSystemMetrics(SM_CYEDGE) - 1;
    EXPECT_EQ(0, frame.left);
    EXPECT_EQ(0, frame.top);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), frame.right);
    EXPECT_EQ(height, frame.bottom);

    const RECT& content = context().contentRect;
    EXPECT_EQ(0, content.left);
    EXPECT_EQ(5 * s(), content.top);
    EXPECT_EQ(frame.right, content.right);
    EXPECT_EQ(height - 15 * s(), content.bottom);

    const RECT form = BoundsInParent(login());
    EXPECT_EQ(0, form.left);
    EXPECT_EQ(0, form.top);
    EXPECT_EQ(frame.right, form.right);
    EXPECT_EQ(height - 16 * s(), form.bottom);

    wchar_t className[32] = {};
    GetClassNameW(main(), className, 32);
    EXPECT_STREQ(L"PelMainWnd", className);
    EXPECT_EQ(std::wstring(kTextProductName), TextOf(main()));
    EXPECT_TRUE(context().loginPhase);
    EXPECT_EQ(Visibility::Visible, context().visibility);
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
    EXPECT_EQ(GetSystemMetrics(SM_CXBORDER), context().borderX);
    EXPECT_EQ(GetSystemMetrics(SM_CYBORDER), context().borderY);
}

TEST_F(MainWindow, CreatesTheSixFontsThePenAndTheVisibilityStates) {
    CreateMain();
    struct Expected {
        HFONT font;
        int height;
        int weight;
        bool italic;
        bool underline;
    };
    const Expected fonts[] = {
        {context().fontHeading, 16, FW_BOLD, false, false}, {context().fontBold, 14, FW_BOLD, false, false},
        {context().fontLink, 14, FW_NORMAL, false, true},   {context().fontNormal, 14, FW_NORMAL, false, false},
        {context().fontSmall, 11, FW_NORMAL, false, false}, {context().fontLogo, 20, FW_BOLD, true, false},
    };
    for (const Expected& expected : fonts) {
        ASSERT_NE(nullptr, expected.font);
        const LOGFONTW font = FontOf(expected.font);
        EXPECT_STREQ(L"Tahoma", font.lfFaceName);
        EXPECT_EQ(expected.height * s(), font.lfHeight);
        EXPECT_EQ(expected.weight, font.lfWeight);
        EXPECT_EQ(expected.italic, font.lfItalic != 0);
        EXPECT_EQ(expected.underline, font.lfUnderline != 0);
        EXPECT_EQ(ANTIALIASED_QUALITY, font.lfQuality);
    }
    LOGPEN pen = {};
    ASSERT_NE(0, GetObjectW(context().nullPen, sizeof(pen), &pen));
    EXPECT_EQ(static_cast<UINT>(PS_NULL), pen.lopnStyle);

    const wchar_t* titles[] = {L"Виден", L"Виден группам", L"Не виден", L"Отключен"};
    for (int state = 0; state < kVisibilityStateCount; ++state) {
        const VisibilityState& entry = context().visibilityStates[state];
        EXPECT_NE(nullptr, entry.icon) << "state " << state;
        EXPECT_STREQ(titles[state], entry.title);
        EXPECT_NE(nullptr, entry.description);
    }
}

TEST_F(MainWindow, AfterLogInCreatesThePanesBetweenHeaderAndStatusLineAndArmsTheTimers) {
    CreateRunningMain();
    EXPECT_FALSE(context().loginPhase);
    EXPECT_FALSE(IsWindowVisible(login()));
    ASSERT_NE(nullptr, context().loginMenuBar);
    EXPECT_FALSE(IsWindowVisible(context().loginMenuBar));

    const wchar_t* classes[kPaneCount] = {L"PelAITabWnd", L"PelGroupTabWnd", L"PelConfigTabWnd",
                                          L"StateWnd",    L"PelGroupListTabWnd", L"PelPlaceWnd"};
    RECT client;
    GetClientRect(main(), &client);
    for (int index = 0; index < kPaneCount; ++index) {
        HWND window = pane(index);
        ASSERT_NE(nullptr, window) << "pane " << index;
        wchar_t className[32] = {};
        GetClassNameW(window, className, 32);
        EXPECT_STREQ(classes[index], className);
        EXPECT_EQ(main(), GetParent(window));
        const RECT bounds = BoundsInParent(window);
        EXPECT_EQ(context().borderX, bounds.left) << "pane " << index;
        EXPECT_EQ(25 * s() + context().borderY, bounds.top) << "pane " << index;
        EXPECT_EQ(client.right - 2 * context().borderX, bounds.right - bounds.left) << "pane " << index;
        EXPECT_EQ(client.bottom - 40 * s() - 2 * context().borderY, bounds.bottom - bounds.top) << "pane " << index;
        EXPECT_EQ(index == kPaneMe, IsWindowVisible(window) != FALSE) << "pane " << index;
    }
    EXPECT_STREQ(L"Я", context().panes[0].caption);
    EXPECT_STREQ(L"Группы", context().panes[1].caption);
    EXPECT_STREQ(L"Настр", context().panes[2].caption);
    for (int index = 3; index < kPaneCount; ++index) EXPECT_EQ(nullptr, context().panes[index].caption);
    EXPECT_EQ(kPaneMe, context().currentPane);
    EXPECT_EQ(kPaneMe, context().selectedTab);
    EXPECT_EQ(0, context().reportFailures);
    EXPECT_TRUE(TakeTimer(TIMER_REPORT));
    EXPECT_TRUE(TakeTimer(TIMER_PRIVATE_HOURS));

    // The panes follow the main window when it changes size.
    MoveWindow(main(), 0, 0, 200 * s(), 250 * s(), TRUE);
    const RECT moved = BoundsInParent(pane(kPaneGroups));
    EXPECT_EQ(200 * s() - 2 * context().borderX, moved.right - moved.left);
    EXPECT_EQ(250 * s() - 40 * s() - 2 * context().borderY, moved.bottom - moved.top);
    EXPECT_EQ(250 * s() - 15 * s(), context().contentRect.bottom);
}

TEST_F(MainWindow, ShowPaneSwapsPanesWithTheirMenuBarsAndReturnsToTheSelectedTab) {
    CreateRunningMain();
    HWND chooserBar = context().panes[kPaneVisibility].menuBar;
    ASSERT_NE(nullptr, chooserBar);
    EXPECT_FALSE(IsWindowVisible(chooserBar));

    ShowPane(kPaneGroups, true);
    ShowPane(kPaneVisibility, false);
    EXPECT_EQ(kPaneVisibility, context().currentPane);
    EXPECT_EQ(kPaneGroups, context().selectedTab) << "the header keeps marking the tab the chooser came from";
    EXPECT_TRUE(IsWindowVisible(pane(kPaneVisibility)));
    EXPECT_TRUE(IsWindowVisible(chooserBar));
    EXPECT_FALSE(IsWindowVisible(pane(kPaneGroups)));
    EXPECT_EQ(main(), GetFocus());

    ReturnToSelectedTab();
    EXPECT_EQ(kPaneGroups, context().currentPane);
    EXPECT_FALSE(IsWindowVisible(pane(kPaneVisibility)));
    EXPECT_FALSE(IsWindowVisible(chooserBar));
    EXPECT_TRUE(IsWindowVisible(pane(kPaneGroups)));
}

TEST_F(MainWindow, LeftAndRightWalkAllThreeTabsInARing) {
    CreateRunningMain();
    Key(VK_LEFT);
    EXPECT_EQ(kPaneConfiguration, context().selectedTab);
    EXPECT_EQ(kPaneConfiguration, context().currentPane);
    Key(VK_RIGHT);
    EXPECT_EQ(kPaneMe, context().selectedTab);
    Key(VK_RIGHT);
    EXPECT_EQ(kPaneGroups, context().selectedTab);
    Key(VK_LEFT);
    EXPECT_EQ(kPaneMe, context().selectedTab);

    // Also with the two tabs of an account without groups.
    context().accountMode = static_cast<AccountMode>(2);
    Key(VK_RIGHT);
    EXPECT_EQ(kPaneGroups, context().currentPane);
}

TEST_F(MainWindow, ArrowKeysDoNothingDuringTheLogIn) {
    CreateMain();
    Key(VK_LEFT);
    Key(VK_RIGHT);
    EXPECT_EQ(kPaneMe, context().selectedTab);
    EXPECT_EQ(kPaneMe, context().currentPane);
}

std::vector<WPARAM>& ForwardedKeys() {
    static std::vector<WPARAM> keys;
    return keys;
}
WNDPROC originalPaneProc = nullptr;

LRESULT CALLBACK RecordingPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN) ForwardedKeys().push_back(wParam);
    return CallWindowProcW(originalPaneProc, window, message, wParam, lParam);
}

TEST_F(MainWindow, EnterUpAndDownGoToTheCurrentPane) {
    CreateRunningMain();
    ShowPane(kPaneGroups, true);
    ForwardedKeys().clear();
    originalPaneProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(pane(kPaneGroups), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingPaneProc)));
    Key(VK_UP);
    Key(VK_DOWN);
    Key(VK_RETURN);
    Key(VK_LEFT);
    SetWindowLongPtrW(pane(kPaneGroups), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(originalPaneProc));
    EXPECT_EQ((std::vector<WPARAM>{VK_UP, VK_DOWN, VK_RETURN}), ForwardedKeys());
}

TEST_F(MainWindow, LeavingUnsavedSettingsAsksOnceAndNoRestoresTheStoredValues) {
    CreateRunningMain();
    ShowPane(kPaneConfiguration, true);
    HWND autoLogIn = GetDlgItem(pane(kPaneConfiguration), IDC_CONFIG_AUTO_LOGIN);
    ASSERT_EQ(BST_UNCHECKED, SendMessageW(autoLogIn, BM_GETCHECK, 0, 0));
    SendMessageW(autoLogIn, BM_CLICK, 0, 0);
    ASSERT_EQ(BST_CHECKED, SendMessageW(autoLogIn, BM_GETCHECK, 0, 0));
    ASSERT_TRUE(context().settingsDirty);
    AnswerQuestionsWith(IDNO);
    Key(VK_RIGHT);
    EXPECT_EQ(BST_UNCHECKED, SendMessageW(autoLogIn, BM_GETCHECK, 0, 0)) << "No puts the stored value back";
    EXPECT_FALSE(context().autoLogIn);
    ASSERT_EQ(1u, questions_.size());
    EXPECT_EQ(main(), questions_[0].owner);
    EXPECT_EQ(std::wstring(kTextUnsavedSettings), questions_[0].text);
    EXPECT_EQ(std::wstring(kTextAttentionCaption), questions_[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION), questions_[0].flags);
    EXPECT_FALSE(context().settingsDirty);
    EXPECT_EQ(kPaneMe, context().currentPane);

    Key(VK_LEFT);
    Key(VK_LEFT);
    EXPECT_EQ(1u, questions_.size()) << "nothing left unsaved, nothing asked";

    // Only the configuration tab asks.
    context().settingsDirty = true;
    ShowPane(kPaneGroups, true);
    EXPECT_EQ(1u, questions_.size());
}

TEST_F(MainWindow, TheReportIntervalFollowsTheServerWithinLimits) {
    CreateMain();
    context().reportInterval = 45;
    EXPECT_EQ(45000u, ReportTimerIntervalMs(context()));
    context().reportInterval = 0;
    EXPECT_EQ(30000u, ReportTimerIntervalMs(context())) << "a zero interval would report without pause";
    context().reportInterval = -7;
    EXPECT_EQ(30000u, ReportTimerIntervalMs(context()));
    context().reportInterval = 29;
    EXPECT_EQ(30000u, ReportTimerIntervalMs(context()));
    context().reportInterval = 2147483;
    EXPECT_EQ(2147483000u, ReportTimerIntervalMs(context()));
    context().reportInterval = 4294968;
    EXPECT_EQ(2147483000u, ReportTimerIntervalMs(context())) << "4294968000 ms would wrap to 704 ms";
    context().reportInterval = 2147483647;
    EXPECT_EQ(2147483000u, ReportTimerIntervalMs(context()));

    context().reportInterval = 45;
    context().rateMode = RateMode::CellChange;
    EXPECT_EQ(900000u, ReportTimerIntervalMs(context()));
    context().rateMode = RateMode::Optimal;
    context().cellMonitor->enabled = 0;
    EXPECT_EQ(900000u, ReportTimerIntervalMs(context()));
}

TEST_F(MainWindow, ThreeFailedReportsInARowSwitchTheUserOff) {
    CreateRunningMain();
    TakeTimer(TIMER_REPORT);
    Timer(TIMER_REPORT);
    EXPECT_EQ(1, context().reportFailures);
    EXPECT_FALSE(TakeTimer(TIMER_REPORT)) << "after a failure the report waits for another caller";
    EXPECT_NE(std::wstring(kTextTransfer), context().statusText) << "no transfer is under way any more";
    RunReportCycle();
    EXPECT_EQ(Visibility::Visible, context().visibility);
    RunReportCycle();
    EXPECT_EQ(3, context().reportFailures);
    EXPECT_EQ(Visibility::SwitchedOff, context().visibility);
    Timer(TIMER_STATUS_MESSAGE);
    EXPECT_EQ(std::wstring(kTextIdleOffline), context().statusText);
}

TEST_F(MainWindow, StatusMessagesEndWithTimer202) {
    CreateRunningMain();
    ShowStatusMessage(kTextTransferError, 5000);
    EXPECT_EQ(std::wstring(kTextTransferError), context().statusText);
    Timer(TIMER_STATUS_MESSAGE);
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
    EXPECT_FALSE(TakeTimer(TIMER_STATUS_MESSAGE)) << "restoring the idle text ends the message's timer";
}

TEST(PrivateHours, AreEveningsNightsAndWeekends) {
    EXPECT_TRUE(IsPrivateTime(MakeLocalTime(3, 0, 30)));
    EXPECT_TRUE(IsPrivateTime(MakeLocalTime(3, 7, 59)));
    EXPECT_FALSE(IsPrivateTime(MakeLocalTime(3, 8, 0)));
    EXPECT_FALSE(IsPrivateTime(MakeLocalTime(5, 17, 59)));
    EXPECT_TRUE(IsPrivateTime(MakeLocalTime(5, 18, 0)));
    EXPECT_TRUE(IsPrivateTime(MakeLocalTime(6, 12, 0)));
    EXPECT_TRUE(IsPrivateTime(MakeLocalTime(0, 12, 0)));
    EXPECT_FALSE(IsPrivateTime(MakeLocalTime(1, 12, 0)));
}

Group MakeGroup(int id) {
    Group group;
    group.id = id;
    group.title = L"Друзья (1)";
    Person person;
    person.id = 7;
    person.name = L"Иван: ";
    group.people.push_back(person);
    return group;
}

TEST_F(MainWindow, Timer203EntersAndLeavesThePrivateHoursByTheClock) {
    CreateRunningMain();
    context().privateTime = 1;
    context().groups.push_back(MakeGroup(5));

    SYSTEMTIME wednesdayNight = MakeLocalTime(3, 0, 30);
    SetLocalClockForTesting(&wednesdayNight);
    Timer(TIMER_PRIVATE_HOURS);
    EXPECT_TRUE(context().inPrivateHours);
    EXPECT_TRUE(context().groups.empty()) << "the groups are not shown in the private hours";

    SYSTEMTIME wednesdayMorning = MakeLocalTime(3, 8, 0);
    SetLocalClockForTesting(&wednesdayMorning);
    Timer(TIMER_PRIVATE_HOURS);
    EXPECT_FALSE(context().inPrivateHours);
    EXPECT_NE(std::wstring(kTextTransfer), context().statusText);

    SYSTEMTIME saturdayNoon = MakeLocalTime(6, 12, 0);
    SetLocalClockForTesting(&saturdayNoon);
    Timer(TIMER_PRIVATE_HOURS);
    EXPECT_TRUE(context().inPrivateHours);
}

TEST_F(MainWindow, Timer203DoesNothingWhenThePrivateHoursAreNotWanted) {
    CreateRunningMain();
    context().privateTime = 0;
    context().groups.push_back(MakeGroup(5));
    SYSTEMTIME wednesdayNight = MakeLocalTime(3, 0, 30);
    SetLocalClockForTesting(&wednesdayNight);
    Timer(TIMER_PRIVATE_HOURS);
    EXPECT_FALSE(context().inPrivateHours);
    EXPECT_EQ(1u, context().groups.size());
}

TEST_F(MainWindow, ALogInRenewalThatFailsSaysSoAndEndsTheRenewal) {
    CreateRunningMain();
    SendMessageW(main(), WM_PELMORA_RENEW_LOGIN, 0, 0);
    EXPECT_EQ(std::wstring(kTextCannotInitializeSession), context().statusText);
    EXPECT_FALSE(context().transport->renewingLogIn);
}

TEST_F(MainWindow, NoRenewalStartsInsideARenewalOrDuringTheLogIn) {
    CreateRunningMain();
    ShowIdleStatus();
    context().transport->renewingLogIn = true;
    SendMessageW(main(), WM_PELMORA_RENEW_LOGIN, 0, 0);
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
    EXPECT_TRUE(context().transport->renewingLogIn);
    context().transport->renewingLogIn = false;

    context().loginPhase = true;
    SendMessageW(main(), WM_PELMORA_RENEW_LOGIN, 0, 0);
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
}

}  // namespace
