// The panes of the screens inside a test main window: an AppContext laid out as the main window
// lays it out, the fonts it creates, and the means to tap, press keys and look at pixels.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "protocol/groups_model.h"
#include "tests/support/fake_server.h"

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A phone of this scale: 240x294 or 480x588 of main window. Call before CreatePanes.
    void UseScale(int scale);
    // The scales whose main window fits the screen, so that what it draws can be read back from
    // the screen: 1, and 2 on a VGA screen (the screens_tests_vga run).
    static std::vector<int> ScalesOnThisScreen();
    // Creates the panes 0, 1, 2, 4 and 5 in order, as the start sequence does, and lays them out.
    void CreatePanes();

    AppContext& context() { return *GetAppContext(); }
    HWND pane(int index) { return context().panes[index].window; }
    HWND control(int paneIndex, int id) { return GetDlgItem(pane(paneIndex), id); }
    std::wstring ControlText(int paneIndex, int id);

    // Shows the pane as the current one and paints it.
    void Show(int paneIndex);
    void Key(int paneIndex, WPARAM key);
    void Tap(HWND window, int x, int y);
    // A click of a button control, as the user's tap produces it.
    void Click(int paneIndex, int id);
    void Pump();

    // The colour on screen at (x, y) of `window`'s client area, after painting it.
    COLORREF PixelAt(HWND window, int x, int y);
    // Whether any pixel of the client area looks like the blue of the names.
    bool ShowsNameBlue(HWND window);

    RECT ClientRect(HWND window);
    // The bounds of `window` in the client coordinates of its parent.
    RECT BoundsInParent(HWND window);

    // The fake server as the service: the socket library started, a session token, the phone in a
    // cell. Replies are pushed with server().Push.
    void StartServer();
    pelmora_test::FakeServer& server() { return *server_; }
    // The form body of request `index` as the server received it.
    std::string RequestBody(size_t index);

    static Person MakePerson(int id, const std::wstring& name, const std::wstring& address);
    static Group MakeGroup(int id, const std::wstring& title, std::vector<Person> people);

    int scale_ = 1;
    bool quitPosted_ = false;  // a pump met the quit message
    // The texts of the message boxes shown so far; each is answered with the next of `answers_`,
    // or with No when none is left.
    std::vector<std::wstring> questions_;
    std::deque<int> answers_;
    std::unique_ptr<pelmora_test::FakeServer> server_;
    HWND main_ = nullptr;
};
