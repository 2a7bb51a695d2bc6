// The layout of deploy/: two pelmora-server processes on one PostgreSQL database behind nginx with
// the configuration deploy/nginx/pelmora.conf as it ships (only its addresses changed), the phones
// talking to nginx exactly as they talk to a server.
#include "server/passwords.h"
#include "server/text.h"

#include "postgres_cluster.h"
#include "processes.h"
#include "server_fixture.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <thread>

namespace pelmora {
namespace {

using testing::TextAt;

// A reply through nginx as the phone reads it: any "HTTP/" status line with 200, a text/xml
// Content-Type, the document after the headers.
std::unique_ptr<TiXmlDocument> PhoneReads(const std::string& reply) {
    auto document = std::make_unique<TiXmlDocument>();
    if (reply.compare(0, 5, "HTTP/") != 0 || std::atoi(reply.c_str() + 9) != 200 ||
        reply.find("\r\nContent-Type: text/xml") == std::string::npos) {
        ADD_FAILURE() << "the phone would not take this reply:\n" << reply;
        return document;
    }
    document->Parse(reply.c_str() + reply.find("\r\n\r\n") + 4, nullptr, TIXML_ENCODING_UNKNOWN);
    EXPECT_FALSE(document->Error()) << reply;
    return document;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from << " is not in the configuration any more";
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

class DeploymentTest : public testing::ServerTest {
protected:
    DeploymentTest() : ServerTest(testing::Engine::kPostgres) {
        folder_ = (directory_ / "deploy").string();
        std::filesystem::create_directories(folder_);
        testing::GiveAway(folder_);
    }

    ~DeploymentTest() override {
        for (pid_t child : {servers_[0], servers_[1], nginx_}) {
            if (child == 0) continue;
            kill(child, SIGTERM);
            testing::WaitFor(child);
        }
    }

    // pelmora-server number `index` on a free port with the demo walking every second; its port.
    std::uint16_t StartServer(int index) {
        std::string name = folder_ + "/server" + std::to_string(index);
        servers_[index] = testing::Spawn({PELMORA_SERVER_PROGRAM, "--db", target_, "--listen", "127.0.0.1:0",
                                          "--ready-file", name + ".port", "--trusted-proxy", "127.0.0.1", "--demo",
                                          "--walk-step", "1", "--handler-threads", "2"},
                                         folder_, name + ".log", false);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!std::filesystem::exists(name + ".port") && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::uint16_t port = static_cast<std::uint16_t>(std::atoi(testing::ReadFile(name + ".port").c_str()));
        EXPECT_NE(port, 0) << testing::ReadFile(name + ".log");
        return port;
    }

    // nginx as the shipped configuration has it, in front of the two servers; its port.
    std::uint16_t StartNginx(std::uint16_t first, std::uint16_t second) {
        std::string site = testing::ReadFile(std::string(PELMORA_SOURCE_DIR) + "/deploy/nginx/pelmora.conf");
        std::uint16_t port = testing::FreePort();
        site = Replace(site, "listen 80 default_server;", "listen 127.0.0.1:" + std::to_string(port) + ";");
        site = Replace(site, "listen [::]:80 default_server;", "");
        site = Replace(site, "server 127.0.0.1:8081 ", "server 127.0.0.1:" + std::to_string(first) + " ");
        site = Replace(site, "server 127.0.0.1:8082 ", "server 127.0.0.1:" + std::to_string(second) + " ");
        std::ofstream(folder_ + "/pelmora.conf") << site;
        // What /etc/nginx/nginx.conf gives a site, with every file in the test's folder.
        std::ofstream(folder_ + "/nginx.conf") << "daemon off;\npid " << folder_ << "/nginx.pid;\nerror_log " << folder_
                                               << "/nginx.log;\nevents {}\nhttp {\n    access_log " << folder_
                                               << "/access.log;\n    client_body_temp_path " << folder_
                                               << "/body;\n    proxy_temp_path " << folder_ << "/proxy;\n    include "
                                               << folder_ << "/pelmora.conf;\n}\n";
        nginx_ = testing::Spawn({PELMORA_NGINX, "-e", folder_ + "/nginx.log", "-p", folder_, "-c", folder_ + "/nginx.conf"},
                                folder_, folder_ + "/nginx.out", true);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!testing::Listening(port) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_EQ(testing::ParseHttp(testing::Exchange(port, "GET /healthz HTTP/1.0\r\n\r\n", 5)).status, 200)
            << testing::ReadFile(folder_ + "/nginx.log");
        return port;
    }

    std::unique_ptr<TiXmlDocument> Phone(std::uint16_t port, const std::string& kind, const std::string& body,
                                         const char* source = nullptr) {
        return PhoneReads(testing::Exchange(port, testing::ClientRequest(kind, body), 10, source));
    }

    std::string LogOf(int index) { return testing::ReadFile(folder_ + "/server" + std::to_string(index) + ".log"); }

    std::string folder_;
    pid_t servers_[2] = {0, 0};
    pid_t nginx_ = 0;
};

TEST_F(DeploymentTest, TwoServersBehindNginxShareThePhonesAndOneGoingDownLosesNothing) {
    AddCell(7701, 1, 55.7558, 37.6173, "Москва, Красная площадь");
    std::int64_t anna = AddUser("anna@example.org", "secret", "Анна");
    std::int64_t vera = AddUser("vera@example.org", "secret", "Вера");
    AddGroup("Друзья", {anna, vera});
    const std::uint16_t first = StartServer(0);
    const std::uint16_t second = StartServer(1);
    const std::uint16_t proxy = StartNginx(first, second);
    ASSERT_NE(proxy, 0);

    // Anna logs in through the first server and reports and names her place through the second.
    std::string hand = HandBody("anna@example.org", Md5Hex("secret"));
    auto login = testing::ParseReply(testing::Exchange(first, testing::ClientRequest("hand", hand)));
    std::string token = TextAt(login.get(), "handshake/token");
    ASSERT_EQ(token.size(), 32u);
    auto report = testing::ParseReply(
        testing::Exchange(second, testing::ClientRequest("isee", "token=" + token +
                                                                     "&mnc=01&lac=7701&cid=1&lac1=7701&cid1=1&lac2="
                                                                     "7701&cid2=1&delta=0")));
    EXPECT_EQ(TextAt(report.get(), "isee/status"), "1");
    auto mark = testing::ParseReply(testing::Exchange(
        second, testing::ClientRequest("itake", "token=" + token +
                                                    "&mnc=01&lac=7701&cid=1&sint_id=0&sint_scope=2&sint_title=" +
                                                    testing::EncodeValue("Кафе у площади"))));
    EXPECT_NE(TextAt(mark.get(), "itake/id"), "<missing>");

    // Vera's phone, talking to nginx exactly as to a server, sees her there.
    auto veraLogin = Phone(proxy, "hand", HandBody("vera@example.org", Md5Hex("secret")), "127.0.0.3");
    ASSERT_EQ(TextAt(veraLogin.get(), "handshake/status"), "0");
    std::string veraToken = TextAt(veraLogin.get(), "handshake/token");
    auto groups = Phone(proxy, "ineed", "token=" + veraToken + "&group_list=1");
    EXPECT_EQ(TextAt(groups.get(), "ineed/groups/group/title"), "Друзья");
    EXPECT_EQ(TextAt(groups.get(), "ineed/groups/group/users/user/name"), "Анна");
    EXPECT_EQ(TextAt(groups.get(), "ineed/groups/group/users/user/address"), "Кафе у площади");
    EXPECT_TRUE(LogOf(0).find("127.0.0.3 hand vera@example.org ok") != std::string::npos ||
                LogOf(1).find("127.0.0.3 hand vera@example.org ok") != std::string::npos)
        << "the servers see the phone's address, not nginx's";

    // Both servers take their share; the demo walks on one of them only.
    for (int i = 0; i < 6; ++i) Phone(proxy, "isee", "token=" + veraToken + "&mnc=01&lac=7701&cid=1&lac1=7701&cid1=1&lac2=7701&cid2=1");
    EXPECT_NE(LogOf(0).find("isee vera@example.org ok"), std::string::npos);
    EXPECT_NE(LogOf(1).find("isee vera@example.org ok"), std::string::npos);
    int walkers = 0;
    int walking = -1;
    for (int index = 0; index < 2; ++index) {
        if (LogOf(index).find("the demo people walk on this server") != std::string::npos) {
            ++walkers;
            walking = index;
        }
    }
    ASSERT_EQ(walkers, 1);

    // Three phones go on reporting through nginx while the walking server is killed.
    std::atomic<bool> stop{false};
    std::atomic<bool> killed{false};
    std::atomic<int> answeredAfterKill{0};
    std::atomic<int> failedAfterKill{0};
    std::atomic<int> failedAroundKill{0};
    std::vector<std::thread> phones;
    for (int i = 0; i < 3; ++i) {
        phones.emplace_back([&] {
            while (!stop) {
                bool startedAfterKill = killed;
                std::string reply = testing::Exchange(
                    proxy, testing::ClientRequest("isee", "token=" + veraToken +
                                                              "&mnc=01&lac=7701&cid=1&lac1=7701&cid1=1&lac2=7701&cid2=1"));
                bool ok = reply.find("<status>1</status>") != std::string::npos;
                if (startedAfterKill) (ok ? answeredAfterKill : failedAfterKill)++;
                else if (!ok) failedAroundKill++;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(servers_[walking], SIGKILL);
    testing::WaitFor(servers_[walking]);
    servers_[walking] = 0;
    killed = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (answeredAfterKill < 30 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    for (std::thread& phone : phones) phone.join();
    EXPECT_GE(answeredAfterKill.load(), 30);
    EXPECT_EQ(failedAfterKill.load(), 0) << "every request after the kill is served by the other server";
    auto after = Phone(proxy, "ineed", "token=" + veraToken + "&group_list=1");
    EXPECT_EQ(TextAt(after.get(), "ineed/groups/group/users/user/address"), "Кафе у площади");

    // The other server takes the walk over once the lock of the killed one is gone.
    const int other = 1 - walking;
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (LogOf(other).find("the demo people walk on this server") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_NE(LogOf(other).find("the demo people walk on this server"), std::string::npos) << LogOf(other);
    std::cout << "after the kill: " << answeredAfterKill << " reports answered by the other server, "
              << failedAroundKill << " under way at the kill failed" << std::endl;
}

}  // namespace
}  // namespace pelmora
