#include "app/window_state.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

// Counts the states alive, so that a leak or a second delete shows.
struct CountedState {
    CountedState() { ++alive; }
    ~CountedState() { --alive; }
    CountedState(const CountedState&) = delete;
    CountedState& operator=(const CountedState&) = delete;

    static int alive;
    bool sawCreate = false;
};
int CountedState::alive = 0;

constexpr wchar_t kClassName[] = L"PelWindowStateTestWnd";
constexpr wchar_t kRefusingTitle[] = L"refuse";

// Marks its state in WM_CREATE, and refuses to be created when its title asks it to.
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CountedState* state = TrackWindowState<CountedState>(window, message, lParam);
    if (message == WM_CREATE) {
        if (state == nullptr) return -1;
        state->sawCreate = true;
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        return std::wcscmp(creation->lpszName, kRefusingTitle) == 0 ? -1 : 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class WindowStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = CountingProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kClassName;
        RegisterClassW(&windowClass);
        CountedState::alive = 0;
    }

    static HWND Create(const wchar_t* className, const wchar_t* title) {
        std::unique_ptr<CountedState> state = MakeWindowState<CountedState>();
        return CreateWindowExW(0, className, title, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleW(nullptr), WindowStateParameter(state));
    }

    static CountedState* StateOf(HWND window) {
        return reinterpret_cast<CountedState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
};

// Whatever becomes of the creation, the state is deleted exactly once: with the window, by the
// window when WM_CREATE refuses, by the creator when no window procedure ever ran.
TEST_F(WindowStateTest, TheStateLivesExactlyAsLongAsItsWindow) {
    struct Case {
        const char* name;
        const wchar_t* className;
        const wchar_t* title;
        bool created;
    };
    const Case cases[] = {
        {"created", kClassName, L"", true},
        {"refused in WM_CREATE", kClassName, kRefusingTitle, false},
        {"a class nobody registered", L"PelNoSuchClassWnd", L"", false},
    };
    for (const Case& test : cases) {
        CountedState::alive = 0;
        HWND window = Create(test.className, test.title);
        EXPECT_EQ(window != nullptr, test.created) << test.name;
        if (window != nullptr) {
            EXPECT_EQ(CountedState::alive, 1) << test.name;
            ASSERT_NE(StateOf(window), nullptr) << test.name;
            EXPECT_TRUE(StateOf(window)->sawCreate) << test.name << ": the state arrives before WM_CREATE";
            DestroyWindow(window);
        }
        EXPECT_EQ(CountedState::alive, 0) << test.name;
    }
}

TEST_F(WindowStateTest, EachWindowHasAStateOfItsOwn) {
    HWND first = Create(kClassName, L"");
    HWND second = Create(kClassName, L"");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(StateOf(first), StateOf(second));
    EXPECT_EQ(CountedState::alive, 2);
    DestroyWindow(first);
    EXPECT_EQ(CountedState::alive, 1);
    EXPECT_NE(StateOf(second), nullptr);
    DestroyWindow(second);
    EXPECT_EQ(CountedState::alive, 0);
}

}  // namespace
