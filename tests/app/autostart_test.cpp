// The shortcut in the Startup folder: its exact bytes, its replacement and its removal.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <string>

#include "app/app_context.h"
#include "app/autostart.h"
#include "app/text_conversion.h"

namespace {

std::wstring ShortcutPath() {
    wchar_t folder[MAX_PATH + 1] = {};
    EXPECT_TRUE(SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, TRUE));
    return std::wstring(folder) + L"\\Pelmora.lnk";
}

std::string ReadShortcut() {
    std::ifstream file(WideToAnsi(ShortcutPath()), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool ShortcutExists() { return GetFileAttributesW(ShortcutPath().c_str()) != INVALID_FILE_ATTRIBUTES; }

class Autostart : public ::testing::Test {
protected:
    void SetUp() override { DeleteFileW(ShortcutPath().c_str()); }
    void TearDown() override { DeleteFileW(ShortcutPath().c_str()); }
};

TEST_F(Autostart, TheShortcutStartsThisProgramWithDashA) {
    CreateAutostartShortcut("-a");
    const std::string path = WideToAnsi(GetExecutablePath());
    EXPECT_EQ(std::to_string(path.size() + 2) + "#\"" + path + "\"-a", ReadShortcut());
}

TEST_F(Autostart, AShortcutIsReplacedAndDeleted) {
    {
        std::ofstream old(WideToAnsi(ShortcutPath()), std::ios::binary);
        old << "999#\"C:\\somewhere\\else\\with\\a\\much\\longer\\path\\than\\this.exe\"-a\r\n";
    }
    CreateAutostartShortcut("-a");
    const std::string path = WideToAnsi(GetExecutablePath());
    EXPECT_EQ(std::to_string(path.size() + 2) + "#\"" + path + "\"-a", ReadShortcut()) << "nothing of the old file";

    DeleteAutostartShortcut();
    EXPECT_FALSE(ShortcutExists());
    DeleteAutostartShortcut();
    EXPECT_FALSE(ShortcutExists()) << "deleting what is not there is harmless";
}

// Run by the test below from a copy of this program at a path of exactly 30 bytes; it leaves the
// shortcut behind for that test to read.
TEST(AutostartCopy, DISABLED_WriteTheShortcutOfThisCopy) { CreateAutostartShortcut("-a"); }

TEST_F(Autostart, AThirtyBytePathIsCountedAsThirtyTwo) {
    const std::wstring folder = L"C:\\pelmora-startup";
    const std::wstring copy = folder + L"\\probe12.exe";
    ASSERT_EQ(30u, WideToAnsi(copy).size());
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(GetExecutablePath().c_str(), copy.c_str(), FALSE));

    std::wstring commandLine = L"\"" + copy +
                               L"\" --gtest_also_run_disabled_tests "
                               L"--gtest_filter=AutostartCopy.DISABLED_WriteTheShortcutOfThisCopy";
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

    EXPECT_EQ("32#\"C:\\pelmora-startup\\probe12.exe\"-a", ReadShortcut());
}

}  // namespace
