// The real main window in a test: an AppContext prepared as the start prepares it, the window
// created by the shell itself, and the means to tap, type, press keys, answer message boxes and
// look at what was painted.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/app_context.h"
#include "tests/support/fake_server.h"
#include "tests/support/picture.h"

struct AskedQuestion {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT flags;
};

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    AppContext& context() { return *GetAppContext(); }
    int s() { return context().scale; }

    // The program ends (windows, worker, network, AppContext; settings.xml stays) and starts again
    // from the settings file, as the next start reads it.
    void StartAgain();
    // The same without reading the settings file: a fresh AppContext.
    void StartAfresh();

    // The main window with its login window, as the start creates it.
    void CreateMain();
    // The main window after a log-in: panes, timers, worker.
    void CreateRunningMain();

    HWND main() { return context().mainWindow; }
    HWND login() { return context().loginWindow; }
    HWND pane(int index) { return context().panes[index].window; }
    HWND loginControl(int id) { return GetDlgItem(login(), id); }

    static std::wstring TextOf(HWND window);
    static LONG StyleOf(HWND window) { return GetWindowLongW(window, GWL_STYLE); }
    // The rectangle of `window` in the client coordinates of its parent.
    static RECT BoundsInParent(HWND window);

    void Tap(HWND window, int x, int y);
    void Key(WPARAM key);
    void Command(HWND window, int id, int notification = 0);
    // Types `text` into an edit control character by character; '\b' deletes the character before the caret.
    void Type(HWND edit, const std::wstring& text);
    void Timer(UINT_PTR id);
    // Dispatches what is queued; with `milliseconds`, keeps doing so for that long.
    void Pump(unsigned milliseconds = 0);
    // True (and the quit message taken out of the queue) when a quit message with `code` waits.
    bool TakeQuit(int code);
    // Whether a timer of the main window with `id` is armed; asking disarms it.
    bool TakeTimer(UINT_PTR id);

    // Every message box is answered with `answer` and recorded.
    void AnswerQuestionsWith(int answer) { answer_ = answer; }
    std::vector<AskedQuestion> questions_;

    // The main window's client area as PaintMainWindow draws it, in a 32-bit bitmap.
    using Picture = pelmora_test::Picture;
    // The main window painted by PaintMainWindow.
    void PaintMain(Picture& picture);
    // What `window` shows on screen now, after painting what it had to paint.
    void Capture(HWND window, Picture& picture);

    // From now on every status text the main window paints is kept in paintedStatuses().
    void RecordPaintedStatuses();

public:
    static std::vector<std::wstring>& paintedStatuses();

protected:
    // The width and height of `text` in `font`.
    SIZE Measure(HFONT font, const wchar_t* text);

    std::string settingsPath_;

private:
    // AppContext and cell monitor as the start prepares them, and their end.
    void BeginProgram();
    void EndProgram();

    int answer_ = IDNO;
};

// A date of the week (0 Sunday ... 6 Saturday) at hour:minute, for the settable clock.
SYSTEMTIME MakeLocalTime(int dayOfWeek, int hour, int minute);

// A shell test with the fake server as the service: a log-in finds it through the environment, and
// OpenSession() makes the context look like one after a log-in to it.
class ServedShellTest : public ShellTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The socket library started, the server's address, a token: what a log-in leaves.
    void OpenSession();
    // Appends an "HTTP/1.0 200 OK" XML reply with `elements` to the server's script.
    void Reply(const std::string& elements) { server_.Push(pelmora_test::XmlReply(elements)); }
    // The request kinds received so far, in order ("hand", "config", "isee", "ineed", ...).
    std::vector<std::string> RequestKinds() const;
    // The body of request `index`.
    std::string RequestBody(size_t index) const;

    pelmora_test::FakeServer server_;
};

// Replies of the service that most tests need.
extern const char kHandshakeAccepted[];
extern const char kConfigurationVisibleToGroups[];
extern const char kReportAccepted[];
extern const char kReportRefused[];
extern const char kOneGroup[];
extern const char kLogInExpired[];
