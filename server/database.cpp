#include "server/database.h"

#include <cstring>

namespace pelmora {

namespace {

// Each entry brings the schema from the version before it to its own number; entries are never
// edited once released, only appended.
const char* const kMigrations[] = {
    // 1: accounts, sessions, groups, cells, the last report of every user, place marks, settings.
    R"sql(
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
};

static_assert(sizeof kMigrations / sizeof kMigrations[0] == Database::kSchemaVersion,
              "one migration per schema version");

}  // namespace

Query::~Query() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

void Query::Check(int result) const {
    if (result != SQLITE_OK) throw DatabaseError(sqlite3_errmsg(db_), result & 0xff);
}

Query& Query::Bind(int index, std::int64_t value) {
    Check(sqlite3_bind_int64(statement_, index, value));
    return *this;
}

Query& Query::Bind(int index, double value) {
    Check(sqlite3_bind_double(statement_, index, value));
    return *this;
}

Query& Query::Bind(int index, std::string_view value) {
    Check(sqlite3_bind_text64(statement_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    return *this;
}

Query& Query::BindNull(int index) {
    Check(sqlite3_bind_null(statement_, index));
    return *this;
}

bool Query::Step() {
    int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    throw DatabaseError(sqlite3_errmsg(db_), result & 0xff);
}

void Query::Run() {
    while (Step()) {
    }
}

bool Query::IsNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::int64_t Query::Int(int column) const {
    return sqlite3_column_int64(statement_, column);
}

double Query::Real(int column) const {
    return sqlite3_column_double(statement_, column);
}

std::string Query::Text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    if (!text) return std::string();
    return std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(statement_, column));
}

std::optional<double> Query::OptionalReal(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Real(column);
}

std::optional<std::int64_t> Query::OptionalInt(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Int(column);
}

Database::Database(const std::string& path) {
    int result = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (result != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw DatabaseError("cannot open " + path + ": " + message, result);
    }
    // Administration commands run as separate processes beside the server: wait for their writes.
    sqlite3_busy_timeout(db_, 5000);
    try {
        Prepare("PRAGMA journal_mode=WAL").Step();
        Prepare("PRAGMA foreign_keys=ON").Run();
        Prepare("PRAGMA synchronous=NORMAL").Run();
        Migrate();
    } catch (...) {
        for (auto& entry : statements_) sqlite3_finalize(entry.second);
        sqlite3_close(db_);
        throw;
    }
}

Database::~Database() {
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    sqlite3_close(db_);
}

Query Database::Prepare(const std::string& sql) {
    auto found = statements_.find(sql);
    if (found == statements_.end()) {
        sqlite3_stmt* statement = nullptr;
        int result = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size() + 1), SQLITE_PREPARE_PERSISTENT,
                                        &statement, nullptr);
        if (result != SQLITE_OK) throw DatabaseError(std::string(sqlite3_errmsg(db_)) + " in: " + sql, result);
        found = statements_.emplace(sql, statement).first;
    }
    return Query(db_, found->second);
}

int Database::SchemaVersion() {
    Query query = Prepare("PRAGMA user_version");
    query.Step();
    return static_cast<int>(query.Int(0));
}

void Database::RunScript(const char* script) {
    // The migrations are constant texts of several statements: prepare and run them one by one.
    const char* rest = script;
    while (*rest) {
        sqlite3_stmt* statement = nullptr;
        const char* tail = nullptr;
        int result = sqlite3_prepare_v2(db_, rest, -1, &statement, &tail);
        if (result != SQLITE_OK) throw DatabaseError(sqlite3_errmsg(db_), result);
        rest = tail;
        if (!statement) continue;
        do {
            result = sqlite3_step(statement);
        } while (result == SQLITE_ROW);
        sqlite3_finalize(statement);
        if (result != SQLITE_DONE) throw DatabaseError(sqlite3_errmsg(db_), result);
    }
}

void Database::Migrate() {
    Transaction transaction(*this);
    int version = SchemaVersion();
    if (version > kSchemaVersion) {
        throw DatabaseError("the database has schema version " + std::to_string(version) +
                                ", newer than this server's " + std::to_string(kSchemaVersion),
                            SQLITE_MISMATCH);
    }
    for (; version < kSchemaVersion; ++version) {
        RunScript(kMigrations[version]);
        // PRAGMA takes no parameters; the number is this program's own constant.
        RunScript(("PRAGMA user_version=" + std::to_string(version + 1)).c_str());
    }
    transaction.Commit();
}

Database::Transaction::Transaction(Database& db) : db_(db) {
    db_.Prepare("BEGIN IMMEDIATE").Run();
}

Database::Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.Prepare("ROLLBACK").Run();
        } catch (const DatabaseError&) {
            // Nothing more can be done: the connection itself reports the failure to the next user.
        }
    }
}

void Database::Transaction::Commit() {
    db_.Prepare("COMMIT").Run();
    done_ = true;
}

}  // namespace pelmora
