// The four "config" forms: the settings fetched at log-in, the settings and visibility changes with
// every verdict of the server, and the report of a probed cell-reading method.
#include <gtest/gtest.h>

#include "app/private_hours.h"
#include "app/visibility_chooser.h"
#include "location/cell_monitor.h"
#include "protocol/configuration.h"
#include "resources/texts.h"
#include "screens/configuration_tab.h"
#include "screens/pane_window.h"
#include "tests/protocol/exchange_fixture.h"

namespace {

using pelmora_test::XmlReply;

constexpr wchar_t kUntouched[] = L"untouched";

pelmora_test::FakeReply Config(const std::string& elements) { return XmlReply("<config>" + elements + "</config>"); }

class ConfigurationTest : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        context->statusText = kUntouched;
    }
    void TearDown() override {
        SetLocalClockForTesting(nullptr);
        ExchangeTest::TearDown();
    }
    void SetSettings(int rate, int visibility, int privateTime, int forceGps, int levelGps) {
        // Any number, as the server may send it.
        context->rateMode = static_cast<RateMode>(rate);
        context->visibility = static_cast<Visibility>(visibility);
        context->privateTime = privateTime;
        context->forceGps = forceGps;
        context->levelGps = levelGps;
    }
    std::vector<int> Settings() const {
        return {static_cast<int>(context->rateMode), static_cast<int>(context->visibility), context->privateTime,
                context->forceGps, context->levelGps};
    }
};

TEST_F(ConfigurationTest, GetReadsTheFiveSettingsWithTheirDefaults) {
    server.Push(Config("<config_rate>1</config_rate><config_visibilily>2</config_visibilily>"
                       "<config_privatetime>0</config_privatetime><config_forcegps>7</config_forcegps>"
                       "<config_levelgps>-3</config_levelgps>"));
    server.Push(Config(""));
    server.Push(Config("<config_rate/><config_privatetime></config_privatetime><config_levelgps>x</config_levelgps>"));
    server.Push(XmlReply("<isee/>"));

    SetSettings(9, 9, 9, 9, 9);
    ASSERT_TRUE(GetConfiguration(*context));
    EXPECT_EQ(std::vector<int>({1, 2, 0, 7, -3}), Settings());
    SetSettings(9, 9, 9, 9, 9);
    ASSERT_TRUE(GetConfiguration(*context));
    EXPECT_EQ(std::vector<int>({0, 0, 1, 0, 0}), Settings()) << "an empty config element";
    SetSettings(9, 9, 9, 9, 9);
    ASSERT_TRUE(GetConfiguration(*context));
    EXPECT_EQ(std::vector<int>({0, 0, 1, 0, 0}), Settings()) << "elements without text, text without digits";
    SetSettings(9, 9, 9, 9, 9);
    EXPECT_FALSE(GetConfiguration(*context));
    EXPECT_EQ(std::vector<int>({9, 9, 9, 9, 9}), Settings()) << "no config element changes nothing";

    const auto requests = server.Requests();
    ASSERT_EQ(4u, requests.size());
    EXPECT_EQ(Envelope("config", "token=T0K&config_get=0"), requests[0]);
}

TEST_F(ConfigurationTest, SettingsBodySendsOnlyOneAsOneAndTheOwnNameWhenThereIsOne) {
    const struct {
        RateMode rate;
        int privateTime;
        const char* subName;
        const char* body;
    } cases[] = {
        {RateMode::CellChange, 1, "", "token=T0K&config_rate=1&config_privatetime=1"},
        {RateMode::Optimal, 2, "", "token=T0K&config_rate=0&config_privatetime=0"},
        {static_cast<RateMode>(5), 0, "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", "token=T0K&config_rate=0&config_privatetime=0&user_name=\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
    };
    for (const auto& testCase : cases) {
        server.Push(Config("<status>0</status>"));
        context->rateMode = testCase.rate;
        context->privateTime = testCase.privateTime;
        context->subName = testCase.subName;
        SaveConfiguration(*context);
    }
    const auto requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    for (std::size_t index = 0; index < 3; ++index) EXPECT_EQ(Envelope("config", cases[index].body), requests[index]);
}

TEST_F(ConfigurationTest, SaveReportsTheVerdictAndSwitchesPanes) {
    const struct {
        const char* reply;
        AccountMode accountMode;
        const wchar_t* shown;
        bool saved;
        int pane;
    } cases[] = {
        {"<config><status>0</status></config>", AccountMode::Normal, kTextSettingsSaved, true, kPaneGroups},
        {"<config><status>0</status></config>", AccountMode::OwnName, kTextSettingsSaved, true, kPaneMe},
        {"<config><status>0</status><bad/></config>", AccountMode::Normal, kTextSettingsSaved, true, kPaneGroups},
        {"<config><status>3</status></config>", AccountMode::OwnName, kTextTransferError, false, kPaneGroups},
        {"<config><status/></config>", AccountMode::OwnName, kUntouched, false, kPaneGroups},
        {"<config><bad/></config>", AccountMode::OwnName, kTextTransferError, false, kPaneGroups},
        {"<config/>", AccountMode::OwnName, kUntouched, false, kPaneGroups},
        {"<isee><status>0</status></isee>", AccountMode::OwnName, kUntouched, false, kPaneGroupList},
    };
    for (const auto& testCase : cases) {
        server.Push(XmlReply(testCase.reply));
        context->accountMode = testCase.accountMode;
        context->statusText = kUntouched;
        context->settingsDirty = true;
        // Any pane but the configuration tab, whose leaving would ask about the unsaved settings.
        context->currentPane = context->selectedTab = kPaneGroupList;
        ActOnSaveVerdict(SaveConfiguration(*context), context->privateTime);
        EXPECT_EQ(std::wstring(testCase.shown), context->statusText) << testCase.reply;
        EXPECT_EQ(!testCase.saved, context->settingsDirty) << testCase.reply;
        EXPECT_EQ(testCase.pane, context->currentPane) << testCase.reply;
        EXPECT_EQ(testCase.pane, context->selectedTab) << testCase.reply;
    }
}

TEST_F(ConfigurationTest, SavingAChangedPrivateTimeEntersOrLeavesThePrivateHours) {
    SYSTEMTIME saturdayNoon = {};
    saturdayNoon.wYear = 2024;
    saturdayNoon.wMonth = 6;
    saturdayNoon.wDay = 1;
    saturdayNoon.wDayOfWeek = 6;
    saturdayNoon.wHour = 12;
    SetLocalClockForTesting(&saturdayNoon);

    server.Push(Config("<status>0</status>"));
    context->privateTime = 1;
    ActOnSaveVerdict(SaveConfiguration(*context), 0);
    EXPECT_TRUE(context->inPrivateHours);

    // Leaving the private hours refreshes the groups, which the script answers as well.
    server.Push(Config("<status>0</status>"));
    server.Push(XmlReply("<ineed><groups/></ineed>"));
    context->privateTime = 0;
    ActOnSaveVerdict(SaveConfiguration(*context), 1);
    EXPECT_FALSE(context->inPrivateHours);
    EXPECT_EQ(kTextSettingsSaved, context->statusText);

    SYSTEMTIME mondayNoon = saturdayNoon;
    mondayNoon.wDay = 3;
    mondayNoon.wDayOfWeek = 1;
    SetLocalClockForTesting(&mondayNoon);
    server.Push(Config("<status>0</status>"));
    context->privateTime = 1;
    ActOnSaveVerdict(SaveConfiguration(*context), 0);
    EXPECT_FALSE(context->inPrivateHours) << "outside the private hours nothing is entered";
}

TEST_F(ConfigurationTest, VisibilityIsSentAndARefusalRestoresTheIdleText) {
    const struct {
        const char* reply;
        const wchar_t* shown;
    } cases[] = {
        {"<config><status>0</status></config>", kUntouched},
        {"<config><status>1</status></config>", kTextIdleProductLine},
        {"<config><bad/></config>", kTextIdleProductLine},
        {"<config/>", kTextIdleProductLine},
        {"<other/>", kUntouched},
    };
    for (const auto& testCase : cases) server.Push(XmlReply(testCase.reply));
    for (const auto& testCase : cases) {
        context->statusText = kUntouched;
        context->visibility = Visibility::Invisible;
        ActOnVisibilityVerdict(SendVisibility(*context, Visibility::Invisible));
        EXPECT_EQ(std::wstring(testCase.shown), context->statusText) << testCase.reply;
        EXPECT_EQ(Visibility::Invisible, context->visibility) << "the local choice stays";
    }
    const auto requests = server.Requests();
    ASSERT_EQ(5u, requests.size());
    EXPECT_EQ(Envelope("config", "token=T0K&config_visibilily=2"), requests[0]);
}

TEST_F(ConfigurationTest, TheMethodIsReportedOnlyAfterAProbe) {
    CellMonitor& monitor = *context->cellMonitor;
    monitor.method = CellMethod::Com9;
    monitor.enabled = 1;
    monitor.probed = 0;
    EXPECT_TRUE(ReportMethodInUse(*context));
    monitor.enabled = 0;
    monitor.probed = 1;
    EXPECT_TRUE(ReportMethodInUse(*context));
    EXPECT_EQ(0u, server.RequestCount());

    monitor.enabled = 1;
    const struct {
        const char* reply;
        bool result;
    } cases[] = {
        {"<config><status>0</status></config>", true},
        {"<config><status>2</status></config>", false},
        {"<config><status/></config>", true},
        {"<config/>", true},
        {"<handshake/>", false},
    };
    for (const auto& testCase : cases) server.Push(XmlReply(testCase.reply));
    for (const auto& testCase : cases) EXPECT_EQ(testCase.result, ReportMethodInUse(*context)) << testCase.reply;
    const auto requests = server.Requests();
    ASSERT_EQ(5u, requests.size());
    EXPECT_EQ(Envelope("config", "token=T0K&method_use=3"), requests[0]);
}

}  // namespace
