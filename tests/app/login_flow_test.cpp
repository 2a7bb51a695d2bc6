// The log-in against the fake service: the requests it makes, the settings it writes, and the state
// each failure leaves.
#include <windows.h>
#include <commctrl.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "app/login_window.h"
#include "app/main_window.h"
#include "app/private_hours.h"
#include "platform/text_conversion.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/msxml_reader.h"

namespace {

// md5 of "пароль" in Windows-1251, the phone's ANSI code page.
constexpr char kCyrillicPasswordHash[] = "749789e4982b0c563f6729aac100a614";
constexpr char kStoredHash[] = "0123456789abcdef0123456789abcdef";

class LoginFlow : public ServedShellTest {
protected:
    void TypeCredentials(const std::wstring& address, const std::wstring& password) {
        SetFocus(loginControl(IDC_LOGIN_EMAIL));
        Type(loginControl(IDC_LOGIN_EMAIL), address);
        SetFocus(loginControl(IDC_LOGIN_PASSWORD));
        Type(loginControl(IDC_LOGIN_PASSWORD), password);
    }
    void TickAutomaticLogIn(bool on) {
        SendMessageW(loginControl(IDC_LOGIN_AUTO), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    // What settings.xml holds after a log-in with automatic log-in on.
    void StoreCredentials() {
        context().autoLogIn = true;
        context().userId = "anna@example.ru";
        context().passHash = kStoredHash;
    }
    void PressLogIn() { Command(login(), IDC_LOGIN_BUTTON, BN_CLICKED); }
    int Progress() { return static_cast<int>(SendMessageW(loginControl(IDC_LOGIN_PROGRESS), PBM_GETPOS, 0, 0)); }
    bool FormEnabled() {
        for (int id : {IDC_LOGIN_EMAIL, IDC_LOGIN_PASSWORD, IDC_LOGIN_BUTTON, IDC_LOGIN_AUTO}) {
            if (!IsWindowEnabled(loginControl(id))) return false;
        }
        return true;
    }
    std::string SettingsFile() {
        std::ifstream file(settingsPath_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    bool SettingsWritten() { return GetFileAttributesA(settingsPath_.c_str()) != INVALID_FILE_ATTRIBUTES; }
    // The "user_id" field of request `index` exactly as it went over the wire.
    std::string SentUserId(size_t index) {
        const std::string body = RequestBody(index);
        const size_t start = body.find("user_id=");
        if (start == std::string::npos) return "(none)";
        return body.substr(start, body.find('&', start) - start);
    }
};

TEST_F(LoginFlow, ASuccessfulLogInEndsTheLoginLoopWithCodeOne) {
    SYSTEMTIME wednesdayNight = MakeLocalTime(3, 0, 30);
    SetLocalClockForTesting(&wednesdayNight);
    Reply(kHandshakeAccepted);
    Reply(kConfigurationVisibleToGroups);
    Reply(kReportAccepted);
    CreateMain();
    TypeCredentials(L"anna@example.ru", L"пароль");
    TickAutomaticLogIn(true);
    PressLogIn();

    EXPECT_TRUE(TakeQuit(kQuitLoginSucceeded));
    EXPECT_EQ((std::vector<std::string>{"hand", "config", "isee"}), RequestKinds());
    EXPECT_NE(std::string::npos,
              RequestBody(0).find(std::string("user_id=anna@example.ru&auth=") + kCyrillicPasswordHash));
    EXPECT_EQ("anna@example.ru", context().userId);
    EXPECT_EQ(kCyrillicPasswordHash, context().passHash);
    EXPECT_EQ("T1", context().token);
    EXPECT_EQ(4, Progress());
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
    EXPECT_EQ(Visibility::VisibleToGroups, context().visibility) << "the configuration is applied";
    EXPECT_TRUE(context().inPrivateHours) << "a log-in at night with the private hours wanted";
    EXPECT_EQ(L"Дом", context().placeMark.title);

    EXPECT_TRUE(context().autoLogIn);
    const std::string settings = SettingsFile();
    EXPECT_NE(std::string::npos, settings.find("<AutoLogIn>1</AutoLogIn>"));
    EXPECT_NE(std::string::npos, settings.find("<UserID>anna@example.ru</UserID>"));
    EXPECT_NE(std::string::npos, settings.find(std::string("<PassHash>") + kCyrillicPasswordHash + "</PassHash>"));
}

TEST_F(LoginFlow, AnAccountWithoutGroupsFetchesNoConfigurationAndReportsEveryFifteenMinutes) {
    Reply("<handshake><status>0</status><token>T1</token><mode>2</mode></handshake>");
    Reply(kReportAccepted);
    CreateMain();
    TypeCredentials(L"anna@example.ru", L"x");
    PressLogIn();
    EXPECT_TRUE(TakeQuit(kQuitLoginSucceeded));
    EXPECT_EQ((std::vector<std::string>{"hand", "isee"}), RequestKinds());
    EXPECT_EQ(static_cast<AccountMode>(2), context().accountMode);
    EXPECT_EQ(RateMode::CellChange, context().rateMode);
}

TEST_F(LoginFlow, AFailedHandshakeWritesNothing) {
    server_.Push(pelmora_test::DroppedConnection());
    CreateMain();
    TypeCredentials(L"anna@example.ru", L"x");
    TickAutomaticLogIn(true);
    PressLogIn();
    EXPECT_FALSE(TakeQuit(kQuitLoginSucceeded));
    EXPECT_EQ(std::wstring(kTextTransferError), context().statusText);
    EXPECT_TRUE(FormEnabled());
    EXPECT_EQ(0, Progress());
    EXPECT_FALSE(SettingsWritten());
    EXPECT_FALSE(context().autoLogIn) << "the check box counts only after a handshake";
}

TEST_F(LoginFlow, ARefusedUserIsToldAndTheFormComesBack) {
    Reply("<handshake><status>1</status></handshake>");
    CreateMain();
    TypeCredentials(L"anna@example.ru", L"x");
    PressLogIn();
    ASSERT_EQ(1u, questions_.size());
    EXPECT_EQ(std::wstring(kTextUnknownUser), questions_[0].text);
    EXPECT_EQ(std::wstring(kTextTransferError), context().statusText);
    EXPECT_TRUE(FormEnabled());
    EXPECT_FALSE(SettingsWritten());
}

TEST_F(LoginFlow, AFailedConfigurationFetchLeavesTheSettingsWritten) {
    Reply(kHandshakeAccepted);
    server_.Push(pelmora_test::DroppedConnection());
    CreateMain();
    TypeCredentials(L"anna@example.ru", L"x");
    TickAutomaticLogIn(true);
    PressLogIn();
    EXPECT_FALSE(TakeQuit(kQuitLoginSucceeded));
    EXPECT_EQ((std::vector<std::string>{"hand", "config"}), RequestKinds());
    EXPECT_EQ(std::wstring(kTextTransferError), context().statusText);
    EXPECT_TRUE(FormEnabled());
    EXPECT_EQ(0, Progress());
    EXPECT_TRUE(context().autoLogIn);
    EXPECT_NE(std::string::npos, SettingsFile().find("<AutoLogIn>1</AutoLogIn>"));
}

TEST_F(LoginFlow, AFailedFirstReportLeavesSettingsAndConfiguration) {
    Reply(kHandshakeAccepted);
    Reply(kConfigurationVisibleToGroups);
    Reply(kReportRefused);
    CreateMain();
    TypeCredentials(L"anna@example.ru", L"x");
    PressLogIn();
    EXPECT_FALSE(TakeQuit(kQuitLoginSucceeded));
    EXPECT_EQ((std::vector<std::string>{"hand", "config", "isee"}), RequestKinds());
    EXPECT_EQ(std::wstring(kTextTransferError), context().statusText);
    EXPECT_TRUE(FormEnabled());
    EXPECT_TRUE(SettingsWritten());
    EXPECT_EQ(Visibility::VisibleToGroups, context().visibility) << "the configuration stays applied";
}

TEST_F(LoginFlow, TheAutomaticLogInUsesTheStoredCredentialsUntilTheUserTypesAPassword) {
    StoreCredentials();
    Reply("<handshake><status>1</status></handshake>");
    Reply("<handshake><status>1</status></handshake>");
    CreateMain();
    PressLogIn();
    ASSERT_EQ(1u, server_.RequestCount());
    EXPECT_NE(std::string::npos, RequestBody(0).find(std::string("&auth=") + kStoredHash));
    ASSERT_TRUE(FormEnabled());

    // The refusal asked for the address and password again: what the user types now is used.
    SetFocus(loginControl(IDC_LOGIN_PASSWORD));
    Type(loginControl(IDC_LOGIN_PASSWORD), L"пароль");
    PressLogIn();
    ASSERT_EQ(2u, server_.RequestCount());
    EXPECT_NE(std::string::npos, RequestBody(1).find(std::string("&auth=") + kCyrillicPasswordHash));
}

TEST_F(LoginFlow, UntickingAutomaticLogInCountsOnlyAfterASuccessfulHandshake) {
    StoreCredentials();
    server_.Push(pelmora_test::DroppedConnection());
    Reply(kHandshakeAccepted);
    Reply(kConfigurationVisibleToGroups);
    Reply(kReportAccepted);
    CreateMain();
    TickAutomaticLogIn(false);
    PressLogIn();
    EXPECT_TRUE(context().autoLogIn);
    EXPECT_FALSE(SettingsWritten());
    PressLogIn();
    EXPECT_TRUE(TakeQuit(kQuitLoginSucceeded));
    EXPECT_FALSE(context().autoLogIn);
    const std::string settings = SettingsFile();
    EXPECT_NE(std::string::npos, settings.find("<AutoLogIn>0</AutoLogIn>"));
    EXPECT_EQ(std::string::npos, settings.find(kStoredHash)) << "no hash is kept without automatic log-in";
}

TEST_F(LoginFlow, ACyrillicAddressTypedOnTheFormIsSentAgainByTheNextStartsAutomaticLogIn) {
    for (const wchar_t* address : {L"иван@почта.рф", L"ольга@школа.москва", L"пётр@хутор.рп", L"вера@москва.мир"}) {
        const std::string label = WideToUtf8(address);
        for (int start = 0; start < 2; ++start) {
            Reply(kHandshakeAccepted);
            Reply(kConfigurationVisibleToGroups);
            Reply(kReportAccepted);
        }
        const size_t first = server_.RequestCount();
        CreateMain();
        TypeCredentials(address, L"пароль");
        TickAutomaticLogIn(true);
        PressLogIn();
        ASSERT_TRUE(TakeQuit(kQuitLoginSucceeded)) << label;
        EXPECT_EQ("user_id=" + WideToAnsi(address), SentUserId(first)) << label << ": the phone's code page";

        const pelmora_test::MsxmlReading other = pelmora_test::ReadWithMsxml(AnsiToWide(settingsPath_));
        EXPECT_TRUE(other.accepted) << label << ": " << WideToUtf8(other.error);
        EXPECT_EQ(address, other.accepted ? other.childTexts.at(L"UserID") : L"") << label;

        StartAgain();
        ASSERT_TRUE(context().autoLogIn) << label;
        CreateMain();
        EXPECT_EQ(address, TextOf(loginControl(IDC_LOGIN_EMAIL))) << label;
        PressLogIn();  // what the automatic log-in's posted click does
        ASSERT_TRUE(TakeQuit(kQuitLoginSucceeded)) << label;
        ASSERT_EQ(first + 6, server_.RequestCount()) << label;
        EXPECT_EQ(SentUserId(first), SentUserId(first + 3)) << label;
        EXPECT_NE(std::string::npos, RequestBody(first + 3).find(std::string("&auth=") + kCyrillicPasswordHash))
            << label;

        DeleteFileA(settingsPath_.c_str());
        StartAfresh();
    }
}

// The start from the Startup folder: hidden until the log-in has succeeded, then shown.
std::function<void()>& PendingCheck() {
    static std::function<void()> check;
    return check;
}

void CALLBACK RunPendingCheck(HWND, UINT, UINT_PTR timer, DWORD) {
    if (GetAppContext()->loginPhase) return;  // the log-in is not over yet
    KillTimer(nullptr, timer);
    if (PendingCheck()) PendingCheck()();
    PendingCheck() = nullptr;
}

TEST_F(LoginFlow, AnAutomaticStartStaysHiddenUntilTheLogInSucceeds) {
    SYSTEMTIME wednesdayNoon = MakeLocalTime(3, 12, 0);
    SetLocalClockForTesting(&wednesdayNoon);
    context().startedHidden = true;
    StoreCredentials();
    pelmora_test::FakeReply slowHandshake = pelmora_test::XmlReply(kHandshakeAccepted);
    slowHandshake.delayMs = 300;
    server_.Push(slowHandshake);
    Reply(kConfigurationVisibleToGroups);
    Reply(kReportAccepted);
    Reply(kOneGroup);

    // While the user-interface thread waits for the handshake, another thread looks at the window.
    bool visibleDuringLogIn = true;
    std::thread watcher([this, &visibleDuringLogIn] {
        if (server_.WaitForRequests(1, 10000)) visibleDuringLogIn = IsWindowVisible(context().mainWindow) != FALSE;
    });
    bool visibleAfterwards = false;
    bool panesCreated = false;
    PendingCheck() = [&] {
        visibleAfterwards = IsWindowVisible(main()) != FALSE;
        panesCreated = IsWindowVisible(pane(kPaneMe)) != FALSE;
        PostQuitMessage(0);
    };
    SetTimer(nullptr, 0, 50, RunPendingCheck);
    RunMainWindow();
    watcher.join();

    EXPECT_FALSE(visibleDuringLogIn);
    EXPECT_TRUE(visibleAfterwards);
    EXPECT_TRUE(panesCreated);
    EXPECT_FALSE(context().loginPhase);
    EXPECT_EQ((std::vector<std::string>{"hand", "config", "isee", "ineed"}), RequestKinds());
    ASSERT_EQ(1u, context().groups.size()) << "the groups are fetched right after the log-in";
    EXPECT_EQ(L"Семья (1)", context().groups[0].title);
}

// No group lists are fetched after a log-in in the private hours or in an account without groups.
TEST_F(LoginFlow, TheFirstGroupsAreFetchedOnlyOutsideThePrivateHoursInAnAccountWithGroups) {
    const char kConfigurationWithoutPrivateHours[] =
        "<config><config_rate>0</config_rate><config_visibilily>1</config_visibilily>"
        "<config_privatetime>0</config_privatetime></config>";
    const char kHandshakeModeOne[] = "<handshake><status>0</status><token>T1</token><mode>1</mode></handshake>";
    struct Case {
        const char* name;
        int hour;
        const char* handshake;
        const char* configuration;  // null: none is fetched
        std::vector<std::string> kinds;
    };
    const Case cases[] = {
        {"private hours", 0, kHandshakeAccepted, kConfigurationVisibleToGroups, {"hand", "config", "isee"}},
        {"account mode 1", 12, kHandshakeModeOne, nullptr, {"hand", "isee"}},
        {"account mode 1 at night", 0, kHandshakeModeOne, nullptr, {"hand", "isee"}},
        {"daytime", 12, kHandshakeAccepted, kConfigurationVisibleToGroups, {"hand", "config", "isee", "ineed"}},
        {"private hours not wanted", 0, kHandshakeAccepted, kConfigurationWithoutPrivateHours,
         {"hand", "config", "isee", "ineed"}},
    };
    for (const Case& test : cases) {
        StartAfresh();
        SYSTEMTIME wednesday = MakeLocalTime(3, test.hour, 30);
        SetLocalClockForTesting(&wednesday);
        StoreCredentials();
        const size_t before = server_.RequestCount();
        Reply(test.handshake);
        if (test.configuration != nullptr) Reply(test.configuration);
        Reply(kReportAccepted);
        if (test.kinds.back() == "ineed") Reply(kOneGroup);
        PendingCheck() = [] { PostQuitMessage(0); };
        SetTimer(nullptr, 0, 50, RunPendingCheck);
        RunMainWindow();

        EXPECT_FALSE(context().loginPhase) << test.name;
        std::vector<std::string> kinds = RequestKinds();
        kinds.erase(kinds.begin(), kinds.begin() + static_cast<std::ptrdiff_t>(before));
        EXPECT_EQ(test.kinds, kinds) << test.name;
        EXPECT_EQ(test.kinds.back() == "ineed" ? 1u : 0u, context().groups.size()) << test.name;
    }
}

}  // namespace
