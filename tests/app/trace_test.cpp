// The benchmark's trace (app/trace.h): the line each traced call leaves, calls that behave as they do
// untraced, and nothing installed without PELMORA_TRACE.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/import_table.h"
#include "app/trace.h"
#include "tests/support/fake_server.h"

namespace {

constexpr wchar_t kWindowClass[] = L"TraceTestWnd";

std::wstring TracePath() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"pelmora-trace-test.trace";
}

std::string ReadTrace() {
    std::string text;
    FILE* file = _wfopen(TracePath().c_str(), L"rb");
    if (file == nullptr) return text;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file)) > 0;) text.append(chunk, got);
    std::fclose(file);
    return text;
}

struct Line {
    long long begin = 0;
    long long end = 0;
    unsigned long thread = 0;
    std::string event;  // the event and its details: "sleep ms=1"
};

std::vector<Line> ReadLines() {
    std::vector<Line> lines;
    std::istringstream text(ReadTrace());
    for (std::string row; std::getline(text, row);) {
        Line line;
        std::istringstream fields(row);
        fields >> line.begin >> line.end >> line.thread;
        std::getline(fields >> std::ws, line.event);
        lines.push_back(line);
    }
    return lines;
}

LRESULT CALLBACK PaintingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreatePaintingWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PaintingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, kWindowClass, L"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// A connection to the fake server, made before the trace starts so that only the call under test shows.
SOCKET Connect(const pelmora_test::FakeServer& server) {
    SOCKET connection = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    return connection;
}

// A request to the service as the phone writes it.
const std::string kRequest = "POST http://localhost HTTP/1.0\r\nHost: isee.localhost\r\nContent-Length: 0\r\n\r\n\r\n";

// Connects to the fake server and sends `bytes`; the connection stays open.
SOCKET Send(const pelmora_test::FakeServer& server, const std::string& bytes) {
    SOCKET connection = Connect(server);
    send(connection, bytes.data(), static_cast<int>(bytes.size()), 0);
    return connection;
}

void ConnectAndClose(HWND, pelmora_test::FakeServer& server) { closesocket(Connect(server)); }

void TakePostedMessage(HWND window, pelmora_test::FakeServer&) {
    PostMessageW(window, WM_USER, 0, 0);
    MSG message;
    GetMessageW(&message, nullptr, 0, 0);
}

class Trace : public ::testing::Test {
protected:
    void SetUp() override {
        WSAStartup(MAKEWORD(2, 0), &socketData_);
        window_ = CreatePaintingWindow();
        ASSERT_NE(window_, nullptr);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    void TearDown() override {
        StopTrace();
        DestroyWindow(window_);
        DeleteFileW(TracePath().c_str());
        WSACleanup();
    }

    WSADATA socketData_ = {};
    HWND window_ = nullptr;
};

struct TracedCall {
    const char* what;
    std::function<void(HWND window, pelmora_test::FakeServer& server)> call;
    const char* line;  // the event and its details, a regular expression
};

TEST_F(Trace, EachTracedCallLeavesItsLine) {
    const TracedCall calls[] = {
        {"Sleep", [](HWND, pelmora_test::FakeServer&) { Sleep(1); }, "sleep ms=1"},
        {"a wait that runs out",
         [](HWND, pelmora_test::FakeServer&) {
             HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
             WaitForSingleObject(event, 1);
             CloseHandle(event);
         },
         "wait ms=1 result=258"},
        {"a wait without limit that is met",
         [](HWND, pelmora_test::FakeServer&) {
             HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
             WaitForSingleObject(event, INFINITE);
             CloseHandle(event);
         },
         "wait ms=-1 result=0"},
        {"resolving a name", [](HWND, pelmora_test::FakeServer&) { gethostbyname("127.0.0.1"); },
         "resolve name=127\\.0\\.0\\.1 found=1"},
        {"connecting", ConnectAndClose, "connect socket=\\d+ result=0"},
        {"a request to the service names its Host",
         [](HWND, pelmora_test::FakeServer& server) { closesocket(Send(server, kRequest)); },
         "send socket=\\d+ n=77 host=isee\\.localhost"},
        {"a modem command shows its first bytes",
         [](HWND, pelmora_test::FakeServer& server) { closesocket(Send(server, "AT+creg?\r")); },
         "send socket=\\d+ n=9 text=AT\\+creg\\?_"},
        {"receiving",
         [](HWND, pelmora_test::FakeServer& server) {
             SOCKET connection = Send(server, kRequest);
             server.WaitForRequests(1, 5000);
             char reply[512];
             recv(connection, reply, sizeof(reply), 0);
             closesocket(connection);
         },
         "recv socket=\\d+ n=[1-9]\\d*"},
        {"a select that runs out",
         [](HWND, pelmora_test::FakeServer& server) {
             SOCKET connection = Connect(server);
             fd_set readable;
             FD_ZERO(&readable);
             FD_SET(connection, &readable);
             timeval wait = {0, 1000};
             select(0, &readable, nullptr, nullptr, &wait);
             closesocket(connection);
         },
         "select ms=1 result=0"},
        {"closing", ConnectAndClose, "close socket=\\d+"},
        {"waiting for a message with nothing to paint", TakePostedMessage, "idle paint-pending=0"},
        {"the message taken", TakePostedMessage, "message id=0x400"},
        {"dispatching",
         [](HWND window, pelmora_test::FakeServer&) {
             MSG message = {window, WM_USER, 0, 0, 0, {0, 0}};
             DispatchMessageW(&message);
         },
         "dispatch id=0x400 class=TraceTestWnd control=0 parent=-"},
        {"painting",
         [](HWND window, pelmora_test::FakeServer&) {
             InvalidateRect(window, nullptr, TRUE);
             UpdateWindow(window);
         },
         "paint class=TraceTestWnd"},
        {"measuring on a device context",
         [](HWND window, pelmora_test::FakeServer&) { ReleaseDC(window, GetDC(window)); }, "dc class=TraceTestWnd"},
    };
    for (const TracedCall& traced : calls) {
        SCOPED_TRACE(traced.what);
        pelmora_test::FakeServer server;
        server.Push(pelmora_test::XmlReply("<isee><status>1</status></isee>"));
        ASSERT_TRUE(StartTrace(GetModuleHandleW(nullptr), TracePath().c_str()));
        traced.call(window_, server);
        StopTrace();
        const std::vector<Line> lines = ReadLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front().event, "start calls=14");
        // The fake server's thread is traced too (it lives in the same module): only this thread counts.
        const std::regex expected(traced.line);
        int found = 0;
        for (const Line& line : lines) {
            if (line.thread != GetCurrentThreadId() || !std::regex_match(line.event, expected)) continue;
            ++found;
            EXPECT_LE(line.begin, line.end) << line.event;
        }
        EXPECT_EQ(found, 1) << ReadTrace();
    }
}

// What a traced call returns and leaves as the last error, against the same call untraced.
TEST_F(Trace, CallsAnswerAsUntraced) {
    struct Outcome {
        long long result;
        int error;
    };
    const std::function<Outcome()> calls[] = {
        [] {
            char byte;
            const int result = recv(INVALID_SOCKET, &byte, 1, 0);
            return Outcome{result, WSAGetLastError()};
        },
        [] {
            const int result = closesocket(INVALID_SOCKET);
            return Outcome{result, WSAGetLastError()};
        },
        [] {
            const DWORD result = WaitForSingleObject(nullptr, 0);
            return Outcome{static_cast<long long>(result), static_cast<int>(GetLastError())};
        },
        [] {
            const int result = send(INVALID_SOCKET, "x", 1, 0);
            return Outcome{result, WSAGetLastError()};
        },
    };
    for (std::size_t index = 0; index < sizeof(calls) / sizeof(calls[0]); ++index) {
        SCOPED_TRACE(index);
        const Outcome untraced = calls[index]();
        ASSERT_TRUE(StartTrace(GetModuleHandleW(nullptr), TracePath().c_str()));
        const Outcome traced = calls[index]();
        StopTrace();
        EXPECT_EQ(traced.result, untraced.result);
        EXPECT_EQ(traced.error, untraced.error);
    }
}

TEST_F(Trace, InstalledOnlyWhileAskedFor) {
    ULONG_PTR* slot = FindImportSlot(GetModuleHandleW(nullptr), "kernel32.dll", "Sleep");
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(FindImportSlot(GetModuleHandleW(nullptr), "kernel32.dll", "NoSuchFunction"), nullptr);
    const ULONG_PTR untraced = *slot;

    SetEnvironmentVariableW(L"PELMORA_TRACE", nullptr);
    StartTraceWhenAsked();
    EXPECT_EQ(*slot, untraced);
    EXPECT_EQ(GetFileAttributesW(TracePath().c_str()), INVALID_FILE_ATTRIBUTES);

    SetEnvironmentVariableW(L"PELMORA_TRACE", TracePath().c_str());
    StartTraceWhenAsked();
    SetEnvironmentVariableW(L"PELMORA_TRACE", nullptr);
    EXPECT_NE(*slot, untraced);
    EXPECT_FALSE(StartTrace(GetModuleHandleW(nullptr), TracePath().c_str())) << "a second trace at once";
    Sleep(0);
    StopTrace();
    EXPECT_EQ(*slot, untraced);
    const std::vector<Line> lines = ReadLines();
    ASSERT_EQ(lines.size(), 2u) << ReadTrace();
    EXPECT_EQ(lines[1].event, "sleep ms=0");
}

}  // namespace
