// What a stolen database gives away (nothing that logs anybody in), how databases of schema 1 are
// upgraded in place, and the limit on failed log-ins for the phone and the web.
#include "server/admin.h"
#include "server/passwords.h"
#include "server/text.h"

#include "server_fixture.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace pelmora {
namespace {

using testing::TextAt;

// The schema a server of schema version 1 wrote, and what it kept: MD5 values and tokens in clear.
const char* const kSchemaOne = R"sql(
CREATE TABLE users(id INTEGER PRIMARY KEY, email TEXT NOT NULL UNIQUE, pass_hash TEXT NOT NULL,
    name TEXT NOT NULL DEFAULT '', mode INTEGER NOT NULL DEFAULT 0, rate INTEGER NOT NULL DEFAULT 0,
    visibility INTEGER NOT NULL DEFAULT 0, private_time INTEGER NOT NULL DEFAULT 0,
    force_gps INTEGER NOT NULL DEFAULT 0, level_gps INTEGER NOT NULL DEFAULT 0, method_use INTEGER,
    terminal_model TEXT NOT NULL DEFAULT '', terminal_firmver TEXT NOT NULL DEFAULT '',
    subscriber TEXT NOT NULL DEFAULT '', created_at INTEGER NOT NULL);
CREATE TABLE sessions(token TEXT PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    created_at INTEGER NOT NULL, used_at INTEGER NOT NULL);
CREATE INDEX sessions_by_user ON sessions(user_id);
CREATE TABLE user_groups(id INTEGER PRIMARY KEY, title TEXT NOT NULL UNIQUE);
CREATE TABLE group_members(group_id INTEGER NOT NULL REFERENCES user_groups(id) ON DELETE CASCADE,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE, PRIMARY KEY(group_id, user_id));
CREATE INDEX group_members_by_user ON group_members(user_id);
CREATE TABLE cells(mnc INTEGER NOT NULL, lac INTEGER NOT NULL, cid INTEGER NOT NULL, lat REAL NOT NULL,
    lon REAL NOT NULL, address TEXT NOT NULL, PRIMARY KEY(mnc, lac, cid));
CREATE TABLE positions(user_id INTEGER PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,
    mnc INTEGER NOT NULL, lac INTEGER NOT NULL, cid INTEGER NOT NULL, lac1 INTEGER NOT NULL,
    cid1 INTEGER NOT NULL, lac2 INTEGER NOT NULL, cid2 INTEGER NOT NULL, delta INTEGER NOT NULL,
    lat REAL, lon REAL, reported_at INTEGER NOT NULL);
CREATE TABLE marks(id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    mnc INTEGER NOT NULL, lac INTEGER NOT NULL, cid INTEGER NOT NULL, scope INTEGER NOT NULL,
    group_id INTEGER REFERENCES user_groups(id) ON DELETE CASCADE, title TEXT NOT NULL, street TEXT NOT NULL,
    number TEXT NOT NULL, build TEXT NOT NULL, tags TEXT NOT NULL, saved_at INTEGER NOT NULL,
    UNIQUE(user_id, mnc, lac, cid));
CREATE INDEX marks_by_cell ON marks(mnc, lac, cid);
CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);
INSERT INTO users(id, email, pass_hash, name, created_at) VALUES
    (1, 'anna@example.org', '5ebe2294ecd0e0f08eab7690d2a6ee69', 'Анна', 0),
    (2, 'boris@example.org', '749789e4982b0c563f6729aac100a614', 'Борис', 0);
INSERT INTO sessions(token, user_id, created_at, used_at) VALUES ('00112233445566778899aabbccddeeff', 1, 0, 1715767200);
INSERT INTO user_groups(id, title) VALUES (1, 'Семья');
INSERT INTO group_members(group_id, user_id) VALUES (1, 1), (1, 2);
INSERT INTO marks(user_id, mnc, lac, cid, scope, group_id, title, street, number, build, tags, saved_at)
    VALUES (2, 1, 7701, 1, 3, 1, 'Дача', '', '', '', '', 0);
INSERT INTO cells(mnc, lac, cid, lat, lon, address) VALUES (1, 7701, 1, 55.7579, 37.6112, 'Москва, ул. Тверская, 7');
PRAGMA user_version=1;
)sql";

class SecretsTest : public testing::ServerTest {
protected:
    std::string Path() const { return (directory_ / "pelmora.db").string(); }

    // Every byte the database keeps on disk, its write-ahead log included.
    std::string FileBytes() {
        std::string bytes;
        for (const char* suffix : {"", "-wal"}) {
            std::ifstream file(Path() + suffix, std::ios::binary);
            bytes.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
        return bytes;
    }
};

TEST_F(SecretsTest, PasswordsAreHashedWithArgon2idAtOwaspsMinimum) {
    SetPasswordCostForTesting(kPasswordCost);
    std::string hash = HashPassword(Md5Hex("secret"));
    SetPasswordCostForTesting(kCheapestPasswordCost);
    EXPECT_EQ(hash.rfind("$argon2id$v=19$m=19456,t=2,p=1$", 0), 0u) << hash;
    EXPECT_TRUE(VerifyPassword(hash, Md5Hex("secret")));
    EXPECT_FALSE(VerifyPassword(hash, Md5Hex("Secret")));
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // A hash made at another cost is made again at today's with the next log-in.
    AddUser("anna@example.org", "secret", "Анна");
    StartServer();
    SetPasswordCostForTesting(kPasswordCost);
    EXPECT_EQ(HandStatus("anna@example.org", Md5Hex("secret")), "0");
    SetPasswordCostForTesting(kCheapestPasswordCost);
    EXPECT_EQ(store_->FindUser("anna@example.org")->passwordHash.rfind("$argon2id$v=19$m=19456,t=2,p=1$", 0), 0u);
}

TEST_F(SecretsTest, TheDatabaseFileHoldsNoPasswordHashAndNoTokenInClear) {
    StartServer();
    std::vector<std::string> secrets;
    // Made on the web, on the command line, and logged in from the phone, the API and the pages.
    SignUp("web@example.org", "пароль-веб", "Веб");
    secrets.push_back(Md5Hex(*Utf8ToCp1251("пароль-веб")));
    std::ostringstream out;
    RunAdminCommand(*rules_, {"user", "add", "admin@example.org", "пароль-админ", "Админ"}, out);
    secrets.push_back(Md5Hex(*Utf8ToCp1251("пароль-админ")));
    secrets.push_back(Login("admin@example.org", "пароль-админ"));
    secrets.push_back(Login("web@example.org", "пароль-веб"));
    secrets.push_back(ApiToken("web@example.org", "пароль-веб"));
    std::string token = ApiToken("admin@example.org", "пароль-админ");
    secrets.push_back(token);
    testing::HttpReply group = Web("POST", "/api/v1/groups", R"({"title": "Семья"})", token);
    std::string id = group.body.substr(6, group.body.find(',') - 6);
    std::string invitation = Web("POST", "/api/v1/groups/" + id + "/invitations", "", token).body;
    secrets.push_back(invitation.substr(9, 32));
    for (const std::string& secret : secrets) ASSERT_EQ(secret.size(), 32u) << secret;

    std::string bytes = FileBytes();
    CloseStore();
    bytes += FileBytes();
    ASSERT_NE(bytes.find("web@example.org"), std::string::npos) << "the search does see the file's text";
    for (const std::string& secret : secrets) {
        EXPECT_EQ(bytes.find(secret), std::string::npos) << secret;
        std::string upper = secret;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(bytes.find(upper), std::string::npos) << upper;
    }
}

TEST_F(SecretsTest, AnOldDatabaseIsUpgradedInPlaceAndItsUsersStillLogIn) {
    CloseStore();
    std::filesystem::remove(Path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, kSchemaOne, nullptr, nullptr, &error), SQLITE_OK) << error;
    sqlite3_close(db);
    ASSERT_NE(FileBytes().find("5ebe2294ecd0e0f08eab7690d2a6ee69"), std::string::npos);

    OpenStore();
    StartServer();
    EXPECT_EQ(store_->FindUser("anna@example.org")->passwordHash.rfind("$argon2id$", 0), 0u);
    // From the phone with the same password (MD5 of "secret"; "пароль" in Windows-1251).
    EXPECT_EQ(HandStatus("anna@example.org", "5ebe2294ecd0e0f08eab7690d2a6ee69"), "0");
    EXPECT_EQ(HandStatus("boris@example.org", "749789e4982b0c563f6729aac100a614"), "0");
    EXPECT_EQ(HandStatus("boris@example.org", "5ebe2294ecd0e0f08eab7690d2a6ee69"), "1");
    // On the web too, and the phone's session of before goes on.
    EXPECT_EQ(WebLogIn("boris@example.org", "пароль").status, 201);
    auto groups = Request("ineed", "token=00112233445566778899aabbccddeeff&group_list=1");
    EXPECT_EQ(TextAt(groups.get(), "ineed/groups/group/title"), "Семья");
    EXPECT_EQ(TextAt(groups.get(), "ineed/groups/group/count"), "2") << "memberships survive the rebuilt table";
    EXPECT_EQ(store_->MarkCount(), 1) << "so do the marks of the group";
    EXPECT_FALSE(store_->GetGroup(1)->ownerId.has_value()) << "old groups are the administrator's";
    std::optional<Cell> cell = store_->FindCell(250, {1, 7701, 1});
    ASSERT_TRUE(cell.has_value()) << "the cells of before are Russia's";
    EXPECT_EQ(cell->address, "Москва, ул. Тверская, 7");
    store_->PutCell(Cell{{1, 7701, 1}, 55.8, 37.6, "", 250});
    EXPECT_EQ(store_->FindCell(250, {1, 7701, 1})->address, "Москва, ул. Тверская, 7")
        << "their addresses are the operator's, kept when the open databases move the cell";

    CloseStore();
    std::string bytes = FileBytes();
    for (const char* secret : {"5ebe2294ecd0e0f08eab7690d2a6ee69", "749789e4982b0c563f6729aac100a614",
                               "00112233445566778899aabbccddeeff"}) {
        EXPECT_EQ(bytes.find(secret), std::string::npos) << secret;
    }
    OpenStore();
    EXPECT_EQ(store_->ListUsers().size(), 2u) << "an upgraded database opens again as it is";
}

class LogInLimitTest : public testing::EngineTest {};

// The 11th failed log-in within ten minutes is refused on the web (429) and on the phone (status 1),
// for the address from any client and for the client on any address, until the window passes.
TEST_P(LogInLimitTest, FailedLogInsAreLimitedPerAddressAndPerClient) {
    AddUser("anna@example.org", "secret", "Анна");
    AddUser("boris@example.org", "secret", "Борис");
    StartServer();
    const std::time_t start = now_;
    struct Attempt {
        int at;  // seconds after the start
        const char* via;  // "web" or "phone"
        const char* client;
        const char* email;
        const char* password;
        const char* expected;  // HTTP status on the web, handshake status on the phone
    };
    const Attempt attempts[] = {
        {0, "web", "127.0.0.1", "anna@example.org", "wrong", "401"},
        {10, "phone", "127.0.0.1", "anna@example.org", "wrong", "1"},
        {20, "web", "127.0.0.1", "anna@example.org", "wrong", "401"},
        {30, "phone", "127.0.0.1", "anna@example.org", "wrong", "1"},
        {40, "web", "127.0.0.1", "anna@example.org", "wrong", "401"},
        // Her own phone elsewhere logs in: that does not wipe the other client's failures.
        {45, "phone", "127.0.0.2", "anna@example.org", "secret", "0"},
        {50, "web", "127.0.0.1", "anna@example.org", "wrong", "401"},
        {60, "phone", "127.0.0.1", "anna@example.org", "wrong", "1"},
        {70, "web", "127.0.0.1", "anna@example.org", "wrong", "401"},
        {80, "phone", "127.0.0.1", "anna@example.org", "wrong", "1"},
        {90, "web", "127.0.0.1", "anna@example.org", "wrong", "401"},
        // Ten failures: the right password is refused too, on the web and on the phone, from anywhere.
        {100, "web", "127.0.0.1", "anna@example.org", "secret", "429"},
        {110, "phone", "127.0.0.1", "anna@example.org", "secret", "1"},
        {120, "web", "127.0.0.2", "anna@example.org", "secret", "429"},
        {130, "phone", "127.0.0.3", "anna@example.org", "secret", "1"},
        // The client that failed is refused for other addresses as well; other clients are not.
        {140, "web", "127.0.0.1", "boris@example.org", "secret", "429"},
        {150, "web", "127.0.0.2", "boris@example.org", "secret", "201"},
        // Once the first failure has left the ten minutes, one more try is let through.
        {600, "web", "127.0.0.1", "anna@example.org", "secret", "201"},
        {610, "phone", "127.0.0.1", "anna@example.org", "secret", "0"},
    };
    for (const Attempt& attempt : attempts) {
        now_ = start + attempt.at;
        std::string result;
        std::string what = std::to_string(attempt.at) + "s " + attempt.via + " " + attempt.client + " " + attempt.email +
                           " " + attempt.password;
        if (std::string(attempt.via) == "web") {
            testing::HttpReply reply = WebLogIn(attempt.email, attempt.password, attempt.client);
            result = std::to_string(reply.status);
            if (reply.status == 429) {
                // Until the oldest of the ten failures (at 0 s) is ten minutes old.
                EXPECT_EQ(reply.headers["retry-after"], std::to_string(600 - attempt.at)) << what;
                EXPECT_NE(reply.body.find("Слишком много неудачных попыток"), std::string::npos) << reply.body;
            }
        } else {
            result = HandStatus(attempt.email, Md5Hex(attempt.password), attempt.client);
        }
        EXPECT_EQ(result, attempt.expected) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, LogInLimitTest, testing::AllEngines(), testing::EngineName);

}  // namespace
}  // namespace pelmora
