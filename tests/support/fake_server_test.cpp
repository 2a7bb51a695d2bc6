// The fake server itself, driven with plain Winsock: what other tests rely on when they compare bytes.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_server.h"

namespace pelmora_test {
namespace {

class SocketLibrary {
public:
    SocketLibrary() { WSAStartup(MAKEWORD(2, 2), &data_); }
    ~SocketLibrary() { WSACleanup(); }

private:
    WSADATA data_;
};

SOCKET Connect(unsigned short port) {
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        closesocket(client);
        return INVALID_SOCKET;
    }
    return client;
}

// Sends `request`, reads until the server closes; `error` receives the failing receive's error, or 0.
std::string Exchange(unsigned short port, const std::string& request, int* error = nullptr) {
    SOCKET client = Connect(port);
    if (client == INVALID_SOCKET) return "<refused>";
    send(client, request.data(), static_cast<int>(request.size()), 0);
    std::string reply;
    char buffer[100];
    int received;
    while ((received = recv(client, buffer, sizeof(buffer), 0)) > 0) reply.append(buffer, received);
    if (error != nullptr) *error = received < 0 ? WSAGetLastError() : 0;
    closesocket(client);
    return reply;
}

const std::string kRequest = "POST http://h HTTP/1.0\r\nHost: k.h\r\nContent-Length: 3\r\n\r\na=1\r\n";

TEST(FakeServer, RecordsRequestBytesAndAnswersInScriptOrder) {
    SocketLibrary library;
    FakeServer server;
    server.Push(HttpReply("HTTP/1.1 404 Not Found", "", "gone"));
    FakeReply chunked = XmlReply("<a/>");
    chunked.chunkSize = 3;
    chunked.chunkPauseMs = 5;
    server.Push(chunked);

    EXPECT_EQ("HTTP/1.1 404 Not Found\r\n\r\ngone", Exchange(server.Port(), kRequest));
    EXPECT_EQ("HTTP/1.0 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\n\r\n"
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a/>",
              Exchange(server.Port(), "x=" + kRequest));
    // Bytes beyond the announced length are kept, so a client that writes too much is caught.
    EXPECT_EQ("", Exchange(server.Port(), kRequest + "extra"));

    const auto requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(kRequest, requests[0]);
    EXPECT_EQ("x=" + kRequest, requests[1]);
    EXPECT_EQ(kRequest + "extra", requests[2]) << "an empty script closes the connection unanswered";
}

TEST(FakeServer, AnswersEachRequestByWhatItSaysInsteadOfTheScript) {
    SocketLibrary library;
    FakeServer server;
    server.Push(HttpReply("HTTP/1.0 500 Scripted", "", ""));
    server.AnswerWith([](const std::string& request) {
        return request.find("Host: k.h") != std::string::npos ? HttpReply("HTTP/1.0 200 K", "", "k")
                                                                : DroppedConnection();
    });
    EXPECT_EQ("HTTP/1.0 200 K\r\n\r\nk", Exchange(server.Port(), kRequest));
    EXPECT_EQ("", Exchange(server.Port(), "nothing"));
    EXPECT_EQ(2u, server.RequestCount());
}

TEST(FakeServer, DropsResetsAndRefuses) {
    SocketLibrary library;
    FakeServer server;
    server.Push(DroppedConnection());
    FakeReply reset;
    reset.ending = FakeEnding::Reset;
    server.Push(reset);

    int error = -1;
    EXPECT_EQ("", Exchange(server.Port(), kRequest, &error));
    EXPECT_EQ(0, error);
    EXPECT_EQ("", Exchange(server.Port(), kRequest, &error));
    EXPECT_NE(0, error);
    EXPECT_EQ("<refused>", Exchange(FakeServer::UnusedPort(), kRequest));
    EXPECT_EQ(2u, server.RequestCount());
}

TEST(FakeServer, SilenceHoldsTheConnectionAndDelayWaits) {
    SocketLibrary library;
    FakeServer server;
    server.Push(SilentReply());
    FakeReply late = XmlReply("<b/>");
    late.delayMs = 300;
    server.Push(late);

    SOCKET silent = Connect(server.Port());
    ASSERT_NE(INVALID_SOCKET, silent);
    send(silent, kRequest.data(), static_cast<int>(kRequest.size()), 0);
    ASSERT_TRUE(server.WaitForRequests(1, 2000));
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(silent, &readable);
    timeval wait = {0, 400000};
    EXPECT_EQ(0, select(0, &readable, nullptr, nullptr, &wait)) << "nothing arrives on a silent connection";
    closesocket(silent);

    const DWORD start = GetTickCount();
    EXPECT_NE(std::string::npos, Exchange(server.Port(), kRequest).find("<b/>"));
    EXPECT_GE(GetTickCount() - start, 250u);
}

}  // namespace
}  // namespace pelmora_test
