// The database: schema version and migration, WAL, sessions and their lifetime, mark replacement,
// service settings.
#include "server/passwords.h"
#include "server/sqlite_store.h"
#include "server/store.h"
#include "server/text.h"

#include "server_fixture.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

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

class StoreTest : public testing::EngineTest {};

TEST_P(StoreTest, SessionsLiveForTheirLifetimeAfterTheLastUse) {
    std::int64_t id = AddUser("anna@example.org", "x", "Анна");
    std::string token = Sha256Hex("first");
    std::string other = Sha256Hex("second");
    store_->OpenSession(token, id, "phone", 1000, 600);
    store_->OpenSession(other, id, "web", 1000, 600);
    EXPECT_EQ(store_->SessionUser(token, 1500, 600), id);
    EXPECT_EQ(store_->SessionUser(token, 2000, 600), id);  // counted from the use at 1500
    EXPECT_FALSE(store_->SessionUser(token, 2601, 600).has_value());
    EXPECT_FALSE(store_->SessionUser(token, 2000, 600).has_value());  // expired sessions are gone
    EXPECT_FALSE(store_->SessionUser("0123", 1000, 600).has_value());
    // A new log-in clears out the sessions nobody used within their lifetime.
    EXPECT_EQ(store_->SessionUser(other, 1001, 600), id);
    store_->OpenSession(Sha256Hex("third"), id, "api", 1602, 600);
    EXPECT_FALSE(store_->SessionUser(other, 1602, 100000).has_value());
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
