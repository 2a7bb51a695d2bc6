#include "server_fixture.h"

#include "postgres_cluster.h"

#include "server/admin.h"
#include "server/passwords.h"
#include "server/text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <zlib.h>

namespace pelmora::testing {

std::string ClientRequest(const std::string& kind, const std::string& body) {
    return "POST http://localhost HTTP/1.0\r\nHost: " + kind +
           ".localhost\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n";
}

std::string EncodeValue(const std::string& value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (char c : value) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '&' || c == '=' || c == '+' || c == '%' || u < 0x20 || u == 0x7f) {
            encoded += '%';
            encoded += digits[u >> 4];
            encoded += digits[u & 15];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

std::string Exchange(std::uint16_t port, const std::string& bytes, int seconds, const char* source) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_GE(fd, 0);
    timeval timeout{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (source) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, source, &local.sin_addr);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0) << std::strerror(errno);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "connect: " << std::strerror(errno);
        close(fd);
        return reply;
    }
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    char buffer[512];
    for (;;) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return reply;
}

std::unique_ptr<TiXmlDocument> ParseReply(const std::string& reply) {
    auto document = std::make_unique<TiXmlDocument>();
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\n";
    if (reply.compare(0, head.size(), head) != 0) {
        ADD_FAILURE() << "reply does not start as the phone expects:\n" << reply;
        return document;
    }
    std::size_t end = reply.find("\r\n\r\n");
    if (end == std::string::npos || reply.compare(end + 4, 5, "<?xml") != 0) {
        ADD_FAILURE() << "no XML document right after the headers:\n" << reply;
        return document;
    }
    std::string lengthHeader = "Content-Length: " + std::to_string(reply.size() - end - 4) + "\r\n";
    EXPECT_NE(reply.find(lengthHeader), std::string::npos) << reply;
    document->Parse(reply.c_str() + end + 4, nullptr, TIXML_ENCODING_UNKNOWN);
    EXPECT_FALSE(document->Error()) << document->ErrorDesc() << "\n" << reply;
    return document;
}

HttpReply ParseHttp(const std::string& reply) {
    HttpReply parsed;
    std::size_t end = reply.find("\r\n\r\n");
    if (reply.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) {
        ADD_FAILURE() << "not an HTTP answer:\n" << reply;
        return parsed;
    }
    parsed.status = std::atoi(reply.c_str() + 9);
    std::size_t line = reply.find("\r\n") + 2;
    while (line < end) {
        std::size_t next = reply.find("\r\n", line);
        std::string header = reply.substr(line, next - line);
        std::size_t colon = header.find(':');
        std::string name = header.substr(0, colon);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string value = header.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        // Several Set-Cookie lines are kept one after another.
        parsed.headers[name] += (parsed.headers.count(name) && !parsed.headers[name].empty() ? "\n" : "") + value;
        line = next + 2;
    }
    parsed.body = reply.substr(end + 4);
    return parsed;
}

const TiXmlElement* ElementAt(const TiXmlNode* node, const std::string& path) {
    std::size_t start = 0;
    while (node && start <= path.size()) {
        std::size_t slash = path.find('/', start);
        std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        node = node->FirstChildElement(name.c_str());
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return node ? node->ToElement() : nullptr;
}

std::string TextAt(const TiXmlNode* node, const std::string& path) {
    const TiXmlElement* element = ElementAt(node, path);
    if (!element) return "<missing>";
    return element->GetText() ? element->GetText() : "";
}

std::pair<std::string, int> RunServerProgram(const std::string& arguments) {
    std::string command = std::string(PELMORA_SERVER_PROGRAM) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    int status = pclose(pipe);
    return {output, WEXITSTATUS(status)};
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

::testing::internal::ValueArray<Engine, Engine> AllEngines() {
    return ::testing::Values(Engine::kSqlite, Engine::kPostgres);
}

std::string EngineName(const ::testing::TestParamInfo<Engine>& info) {
    return info.param == Engine::kSqlite ? "SQLite" : "PostgreSQL";
}

ServerTest::ServerTest(Engine engine) : engine_(engine), now_(LocalTime(2024, 5, 15, 12, 0)) {
    // Hundreds of accounts at the real cost would take minutes; one test checks the real cost.
    SetPasswordCostForTesting(kCheapestPasswordCost);
    directory_ = std::filesystem::temp_directory_path() / ("pelmora-server-test-" + RandomHex(6));
    std::filesystem::create_directories(directory_);
    target_ = engine == Engine::kSqlite ? (directory_ / "pelmora.db").string() : PostgresCluster::Get().CreateDatabase();
    OpenStore();
}

ServerTest::~ServerTest() {
    CloseStore();
    if (engine_ == Engine::kPostgres) PostgresCluster::Get().DropDatabase(target_);
    std::filesystem::remove_all(directory_);
}

void ServerTest::CloseStore() {
    server_.reset();
    monitoring_.reset();
    web_.reset();
    phone_.reset();
    rules_.reset();
    store_.reset();
}

void ServerTest::OpenStore() {
    store_ = pelmora::OpenStore(target_);
    rules_ = std::make_unique<Rules>(*store_, [this] { return now_.load(); });
    phone_ = std::make_unique<PhoneProtocol>(*rules_);
    web_ = std::make_unique<WebSite>(*rules_, PELMORA_LEAFLET_DIR);
    monitoring_ = std::make_unique<Monitoring>(*store_, [this] { return now_.load(); });
}

void ServerTest::StartServer(HttpLimits limits, TrustedProxies proxies) {
    server_ = std::make_unique<HttpServer>(
        *phone_, *web_, *monitoring_, limits,
        [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            log_.push_back(line);
        },
        std::move(proxies));
    server_->Listen("127.0.0.1", 0);
    server_->Start(2);
    port_ = server_->Port();
}

std::int64_t ServerTest::AddUser(const std::string& email, const std::string& password, const std::string& name) {
    return store_->AddUser(*NormaliseEmail(email), *Accounts::PasswordRecord(password), name, now_);
}

std::int64_t ServerTest::AddGroup(const std::string& title, const std::vector<std::int64_t>& members) {
    std::int64_t id = *store_->AddGroup(title, std::nullopt, now_);
    for (std::int64_t member : members) store_->AddMember(id, member, now_);
    return id;
}

void ServerTest::AddCell(std::int64_t lac, std::int64_t cid, double lat, double lon, const std::string& address) {
    store_->PutCell(Cell{{1, lac, cid}, lat, lon, address});
}

std::unique_ptr<TiXmlDocument> ServerTest::Request(const std::string& kind, const std::string& body) {
    return ParseReply(Exchange(port_, ClientRequest(kind, body)));
}

std::string ServerTest::HandBody(const std::string& email, const std::string& hash) {
    return "client_id=2&client_ver=1&user_id=" + email + "&auth=" + hash +
           "&terminal_osn=2&terminal_firmver=4.21.1088&terminal_model=PPC-2003&user_subid=%2B79161234567";
}

std::string ServerTest::Login(const std::string& email, const std::string& password) {
    auto reply = Request("hand", HandBody(email, Md5Hex(*Utf8ToCp1251(password))));
    EXPECT_EQ(TextAt(reply.get(), "handshake/status"), "0") << email;
    return TextAt(reply.get(), "handshake/token");
}

std::unique_ptr<TiXmlDocument> ServerTest::Report(const std::string& token, std::int64_t lac, std::int64_t cid) {
    std::string l = std::to_string(lac);
    std::string c = std::to_string(cid);
    return Request("isee", "token=" + token + "&mnc=01&lac=" + l + "&cid=" + c + "&lac1=" + l + "&cid1=" + c +
                               "&lac2=" + l + "&cid2=" + c + "&delta=-12&db=0");
}

std::unique_ptr<TiXmlDocument> ServerTest::SaveMark(const std::string& token, std::int64_t lac, std::int64_t cid,
                                                    int scope, const std::string& title, std::int64_t group) {
    std::string body = "token=" + token + "&mnc=01&lac=" + std::to_string(lac) + "&cid=" + std::to_string(cid) +
                       "&sint_id=0&sint_scope=" + std::to_string(scope);
    if (scope == 3) body += "&sint_scope_group=" + std::to_string(group);
    body += "&sint_title=" + EncodeValue(title);
    return Request("itake", body);
}

HttpReply ServerTest::Web(const std::string& method, const std::string& path, const std::string& body,
                          const std::string& token, const std::string& headers, const char* source) {
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: localhost:8080\r\nConnection: close\r\n";
    if (!token.empty()) request += "Authorization: Bearer " + token + "\r\n";
    if (!body.empty()) request += "Content-Type: application/json\r\n";
    request += headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return ParseHttp(Exchange(port_, request, 10, source));
}

std::int64_t ServerTest::SignUp(const std::string& email, const std::string& password, const std::string& name) {
    HttpReply reply = Web("POST", "/api/v1/accounts",
                          R"({"email": ")" + email + R"(", "password": ")" + password + R"(", "name": ")" + name + "\"}");
    EXPECT_EQ(reply.status, 201) << reply.body;
    return store_->FindUser(email) ? store_->FindUser(email)->id : 0;
}

std::string ServerTest::ApiToken(const std::string& email, const std::string& password) {
    HttpReply reply =
        Web("POST", "/api/v1/sessions", R"({"email": ")" + email + R"(", "password": ")" + password + "\"}");
    EXPECT_EQ(reply.status, 201) << reply.body;
    std::size_t start = reply.body.find("\"token\":\"");
    if (start == std::string::npos) return std::string();
    start += 9;
    return reply.body.substr(start, reply.body.find('"', start) - start);
}

std::string ServerTest::HandStatus(const std::string& email, const std::string& hash, const char* source) {
    std::string reply = Exchange(port_, ClientRequest("hand", HandBody(email, hash)), 10, source);
    return TextAt(ParseReply(reply).get(), "handshake/status");
}

HttpReply ServerTest::WebLogIn(const std::string& email, const std::string& password, const char* source) {
    return Web("POST", "/api/v1/sessions", R"({"email": ")" + email + R"(", "password": ")" + password + "\"}",
               std::string(), std::string(), source);
}

std::string ServerTest::Command(const std::vector<std::string>& words) {
    std::ostringstream out;
    RunAdminCommand(*rules_, words, out);
    return out.str();
}

std::string ServerTest::WriteFile(const std::string& name, const std::string& content, bool gzip) {
    std::string path = (directory_ / name).string();
    if (gzip) {
        gzFile file = gzopen(path.c_str(), "wb");
        gzwrite(file, content.data(), static_cast<unsigned>(content.size()));
        gzclose(file);
    } else {
        std::ofstream(path, std::ios::binary) << content;
    }
    return path;
}

std::vector<std::string> ServerTest::LogLines() {
    std::lock_guard<std::mutex> lock(logMutex_);
    return log_;
}

}  // namespace pelmora::testing
