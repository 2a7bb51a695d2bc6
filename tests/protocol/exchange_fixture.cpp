#include "tests/protocol/exchange_fixture.h"

#include "app/message_box.h"
#include "app/shell_frontend.h"
#include "location/cell_monitor.h"
#include "platform/durations.h"
#include "platform/web_link.h"
#include "protocol/transport.h"
#include "protocol/transport_state.h"
#include "resources/resource_ids.h"

namespace {

constexpr wchar_t kWindowClass[] = L"ProtocolTestMainWnd";
ExchangeTest* current = nullptr;

}  // namespace

LRESULT CALLBACK ExchangeTest::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (current != nullptr && window == current->mainWindow) {
        if (message == WM_PELMORA_RENEW_LOGIN) {
            ++current->renewalMessages;
            if (current->onRenewal) current->onRenewal();
            return 0;
        }
        if (message == WM_PAINT) ++current->paints;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void ExchangeTest::SetUp() {
    current = this;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    mainWindow = CreateWindowW(kWindowClass, L"main", WS_POPUP | WS_VISIBLE, 0, 0, 240, 300, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    loginWindow = CreateWindowW(kWindowClass, L"login", WS_POPUP, 0, 0, 240, 300, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, mainWindow);

    ASSERT_TRUE(CreateAppContext());
    context = GetAppContext();
    context->frontend = std::make_unique<ShellFrontend>(*context);
    context->mainWindow = mainWindow;
    context->loginWindow = loginWindow;
    ASSERT_TRUE(CreateCellMonitor());
    context->cellMonitor = GetCellMonitor();

    ASSERT_TRUE(StartNetwork(*context));
    context->serverHost = "localhost";
    context->transport->serverAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    context->transport->serverAddress.sin_port = htons(server.Port());
    context->token = "T0K";

    SetMessageBoxAnswerer([this](HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
        // A box without a caption (the radio layer's) gets the platform's default one.
        boxes.push_back({owner, text, caption != nullptr ? caption : L"", flags});
        if (answers_.empty()) return IDOK;
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    });
    SetBrowserOpenerForTesting([this](const wchar_t* address) { openedAddresses.push_back(address); });
}

void ExchangeTest::TearDown() {
    SetMessageBoxAnswerer(nullptr);
    SetBrowserOpenerForTesting(nullptr);
    GetDurations() = Durations();
    if (context != nullptr) StopNetwork(*context);
    DestroyCellMonitor();
    DestroyAppContext();
    DestroyWindow(loginWindow);
    DestroyWindow(mainWindow);
    current = nullptr;
}

std::string ExchangeTest::Envelope(const std::string& kind, const std::string& body, const std::string& host) {
    return "POST http://" + host + " HTTP/1.0\r\nHost: " + kind + "." + host +
           "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body + "\r\n";
}

std::string ExchangeTest::OnlyRequest() const {
    const std::vector<std::string> requests = server.Requests();
    EXPECT_EQ(1u, requests.size());
    return requests.size() == 1 ? requests[0] : std::string();
}

void ParseReplyDocument(const std::string& elements, TiXmlDocument* document) {
    document->Parse(pelmora_test::XmlDocument(elements).c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
}
