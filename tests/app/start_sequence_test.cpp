// The start sequence run as the program runs it: the login loop with the automatic log-in, the
// hidden start from the Startup folder, and "Выход".
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <functional>

#include "app/login_window.h"
#include "app/main_window.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/pane_window.h"
#include "tests/app/shell_fixture.h"

namespace {

// Runs `check` once while RunMainWindow's loop runs, after the queued messages (the automatic
// log-in's click among them) were handled.
std::function<void()>& PendingCheck() {
    static std::function<void()> check;
    return check;
}

void CALLBACK RunPendingCheck(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (PendingCheck()) PendingCheck()();
    PendingCheck() = nullptr;
}

class StartSequence : public ShellTest {
protected:
    void RunWhileLooping(std::function<void()> check) {
        PendingCheck() = std::move(check);
        SetTimer(nullptr, 0, 100, RunPendingCheck);
        RunMainWindow();
    }
};

struct FormState {
    bool mainVisible = true;
    bool menuBarVisible = true;
    bool formEnabled = false;
    int progress = -1;
};

// Hidden until somebody shows it (a second start of the program): then with its soft keys.
TEST_F(StartSequence, AFailedAutomaticLogInLeavesTheHiddenWindowHiddenWithTheFormEnabled) {
    _wputenv(L"PELMORA_SERVICE_HOST=host.invalid");
    context().startedHidden = true;
    context().autoLogIn = true;
    context().userId = "ivan@example.ru";
    context().passHash = "0123456789abcdef0123456789abcdef";
    FormState seen;
    FormState shown;
    RunWhileLooping([this, &seen, &shown] {
        seen.mainVisible = IsWindowVisible(main()) != FALSE;
        seen.menuBarVisible = IsWindowVisible(context().loginMenuBar) != FALSE;
        seen.formEnabled = IsWindowEnabled(loginControl(IDC_LOGIN_EMAIL)) && IsWindowEnabled(loginControl(IDC_LOGIN_BUTTON));
        seen.progress = static_cast<int>(SendDlgItemMessageW(login(), IDC_LOGIN_PROGRESS, PBM_GETPOS, 0, 0));
        ShowWindow(main(), SW_SHOWNORMAL);
        shown.mainVisible = IsWindowVisible(main()) != FALSE;
        shown.menuBarVisible = IsWindowVisible(context().loginMenuBar) != FALSE;
        PostMessageW(login(), WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    });
    _wputenv(L"PELMORA_SERVICE_HOST=");
    EXPECT_FALSE(seen.mainVisible);
    EXPECT_FALSE(seen.menuBarVisible) << "no soft keys of a hidden program";
    EXPECT_TRUE(seen.formEnabled);
    EXPECT_EQ(0, seen.progress);
    EXPECT_TRUE(shown.mainVisible);
    EXPECT_TRUE(shown.menuBarVisible) << "\"Выход\" is on screen with the login window";
    EXPECT_EQ(std::wstring(kTextCannotConnect), context().statusText);
    EXPECT_TRUE(context().loginPhase) << "\"Выход\" ended the program before any pane existed";
    EXPECT_EQ(nullptr, pane(kPaneMe));
}

TEST_F(StartSequence, AnOrdinaryStartShowsTheWindowWithTheFormAndWaits) {
    FormState seen;
    RunWhileLooping([this, &seen] {
        seen.mainVisible = IsWindowVisible(main()) != FALSE;
        seen.menuBarVisible = IsWindowVisible(context().loginMenuBar) != FALSE;
        seen.formEnabled = IsWindowEnabled(loginControl(IDC_LOGIN_EMAIL)) != FALSE;
        seen.progress = IsWindowEnabled(loginControl(IDC_LOGIN_BUTTON)) ? 1 : 0;
        PostMessageW(login(), WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    });
    EXPECT_TRUE(seen.mainVisible);
    EXPECT_TRUE(seen.menuBarVisible);
    EXPECT_TRUE(seen.formEnabled);
    EXPECT_EQ(0, seen.progress) << "no log-in was started: the button waits for the user's input";
    EXPECT_EQ(std::wstring(kTextIdleProductLine), context().statusText);
    EXPECT_EQ(nullptr, pane(kPaneMe));
}

}  // namespace
