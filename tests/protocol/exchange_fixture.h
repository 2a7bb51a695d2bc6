// A test of server exchanges: the application object, a main window that counts the messages it gets,
// the socket library started, the fake server as the service, and recorders for message boxes and
// the browser.
#pragma once

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "app/app_context.h"
#include "tests/support/fake_server.h"

struct ShownBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT flags;
};

// Parses `elements`, behind the XML declaration, as a reply's document is parsed.
void ParseReplyDocument(const std::string& elements, TiXmlDocument* document);

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The exact bytes of a request of `kind` with `body`, naming `host`.
    static std::string Envelope(const std::string& kind, const std::string& body,
                                const std::string& host = "localhost");
    // The bytes of the only request received so far (the test fails when there is not exactly one).
    std::string OnlyRequest() const;

    // Answers the next message box with `button`; unanswered boxes get IDOK.
    void AnswerNextBox(int button) { answers_.push_back(button); }

    AppContext* context = nullptr;
    HWND mainWindow = nullptr;
    HWND loginWindow = nullptr;
    pelmora_test::FakeServer server;
    std::vector<ShownBox> boxes;
    std::vector<std::wstring> openedAddresses;
    int renewalMessages = 0;
    int paints = 0;
    std::function<void()> onRenewal;  // what the main window does when asked to renew the log-in

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    std::deque<int> answers_;
};
