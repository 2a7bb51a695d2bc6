// The autostart entry: a shell link "Pelmora.lnk" in the Startup folder that starts this program
// with exactly "-a", written when the configuration tab saves both ticks and deleted otherwise.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <string>

#include "app/app_context.h"
#include "app/autostart.h"
#include "platform/text_conversion.h"
#include "resources/resource_ids.h"
#include "screens/configuration_tab.h"
#include "screens/pane_window.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/shell_link_reader.h"

namespace {

using pelmora_test::ReadShellLink;
using pelmora_test::ShellLinkReading;

std::wstring ShortcutPath() {
    wchar_t folder[MAX_PATH + 1] = {};
    EXPECT_TRUE(SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, TRUE));
    return std::wstring(folder) + L"\\Pelmora.lnk";
}

bool ShortcutExists() { return GetFileAttributesW(ShortcutPath().c_str()) != INVALID_FILE_ATTRIBUTES; }

// A link left in the Startup folder would start the test program with the next Wine session.
class Autostart : public ::testing::Test {
protected:
    void SetUp() override { DeleteFileW(ShortcutPath().c_str()); }
    void TearDown() override { DeleteFileW(ShortcutPath().c_str()); }
};

TEST_F(Autostart, TheLinkStartsThisProgramWithDashAWhateverWasThereBefore) {
    const char* const kNothing = nullptr;
    const char* const kPhoneFormat = "999#\"C:\\somewhere\\else\\with\\a\\much\\longer\\path\\than\\this.exe\"-a";
    const char* const kOtherArguments = "a link with other arguments";
    for (const char* before : {kNothing, kPhoneFormat, kOtherArguments}) {
        DeleteFileW(ShortcutPath().c_str());
        if (before == kPhoneFormat) std::ofstream(WideToAnsi(ShortcutPath()), std::ios::binary) << before;
        if (before == kOtherArguments) {
            CreateAutostartShortcut("--other");
            ASSERT_EQ(L"--other", ReadShellLink(ShortcutPath()).arguments);
        }
        CreateAutostartShortcut("-a");
        const ShellLinkReading link = ReadShellLink(ShortcutPath());
        const std::string label = before != nullptr ? before : "nothing";
        ASSERT_TRUE(link.loaded) << "over " << label;
        EXPECT_EQ(GetExecutablePath(), link.target) << "over " << label;
        EXPECT_EQ(L"-a", link.arguments) << "over " << label;
    }
}

TEST_F(Autostart, DeletingTheLinkLeavesNothingAndDeletingNothingIsHarmless) {
    CreateAutostartShortcut("-a");
    ASSERT_TRUE(ShortcutExists());
    DeleteAutostartShortcut();
    EXPECT_FALSE(ShortcutExists());
    EXPECT_FALSE(ReadShellLink(ShortcutPath()).loaded);
    DeleteAutostartShortcut();
    EXPECT_FALSE(ShortcutExists());
}

// Run by the test below from a copy of this program; it leaves the link behind for that test.
TEST(AutostartCopy, DISABLED_WriteTheLinkOfThisCopy) { CreateAutostartShortcut("-a"); }

TEST_F(Autostart, APathWithBlanksIsKeptWhole) {
    const std::wstring folder = L"C:\\Pelmora in a folder";
    const std::wstring copy = folder + L"\\pelmora copy.exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(GetExecutablePath().c_str(), copy.c_str(), FALSE));

    std::wstring commandLine = L"\"" + copy +
                               L"\" --gtest_also_run_disabled_tests "
                               L"--gtest_filter=AutostartCopy.DISABLED_WriteTheLinkOfThisCopy";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());

    const ShellLinkReading link = ReadShellLink(ShortcutPath());
    ASSERT_TRUE(link.loaded);
    EXPECT_EQ(copy, link.target);
    EXPECT_EQ(L"-a", link.arguments);
}

// Saving the configuration tab: the link exists exactly when both automatic log-in and the start
// with the phone are ticked; unticking either deletes it.
class AutostartOption : public ServedShellTest {
protected:
    void SetUp() override {
        ServedShellTest::SetUp();
        DeleteFileW(ShortcutPath().c_str());
        OpenSession();
        Reply(kOneGroup);
        CreateRunningMain();
    }
    void TearDown() override {
        DeleteFileW(ShortcutPath().c_str());
        ServedShellTest::TearDown();
    }
    void Tick(int id, bool on) {
        SendDlgItemMessageW(pane(kPaneConfiguration), id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    }
};

TEST_F(AutostartOption, TheLinkExistsExactlyWhenBothBoxesAreTicked) {
    const struct {
        bool autoLogIn;
        bool autoRun;
    } cases[] = {{true, true}, {true, false}, {true, true}, {false, true}, {true, true}, {false, false}};
    for (const auto& test : cases) {
        const bool linkBefore = ShortcutExists();
        Tick(IDC_CONFIG_AUTO_LOGIN, test.autoLogIn);
        Tick(IDC_CONFIG_AUTO_RUN, test.autoRun);
        Reply("<config><status>0</status></config>");
        SaveConfigurationTab();
        const ShellLinkReading link = ReadShellLink(ShortcutPath());
        const bool wanted = test.autoLogIn && test.autoRun;
        EXPECT_EQ(wanted, ShortcutExists()) << test.autoLogIn << test.autoRun << ", a link before: " << linkBefore;
        EXPECT_EQ(wanted, link.loaded);
        if (wanted) {
            EXPECT_EQ(GetExecutablePath(), link.target);
            EXPECT_EQ(L"-a", link.arguments);
        }
    }
}

}  // namespace
