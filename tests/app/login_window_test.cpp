// The login window: its controls, the cue texts, the rule that enables the button, the web-site
// line, scrolling, "Выход", and a log-in that cannot reach the network.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>

#include "app/login_window.h"
#include "deployment.h"
#include "platform/web_link.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/thumb_drag.h"

namespace {

class LoginWindow : public ShellTest {
protected:
    HWND email() { return loginControl(IDC_LOGIN_EMAIL); }
    HWND password() { return loginControl(IDC_LOGIN_PASSWORD); }
    HWND button() { return loginControl(IDC_LOGIN_BUTTON); }
    HWND check() { return loginControl(IDC_LOGIN_AUTO); }
    HWND progress() { return loginControl(IDC_LOGIN_PROGRESS); }

    void Focus(HWND control) {
        SetFocus(control);
        Pump();
    }

    // The children of the login window in creation order.
    std::vector<HWND> Children() {
        std::vector<HWND> children;
        for (HWND child = GetWindow(login(), GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            children.push_back(child);
        }
        return children;
    }
};

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

TEST_F(LoginWindow, HoldsTheControlsOfTheFormAtTheirPlaces) {
    CreateMain();
    RECT client;
    GetClientRect(login(), &client);
    const int full = client.right - 20 * s();
    struct Expected {
        const wchar_t* windowClass;
        const wchar_t* text;
        int id;
        RECT bounds;
    };
    const Expected expected[] = {
        {L"Edit", kTextEmailCue, 0, {10 * s(), 45 * s(), 10 * s() + full, 67 * s()}},
        {L"Edit", kTextPasswordCue, 1, {10 * s(), 73 * s(), 10 * s() + full, 95 * s()}},
        {L"Button", kTextLogInButton, 3, {10 * s(), 149 * s(), 10 * s() + full / 2, 173 * s()}},
        {L"msctls_progress32", L"", 4, {10 * s(), 183 * s(), 10 * s() + full, 199 * s()}},
        {L"Button", kTextAutoLogIn, 2, {10 * s(), 105 * s(), 10 * s() + full, 135 * s()}},
        {L"Static", kTextNotRegistered, 0, {10 * s(), 209 * s(), 10 * s() + full, 223 * s()}},
        {L"Static", kTextGoTo, 0, {10 * s(), 225 * s(), 68 * s(), 239 * s()}},
    };
    const std::vector<HWND> children = Children();
    ASSERT_EQ(std::size(expected), children.size());
    for (size_t index = 0; index < children.size(); ++index) {
        HWND control = children[index];
        EXPECT_EQ(0, _wcsicmp(expected[index].windowClass, ClassOf(control).c_str())) << index;
        EXPECT_EQ(std::wstring(expected[index].text), TextOf(control)) << index;
        EXPECT_EQ(expected[index].id, GetDlgCtrlID(control)) << index;
        const RECT bounds = BoundsInParent(control);
        EXPECT_EQ(expected[index].bounds.left, bounds.left) << index;
        EXPECT_EQ(expected[index].bounds.top, bounds.top) << index;
        EXPECT_EQ(expected[index].bounds.right, bounds.right) << index;
        EXPECT_EQ(expected[index].bounds.bottom, bounds.bottom) << index;
        EXPECT_TRUE(IsWindowVisible(control)) << index;
    }

    EXPECT_TRUE(StyleOf(progress()) & WS_BORDER);
    EXPECT_TRUE(StyleOf(email()) & ES_LOWERCASE);
    EXPECT_FALSE(StyleOf(password()) & ES_PASSWORD) << "without a stored hash the cue is readable";
    EXPECT_EQ(BS_AUTOCHECKBOX, StyleOf(check()) & BS_TYPEMASK);
    EXPECT_TRUE(StyleOf(check()) & BS_MULTILINE);
    EXPECT_EQ(BST_UNCHECKED, SendMessageW(check(), BM_GETCHECK, 0, 0));
    EXPECT_EQ(BS_DEFPUSHBUTTON, StyleOf(button()) & BS_TYPEMASK);
    EXPECT_FALSE(IsWindowEnabled(button()));
    PBRANGE range = {};
    SendMessageW(progress(), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(0, range.iLow);
    EXPECT_EQ(4, range.iHigh);
    EXPECT_EQ(0, SendMessageW(progress(), PBM_GETPOS, 0, 0));
    EXPECT_FALSE(StyleOf(login()) & WS_VSCROLL) << "the whole form fits: no scroll bar";

    ASSERT_NE(nullptr, context().loginMenuBar);
    EXPECT_TRUE(IsWindowVisible(context().loginMenuBar));
    EXPECT_FALSE(context().emailEntered);
    EXPECT_FALSE(context().passwordEntered);
}

TEST_F(LoginWindow, FocusClearsTheEmailCueButKeepsAStoredAddress) {
    CreateMain();
    Focus(email());
    EXPECT_EQ(L"", TextOf(email()));
    DestroyWindow(main());
    EXPECT_TRUE(TakeQuit(kQuitLoginExit)) << "a program without its window ends";

    context().userId = "ivan@example.ru";
    context().autoLogIn = true;
    CreateMain();
    EXPECT_TRUE(context().emailEntered);
    EXPECT_EQ(BST_CHECKED, SendMessageW(check(), BM_GETCHECK, 0, 0));
    Focus(email());
    EXPECT_EQ(L"ivan@example.ru", TextOf(email()));
}

TEST_F(LoginWindow, AStoredHashIsShownHiddenAndReplacedByAnEmptyPasswordFieldOnFocus) {
    context().passHash = "0123456789abcdef0123456789abcdef";
    CreateMain();
    HWND cue = password();
    EXPECT_TRUE(StyleOf(cue) & ES_PASSWORD);
    const RECT before = BoundsInParent(cue);

    Focus(cue);
    HWND field = password();
    ASSERT_NE(nullptr, field);
    EXPECT_FALSE(IsWindow(cue));
    EXPECT_EQ(L"", TextOf(field));
    EXPECT_TRUE(StyleOf(field) & ES_PASSWORD);
    EXPECT_EQ(field, GetFocus());
    const RECT after = BoundsInParent(field);
    EXPECT_EQ(before.left, after.left);
    EXPECT_EQ(before.top, after.top);
    EXPECT_EQ(before.bottom, after.bottom);
    EXPECT_FALSE(context().passwordEntered);
}

TEST_F(LoginWindow, WithoutAStoredHashTheFirstFocusAlsoStartsFromAnEmptyPasswordField) {
    CreateMain();
    Focus(password());
    EXPECT_EQ(L"", TextOf(password()));
    EXPECT_TRUE(StyleOf(password()) & ES_PASSWORD);
}

TEST_F(LoginWindow, TheButtonWaitsForAnAddressWithAnAtSignAndAPassword) {
    CreateMain();
    Focus(email());
    Type(email(), L"ivan.example.ru");
    Focus(password());
    Type(password(), L"secret");
    EXPECT_TRUE(context().passwordEntered);
    EXPECT_FALSE(context().emailEntered);
    EXPECT_FALSE(IsWindowEnabled(button())) << "no \"@\", no log-in";

    // An "@" typed once counts even when it is deleted again.
    Type(email(), L"@\b");
    EXPECT_EQ(L"ivan.example.ru", TextOf(email()));
    EXPECT_TRUE(context().emailEntered);
    EXPECT_TRUE(IsWindowEnabled(button()));
}

TEST_F(LoginWindow, TheAddressComesFirstOrSecondAlike) {
    CreateMain();
    Focus(password());
    Type(password(), L"x");
    EXPECT_FALSE(IsWindowEnabled(button()));
    Focus(email());
    Type(email(), L"a@b");
    EXPECT_TRUE(IsWindowEnabled(button()));
}

TEST_F(LoginWindow, TheAddressIsTypedInLowerCase) {
    CreateMain();
    Focus(email());
    Type(email(), L"Ivan@Example.RU");
    EXPECT_EQ(L"ivan@example.ru", TextOf(email()));
}

TEST_F(LoginWindow, ExitEndsTheLoginLoopWithCodeZero) {
    CreateMain();
    Command(login(), IDM_EXIT);
    EXPECT_TRUE(TakeQuit(kQuitLoginExit));
}

TEST_F(LoginWindow, TheWebSiteLineOpensTheWebSiteAlsoWhenScrolled) {
    std::vector<std::wstring> opened;
    SetBrowserOpenerForTesting([&opened](const wchar_t* address) { opened.push_back(address); });
    CreateMain();
    const int x = 100 * s();
    Tap(login(), x, 230 * s());
    Tap(login(), x, 244 * s());
    EXPECT_TRUE(opened.empty()) << "the line's edges are outside it";
    Tap(login(), x, 237 * s());
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ(std::wstring(PELMORA_WEB_SITE_ADDRESS), opened[0]);

    // A window shorter than the form scrolls; the tap is taken where the line is now.
    MoveWindow(login(), 0, 0, 240 * s(), 200 * s(), TRUE);
    SendMessageW(login(), WM_VSCROLL, SB_PAGEDOWN, 0);
    SendMessageW(login(), WM_VSCROLL, SB_PAGEDOWN, 0);
    ASSERT_EQ(20 * s(), GetScrollPos(login(), SB_VERT));
    opened.clear();
    Tap(login(), x, 237 * s());
    EXPECT_TRUE(opened.empty());
    Tap(login(), x, 237 * s() - 20 * s());
    EXPECT_EQ(1u, opened.size());
}

TEST_F(LoginWindow, ScrollingMovesTheControlsAndStopsAtTheEndsOfTheForm) {
    CreateMain();
    const int height = 200 * s();
    MoveWindow(login(), 0, 0, 240 * s(), height, TRUE);
    const int maximum = 250 * s() - height;
    EXPECT_TRUE(StyleOf(login()) & WS_VSCROLL) << "a window shorter than the form gets a scroll bar";

    SendMessageW(login(), WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(s(), GetScrollPos(login(), SB_VERT));
    EXPECT_EQ(45 * s() - s(), BoundsInParent(email()).top);
    ASSERT_TRUE(pelmora_test::DragScrollThumb(login(), 1.0));
    EXPECT_EQ(maximum, GetScrollPos(login(), SB_VERT)) << "the thumb drags to the end";
    EXPECT_EQ(45 * s() - maximum, BoundsInParent(email()).top);
    SendMessageW(login(), WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(maximum, GetScrollPos(login(), SB_VERT));
    SendMessageW(login(), WM_VSCROLL, SB_PAGEUP, 0);
    EXPECT_EQ(maximum - 10 * s(), GetScrollPos(login(), SB_VERT));
    ASSERT_TRUE(pelmora_test::DragScrollThumb(login(), 0.0));
    EXPECT_EQ(0, GetScrollPos(login(), SB_VERT)) << "and back to the top";
    SendMessageW(login(), WM_VSCROLL, SB_LINEUP, 0);
    EXPECT_EQ(0, GetScrollPos(login(), SB_VERT));
    EXPECT_EQ(45 * s(), BoundsInParent(email()).top);

    // A new size starts at the top again.
    SendMessageW(login(), WM_VSCROLL, SB_PAGEDOWN, 0);
    MoveWindow(login(), 0, 0, 220 * s(), height, TRUE);
    EXPECT_EQ(0, GetScrollPos(login(), SB_VERT));
    EXPECT_EQ(45 * s(), BoundsInParent(email()).top);
    RECT client;
    GetClientRect(login(), &client);
    EXPECT_EQ(client.right - 20 * s(), BoundsInParent(email()).right - BoundsInParent(email()).left);
    EXPECT_EQ((client.right - 20 * s()) / 2, BoundsInParent(button()).right - BoundsInParent(button()).left);
}

TEST_F(LoginWindow, ALogInThatCannotReachTheServerSaysSoAndResetsTheForm) {
    _wputenv(L"PELMORA_SERVICE_HOST=host.invalid");
    CreateMain();
    Focus(email());
    Type(email(), L"ivan@example.ru");
    Focus(password());
    Type(password(), L"secret");
    ASSERT_TRUE(IsWindowEnabled(button()));
    Command(login(), IDC_LOGIN_BUTTON, BN_CLICKED);
    _wputenv(L"PELMORA_SERVICE_HOST=");

    EXPECT_EQ(std::wstring(kTextCannotConnect), context().statusText);
    for (HWND control : {email(), password(), button(), check()}) EXPECT_TRUE(IsWindowEnabled(control));
    EXPECT_EQ(0, SendMessageW(progress(), PBM_GETPOS, 0, 0));
    EXPECT_FALSE(TakeQuit(kQuitLoginSucceeded));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(settingsPath_.c_str())) << "nothing written";
}

}  // namespace
