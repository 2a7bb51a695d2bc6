// The soft-key menu bar: built from a menu resource, at the bottom of the screen, commands to its parent.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "platform/aygshell.h"
#include "resources/resource_ids.h"

namespace {

std::vector<UINT>& ReceivedCommands() {
    static std::vector<UINT> commands;
    return commands;
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) ReceivedCommands().push_back(LOWORD(wParam));
    return DefWindowProcW(window, message, wParam, lParam);
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

class MenuBar : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = RecordingProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"MenuBarTestParent";
        RegisterClassW(&windowClass);
        top_ = CreateWindowW(L"MenuBarTestParent", L"top", WS_POPUP | WS_VISIBLE, 0, 0, 240, 294, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
        pane_ = CreateWindowW(L"MenuBarTestParent", L"", WS_CHILD | WS_VISIBLE, 0, 20, 240, 200, top_, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
        ReceivedCommands().clear();
    }
    void TearDown() override { DestroyWindow(top_); }

    HWND Create(UINT resource, DWORD flags = SHCMBF_HMENU) {
        SHMENUBARINFO info = {};
        info.cbSize = sizeof(info);
        info.hwndParent = pane_;
        info.dwFlags = flags;
        info.nToolBarId = resource;
        info.hInstRes = GetModuleHandleW(nullptr);
        if (!SHCreateMenuBar(&info)) return nullptr;
        return info.hwndMB;
    }

    // A tap on the strip at x; queued keys first choose an item of a pop-up that the tap opens.
    std::vector<UINT> Tap(HWND bar, int x, std::vector<WPARAM> keys = {}) {
        ReceivedCommands().clear();
        for (WPARAM key : keys) PostMessageW(bar, WM_KEYDOWN, key, 0);
        SendMessageW(bar, WM_LBUTTONUP, 0, MAKELPARAM(x, 10));
        PumpMessages();
        return ReceivedCommands();
    }

    HWND top_ = nullptr;
    HWND pane_ = nullptr;
};

TEST_F(MenuBar, LiesAlongTheBottomOfTheScreen) {
    HWND bar = Create(IDR_MENU_ME);
    ASSERT_NE(nullptr, bar);
    RECT strip;
    GetWindowRect(bar, &strip);
    EXPECT_EQ(0, strip.left);
    EXPECT_EQ(320 - 26, strip.top);
    EXPECT_EQ(240, strip.right);
    EXPECT_EQ(320, strip.bottom);
    EXPECT_TRUE(IsWindowVisible(bar));
    EXPECT_EQ(top_, GetWindow(bar, GW_OWNER)) << "owned by the pane's top-level window";
    ShowWindow(bar, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(bar));
}

TEST_F(MenuBar, MeMenuSendsItsThreeCommandsToItsParent) {
    HWND bar = Create(IDR_MENU_ME);
    ASSERT_NE(nullptr, bar);
    EXPECT_EQ(std::vector<UINT>{IDM_MINIMIZE}, Tap(bar, 180));
    EXPECT_EQ(std::vector<UINT>{IDM_CHANGE_STATUS}, Tap(bar, 60, {VK_DOWN, VK_RETURN}));
    EXPECT_EQ(std::vector<UINT>{IDM_NAME_MY_PLACE}, Tap(bar, 60, {VK_DOWN, VK_DOWN, VK_RETURN}));
    EXPECT_EQ(std::vector<UINT>{}, Tap(bar, 60, {VK_ESCAPE})) << "a dismissed pop-up sends nothing";
}

TEST_F(MenuBar, SimpleMeMenuHoldsOnlyMinimise) {
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MENU_ME_SIMPLE));
    ASSERT_NE(nullptr, menu);
    ASSERT_EQ(1, GetMenuItemCount(menu));
    wchar_t text[32] = {};
    GetMenuStringW(menu, 0, text, 32, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(L"Свернуть"), text);
    DestroyMenu(menu);

    HWND bar = Create(IDR_MENU_ME_SIMPLE);
    ASSERT_NE(nullptr, bar);
    EXPECT_EQ(std::vector<UINT>{IDM_MINIMIZE}, Tap(bar, 60));
    EXPECT_EQ(std::vector<UINT>{}, Tap(bar, 180)) << "nothing lies in the right half";
}

TEST_F(MenuBar, EveryMenuResourceExistsWithItsCommands) {
    struct Expected {
        UINT resource;
        std::vector<UINT> commands;
    };
    const std::vector<Expected> menus = {
        {IDR_MENU_CONFIGURATION, {IDM_SAVE_CONFIGURATION}},
        {IDR_MENU_LOGIN, {IDM_EXIT}},
        {IDR_MENU_STATE, {IDM_BACK, IDM_MINIMIZE}},
        {IDR_MENU_GROUP_LIST, {IDM_BACK, IDM_MINIMIZE}},
        {IDR_MENU_PLACE, {IDM_SAVE_PLACE, IDM_BACK}},
    };
    for (const Expected& expected : menus) {
        HWND bar = Create(expected.resource);
        ASSERT_NE(nullptr, bar) << "menu " << expected.resource;
        std::vector<UINT> commands = Tap(bar, 60);
        if (expected.commands.size() > 1) {
            const std::vector<UINT> right = Tap(bar, 180);
            commands.insert(commands.end(), right.begin(), right.end());
        }
        EXPECT_EQ(expected.commands, commands) << "menu " << expected.resource;
        DestroyWindow(bar);
    }
    HWND groups = Create(IDR_MENU_GROUPS);
    ASSERT_NE(nullptr, groups);
    EXPECT_EQ(std::vector<UINT>{IDM_CHOOSE_GROUP}, Tap(groups, 60, {VK_DOWN, VK_RETURN}));
}

TEST_F(MenuBar, HiddenFlagAndUnknownResource) {
    HWND hidden = Create(IDR_MENU_LOGIN, SHCMBF_HMENU | SHCMBF_HIDDEN);
    ASSERT_NE(nullptr, hidden);
    EXPECT_FALSE(IsWindowVisible(hidden));
    EXPECT_EQ(nullptr, Create(9999)) << "a missing menu resource creates no bar";
}

}  // namespace
