// The database: schema version and migration, WAL, sessions and their lifetime, mark replacement,
// service settings.
#include "server/passwords.h"
#include "server/sqlite_store.h"
#include "server/store.h"
#include "server/text.h"

#include "server_fixture.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace pelmora {
namespace {

class SqliteStoreTest : public testing::ServerTest {
protected:
    std::string Path() const { return (directory_ / "pelmora.db").string(); }

    // A statement run on a connection of its own, as another process would.
    std::string Pragma(const std::string& sql) {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK);
        std::string result;
        if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0)) {
            result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return result;
    }
};

TEST_F(SqliteStoreTest, NewDatabaseHasTheCurrentSchemaInWalModeAndKeepsItsData) {
    std::int64_t id = AddUser("anna@example.org", "x", "Анна");
    EXPECT_EQ(Pragma("PRAGMA user_version"), std::to_string(SqliteStore::kSchemaVersion));
    EXPECT_EQ(Pragma("PRAGMA journal_mode"), "wal");
    CloseStore();
    OpenStore();
    std::optional<User> user = store_->FindUser("anna@example.org");
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(user->id, id);
    EXPECT_EQ(user->name, "Анна");
}

TEST_F(SqliteStoreTest, DatabaseOfANewerServerIsRefusedUntouched) {
    CloseStore();
    Pragma("PRAGMA user_version=" + std::to_string(SqliteStore::kSchemaVersion + 1));
    try {
        SqliteStore newer(Path());
        FAIL() << "a newer schema was opened";
    } catch (const DatabaseError& error) {
        EXPECT_NE(std::string(error.what()).find("newer"), std::string::npos) << error.what();
    }
    EXPECT_EQ(Pragma("PRAGMA user_version"), std::to_string(SqliteStore::kSchemaVersion + 1));
}

// The commit that makes the write-ahead log long does not copy the log into the file (and sync it)
// while every other writer waits: the store's own thread does, soon after.
TEST_F(SqliteStoreTest, ALongLogIsCopiedIntoTheFileByTheStoresThread) {
    std::uintmax_t before = std::filesystem::file_size(Path());
    std::vector<Cell> cells;
    // Some 1,500 pages of 4 KiB: more than the 1,000 that make the log long.
    for (std::int64_t cid = 0; cid < 14000; ++cid) {
        cells.push_back({{1, 1, cid}, 55.75, 37.61, std::string(400, static_cast<char>('a' + cid % 26))});
    }
    store_->ImportCells(cells);
    constexpr std::uintmax_t kCopied = 5u * 1024 * 1024;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::filesystem::file_size(Path()) < before + kCopied && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(std::filesystem::file_size(Path()), before + kCopied);
}

class StoreTest : public testing::EngineTest {};

TEST_P(StoreTest, SessionsLiveForTheirLifetimeAfterTheLastUse) {
    std::int64_t id = AddUser("anna@example.org", "x", "Анна");
    std::string token = Sha256Hex("first");
    std::string other = Sha256Hex("second");
    auto userOf = [&](const std::string& hash, std::int64_t now, std::int64_t lifetime) -> std::optional<std::int64_t> {
        std::optional<User> user = store_->SessionUser(hash, now, lifetime);
        if (user) {
            EXPECT_EQ(user->email, "anna@example.org");
        }
        return user ? std::optional<std::int64_t>(user->id) : std::nullopt;
    };
    store_->OpenSession(token, id, "phone", 1000, 600);
    store_->OpenSession(other, id, "web", 1000, 600);
    EXPECT_EQ(userOf(token, 1500, 600), id);
    EXPECT_EQ(userOf(token, 2000, 600), id);  // counted from the use at 1500
    EXPECT_FALSE(userOf(token, 2601, 600).has_value());
    EXPECT_FALSE(userOf(token, 2000, 600).has_value());  // expired sessions are gone
    EXPECT_FALSE(userOf("0123", 1000, 600).has_value());
    // A new log-in clears out the sessions nobody used within their lifetime.
    EXPECT_EQ(userOf(other, 1001, 600), id);
    store_->OpenSession(Sha256Hex("third"), id, "api", 1602, 600);
    EXPECT_FALSE(userOf(other, 1602, 100000).has_value());
}

// A phone's log-in sends four requests within a second or two, a web page several: only a use that
// comes a step after the written one is written (a minute; a sixtieth of a lifetime under an hour).
// The lifetime counts from the written use.
TEST_P(StoreTest, ASessionsUseIsWrittenOnlyAStepAfterTheWrittenOne) {
    std::int64_t id = AddUser("anna@example.org", "x", "Анна");
    struct Use {
        std::int64_t lifetime;
        std::int64_t at;       // seconds after the session was opened at 1000
        bool written;          // the use is written (a second statement)
    };
    const Use uses[] = {
        {86400, 1, false},  {86400, 59, false}, {86400, 60, true},  {86400, 61, false}, {86400, 119, false},
        {86400, 120, true}, {600, 9, false},    {600, 10, true},    {60, 1, true},      {60, 2, true},
    };
    std::int64_t lifetime = 0;
    std::string token;
    for (const Use& use : uses) {
        if (use.lifetime != lifetime) {
            lifetime = use.lifetime;
            token = Sha256Hex("token " + std::to_string(lifetime));
            store_->OpenSession(token, id, "phone", 1000, lifetime);
        }
        std::int64_t before = StatementsRunOnThisThread();
        ASSERT_TRUE(store_->SessionUser(token, 1000 + use.at, lifetime).has_value()) << use.lifetime << " " << use.at;
        EXPECT_EQ(StatementsRunOnThisThread() - before, use.written ? 2 : 1) << use.lifetime << " " << use.at;
    }
    // The lifetime counts from the last use written: 1010 for ten minutes, 1120 for a day.
    EXPECT_TRUE(store_->SessionUser(Sha256Hex("token 600"), 1010 + 600, 600).has_value());
    EXPECT_FALSE(store_->SessionUser(Sha256Hex("token 86400"), 1120 + 86400 + 1, 86400).has_value());
}

TEST_P(StoreTest, UsersAndGroupsAreUnique) {
    AddUser("anna@example.org", "x", "Анна");
    EXPECT_THROW(AddUser("ANNA@example.org", "y", "Другая"), StoreError);
    std::int64_t anna = store_->FindUser("anna@example.org")->id;
    std::int64_t boris = AddUser("boris@example.org", "x", "Борис");
    // Titles are unique per owner: two families may each have "Семья".
    EXPECT_TRUE(store_->AddGroup("Семья", anna, 0).has_value());
    EXPECT_TRUE(store_->AddGroup("Семья", boris, 0).has_value());
    EXPECT_FALSE(store_->AddGroup("Семья", anna, 0).has_value());
    EXPECT_TRUE(store_->AddGroup("Семья", std::nullopt, 0).has_value());
    EXPECT_FALSE(store_->AddGroup("Семья", std::nullopt, 0).has_value());
}

TEST_P(StoreTest, SettingsAreValidatedAndKept) {
    ServerSettings defaults = store_->Settings();
    EXPECT_EQ(defaults.reportInterval, 300);
    EXPECT_EQ(defaults.methods, (std::vector<int>{1, 2, 3}));
    store_->SetSetting("methods", "2,1");
    store_->SetSetting("report_interval", "120");
    store_->SetSetting("update_url", "http://example.org/pelmora.cab");
    EXPECT_THROW(store_->SetSetting("methods", "1,7"), StoreError);
    EXPECT_THROW(store_->SetSetting("report_interval", "often"), StoreError);
    EXPECT_THROW(store_->SetSetting("colour", "red"), StoreError);
    ServerSettings settings = store_->Settings();
    EXPECT_EQ(settings.methods, (std::vector<int>{2, 1}));
    EXPECT_EQ(settings.reportInterval, 120);
    EXPECT_EQ(settings.updateUrl, "http://example.org/pelmora.cab");
}

// Every request reads the settings: they come from memory, read again from the database a second after
// they were read. A change through this store shows at once, one through another server (another store
// on the same database) after that second; what a transaction read of its own undone change is not kept.
TEST_P(StoreTest, SettingsAreReadOnceASecondAndThisStoresChangesShowAtOnce) {
    auto readSettings = [&] {
        std::int64_t before = StatementsRunOnThisThread();
        int interval = store_->Settings().reportInterval;
        return std::make_pair(interval, StatementsRunOnThisThread() - before);
    };
    store_->Settings();
    EXPECT_EQ(readSettings(), std::make_pair(300, std::int64_t{0}));
    store_->SetSetting("report_interval", "90");
    EXPECT_EQ(readSettings(), std::make_pair(90, std::int64_t{1}));
    std::unique_ptr<Store> otherServer = pelmora::OpenStore(target_);
    otherServer->SetSetting("report_interval", "45");
    EXPECT_EQ(readSettings(), std::make_pair(90, std::int64_t{0}));
    std::this_thread::sleep_for(Store::kSettingsFreshFor + std::chrono::milliseconds(200));
    EXPECT_EQ(readSettings(), std::make_pair(45, std::int64_t{1}));
    struct Undone {};
    EXPECT_THROW(store_->InTransaction([&] {
        store_->SetSetting("report_interval", "30");
        EXPECT_EQ(store_->Settings().reportInterval, 30);
        throw Undone{};
    }),
                 Undone);
    EXPECT_EQ(readSettings().first, 45);
}

TEST_P(StoreTest, ReportsKeepTheThreeCellsAndTheEstimatedPosition) {
    std::int64_t id = AddUser("anna@example.org", "x", "Анна");
    AddCell(10, 1, 55.0, 37.0, "a");
    CellKey cells[3] = {{1, 10, 1}, {1, 10, 2}, {1, 11, 3}};
    store_->RecordReport(id, kDefaultCountryCode, cells, -7, 5000);
    std::optional<Position> position = store_->PositionOf(id);
    ASSERT_TRUE(position.has_value());
    EXPECT_EQ(position->cells[1].cid, 2);
    EXPECT_EQ(position->cells[2].lac, 11);
    EXPECT_EQ(position->delta, -7);
    EXPECT_EQ(position->reportedAt, 5000);
    ASSERT_TRUE(position->where.has_value());
    EXPECT_DOUBLE_EQ(position->where->lat, 55.0);
}

INSTANTIATE_TEST_SUITE_P(Engines, StoreTest, testing::AllEngines(), testing::EngineName);

}  // namespace
}  // namespace pelmora
