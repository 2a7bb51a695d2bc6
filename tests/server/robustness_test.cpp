// What the network may bring: garbage, oversized and slow requests, odd framing, many clients at once.
#include "server/text.h"

#include "server_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

namespace pelmora {
namespace {

using testing::TextAt;

class RobustnessTest : public testing::ServerTest {
protected:
    void SetUp() override { AddUser("anna@example.org", "secret", "Анна"); }

    // The server still serves the phone properly.
    void ExpectServing() {
        EXPECT_EQ(TextAt(Request("hand", HandBody("anna@example.org", Md5Hex("secret"))).get(), "handshake/status"),
                  "0");
    }

    // A connected socket to the server.
    int Connect() {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port_);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    }

    static std::string ReadAll(int fd) {
        std::string reply;
        char buffer[512];
        for (;;) {
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            reply.append(buffer, static_cast<std::size_t>(n));
        }
        return reply;
    }
};

TEST_F(RobustnessTest, MalformedRequestsGetError400AndTheServerGoesOn) {
    StartServer();
    const std::string requests[] = {
        std::string("\0\0\0\0garbage\r\n\r\n", 17),
        "POST http://localhost HTTP/1.0\r\nHost: hand.localhost\r\nContent-Length: abc\r\n\r\n",
        "POST http://localhost HTTP/9\r\nHost: hand.localhost\r\n\r\n",
        "POST http://local host HTTP/1.0\r\n\r\n",
        "PUT http://localhost HTTP/1.0\r\nHost: hand.localhost\r\nContent-Length: 0\r\n\r\n",
        testing::ClientRequest("steal", "token=x"),
        "POST http://localhost HTTP/1.0\r\nContent-Length: 7\r\n\r\ntoken=x",
    };
    for (const std::string& request : requests) {
        auto reply = testing::ParseReply(testing::Exchange(port_, request));
        EXPECT_EQ(TextAt(reply.get(), "error/code"), "400") << request;
        EXPECT_NE(TextAt(reply.get(), "error/description").find("Некорректный запрос"), std::string::npos);
    }
    ExpectServing();
}

TEST_F(RobustnessTest, RandomBytesNeverBringTheServerDown) {
    StartServer();
    std::mt19937 random(20240515);
    for (int round = 0; round < 60; ++round) {
        std::string bytes(1 + random() % 3000, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        if (round % 3 == 0) bytes = "POST http://localhost HTTP/1.0\r\nHost: isee.localhost\r\n" + bytes;
        if (round % 3 == 1) bytes = testing::ClientRequest(round % 2 ? "itake" : "config", bytes);
        std::string reply = testing::Exchange(port_, bytes, 5);
        if (!reply.empty()) {
            auto document = testing::ParseReply(reply);
            EXPECT_NE(document->RootElement(), nullptr);
        }
    }
    ExpectServing();
}

TEST_F(RobustnessTest, RequestsOverSixtyFourKilobytesAreRefused) {
    StartServer();
    std::string token = Login("anna@example.org", "secret");
    std::string large = "token=" + token + "&config_rate=1&user_name=" + std::string(70 * 1024, 'x');
    auto refused = testing::ParseReply(testing::Exchange(port_, testing::ClientRequest("config", large)));
    EXPECT_EQ(TextAt(refused.get(), "error/code"), "400");
    EXPECT_NE(TextAt(refused.get(), "error/description").find("слишком большой"), std::string::npos);
    EXPECT_EQ(store_->GetUser(1)->rate, 0);

    // Announced too large: refused before the body comes.
    auto announced = testing::ParseReply(testing::Exchange(
        port_, "POST http://localhost HTTP/1.0\r\nHost: config.localhost\r\nContent-Length: 100000000\r\n\r\n"));
    EXPECT_EQ(TextAt(announced.get(), "error/code"), "400");

    std::string headers = "POST http://localhost HTTP/1.0\r\nHost: config.localhost\r\n";
    for (int i = 0; i < 2000; ++i) headers += "X-Filler: " + std::to_string(i) + "\r\n";
    auto longHeaders = testing::ParseReply(testing::Exchange(port_, headers + "\r\n"));
    EXPECT_EQ(TextAt(longHeaders.get(), "error/code"), "400");
    ExpectServing();
}

TEST_F(RobustnessTest, SlowClientIsCutOffAtTheDeadline) {
    HttpLimits limits;
    limits.requestDeadline = std::chrono::milliseconds(300);
    StartServer(limits);
    int fd = Connect();
    std::string half = "POST http://localhost HTTP/1.0\r\nHost: hand.loc";
    send(fd, half.data(), half.size(), MSG_NOSIGNAL);
    auto started = std::chrono::steady_clock::now();
    std::string reply = ReadAll(fd);
    auto waited = std::chrono::steady_clock::now() - started;
    close(fd);
    EXPECT_EQ(reply, "");
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(3));
    ExpectServing();
    std::vector<std::string> lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front().find(" timeout "), std::string::npos) << lines.front();
}

TEST_F(RobustnessTest, ReplyArrivesWholeWhateverTheClientSendsAfterTheBody) {
    StartServer();
    std::string body = HandBody("anna@example.org", Md5Hex("secret"));
    // Without the closing CR LF.
    std::string request = testing::ClientRequest("hand", body);
    auto bare = testing::ParseReply(testing::Exchange(port_, request.substr(0, request.size() - 2)));
    EXPECT_EQ(TextAt(bare.get(), "handshake/status"), "0");

    // Bytes the server does not read (here far more than announced) must not turn the end of the
    // reply into a reset: the phone counts only an orderly close as a complete reply.
    int fd = Connect();
    std::string flood = request + std::string(200 * 1024, 'x');
    ASSERT_EQ(send(fd, flood.data(), flood.size(), MSG_NOSIGNAL), static_cast<ssize_t>(flood.size()));
    std::string reply;
    char buffer[512];
    ssize_t last = 0;
    while ((last = recv(fd, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, static_cast<std::size_t>(last));
    int error = errno;
    close(fd);
    EXPECT_EQ(last, 0) << "the connection ended with " << std::strerror(error);
    auto flooded = testing::ParseReply(reply);
    EXPECT_EQ(TextAt(flooded.get(), "handshake/status"), "0");
    EXPECT_EQ(TextAt(flooded.get(), "handshake/userName"), "Анна");
}

TEST_F(RobustnessTest, ConnectionsBeyondTheLimitAreToldTheServerIsBusy) {
    HttpLimits limits;
    limits.maxConnections = 1;
    StartServer(limits);
    int idle = Connect();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto busy = testing::ParseReply(
        testing::Exchange(port_, testing::ClientRequest("hand", HandBody("anna@example.org", Md5Hex("secret")))));
    EXPECT_EQ(TextAt(busy.get(), "error/code"), "503");
    EXPECT_EQ(TextAt(busy.get(), "error/description"), "Сервер перегружен, повторите запрос позже");
    close(idle);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ExpectServing();
}

TEST_F(RobustnessTest, BrowserGetsTheWebSiteOnTheSameListener) {
    StartServer();
    std::string reply = testing::Exchange(port_, "GET / HTTP/1.1\r\nHost: localhost:8080\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(reply.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0) << reply;
    EXPECT_NE(reply.find("Content-Type: text/html; charset=utf-8\r\n"), std::string::npos);
    EXPECT_NE(reply.find("<html lang=\"ru\">"), std::string::npos);
    EXPECT_NE(reply.find("Зарегистрироваться"), std::string::npos);
}

TEST_F(RobustnessTest, TwoHundredConcurrentClientsLoseNothing) {
    StartServer();
    const int kClients = 200;
    std::vector<std::string> tokens;
    for (int i = 0; i < kClients; ++i) {
        std::string email = "user" + std::to_string(i) + "@example.org";
        std::int64_t id = AddUser(email, "secret", "Пользователь " + std::to_string(i));
        tokens.push_back(rules_->accounts.StartSession(*store_->GetUser(id), "phone").token);
    }
    std::atomic<int> saved{0};
    std::atomic<int> bad{0};
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            for (int n = 0; std::chrono::steady_clock::now() < until || n == 0; ++n) {
                std::string cid = std::to_string(i * 1000 + n);
                std::string body = "token=" + tokens[i] + "&mnc=01&lac=77&cid=" + cid +
                                   "&sint_id=0&sint_scope=1&sint_title=" + testing::EncodeValue("Место №" + cid + " & Ко");
                TiXmlDocument document;
                std::string reply = testing::Exchange(port_, testing::ClientRequest("itake", body), 30);
                std::size_t xml = reply.find("\r\n\r\n<?xml");
                if (reply.compare(0, 17, "HTTP/1.0 200 OK\r\n") != 0 || xml == std::string::npos) {
                    ++bad;
                    continue;
                }
                document.Parse(reply.c_str() + xml + 4, nullptr, TIXML_ENCODING_UTF8);
                std::string id = TextAt(&document, "itake/id");
                if (document.Error() || id == "<missing>" || id == "0") {
                    ++bad;
                    continue;
                }
                ++saved;
                std::string report = testing::Exchange(
                    port_, testing::ClientRequest("isee", "token=" + tokens[i] + "&mnc=01&lac=77&cid=" + cid +
                                                              "&lac1=77&cid1=1&lac2=77&cid2=2&delta=0&db=0"),
                    30);
                TiXmlDocument place;
                xml = report.find("\r\n\r\n<?xml");
                if (xml == std::string::npos) {
                    ++bad;
                    continue;
                }
                place.Parse(report.c_str() + xml + 4, nullptr, TIXML_ENCODING_UTF8);
                if (TextAt(&place, "isee/sint/sint_title") != "Место №" + cid + " & Ко") ++bad;
            }
        });
    }
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GE(saved, kClients);
    EXPECT_EQ(store_->MarkCount(), saved.load());
}

}  // namespace
}  // namespace pelmora
