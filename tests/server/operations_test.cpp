// What the store does under load and what the people who run the service see: readers beside a
// slow writer, "ineed" in a fixed number of queries, /healthz and /metrics as the database goes and
// comes back, backups while phones report, the client behind a trusted proxy, the walker's role.
#include "server/passwords.h"
#include "server/text.h"

#include "postgres_cluster.h"
#include "server_fixture.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <thread>

namespace pelmora {
namespace {

using testing::TextAt;

// The value of a series in a /metrics text ("pelmora_open_connections", "name{kind=\"isee\"}");
// "<missing>" when the series is not there.
std::string MetricValue(const std::string& text, const std::string& series) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (line.rfind(series + " ", 0) == 0) return line.substr(series.size() + 1);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return "<missing>";
}

// An isee body that puts the phone at (lac, cid).
std::string ReportBody(const std::string& token, std::int64_t lac, std::int64_t cid) {
    std::string l = std::to_string(lac);
    std::string c = std::to_string(cid);
    return "token=" + token + "&mnc=01&lac=" + l + "&cid=" + c + "&lac1=" + l + "&cid1=" + c + "&lac2=" + l +
           "&cid2=" + c + "&delta=0";
}

// People in one group, each logged in from the phone and placed at a known cell.
class CrowdTest : public testing::EngineTest {
protected:
    void MakeCrowd(int members) {
        for (int cell = 0; cell < 10; ++cell) {
            AddCell(7700, 100 + cell, 55.75 + cell * 0.001, 37.61, "Москва, дом " + std::to_string(cell));
        }
        viewer_ = AddUser("viewer@example.org", "secret", "Зритель");
        std::vector<std::int64_t> everybody = {viewer_};
        for (int i = 0; i < members; ++i) {
            std::string email = "member" + std::to_string(i) + "@example.org";
            members_.push_back(AddUser(email, "secret", "Участник " + std::to_string(100 + i)));
            everybody.push_back(members_.back());
        }
        AddGroup("Все", everybody);
        StartServer();
        viewerToken_ = Login("viewer@example.org", "secret");
        Report(viewerToken_, 7700, 100);
        for (int i = 0; i < members; ++i) {
            tokens_.push_back(Login("member" + std::to_string(i) + "@example.org", "secret"));
            EXPECT_EQ(TextAt(Report(tokens_.back(), 7700, 100 + i % 10).get(), "isee/status"), "1");
            if (i % 5 == 0) SaveMark(tokens_.back(), 7700, 100 + i % 10, kScopeMyGroups, "Метка " + std::to_string(i));
        }
    }

    std::int64_t viewer_ = 0;
    std::string viewerToken_;
    std::vector<std::int64_t> members_;
    std::vector<std::string> tokens_;
};

TEST_P(CrowdTest, IneedTakesTheSameNumberOfQueriesForThreeMembersAndForForty) {
    MakeCrowd(40);
    User viewer = *store_->GetUser(viewer_);
    auto queriesOfIneed = [&] {
        std::int64_t before = StatementsRunOnThisThread();
        Outcome outcome = phone_->Handle("ineed", "token=" + viewerToken_ + "&group_list=1");
        EXPECT_EQ(outcome.result, "ok");
        return std::make_pair(StatementsRunOnThisThread() - before, outcome.document);
    };
    // The first list reads the cells the people are at; the lists after it find them in memory.
    queriesOfIneed();
    auto [withForty, document] = queriesOfIneed();
    std::size_t shown = 0;
    for (std::size_t at = document.find("<address>"); at != std::string::npos; at = document.find("<address>", at + 1)) {
        ++shown;
    }
    EXPECT_EQ(shown, 40u) << "every member's place is in the answer";
    EXPECT_NE(document.find("Метка 35"), std::string::npos) << "marks seen by the viewer name the places";
    // Thirty-seven members leave: the group list shrinks, its queries do not.
    for (std::size_t i = 3; i < members_.size(); ++i) store_->RemoveMember(store_->GroupIdsOf(viewer_).front(), members_[i]);
    auto [withThree, smaller] = queriesOfIneed();
    EXPECT_EQ(withThree, withForty);
    EXPECT_LE(withForty, 12) << "authentication and one read of the circle";
    std::cout << "ineed with 40 members: " << withForty << " queries; with 3: " << withThree << std::endl;
}

// The cells and marks kept in memory are the tables' as long as nobody changed one: a change made
// through another server on the same database (here another store opened on it) shows in the next
// list, which reads again, once, the table that changed.
TEST_P(CrowdTest, TheGroupListReadsItsCellsAndMarksAgainOnlyAfterOneChangedWhereverItChanged) {
    MakeCrowd(10);
    std::string phone = "token=" + viewerToken_ + "&group_list=1";
    // Beside the people at known cells with addresses: one at a cell nobody knows, one at a known cell
    // without an address.
    Cell unnamed{{1, 7700, 998}, 55.76, 37.62, "", kDefaultCountryCode};
    store_->PutCell(unnamed);
    EXPECT_EQ(TextAt(Report(tokens_[8], 7700, 999).get(), "isee/status"), "1");
    EXPECT_EQ(TextAt(Report(tokens_[9], 7700, 998).get(), "isee/status"), "1");
    std::unique_ptr<Store> otherServer = pelmora::OpenStore(target_);
    Mark newMark;
    newMark.userId = members_[1];
    newMark.cell = {1, 7700, 101};
    newMark.scope = kScopeEverybody;
    newMark.title = "Метка другого сервера";
    struct Change {
        const char* what;
        std::function<void()> make;
        const char* shown;  // in the list afterwards
        const char* gone;   // no longer in it
    };
    const Change changes[] = {
        {"an import names a cell anew",
         [&] { otherServer->PutCell({{1, 7700, 101}, 55.75, 37.61, "Москва, Новый адрес, 1", kDefaultCountryCode}); },
         "Москва, Новый адрес, 1", "Москва, дом 1"},
        {"an import brings the unknown cell",
         [&] { otherServer->PutCell({{1, 7700, 999}, 55.76, 37.62, "Москва, Найденная, 9", kDefaultCountryCode}); },
         "Москва, Найденная, 9", nullptr},
        {"the geocoder names a cell", [&] { otherServer->SavePlace(unnamed, 1, 1, "Москва, Геокодер, 5", now_); },
         "Москва, Геокодер, 5", nullptr},
        {"a mark is saved", [&] { otherServer->SaveMark(newMark, now_); }, "Метка другого сервера", nullptr},
        {"a mark is deleted",
         [&] { EXPECT_TRUE(otherServer->DeleteMark(members_[0], otherServer->MarksOf(members_[0]).at(0).id)); },
         "Метка 5", "Метка 0"},
    };
    auto ineed = [&] {
        std::int64_t before = StatementsRunOnThisThread();
        Outcome outcome = phone_->Handle("ineed", phone);
        return std::make_pair(StatementsRunOnThisThread() - before, outcome.document);
    };
    auto [coldQueries, coldList] = ineed();
    std::int64_t warmQueries = ineed().first;
    EXPECT_EQ(coldQueries, warmQueries + 2) << "one query reads every cell of the list, one every mark";
    EXPECT_NE(coldList.find("Метка 0"), std::string::npos);
    for (const Change& change : changes) {
        change.make();
        auto [queries, list] = ineed();
        EXPECT_NE(list.find(change.shown), std::string::npos) << change.what;
        if (change.gone) {
            EXPECT_EQ(list.find(change.gone), std::string::npos) << change.what;
        }
        EXPECT_EQ(queries, warmQueries + 1) << change.what;
        EXPECT_EQ(ineed().first, warmQueries) << change.what;
    }
}

// A handshake checks an Argon2id hash for tens of milliseconds by design. A crowd of phones logging in
// at once keeps the password threads busy, never the threads that answer reports: every report is
// answered before the first of the handshakes, whose checks here take ten times the service's.
TEST_P(CrowdTest, ReportsAreAnsweredWhileACrowdOfHandshakesWaitsForItsPasswordChecks) {
    MakeCrowd(2);
    constexpr int kHandshakes = 8;
    // Hashes that take a while to check, about ten times the service's own.
    SetPasswordCostForTesting({4, 96u * 1024 * 1024});
    std::string slowRecord = *Accounts::PasswordRecord("secret");
    SetPasswordCostForTesting(kCheapestPasswordCost);
    for (int i = 0; i < kHandshakes; ++i) {
        store_->AddUser("slow" + std::to_string(i) + "@example.org", slowRecord, "Медленный", now_);
    }
    std::atomic<int> loggedIn{0};
    std::vector<std::thread> phones;
    for (int i = 0; i < kHandshakes; ++i) {
        phones.emplace_back([&, i] {
            std::string reply = testing::Exchange(
                port_, testing::ClientRequest("hand", HandBody("slow" + std::to_string(i) + "@example.org", Md5Hex("secret"))),
                60);
            EXPECT_EQ(TextAt(testing::ParseReply(reply).get(), "handshake/status"), "0") << reply;
            ++loggedIn;
        });
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server_->OpenConnections() < kHandshakes && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Their requests, in by now, are read and handed to a pool in a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (int report = 0; report < 10; ++report) {
        EXPECT_EQ(TextAt(Report(tokens_[report % 2], 7700, 100 + report % 10).get(), "isee/status"), "1");
    }
    int loggedInMeanwhile = loggedIn;
    for (std::thread& phone : phones) phone.join();
    EXPECT_EQ(loggedInMeanwhile, 0) << "the reports waited for handshakes";
    for (const std::string& line : LogLines()) EXPECT_EQ(line.find("error"), std::string::npos) << line;
    EXPECT_EQ(loggedIn, kHandshakes);
}

INSTANTIATE_TEST_SUITE_P(Engines, CrowdTest, testing::AllEngines(), testing::EngineName);

class SlowWriterTest : public CrowdTest {};

// A writer holds its transaction open; fifty phones report (writers too) and wait behind it; a long
// "ineed" meanwhile is answered in full from what was committed, before the writer lets go. The
// reports then all land: nothing is lost, nobody was refused.
TEST_P(SlowWriterTest, ALongIneedIsAnsweredWhileFiftyReportsWaitBehindASlowWriter) {
    MakeCrowd(50);
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false;
    bool release = false;
    std::thread writer([&] {
        store_->InTransaction([&] {
            store_->SetName(members_[0], "Переименован");
            std::unique_lock<std::mutex> lock(mutex);
            holding = true;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
        });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return holding; });
    }
    std::atomic<int> answered{0};
    std::vector<std::string> statuses(members_.size());
    std::vector<std::thread> phones;
    for (std::size_t i = 0; i < members_.size(); ++i) {
        phones.emplace_back([&, i] {
            std::string reply =
                testing::Exchange(port_, testing::ClientRequest("isee", ReportBody(tokens_[i], 7700, 200)), 60);
            statuses[i] = TextAt(testing::ParseReply(reply).get(), "isee/status");
            ++answered;
        });
    }
    // Every report is in the server before the reader comes.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (server_->OpenConnections() < static_cast<int>(members_.size()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto started = std::chrono::steady_clock::now();
    auto groups = Request("ineed", "token=" + viewerToken_ + "&group_list=1");
    auto took = std::chrono::steady_clock::now() - started;
    const int answeredBeforeRelease = answered.load();
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    writer.join();
    for (std::thread& phone : phones) phone.join();

    EXPECT_EQ(answeredBeforeRelease, 0) << "the reports did wait for the writer";
    const TiXmlElement* users = testing::ElementAt(groups.get(), "ineed/groups/group/users");
    ASSERT_NE(users, nullptr);
    int listed = 0;
    bool oldName = false;
    for (const TiXmlElement* user = users->FirstChildElement("user"); user; user = user->NextSiblingElement("user")) {
        ++listed;
        EXPECT_NE(TextAt(user, "address"), "<missing>") << TextAt(user, "name");
        if (TextAt(user, "name") == "Участник 100") oldName = true;
    }
    EXPECT_EQ(listed, 50);
    EXPECT_TRUE(oldName) << "the reader sees what was committed, not the writer's change in progress";
    for (std::size_t i = 0; i < members_.size(); ++i) {
        EXPECT_EQ(statuses[i], "1") << i;
        EXPECT_EQ(store_->PositionOf(members_[i])->cells[0].cid, 200) << i;
    }
    EXPECT_EQ(store_->GetUser(members_[0])->name, "Переименован");
    std::cout << "ineed of 50 members answered in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
              << " ms while 50 reports waited behind a writer" << std::endl;
}

INSTANTIATE_TEST_SUITE_P(Engines, SlowWriterTest, ::testing::Values(testing::Engine::kSqlite), testing::EngineName);

class MonitoringTest : public testing::EngineTest {
protected:
    void TakeDatabaseAway() {
        if (engine_ == testing::Engine::kPostgres) return testing::PostgresCluster::Get().Stop();
        std::filesystem::rename(target_, target_ + ".away");
    }
    void BringDatabaseBack() {
        if (engine_ == testing::Engine::kPostgres) return testing::PostgresCluster::Get().Start();
        std::filesystem::rename(target_ + ".away", target_);
    }
};

// /metrics counts what the test sent; /healthz turns 503 when the database goes away and 200 when it
// is back, and the phones' requests after that succeed again.
TEST_P(MonitoringTest, HealthFollowsTheDatabaseAndMetricsCountWhatWasSent) {
    AddUser("anna@example.org", "secret", "Анна");
    StartServer();
    std::string token = Login("anna@example.org", "secret");
    for (int i = 0; i < 3; ++i) Report(token, 7701, 1);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(HandStatus("anna@example.org", Md5Hex("wrong")), "1");
    EXPECT_EQ(Web("GET", "/api/v1/groups", std::string(), "bad").status, 401);
    testing::HttpReply health = Web("GET", "/healthz");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body, "ok\n");
    // The connections of the requests before are let go: only the scrape's own is open then.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server_->OpenConnections() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    std::string metrics = Web("GET", "/metrics").body;
    const std::pair<const char*, const char*> expected[] = {
        {"pelmora_requests_total{kind=\"hand\",result=\"ok\"}", "1"},
        {"pelmora_requests_total{kind=\"hand\",result=\"status 1\"}", "2"},
        {"pelmora_requests_total{kind=\"isee\",result=\"ok\"}", "3"},
        {"pelmora_requests_total{kind=\"api\",result=\"401\"}", "1"},
        {"pelmora_requests_total{kind=\"healthz\",result=\"200\"}", "1"},
        {"pelmora_requests_total{kind=\"ineed\",result=\"ok\"}", "0"},
        {"pelmora_request_duration_seconds_count{kind=\"isee\"}", "3"},
        {"pelmora_request_duration_seconds_bucket{kind=\"isee\",le=\"+Inf\"}", "3"},
        {"pelmora_open_connections", "1"},
        {"pelmora_active_sessions", "1"},
        {"pelmora_database_up", "1"},
        {"pelmora_database_errors_total", "0"},
    };
    for (const auto& series : expected) EXPECT_EQ(MetricValue(metrics, series.first), series.second) << series.first;

    TakeDatabaseAway();
    health = Web("GET", "/healthz");
    EXPECT_EQ(health.status, 503);
    EXPECT_NE(health.body.find("database"), std::string::npos) << health.body;
    metrics = Web("GET", "/metrics").body;
    EXPECT_EQ(MetricValue(metrics, "pelmora_database_up"), "0");
    EXPECT_EQ(MetricValue(metrics, "pelmora_requests_total{kind=\"healthz\",result=\"503\"}"), "1");
    EXPECT_EQ(MetricValue(metrics, "pelmora_database_errors_total"), "1") << "the failed health check";

    BringDatabaseBack();
    EXPECT_EQ(Web("GET", "/healthz").status, 200);
    EXPECT_EQ(TextAt(Report(token, 7701, 2).get(), "isee/status"), "1");
    EXPECT_EQ(store_->PositionOf(store_->FindUser("anna@example.org")->id)->cells[0].cid, 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, MonitoringTest, testing::AllEngines(), testing::EngineName);

class BackupTest : public testing::EngineTest {};

// Twenty phones report one new cell after another while `pelmora-server backup` runs beside the
// server: the copy checks out and holds, for every phone, at least the last report acknowledged
// before the backup began.
TEST_P(BackupTest, ABackupTakenWhileTwentyPhonesReportHoldsEveryReportCommittedBeforeIt) {
    const int phones = 20;
    std::vector<std::string> tokens;
    std::vector<std::int64_t> ids;
    StartServer();
    for (int i = 0; i < phones; ++i) {
        std::string email = "phone" + std::to_string(i) + "@example.org";
        ids.push_back(AddUser(email, "secret", "Телефон " + std::to_string(i)));
        tokens.push_back(Login(email, "secret"));
    }
    std::vector<std::atomic<std::int64_t>> acknowledged(phones);
    std::atomic<bool> stop{false};
    std::vector<std::thread> reporters;
    for (int i = 0; i < phones; ++i) {
        reporters.emplace_back([&, i] {
            for (std::int64_t cid = 1; !stop; ++cid) {
                auto reply = testing::ParseReply(testing::Exchange(port_, testing::ClientRequest("isee", ReportBody(tokens[i], 7701, cid))));
                if (TextAt(reply.get(), "isee/status") == "1") acknowledged[i] = cid;
            }
        });
    }
    auto reportsSoFar = [&] {
        std::int64_t total = 0;
        for (const auto& count : acknowledged) total += count;
        return total;
    };
    while (reportsSoFar() < 5 * phones) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<std::int64_t> before;
    for (const auto& count : acknowledged) before.push_back(count);
    const std::string file = (directory_ / "backup.copy").string();
    auto [output, status] = testing::RunServerProgram("--db '" + target_ + "' backup " + file);
    const std::int64_t duringAndAfter = reportsSoFar();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    for (std::thread& reporter : reporters) reporter.join();
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("written to " + file), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(file + ".partial"));

    std::map<std::int64_t, std::int64_t> copied;  // user → the cell of the report in the copy
    if (engine_ == testing::Engine::kSqlite) {
        sqlite3* copy = nullptr;
        ASSERT_EQ(sqlite3_open_v2(file.c_str(), &copy, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* statement = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(copy, "PRAGMA integrity_check", -1, &statement, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "ok");
        sqlite3_finalize(statement);
        ASSERT_EQ(sqlite3_prepare_v2(copy, "SELECT user_id, cid FROM positions", -1, &statement, nullptr), SQLITE_OK);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            copied[sqlite3_column_int64(statement, 0)] = sqlite3_column_int64(statement, 1);
        }
        sqlite3_finalize(statement);
        sqlite3_close(copy);
    } else {
        // pg_dump's custom format, restored into a database of its own and read through the store.
        std::ifstream dump(file, std::ios::binary);
        std::string magic(5, '\0');
        dump.read(magic.data(), 5);
        EXPECT_EQ(magic, "PGDMP");
        std::string restored = testing::PostgresCluster::Get().CreateEmptyDatabase();
        std::string command = std::string(PELMORA_POSTGRES_BIN_DIR) + "/pg_restore --no-owner --dbname='" + restored +
                              "' " + file + " 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        {
            std::unique_ptr<Store> copy = pelmora::OpenStore(restored);
            for (std::int64_t id : ids) {
                if (std::optional<Position> position = copy->PositionOf(id)) copied[id] = position->cells[0].cid;
            }
        }
        testing::PostgresCluster::Get().DropDatabase(restored);
    }
    for (int i = 0; i < phones; ++i) {
        ASSERT_TRUE(copied.count(ids[i])) << i;
        EXPECT_GE(copied[ids[i]], before[i]) << "phone " << i;
        EXPECT_LE(copied[ids[i]], acknowledged[i] + 1) << "phone " << i;
    }
    std::int64_t beforeTotal = 0;
    for (std::int64_t count : before) beforeTotal += count;
    std::cout << "backup: " << beforeTotal << " reports acknowledged before it began, " << duringAndAfter - beforeTotal
              << " while it ran, " << std::filesystem::file_size(file) << " bytes" << std::endl;
}

INSTANTIATE_TEST_SUITE_P(Engines, BackupTest, testing::AllEngines(), testing::EngineName);

class ProxyTest : public testing::ServerTest {};

// Behind nginx every request comes from the proxy: the client it names counts only when the proxy
// is trusted, and only the address the proxy itself added.
TEST_F(ProxyTest, TheClientIsTakenFromATrustedProxyOnly) {
    AddUser("anna@example.org", "secret", "Анна");
    StartServer(HttpLimits(), TrustedProxies{{"127.0.0.1"}});
    struct Case {
        const char* source;
        const char* headers;
        const char* client;  // as the access log shows it
    };
    const Case cases[] = {
        {"127.0.0.1", "X-Real-IP: 203.0.113.5\r\n", "203.0.113.5"},
        {"127.0.0.1", "X-Forwarded-For: 10.1.1.1, 198.51.100.7\r\n", "198.51.100.7"},
        {"127.0.0.1", "X-Real-IP: 2001:db8::1\r\n", "2001:db8::1"},
        {"127.0.0.1", "X-Real-IP: nonsense\r\n", "127.0.0.1"},
        {"127.0.0.1", "", "127.0.0.1"},
        {"127.0.0.2", "X-Real-IP: 203.0.113.5\r\n", "127.0.0.2"},
        {"127.0.0.2", "X-Forwarded-For: 198.51.100.7\r\n", "127.0.0.2"},
    };
    for (const Case& test : cases) {
        std::string body = HandBody("anna@example.org", Md5Hex("secret"));
        std::string request = "POST http://localhost HTTP/1.0\r\nHost: hand.localhost\r\n" + std::string(test.headers) +
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        auto reply = testing::ParseReply(testing::Exchange(port_, request, 10, test.source));
        EXPECT_EQ(TextAt(reply.get(), "handshake/status"), "0");
        std::string line = LogLines().back();
        EXPECT_EQ(line.substr(21, line.find(' ', 21) - 21), test.client) << test.source << " " << test.headers;
    }
    // Failed log-ins count per client behind the proxy: one client is stopped, the next is not.
    for (int i = 0; i < 10; ++i) {
        Web("POST", "/api/v1/sessions", R"({"email": "anna@example.org", "password": "wrong"})", std::string(),
            "X-Real-IP: 203.0.113.9\r\n");
    }
    EXPECT_EQ(Web("POST", "/api/v1/sessions", R"({"email": "boris@example.org", "password": "x"})", std::string(),
                  "X-Real-IP: 203.0.113.9\r\n")
                  .status,
              429);
    EXPECT_EQ(Web("POST", "/api/v1/sessions", R"({"email": "boris@example.org", "password": "x"})", std::string(),
                  "X-Real-IP: 203.0.113.10\r\n")
                  .status,
              401);
}

class RoleTest : public testing::ServerTest {
protected:
    RoleTest() : ServerTest(testing::Engine::kPostgres) {}
};

// Of the servers on one PostgreSQL database one walks the demo people; when it goes, another takes over.
TEST_F(RoleTest, OneServerAtATimeHoldsTheWalkersRole) {
    std::unique_ptr<Store> other = pelmora::OpenStore(target_);
    std::unique_ptr<ExclusiveRole> first = store_->TakeRole(RoleName::kDemoWalker);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->StillHeld());
    EXPECT_EQ(other->TakeRole(RoleName::kDemoWalker), nullptr);
    EXPECT_EQ(store_->TakeRole(RoleName::kDemoWalker), nullptr) << "not even twice by the same server";
    first.reset();
    std::unique_ptr<ExclusiveRole> second = other->TakeRole(RoleName::kDemoWalker);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->StillHeld());
}

}  // namespace
}  // namespace pelmora
