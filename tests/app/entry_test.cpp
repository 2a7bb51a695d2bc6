// Start-up: the "-a" command line, the settings file as a condition of the start, the hand-over to
// a running copy, and the program's own refusal to start without settings.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "app/app_context.h"
#include "location/cell_monitor.h"
#include "platform/text_conversion.h"

namespace {

TEST(CommandLine, OnlyExactlyDashAStartsHidden) {
    EXPECT_TRUE(IsAutostartCommandLine(L"-a"));
    for (const wchar_t* other : {L"-A", L"-a ", L" -a", L"/a", L"", L"-aa", L"-"}) {
        EXPECT_FALSE(IsAutostartCommandLine(other)) << "command line \"" << WideToUtf8(other) << "\"";
    }
    EXPECT_FALSE(IsAutostartCommandLine(nullptr));
}

std::string SettingsPathBesideExecutable() { return WideToAnsi(GetExecutableFolder()) + "\\settings.xml"; }

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

class Initialisation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CreateAppContext());
        DeleteFileA(SettingsPathBesideExecutable().c_str());
    }
    void TearDown() override {
        DestroyCellMonitor();
        DestroyAppContext();
        DeleteFileA(SettingsPathBesideExecutable().c_str());
    }
};

TEST_F(Initialisation, FailsWithoutAUsableSettingsFile) {
    EXPECT_EQ(kInitialiseFailed, InitialiseApplication(GetModuleHandleW(nullptr), false)) << "missing file";

    WriteFile(SettingsPathBesideExecutable(), "<Settings><AutoRun>1</AutoRun>");
    EXPECT_EQ(kInitialiseFailed, InitialiseApplication(GetModuleHandleW(nullptr), false)) << "malformed file";

    WriteFile(SettingsPathBesideExecutable(), "<?xml version=\"1.0\" ?><Options><AutoRun>1</AutoRun></Options>");
    EXPECT_EQ(kInitialiseFailed, InitialiseApplication(GetModuleHandleW(nullptr), false)) << "no Settings element";
    EXPECT_EQ(nullptr, GetCellMonitor());
}

TEST_F(Initialisation, ReadsSettingsComputesScaleAndCreatesTheMonitor) {
    WriteFile(SettingsPathBesideExecutable(),
              "<?xml version=\"1.0\" ?>\n<Settings><AutoLogIn>1</AutoLogIn><AutoRun>1</AutoRun>"
              "<UserID>ivan@example.ru</UserID><PassHash>d41d8cd98f00b204e9800998ecf8427e</PassHash></Settings>");
    ASSERT_EQ(kInitialiseReady, InitialiseApplication(GetModuleHandleW(nullptr), true));
    const AppContext& context = *GetAppContext();
    EXPECT_TRUE(context.startedHidden);
    EXPECT_TRUE(context.autoLogIn);
    EXPECT_TRUE(context.autoRun);
    EXPECT_EQ("ivan@example.ru", context.userId);
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", context.passHash);
    EXPECT_EQ("", context.subName);
    EXPECT_EQ(SettingsPathBesideExecutable(), context.settingsFile.path);
    EXPECT_EQ(GetModuleHandleW(nullptr), context.instance);
    EXPECT_EQ(1, context.scale) << "the tests run on a 240x320 screen";
    ASSERT_NE(nullptr, GetCellMonitor());
    EXPECT_EQ(GetCellMonitor(), context.cellMonitor);
}

TEST_F(Initialisation, FailsWhenACellMonitorExistsAlready) {
    WriteFile(SettingsPathBesideExecutable(), "<Settings/>");
    ASSERT_TRUE(CreateCellMonitor());
    EXPECT_EQ(kInitialiseFailed, InitialiseApplication(GetModuleHandleW(nullptr), false));
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// A window that looks like a running Pelmora to a second start.
HWND CreateRunningCopyWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PelMainWnd";
    RegisterClassW(&windowClass);
    return CreateWindowW(L"PelMainWnd", L"Pelmora", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

int CountMainWindows() {
    int count = 0;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"PelMainWnd", nullptr)) != nullptr) ++count;
    return count;
}

TEST_F(Initialisation, HandsOverToARunningCopy) {
    WriteFile(SettingsPathBesideExecutable(), "<Settings/>");
    HWND running = CreateRunningCopyWindow();
    ASSERT_NE(nullptr, running);
    EXPECT_EQ(kInitialiseAnotherCopy, InitialiseApplication(GetModuleHandleW(nullptr), false));
    EXPECT_EQ(running, GetAppContext()->mainWindow);
    EXPECT_EQ(nullptr, GetCellMonitor()) << "a second start goes no further";
    EXPECT_EQ(1, CountMainWindows());
    DestroyWindow(running);
}

// A pop-up of the running copy: its soft-key strip, which never takes activation, or a question.
HWND CreateOwnedPopup(HWND owner, bool softKeys) {
    return CreateWindowExW(softKeys ? WS_EX_NOACTIVATE : 0, L"PelMainWnd", L"", WS_POPUP | WS_VISIBLE, 0, 300, 10,
                           10, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// A copy hidden by a start from the Startup folder (its automatic log-in failed) or minimised by the
// user is shown again by the next start, and brought forward; a question it asks comes first.
TEST_F(Initialisation, HandingOverShowsTheRunningCopyAndBringsItForward) {
    WriteFile(SettingsPathBesideExecutable(), "<Settings/>");
    enum Popup { None, SoftKeys, Question };
    const struct {
        const char* name;
        int show;
        Popup popup;
    } cases[] = {{"hidden", SW_HIDE, None},
                 {"minimised", SW_SHOWMINIMIZED, None},
                 {"shown", SW_SHOWNORMAL, None},
                 {"hidden with its soft keys", SW_HIDE, SoftKeys},
                 {"shown with its soft keys", SW_SHOWNORMAL, SoftKeys},
                 {"asking a question", SW_SHOWNORMAL, Question}};
    for (const auto& test : cases) {
        HWND running = CreateRunningCopyWindow();
        ASSERT_NE(nullptr, running);
        ShowWindow(running, SW_SHOWNORMAL);
        HWND popup = test.popup != None ? CreateOwnedPopup(running, test.popup == SoftKeys) : nullptr;
        if (test.popup == Question) SetActiveWindow(popup);
        ShowWindow(running, test.show);
        EXPECT_EQ(kInitialiseAnotherCopy, InitialiseApplication(GetModuleHandleW(nullptr), false)) << test.name;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        EXPECT_TRUE(IsWindowVisible(running)) << test.name;
        EXPECT_FALSE(IsIconic(running)) << test.name;
        EXPECT_EQ(test.popup == Question ? popup : running, GetForegroundWindow()) << test.name;
        DestroyWindow(running);
    }
}

// Hidden until the log-in succeeds only when the log-in starts by itself; otherwise the user has to
// see the login window.
TEST_F(Initialisation, OnlyAStartFromTheStartupFolderThatLogsInByItselfStaysHidden) {
    const struct {
        bool dashA;
        const char* autoLogIn;
        bool hidden;
    } cases[] = {{true, "1", true}, {true, "0", false}, {false, "1", false}, {false, "0", false}};
    for (const auto& test : cases) {
        WriteFile(SettingsPathBesideExecutable(),
                  std::string("<Settings><AutoLogIn>") + test.autoLogIn + "</AutoLogIn></Settings>");
        ASSERT_EQ(kInitialiseReady, InitialiseApplication(GetModuleHandleW(nullptr), test.dashA));
        EXPECT_EQ(test.hidden, GetAppContext()->startedHidden) << "-a " << test.dashA << ", AutoLogIn " << test.autoLogIn;
        DestroyCellMonitor();
        DestroyAppContext();
        ASSERT_TRUE(CreateAppContext());
    }
}

// The program itself, started as a user would start it.
class ProgramStart : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temporary[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temporary);
        folder_ = std::wstring(temporary) + L"pelmora-start-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        program_ = folder_ + L"\\pelmora.exe";
        ASSERT_TRUE(CopyFileW(Utf8ToWide(PELMORA_EXECUTABLE).c_str(), program_.c_str(), FALSE));
    }
    void TearDown() override {
        DeleteFileW(program_.c_str());
        DeleteFileW((folder_ + L"\\settings.xml").c_str());
        RemoveDirectoryW(folder_.c_str());
    }

    PROCESS_INFORMATION Start() {
        STARTUPINFOW startup = {sizeof(startup)};
        PROCESS_INFORMATION process = {};
        std::wstring commandLine = L"\"" + program_ + L"\"";
        EXPECT_TRUE(CreateProcessW(program_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   folder_.c_str(), &startup, &process));
        return process;
    }

    std::wstring folder_;
    std::wstring program_;
};

struct FoundBox {
    DWORD processId;
    HWND box;
};

BOOL CALLBACK FindProcessDialog(HWND window, LPARAM parameter) {
    auto* found = reinterpret_cast<FoundBox*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (owner == found->processId && std::wstring(className) == L"#32770" && IsWindowVisible(window)) {
        found->box = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectTexts(HWND window, LPARAM parameter) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    *reinterpret_cast<std::wstring*>(parameter) += std::wstring(text) + L"|";
    return TRUE;
}

TEST_F(ProgramStart, WithoutSettingsShowsInitializationError) {
    PROCESS_INFORMATION process = Start();
    FoundBox found = {process.dwProcessId, nullptr};
    for (int attempt = 0; attempt < 200 && found.box == nullptr; ++attempt) {
        Sleep(50);
        EnumWindows(FindProcessDialog, reinterpret_cast<LPARAM>(&found));
    }
    ASSERT_NE(nullptr, found.box) << "no message box appeared";
    wchar_t caption[64] = {};
    GetWindowTextW(found.box, caption, 64);
    EXPECT_EQ(std::wstring(L"Error"), caption);
    std::wstring texts;
    EnumChildWindows(found.box, CollectTexts, reinterpret_cast<LPARAM>(&texts));
    EXPECT_NE(std::wstring::npos, texts.find(L"|Initialization Error|")) << WideToUtf8(texts);

    PostMessageW(found.box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 10000));
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(0u, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

TEST_F(ProgramStart, SecondStartLeavesSilentlyWithoutAWindowOfItsOwn) {
    HWND running = CreateRunningCopyWindow();
    ASSERT_NE(nullptr, running);
    PROCESS_INFORMATION process = Start();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 10000)) << "the second start did not end";
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(0u, exitCode);
    FoundBox found = {process.dwProcessId, nullptr};
    EnumWindows(FindProcessDialog, reinterpret_cast<LPARAM>(&found));
    EXPECT_EQ(nullptr, found.box);
    EXPECT_EQ(1, CountMainWindows());
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DestroyWindow(running);
}

}  // namespace
