// A server on an ephemeral loopback port with a fresh database and a clock the test sets, and the
// phone's side of the exchange: the exact request bytes, the reply checks the phone makes.
#pragma once

#include "server/http_server.h"
#include "server/monitoring.h"
#include "server/phone_protocol.h"
#include "server/rules.h"
#include "server/store.h"
#include "server/web.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelmora::testing {

// The request exactly as the phone writes it, CR LF after the body included.
std::string ClientRequest(const std::string& kind, const std::string& body);

// What the phone does to a value before it goes into a body: "&", "=", "+", "%" and control
// characters percent-encoded, everything else as raw UTF-8.
std::string EncodeValue(const std::string& value);

// Sends `bytes` to the port and reads until the server closes (at most `seconds`), from the loopback
// address `source` (another client than 127.0.0.1 when given).
std::string Exchange(std::uint16_t port, const std::string& bytes, int seconds = 10, const char* source = nullptr);

// An HTTP answer taken apart: the status, the headers by lower-case name, the body.
struct HttpReply {
    int status = 0;
    std::map<std::string, std::string> headers;
    std::string body;
};
HttpReply ParseHttp(const std::string& reply);

// A reply as the phone accepts it: status 200, the content type, an XML declaration. Fails the test
// otherwise and returns an empty document.
std::unique_ptr<TiXmlDocument> ParseReply(const std::string& reply);

// The text of the element at a slash-separated path ("isee/sint/sint_title"); "<missing>" when the
// element is not there, "" when it has no text.
std::string TextAt(const TiXmlNode* node, const std::string& path);
const TiXmlElement* ElementAt(const TiXmlNode* node, const std::string& path);

// Runs pelmora-server with `arguments` (shell words); its output and exit status.
std::pair<std::string, int> RunServerProgram(const std::string& arguments);

// Local wall-clock time as a time_t (the private hours are local).
std::time_t LocalTime(int year, int month, int day, int hour, int minute);

enum class Engine { kSqlite, kPostgres };

// The engines a suite runs on, and their names in the test names.
::testing::internal::ValueArray<Engine, Engine> AllEngines();
std::string EngineName(const ::testing::TestParamInfo<Engine>& info);

class ServerTest : public ::testing::Test {
protected:
    explicit ServerTest(Engine engine = Engine::kSqlite);
    ~ServerTest() override;

    void StartServer(HttpLimits limits = HttpLimits(), TrustedProxies proxies = TrustedProxies());
    // Everything above the store goes; the store is closed.
    void CloseStore();
    // The store of target_ opened again, with everything above it.
    void OpenStore();

    std::int64_t AddUser(const std::string& email, const std::string& password, const std::string& name);
    std::int64_t AddGroup(const std::string& title, const std::vector<std::int64_t>& members);
    void AddCell(std::int64_t lac, std::int64_t cid, double lat, double lon, const std::string& address);

    // One request of `kind` with `body`; the parsed reply.
    std::unique_ptr<TiXmlDocument> Request(const std::string& kind, const std::string& body);
    // The handshake body the phone sends for this e-mail and password hash.
    static std::string HandBody(const std::string& email, const std::string& hash);
    // Logs in and returns the token (failing the test when the handshake is refused).
    std::string Login(const std::string& email, const std::string& password);
    // A location report with all three cells the same, network 01.
    std::unique_ptr<TiXmlDocument> Report(const std::string& token, std::int64_t lac, std::int64_t cid);
    // Saves a place mark at the cell; the "itake" reply.
    std::unique_ptr<TiXmlDocument> SaveMark(const std::string& token, std::int64_t lac, std::int64_t cid, int scope,
                                            const std::string& title, std::int64_t group = 0);

    std::vector<std::string> LogLines();

    // An administration command as pelmora-server runs it (RunAdminCommand); what it wrote.
    std::string Command(const std::vector<std::string>& words);
    // A file in the test's directory holding `content`, gzip-compressed when asked; its path.
    std::string WriteFile(const std::string& name, const std::string& content, bool gzip = false);

    // A web request: METHOD PATH with `body` (JSON for the API), the bearer `token` when not empty,
    // and further header lines ("Cookie: …\r\n"), from the loopback address `source`.
    HttpReply Web(const std::string& method, const std::string& path, const std::string& body = std::string(),
                  const std::string& token = std::string(), const std::string& headers = std::string(),
                  const char* source = nullptr);
    // Signs up on the API (the password is also the name's stem) and returns the new id.
    std::int64_t SignUp(const std::string& email, const std::string& password, const std::string& name);
    // Logs in on the API and returns the token (failing the test when refused).
    std::string ApiToken(const std::string& email, const std::string& password);
    // The handshake's status for this address and password hash, from the loopback address `source`.
    std::string HandStatus(const std::string& email, const std::string& hash, const char* source = nullptr);
    // POST /api/v1/sessions from the loopback address `source`.
    HttpReply WebLogIn(const std::string& email, const std::string& password, const char* source = nullptr);

    Engine engine_;
    std::filesystem::path directory_;
    std::string target_;  // what --db names: the SQLite file, or the PostgreSQL database's URI
    std::unique_ptr<Store> store_;
    std::atomic<std::time_t> now_;
    std::unique_ptr<Rules> rules_;
    std::unique_ptr<PhoneProtocol> phone_;
    std::unique_ptr<WebSite> web_;
    std::unique_ptr<Monitoring> monitoring_;
    std::unique_ptr<HttpServer> server_;
    std::uint16_t port_ = 0;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

// A suite whose every test runs on each engine (INSTANTIATE_TEST_SUITE_P(Engines, Suite, AllEngines(),
// EngineName)).
class EngineTest : public ::testing::WithParamInterface<Engine>, public ServerTest {
protected:
    EngineTest() : ServerTest(GetParam()) {}
};

}  // namespace pelmora::testing
