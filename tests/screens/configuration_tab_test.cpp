// The configuration tab: its two layouts, the dirty flag, saving into settings.xml and the
// autostart shortcut, reverting, the action buttons and the web-site link.
#include "protocol/transport_state.h"
#include "tests/screens/screen_fixture.h"

#include <shlobj.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/private_hours.h"
#include "deployment.h"
#include "platform/web_link.h"
#include "resources/resource_ids.h"
#include "screens/configuration_tab.h"
#include "screens/pane_window.h"
#include "tests/support/shell_link_reader.h"
#include "tests/support/thumb_drag.h"

namespace {

std::string ReadWholeFile(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::wstring ShortcutPath() {
    wchar_t folder[MAX_PATH + 1] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, TRUE);
    return std::wstring(folder) + L"\\Pelmora.lnk";
}

bool ShortcutExists() { return GetFileAttributesW(ShortcutPath().c_str()) != INVALID_FILE_ATTRIBUTES; }

class ConfigurationTab : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        wchar_t temporary[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temporary);
        settingsPath_ = std::wstring(temporary) + L"pelmora-screens-" + std::to_wstring(GetCurrentProcessId()) + L".xml";
        context().settingsFile.path = std::string(settingsPath_.begin(), settingsPath_.end());
        context().userId = "ivan@example.ru";
        context().passHash = "0123456789abcdef0123456789abcdef";
        DeleteFileW(ShortcutPath().c_str());
        StartServer();
    }
    void TearDown() override {
        DeleteFileW(settingsPath_.c_str());
        DeleteFileW(ShortcutPath().c_str());
        ScreenTest::TearDown();
    }
    bool Checked(int id) { return IsDlgButtonChecked(pane(kPaneConfiguration), id) == BST_CHECKED; }
    bool Enabled(int id) { return IsWindowEnabled(control(kPaneConfiguration, id)) != FALSE; }
    bool Exists(int id) { return control(kPaneConfiguration, id) != nullptr; }
    // "Сохранить", the server accepting.
    void Save() {
        server().Push(pelmora_test::XmlReply("<config><status>0</status></config>"));
        SendMessageW(pane(kPaneConfiguration), WM_COMMAND, IDM_SAVE_CONFIGURATION, 0);
    }

    std::wstring settingsPath_;
};

TEST_F(ConfigurationTab, NormalModeShowsTheStoredSettings) {
    context().rateMode = RateMode::CellChange;
    context().privateTime = 1;
    context().autoLogIn = true;
    context().autoRun = true;
    CreatePanes();
    for (int id = IDC_CONFIG_REFRESH; id <= IDC_CONFIG_AUTO_RUN; ++id) EXPECT_TRUE(Exists(id)) << "control " << id;
    EXPECT_FALSE(Exists(IDC_CONFIG_NAME));
    EXPECT_FALSE(Checked(IDC_CONFIG_RATE_OPTIMAL));
    EXPECT_TRUE(Checked(IDC_CONFIG_RATE_CELL_CHANGE));
    EXPECT_TRUE(Checked(IDC_CONFIG_PRIVATE_TIME));
    EXPECT_TRUE(Checked(IDC_CONFIG_AUTO_LOGIN));
    EXPECT_TRUE(Checked(IDC_CONFIG_AUTO_RUN));
    EXPECT_TRUE(Enabled(IDC_CONFIG_AUTO_RUN));
    EXPECT_EQ(L"Обновить все места", ControlText(kPaneConfiguration, IDC_CONFIG_REFRESH));
    EXPECT_EQ(L"Запускать Pelmora при включении телефона", ControlText(kPaneConfiguration, IDC_CONFIG_AUTO_RUN));
    EXPECT_FALSE(context().settingsDirty);

    const RECT bounds = BoundsInParent(control(kPaneConfiguration, IDC_CONFIG_PRIVATE_TIME));
    EXPECT_EQ(206, bounds.top);
    EXPECT_EQ(46, bounds.bottom - bounds.top);
    EXPECT_EQ(10, bounds.left);
    EXPECT_EQ(ClientRect(pane(kPaneConfiguration)).right - 10, bounds.right);
}

// Both layouts at both phone sizes: x 10 and width client.right - 20 in pixels, the rows in units,
// on creation and after every size change.
TEST_F(ConfigurationTab, ControlsSitTenPixelsInAtBothSizes) {
    struct Row {
        int id;
        int y;       // units
        int height;  // units
    };
    const struct {
        AccountMode accountMode;
        std::vector<Row> rows;
    } layouts[] = {
        {AccountMode::Normal,
         {{IDC_CONFIG_REFRESH, 46, 24},
          {IDC_CONFIG_QUIT, 80, 24},
          {IDC_CONFIG_RATE_OPTIMAL, 152, 15},
          {IDC_CONFIG_RATE_CELL_CHANGE, 172, 15},
          {IDC_CONFIG_PRIVATE_TIME, 206, 46},
          {IDC_CONFIG_AUTO_LOGIN, 266, 30},
          {IDC_CONFIG_AUTO_RUN, 306, 30}}},
        {AccountMode::OwnName, {{IDC_CONFIG_NAME, 70, 24}, {IDC_CONFIG_AUTO_LOGIN, 114, 30}, {IDC_CONFIG_AUTO_RUN, 164, 30}}},
    };
    for (int scale : {1, 2}) {
        for (const auto& layout : layouts) {
            SCOPED_TRACE("scale " + std::to_string(scale) + ", account mode " + std::to_string(static_cast<int>(layout.accountMode)));
            context().accountMode = layout.accountMode;
            UseScale(scale);
            CreatePanes();
            HWND tab = pane(kPaneConfiguration);
            for (int width : {0, 200 * scale}) {
                if (width != 0) {
                    // A narrower tab, as a size change gives it.
                    const RECT frame = BoundsInParent(tab);
                    MoveWindow(tab, frame.left, frame.top, width, frame.bottom - frame.top, FALSE);
                }
                const int right = ClientRect(tab).right;
                for (const Row& row : layout.rows) {
                    const RECT bounds = BoundsInParent(control(kPaneConfiguration, row.id));
                    EXPECT_EQ(10, bounds.left) << "control " << row.id << ", tab width " << width;
                    EXPECT_EQ(right - 20, bounds.right - bounds.left) << "control " << row.id << ", tab width " << width;
                    EXPECT_EQ(row.y * scale, bounds.top) << "control " << row.id;
                    EXPECT_EQ(row.height * scale, bounds.bottom - bounds.top) << "control " << row.id;
                }
            }
        }
    }
}

// After "Настройки сохранены" the mode decides the pane: the group tab in mode 0, the Me tab in
// mode 1; in any other mode the tab stays on screen.
TEST_F(ConfigurationTab, AnAcceptedSaveShowsThePaneOfTheAccountMode) {
    const struct {
        AccountMode accountMode;
        int pane;
    } cases[] = {{AccountMode::Normal, kPaneGroups},
                 {AccountMode::OwnName, kPaneMe},
                 {static_cast<AccountMode>(2), kPaneConfiguration},
                 {static_cast<AccountMode>(-1), kPaneConfiguration}};
    for (const auto& test : cases) {
        context().accountMode = test.accountMode;
        UseScale(1);
        CreatePanes();
        Show(kPaneConfiguration);
        Save();
        EXPECT_EQ(L"Настройки сохранены", context().statusText) << "mode " << static_cast<int>(test.accountMode);
        EXPECT_EQ(test.pane, context().currentPane) << "mode " << static_cast<int>(test.accountMode);
        EXPECT_EQ(test.pane, context().selectedTab) << "mode " << static_cast<int>(test.accountMode);
        EXPECT_FALSE(context().settingsDirty);
    }
}

TEST_F(ConfigurationTab, StartWithThePhoneNeedsAutomaticLogIn) {
    context().autoLogIn = false;
    context().autoRun = true;
    CreatePanes();
    EXPECT_FALSE(Checked(IDC_CONFIG_AUTO_RUN));
    EXPECT_FALSE(Enabled(IDC_CONFIG_AUTO_RUN));
    Show(kPaneConfiguration);
    Click(kPaneConfiguration, IDC_CONFIG_AUTO_LOGIN);
    EXPECT_TRUE(Enabled(IDC_CONFIG_AUTO_RUN)) << "at once";
    EXPECT_TRUE(context().settingsDirty);
    Click(kPaneConfiguration, IDC_CONFIG_AUTO_RUN);
    Click(kPaneConfiguration, IDC_CONFIG_AUTO_LOGIN);
    EXPECT_FALSE(Enabled(IDC_CONFIG_AUTO_RUN));
}

TEST_F(ConfigurationTab, EveryEditMarksTheSettingsDirty) {
    CreatePanes();
    Show(kPaneConfiguration);
    for (int id : {IDC_CONFIG_RATE_CELL_CHANGE, IDC_CONFIG_RATE_OPTIMAL, IDC_CONFIG_PRIVATE_TIME}) {
        context().settingsDirty = false;
        Click(kPaneConfiguration, id);
        EXPECT_TRUE(context().settingsDirty) << "control " << id;
    }
    EXPECT_TRUE(Checked(IDC_CONFIG_RATE_OPTIMAL));
    EXPECT_FALSE(Checked(IDC_CONFIG_RATE_CELL_CHANGE)) << "the two rates are one choice";
}

TEST_F(ConfigurationTab, SavingWithoutAutomaticLogInDeletesTheShortcutAndTheHash) {
    context().autoLogIn = true;
    context().autoRun = true;
    CreatePanes();
    std::ofstream(ShortcutPath().c_str()) << "old";
    ASSERT_TRUE(ShortcutExists());
    Show(kPaneConfiguration);
    Click(kPaneConfiguration, IDC_CONFIG_AUTO_LOGIN);
    Save();
    EXPECT_FALSE(context().autoLogIn);
    EXPECT_TRUE(context().autoRun) << "the disabled box keeps its tick";
    EXPECT_FALSE(ShortcutExists());
    const std::string written = ReadWholeFile(settingsPath_);
    EXPECT_NE(std::string::npos, written.find("<AutoLogIn>0</AutoLogIn>")) << written;
    EXPECT_NE(std::string::npos, written.find("<PassHash />")) << written;
    EXPECT_EQ("0123456789abcdef0123456789abcdef", context().passHash) << "the hash stays in memory";
}

TEST_F(ConfigurationTab, SavingWithBothBoxesCreatesTheShortcutWithTheAutostartArgument) {
    context().autoLogIn = true;
    CreatePanes();
    Show(kPaneConfiguration);
    Click(kPaneConfiguration, IDC_CONFIG_AUTO_RUN);
    Save();
    EXPECT_TRUE(context().autoRun);
    ASSERT_TRUE(ShortcutExists());
    const pelmora_test::ShellLinkReading link = pelmora_test::ReadShellLink(ShortcutPath());
    EXPECT_TRUE(link.loaded);
    EXPECT_EQ(L"-a", link.arguments);
    const std::string written = ReadWholeFile(settingsPath_);
    EXPECT_NE(std::string::npos, written.find("<AutoRun>1</AutoRun>")) << written;
    EXPECT_NE(std::string::npos, written.find("<PassHash>0123456789abcdef0123456789abcdef</PassHash>")) << written;
}

TEST_F(ConfigurationTab, SavingTakesRateAndPrivateHoursFromTheControls) {
    context().rateMode = RateMode::Optimal;
    context().privateTime = 1;
    CreatePanes();
    Show(kPaneConfiguration);
    Click(kPaneConfiguration, IDC_CONFIG_RATE_CELL_CHANGE);
    Click(kPaneConfiguration, IDC_CONFIG_PRIVATE_TIME);
    Save();
    EXPECT_EQ(RateMode::CellChange, context().rateMode);
    EXPECT_EQ(0, context().privateTime);
}

TEST_F(ConfigurationTab, NameModeEditsTheOwnName) {
    context().accountMode = AccountMode::OwnName;
    context().rateMode = RateMode::CellChange;
    context().privateTime = 1;
    context().subName = "Иван Петров";
    CreatePanes();
    EXPECT_TRUE(Exists(IDC_CONFIG_NAME));
    EXPECT_TRUE(Exists(IDC_CONFIG_AUTO_LOGIN));
    EXPECT_TRUE(Exists(IDC_CONFIG_AUTO_RUN));
    for (int id = IDC_CONFIG_REFRESH; id <= IDC_CONFIG_PRIVATE_TIME; ++id) EXPECT_FALSE(Exists(id)) << "control " << id;
    EXPECT_EQ(L"Иван Петров", ControlText(kPaneConfiguration, IDC_CONFIG_NAME));
    EXPECT_EQ(114, BoundsInParent(control(kPaneConfiguration, IDC_CONFIG_AUTO_LOGIN)).top);
    EXPECT_FALSE(context().settingsDirty) << "filling the name is no edit";

    Show(kPaneConfiguration);
    SetDlgItemTextW(pane(kPaneConfiguration), IDC_CONFIG_NAME, L"Ваня");
    EXPECT_TRUE(context().settingsDirty);
    Save();
    EXPECT_EQ("token=T0K&config_rate=1&config_privatetime=0&user_name=Ваня", RequestBody(0))
        << "no private-hours box in this layout; the rate is kept";
    EXPECT_EQ("Ваня", context().subName);
    EXPECT_EQ(0, context().privateTime);
    EXPECT_EQ(RateMode::CellChange, context().rateMode);
    EXPECT_NE(std::string::npos, ReadWholeFile(settingsPath_).find("<SubName>Ваня</SubName>"));
    EXPECT_FALSE(context().settingsDirty);
    EXPECT_EQ(kPaneMe, context().selectedTab) << "mode 1 goes back to the Me tab";

    Show(kPaneConfiguration);
    SetDlgItemTextW(pane(kPaneConfiguration), IDC_CONFIG_NAME, L"");
    Save();
    EXPECT_EQ("", context().subName);
    EXPECT_EQ("token=T0K&config_rate=1&config_privatetime=0", RequestBody(server().RequestCount() - 1))
        << "an empty name is not sent";
}

TEST_F(ConfigurationTab, OtherModesShowTheNameWithoutEditingIt) {
    context().accountMode = static_cast<AccountMode>(2);
    context().subName = "Иван";
    CreatePanes();
    EXPECT_EQ(L"Иван", ControlText(kPaneConfiguration, IDC_CONFIG_NAME));
    EXPECT_TRUE(GetWindowLongW(control(kPaneConfiguration, IDC_CONFIG_NAME), GWL_STYLE) & ES_READONLY);
    Save();
    EXPECT_EQ("Иван", context().subName);
}

TEST_F(ConfigurationTab, AcceptedSaveWithPrivateHoursEntersThemAtNight) {
    SYSTEMTIME wednesdayNight = {};
    wednesdayNight.wYear = 2024;
    wednesdayNight.wMonth = 5;
    wednesdayNight.wDayOfWeek = 3;
    wednesdayNight.wDay = 15;
    wednesdayNight.wHour = 0;
    wednesdayNight.wMinute = 30;
    SetLocalClockForTesting(&wednesdayNight);
    context().privateTime = 0;
    CreatePanes();
    Show(kPaneConfiguration);
    Click(kPaneConfiguration, IDC_CONFIG_PRIVATE_TIME);
    Save();
    EXPECT_EQ("token=T0K&config_rate=0&config_privatetime=1", RequestBody(0));
    EXPECT_EQ(L"Настройки сохранены", context().statusText);
    EXPECT_TRUE(context().inPrivateHours);
    EXPECT_FALSE(context().settingsDirty);
    EXPECT_EQ(kPaneGroups, context().currentPane);
    EXPECT_EQ(kPaneGroups, context().selectedTab);
}

TEST_F(ConfigurationTab, FailedSaveKeepsTheTabAndItsChanges) {
    context().autoLogIn = true;
    CreatePanes();
    Show(kPaneConfiguration);
    Click(kPaneConfiguration, IDC_CONFIG_AUTO_RUN);
    context().transport->serverAddress.sin_port = htons(pelmora_test::FakeServer::UnusedPort());
    SendMessageW(pane(kPaneConfiguration), WM_COMMAND, IDM_SAVE_CONFIGURATION, 0);
    EXPECT_EQ(L"Ошибка передачи данных", context().statusText);
    EXPECT_TRUE(context().settingsDirty);
    EXPECT_EQ(kPaneConfiguration, context().currentPane);
    EXPECT_TRUE(ShortcutExists()) << "the file and the shortcut were written before the exchange";
}

TEST_F(ConfigurationTab, RevertPutsTheStoredValuesBack) {
    context().autoLogIn = true;
    context().autoRun = false;
    context().rateMode = RateMode::Optimal;
    context().privateTime = 0;
    CreatePanes();
    Show(kPaneConfiguration);
    Click(kPaneConfiguration, IDC_CONFIG_AUTO_LOGIN);
    Click(kPaneConfiguration, IDC_CONFIG_RATE_CELL_CHANGE);
    Click(kPaneConfiguration, IDC_CONFIG_PRIVATE_TIME);
    ASSERT_TRUE(context().settingsDirty);
    RevertConfigurationTab();
    EXPECT_TRUE(Checked(IDC_CONFIG_AUTO_LOGIN));
    EXPECT_TRUE(Enabled(IDC_CONFIG_AUTO_RUN));
    EXPECT_FALSE(Checked(IDC_CONFIG_AUTO_RUN));
    EXPECT_TRUE(Checked(IDC_CONFIG_RATE_OPTIMAL));
    EXPECT_FALSE(Checked(IDC_CONFIG_RATE_CELL_CHANGE));
    EXPECT_FALSE(Checked(IDC_CONFIG_PRIVATE_TIME));
    EXPECT_FALSE(context().settingsDirty);
}

TEST_F(ConfigurationTab, RefreshLeavesTheChangesUnsavedAndNoPutsTheStoredValuesBack) {
    context().autoLogIn = true;
    context().autoRun = false;
    CreatePanes();
    Show(kPaneConfiguration);
    Click(kPaneConfiguration, IDC_CONFIG_AUTO_LOGIN);
    ASSERT_FALSE(Enabled(IDC_CONFIG_AUTO_RUN));
    server().Push(pelmora_test::XmlReply("<isee><status>1</status><timer>300</timer></isee>"));
    server().Push(pelmora_test::XmlReply("<ineed><groups></groups></ineed>"));
    Click(kPaneConfiguration, IDC_CONFIG_REFRESH);
    EXPECT_EQ(0u, RequestBody(0).find("token=T0K&mnc=01&lac=7718&cid=40402")) << "a location report first";
    EXPECT_EQ(std::vector<std::wstring>{L"Вы изменили настройки, но не сохранили их. Сохранить?"}, questions_)
        << "leaving the tab still asks: refreshing saved nothing";
    EXPECT_TRUE(Checked(IDC_CONFIG_AUTO_LOGIN)) << "No restores the stored automatic log-in";
    EXPECT_TRUE(Enabled(IDC_CONFIG_AUTO_RUN));
    EXPECT_FALSE(context().settingsDirty);
    EXPECT_EQ(kPaneGroups, context().currentPane);
    EXPECT_EQ(kPaneGroups, context().selectedTab);
}

TEST_F(ConfigurationTab, YesToTheQuestionSaves) {
    CreatePanes();
    Show(kPaneConfiguration);
    Click(kPaneConfiguration, IDC_CONFIG_RATE_CELL_CHANGE);
    answers_.push_back(IDYES);
    server().Push(pelmora_test::XmlReply("<config><status>0</status></config>"));
    ShowPane(kPaneMe, true);
    EXPECT_EQ(1u, questions_.size());
    EXPECT_EQ("token=T0K&config_rate=1&config_privatetime=1", RequestBody(0));
    EXPECT_EQ(RateMode::CellChange, context().rateMode);
    EXPECT_FALSE(context().settingsDirty);
}

TEST_F(ConfigurationTab, QuitEndsTheMessageLoop) {
    CreatePanes();
    Show(kPaneConfiguration);
    Click(kPaneConfiguration, IDC_CONFIG_QUIT);
    EXPECT_TRUE(quitPosted_);
}

TEST_F(ConfigurationTab, TheLinkLineOpensTheWebSite) {
    CreatePanes();
    Show(kPaneConfiguration);
    std::vector<std::wstring> opened;
    SetBrowserOpenerForTesting([&](const wchar_t* address) { opened.push_back(address); });
    HWND tab = pane(kPaneConfiguration);
    ASSERT_TRUE(pelmora_test::DragScrollThumb(tab, 1.0));
    const int p = GetScrollPos(tab, SB_VERT);
    ASSERT_GT(p, 367 - ClientRect(tab).bottom) << "the link line is in view";
    Tap(tab, 100, 367 - p);
    Tap(tab, 100, 382 - p);
    Tap(tab, 10, 374 - p);
    EXPECT_TRUE(opened.empty()) << "edges of the line";
    Tap(tab, 100, 374 - p);
    EXPECT_EQ(std::vector<std::wstring>{PELMORA_WEB_SITE_ADDRESS}, opened);
}

TEST_F(ConfigurationTab, WebSiteSentenceBreaksAtTheLastSpaceThatFits) {
    CreatePanes();
    HDC dc = GetDC(pane(kPaneConfiguration));
    HGDIOBJ old = SelectObject(dc, context().fontBold);
    const std::wstring sentence = L"Для управления вашими группами идите на ";
    SentenceLines lines = CutAtLastFittingSpace(dc, sentence, 10000);
    EXPECT_EQ(L"Для управления вашими группами идите на ", lines.first) << "the whole sentence fits";
    EXPECT_EQ(L"", lines.rest) << "the link starts the second line";

    RECT measured = {};
    DrawTextW(dc, L"Для управления вашими", -1, &measured, DT_CALCRECT | DT_SINGLELINE);
    lines = CutAtLastFittingSpace(dc, sentence, measured.right + 5);
    EXPECT_EQ(L"Для управления вашими", lines.first);
    EXPECT_EQ(L"группами идите на ", lines.rest);
    lines = CutAtLastFittingSpace(dc, sentence, 1);
    EXPECT_EQ(L"Для", lines.first) << "the first word stays";
    SelectObject(dc, old);
    ReleaseDC(pane(kPaneConfiguration), dc);
}

}  // namespace
