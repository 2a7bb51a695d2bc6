#include "server/sqlite_store.h"

#include "server/background.h"
#include "server/passwords.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace pelmora {

namespace {

DatabaseError::Kind KindOf(int code) {
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return DatabaseError::Kind::kBusy;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
        return DatabaseError::Kind::kUnavailable;
    default:
        return DatabaseError::Kind::kFailed;
    }
}

// SQLite numbers its parameters ?1, ?2…; the statements are written with $1, $2… for both engines.
std::string SqliteText(const char* sql) {
    std::string text(sql);
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '$' && text[i + 1] >= '0' && text[i + 1] <= '9') text[i] = '?';
    }
    return text;
}

class SqliteConnection;

// A prepared statement of one connection, and the rows of its run.
class SqliteStatement : public RowSource {
public:
    SqliteStatement(SqliteConnection& connection, sqlite3_stmt* statement) : connection_(connection), statement_(statement) {}
    ~SqliteStatement() override { sqlite3_finalize(statement_); }

    // Binds the values and takes the first step, which does all of a statement's writes.
    void Start(std::initializer_list<SqlValue> values);
    bool Next() override;
    bool IsNull(int column) const override { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    std::int64_t Int(int column) const override { return sqlite3_column_int64(statement_, column); }
    double Real(int column) const override { return sqlite3_column_double(statement_, column); }
    std::string Text(int column) const override {
        const unsigned char* text = sqlite3_column_text(statement_, column);
        if (!text) return std::string();
        return std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(statement_, column));
    }
    void Finish() noexcept override;

    sqlite3_stmt* get() const { return statement_; }
    bool writes() const { return !sqlite3_stmt_readonly(statement_); }
    // The write gate is held for this run and let go when it is finished.
    bool holdsGate = false;

private:
    SqliteConnection& connection_;
    sqlite3_stmt* statement_;
    bool first_ = false;
    bool row_ = false;
};

// No rows: a write left out because the database was busy.
class NoRows : public RowSource {
public:
    bool Next() override { return false; }
    bool IsNull(int) const override { return true; }
    std::int64_t Int(int) const override { return 0; }
    double Real(int) const override { return 0; }
    std::string Text(int) const override { return std::string(); }
    void Finish() noexcept override {}
};

NoRows noRows;

}  // namespace

// What the connections of one store share: the file, the gate its writers pass one at a time, and the
// thread that copies the write-ahead log into the file.
struct SqliteShared {
    // A log this many pages long is copied into the file (SQLite's own default length).
    static constexpr int kCheckpointPages = 1000;

    std::string path;
    std::uint64_t serial = 0;
    std::timed_mutex writeGate;
    std::atomic<bool> checkpointWanted{false};
    Background checkpointer;
    std::mutex mutex;  // guards the two lists
    std::vector<std::unique_ptr<SqliteConnection>> connections;
    std::vector<SqliteConnection*> idle;  // of threads that have ended
};

namespace {

class SqliteConnection : public SqlConnection {
public:
    SqliteConnection(SqliteShared& shared, bool create) : shared_(shared) {
        int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
        int result = sqlite3_open_v2(shared.path.c_str(), &db_, flags, nullptr);
        if (result != SQLITE_OK) {
            std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw DatabaseError(KindOf(result), "cannot open " + shared.path + ": " + message);
        }
        // Administration commands run as separate processes beside the server: wait for their writes.
        sqlite3_busy_timeout(db_, static_cast<int>(SqliteStore::kWriterWait.count()));
        // The writer whose commit makes the log long enough does not copy it into the file itself (and
        // sync it) while every other writer waits at the gate: the store's thread does.
        sqlite3_wal_hook(db_, &LogGrew, &shared_);
        try {
            Script("PRAGMA synchronous=NORMAL");
            // What is deleted or replaced (a password's old hash, a closed session) is overwritten, not
            // left in free pages of the file.
            Script("PRAGMA secure_delete=ON");
        } catch (...) {
            sqlite3_close(db_);
            throw;
        }
    }
    ~SqliteConnection() override {
        statements_.clear();
        sqlite3_close(db_);
    }

    Rows Run(const Statement& statement, std::initializer_list<SqlValue> values) override {
        CountStatement();
        auto found = statements_.find(&statement);
        if (found == statements_.end()) {
            found = statements_.emplace(&statement, Prepare(SqliteText(statement.sql), SQLITE_PREPARE_PERSISTENT)).first;
        }
        SqliteStatement& prepared = *found->second;
        bool autocommitWrite = sqlite3_get_autocommit(db_) && prepared.writes();
        if (autocommitWrite) {
            if (statement.skippedWhenBusy) {
                if (!shared_.writeGate.try_lock()) return Rows(&noRows);
            } else if (!shared_.writeGate.try_lock_for(SqliteStore::kWriterWait)) {
                throw DatabaseError(DatabaseError::Kind::kBusy, "the database is busy with other writers");
            }
            prepared.holdsGate = true;
        }
        if (statement.skippedWhenBusy && autocommitWrite) {
            // Another process holding the file is not waited for either.
            sqlite3_busy_timeout(db_, 0);
            try {
                prepared.Start(values);
            } catch (const DatabaseError& error) {
                sqlite3_busy_timeout(db_, static_cast<int>(SqliteStore::kWriterWait.count()));
                prepared.Finish();
                if (error.kind() == DatabaseError::Kind::kBusy) return Rows(&noRows);
                throw;
            }
            sqlite3_busy_timeout(db_, static_cast<int>(SqliteStore::kWriterWait.count()));
            return Rows(&prepared);
        }
        try {
            prepared.Start(values);
        } catch (...) {
            prepared.Finish();
            throw;
        }
        return Rows(&prepared);
    }

    // A statement that is run once (migrations, backup): prepared, run, finalized.
    Rows RunOnce(const std::string& sql, std::initializer_list<SqlValue> values) {
        CountStatement();
        std::unique_ptr<SqliteStatement> statement = Prepare(sql, 0);
        statement->Start(values);
        return Rows(std::move(statement));
    }

    // Constant texts of several statements (migrations, pragmas), run one by one.
    void Script(const char* script) {
        const char* rest = script;
        while (*rest) {
            sqlite3_stmt* statement = nullptr;
            const char* tail = nullptr;
            int result = sqlite3_prepare_v2(db_, rest, -1, &statement, &tail);
            if (result != SQLITE_OK) Fail(result);
            rest = tail;
            if (!statement) continue;
            do {
                result = sqlite3_step(statement);
            } while (result == SQLITE_ROW);
            sqlite3_finalize(statement);
            if (result != SQLITE_DONE) Fail(result);
        }
    }

    void Begin(TransactionKind kind) override {
        if (kind == TransactionKind::kRead) return Script("BEGIN");
        if (!shared_.writeGate.try_lock_for(SqliteStore::kWriterWait)) {
            throw DatabaseError(DatabaseError::Kind::kBusy, "the database is busy with other writers");
        }
        holdsGate_ = true;
        try {
            Script("BEGIN IMMEDIATE");
        } catch (...) {
            ReleaseGate();
            throw;
        }
    }

    void Commit() override {
        Script("COMMIT");
        ReleaseGate();
    }

    void Rollback() noexcept override {
        if (!sqlite3_get_autocommit(db_)) {
            try {
                Script("ROLLBACK");
            } catch (const DatabaseError&) {
                // Nothing more can be done: the connection reports the failure to its next user.
            }
        }
        ReleaseGate();
    }

    [[noreturn]] void Fail(int result) const { throw DatabaseError(KindOf(result), sqlite3_errmsg(db_)); }

    static int LogGrew(void* data, sqlite3*, const char*, int pages) {
        SqliteShared& shared = *static_cast<SqliteShared*>(data);
        if (pages >= SqliteShared::kCheckpointPages && !shared.checkpointWanted.exchange(true)) {
            shared.checkpointer.Wake();
        }
        return SQLITE_OK;
    }

    sqlite3* db() const { return db_; }
    SqliteShared& shared() const { return shared_; }

private:
    std::unique_ptr<SqliteStatement> Prepare(const std::string& sql, unsigned flags) {
        sqlite3_stmt* statement = nullptr;
        int result = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size() + 1), flags, &statement, nullptr);
        if (result != SQLITE_OK) throw DatabaseError(KindOf(result), std::string(sqlite3_errmsg(db_)) + " in: " + sql);
        return std::make_unique<SqliteStatement>(*this, statement);
    }

    void ReleaseGate() {
        if (holdsGate_) shared_.writeGate.unlock();
        holdsGate_ = false;
    }

    SqliteShared& shared_;
    sqlite3* db_ = nullptr;
    bool holdsGate_ = false;
    std::unordered_map<const Statement*, std::unique_ptr<SqliteStatement>> statements_;
};

void SqliteStatement::Start(std::initializer_list<SqlValue> values) {
    int index = 1;
    int result = SQLITE_OK;
    for (const SqlValue& value : values) {
        switch (value.type()) {
        case SqlValue::Type::kNull:
            result = sqlite3_bind_null(statement_, index);
            break;
        case SqlValue::Type::kInteger:
            result = sqlite3_bind_int64(statement_, index, value.integer());
            break;
        case SqlValue::Type::kReal:
            result = sqlite3_bind_double(statement_, index, value.real());
            break;
        case SqlValue::Type::kText:
            result = sqlite3_bind_text64(statement_, index, value.text().data(), value.text().size(), SQLITE_STATIC,
                                         SQLITE_UTF8);
            break;
        }
        if (result != SQLITE_OK) connection_.Fail(result);
        ++index;
    }
    result = sqlite3_step(statement_);
    if (result != SQLITE_ROW && result != SQLITE_DONE) connection_.Fail(result);
    row_ = result == SQLITE_ROW;
    first_ = true;
}

bool SqliteStatement::Next() {
    if (first_) {
        first_ = false;
        return row_;
    }
    if (!row_) return false;
    int result = sqlite3_step(statement_);
    if (result != SQLITE_ROW && result != SQLITE_DONE) connection_.Fail(result);
    row_ = result == SQLITE_ROW;
    return row_;
}

void SqliteStatement::Finish() noexcept {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    first_ = false;
    row_ = false;
    if (holdsGate) {
        holdsGate = false;
        connection_.shared().writeGate.unlock();
    }
}

// Tokens and passwords kept before schema 2 as the phone sent them: the tokens become their SHA-256,
// the MD5 values their Argon2id hash, so that every session and every password goes on working.
void HashStoredSecrets(SqliteConnection& connection) {
    std::vector<std::tuple<std::string, std::int64_t, std::int64_t, std::int64_t>> sessions;
    {
        Rows old = connection.RunOnce("SELECT token, user_id, created_at, used_at FROM sessions_before_hashing", {});
        while (old.Next()) sessions.emplace_back(old.Text(0), old.Int(1), old.Int(2), old.Int(3));
    }
    for (const auto& session : sessions) {
        connection.RunOnce("INSERT OR IGNORE INTO sessions(token_hash, user_id, kind, created_at, used_at) "
                           "VALUES(?1, ?2, 'phone', ?3, ?4)",
                           {Sha256Hex(std::get<0>(session)), std::get<1>(session), std::get<2>(session),
                            std::get<3>(session)});
    }
    connection.Script("DROP TABLE sessions_before_hashing");
    std::vector<std::pair<std::int64_t, std::string>> users;
    {
        Rows rows = connection.RunOnce("SELECT id, pass_hash FROM users", {});
        while (rows.Next()) users.emplace_back(rows.Int(0), rows.Text(1));
    }
    for (const auto& user : users) {
        connection.RunOnce("UPDATE users SET pass_hash = ?2 WHERE id = ?1", {user.first, HashPassword(user.second)});
    }
}

struct Migration {
    const char* script;
    void (*finish)(SqliteConnection& connection);  // what SQL alone cannot do; may be null
};

// Each entry brings the schema from the version before it to its own number; entries are never
// edited once released, only appended.
const Migration kMigrations[] = {
    // 1: accounts, sessions, groups, cells, the last report of every user, place marks, settings.
    {R"sql(
CREATE TABLE users(
    id INTEGER PRIMARY KEY,
    email TEXT NOT NULL UNIQUE,
    pass_hash TEXT NOT NULL,
    name TEXT NOT NULL DEFAULT '',
    mode INTEGER NOT NULL DEFAULT 0,
    rate INTEGER NOT NULL DEFAULT 0,
    visibility INTEGER NOT NULL DEFAULT 0,
    private_time INTEGER NOT NULL DEFAULT 0,
    force_gps INTEGER NOT NULL DEFAULT 0,
    level_gps INTEGER NOT NULL DEFAULT 0,
    method_use INTEGER,
    terminal_model TEXT NOT NULL DEFAULT '',
    terminal_firmver TEXT NOT NULL DEFAULT '',
    subscriber TEXT NOT NULL DEFAULT '',
    created_at INTEGER NOT NULL);
CREATE TABLE sessions(
    token TEXT PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    created_at INTEGER NOT NULL,
    used_at INTEGER NOT NULL);
CREATE INDEX sessions_by_user ON sessions(user_id);
CREATE TABLE user_groups(
    id INTEGER PRIMARY KEY,
    title TEXT NOT NULL UNIQUE);
CREATE TABLE group_members(
    group_id INTEGER NOT NULL REFERENCES user_groups(id) ON DELETE CASCADE,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    PRIMARY KEY(group_id, user_id));
CREATE INDEX group_members_by_user ON group_members(user_id);
CREATE TABLE cells(
    mnc INTEGER NOT NULL,
    lac INTEGER NOT NULL,
    cid INTEGER NOT NULL,
    lat REAL NOT NULL,
    lon REAL NOT NULL,
    address TEXT NOT NULL,
    PRIMARY KEY(mnc, lac, cid));
CREATE TABLE positions(
    user_id INTEGER PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,
    mnc INTEGER NOT NULL,
    lac INTEGER NOT NULL,
    cid INTEGER NOT NULL,
    lac1 INTEGER NOT NULL,
    cid1 INTEGER NOT NULL,
    lac2 INTEGER NOT NULL,
    cid2 INTEGER NOT NULL,
    delta INTEGER NOT NULL,
    lat REAL,
    lon REAL,
    reported_at INTEGER NOT NULL);
CREATE TABLE marks(
    id INTEGER PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    mnc INTEGER NOT NULL,
    lac INTEGER NOT NULL,
    cid INTEGER NOT NULL,
    scope INTEGER NOT NULL,
    group_id INTEGER REFERENCES user_groups(id) ON DELETE CASCADE,
    title TEXT NOT NULL,
    street TEXT NOT NULL,
    number TEXT NOT NULL,
    build TEXT NOT NULL,
    tags TEXT NOT NULL,
    saved_at INTEGER NOT NULL,
    UNIQUE(user_id, mnc, lac, cid));
CREATE INDEX marks_by_cell ON marks(mnc, lac, cid);
CREATE TABLE settings(
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL);
)sql",
     nullptr},
    // 2: accounts that can be disabled, groups run by an owner (titles unique per owner), members in
    // the order they joined, invitations, tokens and passwords kept only as hashes, failed log-ins.
    {R"sql(
ALTER TABLE users ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0;
CREATE TABLE groups_with_owners(
    id INTEGER PRIMARY KEY,
    title TEXT NOT NULL,
    owner_id INTEGER REFERENCES users(id) ON DELETE SET NULL,
    created_at INTEGER NOT NULL DEFAULT 0);
INSERT INTO groups_with_owners(id, title) SELECT id, title FROM user_groups;
DROP TABLE user_groups;
ALTER TABLE groups_with_owners RENAME TO user_groups;
CREATE UNIQUE INDEX user_groups_by_owner ON user_groups(owner_id, title);
ALTER TABLE group_members ADD COLUMN joined_at INTEGER NOT NULL DEFAULT 0;
CREATE TABLE invitations(
    code_hash TEXT PRIMARY KEY,
    group_id INTEGER NOT NULL REFERENCES user_groups(id) ON DELETE CASCADE,
    created_by INTEGER REFERENCES users(id) ON DELETE SET NULL,
    created_at INTEGER NOT NULL,
    expires_at INTEGER NOT NULL,
    used_by INTEGER REFERENCES users(id) ON DELETE SET NULL,
    used_at INTEGER);
ALTER TABLE sessions RENAME TO sessions_before_hashing;
DROP INDEX sessions_by_user;
CREATE TABLE sessions(
    token_hash TEXT PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    kind TEXT NOT NULL,
    created_at INTEGER NOT NULL,
    used_at INTEGER NOT NULL);
CREATE INDEX sessions_by_user ON sessions(user_id);
CREATE TABLE login_failures(
    id INTEGER PRIMARY KEY,
    address TEXT NOT NULL,
    client TEXT NOT NULL,
    failed_at INTEGER NOT NULL);
CREATE INDEX login_failures_by_address ON login_failures(address, failed_at);
CREATE INDEX login_failures_by_client ON login_failures(client, failed_at);
)sql",
     HashStoredSecrets},
    // 3: a country (mcc) with every cell, the cells before it taken for Russia's; where each address
    // came from and the asking for those still missing; cells the phones met that nobody has; the
    // geocoder's answers by point, its one turn among servers; secrets of the database.
    {R"sql(
CREATE TABLE cells_of_countries(
    mcc INTEGER NOT NULL,
    mnc INTEGER NOT NULL,
    lac INTEGER NOT NULL,
    cid INTEGER NOT NULL,
    lat REAL NOT NULL,
    lon REAL NOT NULL,
    address TEXT NOT NULL,
    address_source INTEGER NOT NULL,
    geocode_wanted_at INTEGER,
    geocode_after INTEGER NOT NULL DEFAULT 0,
    geocode_failures INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY(mcc, mnc, lac, cid)) WITHOUT ROWID;
INSERT INTO cells_of_countries(mcc, mnc, lac, cid, lat, lon, address, address_source)
    SELECT 250, mnc, lac, cid, lat, lon, address, CASE WHEN address = '' THEN 0 ELSE 1 END FROM cells;
DROP TABLE cells;
ALTER TABLE cells_of_countries RENAME TO cells;
CREATE INDEX cells_wanted ON cells(geocode_wanted_at) WHERE geocode_wanted_at IS NOT NULL;
CREATE TABLE missing_cells(
    mcc INTEGER NOT NULL,
    mnc INTEGER NOT NULL,
    lac INTEGER NOT NULL,
    cid INTEGER NOT NULL,
    first_seen INTEGER NOT NULL,
    last_seen INTEGER NOT NULL,
    reports INTEGER NOT NULL,
    PRIMARY KEY(mcc, mnc, lac, cid)) WITHOUT ROWID;
CREATE TABLE missing_cell_phones(
    mcc INTEGER NOT NULL,
    mnc INTEGER NOT NULL,
    lac INTEGER NOT NULL,
    cid INTEGER NOT NULL,
    phone TEXT NOT NULL,
    PRIMARY KEY(mcc, mnc, lac, cid, phone),
    FOREIGN KEY(mcc, mnc, lac, cid) REFERENCES missing_cells(mcc, mnc, lac, cid) ON DELETE CASCADE) WITHOUT ROWID;
CREATE TABLE geocoded_places(
    lat_key INTEGER NOT NULL,
    lon_key INTEGER NOT NULL,
    address TEXT NOT NULL,
    fetched_at INTEGER NOT NULL,
    PRIMARY KEY(lat_key, lon_key)) WITHOUT ROWID;
CREATE TABLE geocoder_turn(
    id INTEGER PRIMARY KEY CHECK(id = 1),
    holder TEXT NOT NULL,
    until_ms INTEGER NOT NULL,
    next_ms INTEGER NOT NULL);
INSERT INTO geocoder_turn(id, holder, until_ms, next_ms) VALUES(1, '', 0, 0);
CREATE TABLE secrets(
    name TEXT PRIMARY KEY,
    value TEXT NOT NULL);
)sql",
     nullptr},
    // 4: counts of the changes of the cells and of the marks, moved by every write of them whoever
    // makes it, so that a server may keep them in memory while the count stays.
    {R"sql(
CREATE TABLE table_changes(
    name TEXT PRIMARY KEY,
    counter INTEGER NOT NULL);
INSERT INTO table_changes(name, counter) VALUES('cells', 0), ('marks', 0);
CREATE TRIGGER cells_added AFTER INSERT ON cells
BEGIN UPDATE table_changes SET counter = counter + 1 WHERE name = 'cells'; END;
CREATE TRIGGER cells_changed AFTER UPDATE OF mcc, mnc, lac, cid, lat, lon, address ON cells
BEGIN UPDATE table_changes SET counter = counter + 1 WHERE name = 'cells'; END;
CREATE TRIGGER cells_removed AFTER DELETE ON cells
BEGIN UPDATE table_changes SET counter = counter + 1 WHERE name = 'cells'; END;
CREATE TRIGGER marks_added AFTER INSERT ON marks
BEGIN UPDATE table_changes SET counter = counter + 1 WHERE name = 'marks'; END;
CREATE TRIGGER marks_changed AFTER UPDATE ON marks
BEGIN UPDATE table_changes SET counter = counter + 1 WHERE name = 'marks'; END;
CREATE TRIGGER marks_removed AFTER DELETE ON marks
BEGIN UPDATE table_changes SET counter = counter + 1 WHERE name = 'marks'; END;
)sql",
     nullptr},
};

static_assert(sizeof kMigrations / sizeof kMigrations[0] == SqliteStore::kSchemaVersion,
              "one migration per schema version");

int UserVersion(SqliteConnection& connection) {
    Rows rows = connection.RunOnce("PRAGMA user_version", {});
    rows.Next();
    return static_cast<int>(rows.Int(0));
}

void Migrate(SqliteConnection& connection) {
    connection.Script("PRAGMA journal_mode=WAL");
    // Off while migrating: a migration rebuilds tables, which must not cascade into their rows.
    connection.Script("PRAGMA foreign_keys=OFF");
    connection.Script("BEGIN IMMEDIATE");
    try {
        int version = UserVersion(connection);
        if (version > SqliteStore::kSchemaVersion) {
            throw DatabaseError(DatabaseError::Kind::kFailed,
                                "the database has schema version " + std::to_string(version) +
                                    ", newer than this server's " + std::to_string(SqliteStore::kSchemaVersion));
        }
        const bool upgraded = version < SqliteStore::kSchemaVersion;
        for (; version < SqliteStore::kSchemaVersion; ++version) {
            connection.Script(kMigrations[version].script);
            if (kMigrations[version].finish) kMigrations[version].finish(connection);
            // PRAGMA takes no parameters; the number is this program's own constant.
            connection.Script(("PRAGMA user_version=" + std::to_string(version + 1)).c_str());
        }
        if (connection.RunOnce("PRAGMA foreign_key_check", {}).Next()) {
            throw DatabaseError(DatabaseError::Kind::kFailed, "the upgraded database has rows that refer to nothing");
        }
        connection.Script("COMMIT");
        // The pages an upgrade replaced may still sit in the write-ahead log: fold it into the file.
        if (upgraded) connection.Script("PRAGMA wal_checkpoint(TRUNCATE)");
    } catch (...) {
        connection.Rollback();
        throw;
    }
    connection.Script("PRAGMA foreign_keys=ON");
}

std::atomic<std::uint64_t> nextSerial{1};

// The connection each thread has to each store it uses, by the store's serial number (never reused).
struct ThreadConnections {
    struct Binding {
        std::uint64_t serial;
        std::weak_ptr<SqliteShared> shared;
        SqliteConnection* connection;
    };
    std::vector<Binding> bindings;

    // A thread that ends leaves its connection to the next new thread of the same store.
    ~ThreadConnections() {
        for (Binding& binding : bindings) {
            if (std::shared_ptr<SqliteShared> shared = binding.shared.lock()) {
                std::lock_guard<std::mutex> lock(shared->mutex);
                shared->idle.push_back(binding.connection);
            }
        }
    }
};

thread_local ThreadConnections threadConnections;

class AlwaysHeld : public ExclusiveRole {
public:
    bool StillHeld() override { return true; }
};

}  // namespace

SqliteStore::SqliteStore(const std::string& path) : shared_(std::make_shared<SqliteShared>()) {
    // SQLite counts every allocation of every connection under one lock unless told not to; nothing
    // here reads the counts. Only possible before SQLite first starts (otherwise refused, harmlessly).
    static std::once_flag uncounted;
    std::call_once(uncounted, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
    if (path.empty() || path == ":memory:" || path.rfind("file:", 0) == 0) {
        throw DatabaseError(DatabaseError::Kind::kUnavailable,
                            "a SQLite database must be a file that every thread of the server opens: " + path);
    }
    shared_->path = path;
    shared_->serial = nextSerial++;
    auto first = std::make_unique<SqliteConnection>(*shared_, true);
    Migrate(*first);
    first->Script("PRAGMA foreign_keys=ON");
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        device_ = status.st_dev;
        inode_ = status.st_ino;
    }
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->idle.push_back(first.get());
        shared_->connections.push_back(std::move(first));
    }
    shared_->checkpointer.Start([this] {
        if (shared_->checkpointWanted.exchange(false)) {
            // Passive: readers and writers go on meanwhile; what it cannot copy yet waits for the next time.
            sqlite3_wal_checkpoint_v2(static_cast<SqliteConnection&>(Acquire()).db(), nullptr,
                                      SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        }
        return std::chrono::milliseconds(std::chrono::hours(1));
    });
}

SqliteStore::~SqliteStore() {
    shared_->checkpointer.Stop();
}

SqlConnection& SqliteStore::Acquire() {
    std::vector<ThreadConnections::Binding>& bindings = threadConnections.bindings;
    for (const ThreadConnections::Binding& binding : bindings) {
        if (binding.serial == shared_->serial) return *binding.connection;
    }
    bindings.erase(std::remove_if(bindings.begin(), bindings.end(),
                                  [](const ThreadConnections::Binding& binding) { return binding.shared.expired(); }),
                   bindings.end());
    SqliteConnection* connection = nullptr;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (!shared_->idle.empty()) {
            connection = shared_->idle.back();
            shared_->idle.pop_back();
        }
    }
    if (!connection) {
        auto opened = std::make_unique<SqliteConnection>(*shared_, false);
        opened->Script("PRAGMA foreign_keys=ON");
        connection = opened.get();
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->connections.push_back(std::move(opened));
    }
    bindings.push_back({shared_->serial, shared_, connection});
    return *connection;
}

std::string SqliteStore::Describe() const {
    return "SQLite database " + shared_->path;
}

int SqliteStore::SchemaVersion() {
    return UserVersion(static_cast<SqliteConnection&>(Acquire()));
}

std::optional<std::string> SqliteStore::CheckHealth() {
    struct stat status {};
    if (stat(shared_->path.c_str(), &status) != 0) return "the database file " + shared_->path + " is gone";
    if (status.st_dev != device_ || status.st_ino != inode_) {
        return "the database file " + shared_->path + " is not the one the server opened";
    }
    try {
        Rows rows = static_cast<SqliteConnection&>(Acquire()).RunOnce("SELECT COUNT(*) FROM settings", {});
        rows.Next();
    } catch (const DatabaseError& error) {
        return std::string("the database does not answer: ") + error.what();
    }
    return std::nullopt;
}

void SqliteStore::Backup(const std::string& file) {
    std::error_code ignored;
    if (std::filesystem::exists(file, ignored)) throw StoreError("will not overwrite " + file);
    const std::string partial = file + ".partial";
    std::filesystem::remove(partial, ignored);
    SqliteConnection& connection = static_cast<SqliteConnection&>(Acquire());
    try {
        // One read transaction: the copy holds every write committed before it began, and writers
        // go on meanwhile.
        connection.RunOnce("VACUUM INTO ?1", {partial});
        sqlite3* copy = nullptr;
        int result = sqlite3_open_v2(partial.c_str(), &copy, SQLITE_OPEN_READONLY, nullptr);
        std::string verdict;
        sqlite3_stmt* check = nullptr;
        if (result == SQLITE_OK && sqlite3_prepare_v2(copy, "PRAGMA quick_check", -1, &check, nullptr) == SQLITE_OK &&
            sqlite3_step(check) == SQLITE_ROW) {
            verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
        }
        sqlite3_finalize(check);
        sqlite3_close(copy);
        if (verdict != "ok") throw StoreError("the copy in " + partial + " does not check out: " + verdict);
        std::filesystem::rename(partial, file);
    } catch (...) {
        std::filesystem::remove(partial, ignored);
        throw;
    }
}

CellImportCounts SqliteStore::ImportCells(const std::vector<Cell>& cells) {
    // Imported cells land all over the table: with SQLite's default 2 MiB of cache every batch reads
    // most pages again. A connection that imports a batch keeps 64 MiB.
    if (cells.size() > 1) static_cast<SqliteConnection&>(Acquire()).Script("PRAGMA cache_size=-65536");
    return SqlStore::ImportCells(cells);
}

std::unique_ptr<ExclusiveRole> SqliteStore::TakeRole(RoleName) {
    return std::make_unique<AlwaysHeld>();
}

}  // namespace pelmora
