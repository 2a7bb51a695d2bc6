#include "server/database.h"

#include "server/passwords.h"

#include <cstring>
#include <vector>

namespace pelmora {

namespace {

// Tokens and passwords kept before schema 2 as the phone sent them: the tokens become their SHA-256,
// the MD5 values their Argon2id hash, so that every session and every password goes on working.
void HashStoredSecrets(Database& db) {
    {
        Query old = db.Prepare("SELECT token, user_id, created_at, used_at FROM sessions_before_hashing");
        while (old.Step()) {
            db.Prepare("INSERT OR IGNORE INTO sessions(token_hash, user_id, kind, created_at, used_at) "
                       "VALUES(?1, ?2, 'phone', ?3, ?4)")
                .Bind(1, Sha256Hex(old.Text(0)))
                .Bind(2, old.Int(1))
                .Bind(3, old.Int(2))
                .Bind(4, old.Int(3))
                .Run();
        }
    }
    db.Prepare("DROP TABLE sessions_before_hashing").Run();
    std::vector<std::pair<std::int64_t, std::string>> users;
    {
        Query query = db.Prepare("SELECT id, pass_hash FROM users");
        while (query.Step()) users.emplace_back(query.Int(0), query.Text(1));
    }
    for (const auto& user : users) {
        db.Prepare("UPDATE users SET pass_hash = ?2 WHERE id = ?1").Bind(1, user.first).Bind(2, HashPassword(user.second)).Run();
    }
}

struct Migration {
    const char* script;
    void (*finish)(Database& db);  // what SQL alone cannot do; may be null
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
        Prepare("PRAGMA synchronous=NORMAL").Run();
        // What is deleted or replaced (a password's old hash, a closed session) is overwritten, not
        // left in free pages of the file.
        Prepare("PRAGMA secure_delete=ON").Step();
        // Off while migrating: a migration rebuilds tables, which must not cascade into their rows.
        Migrate();
        Prepare("PRAGMA foreign_keys=ON").Run();
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
    const bool upgraded = version < kSchemaVersion;
    for (; version < kSchemaVersion; ++version) {
        RunScript(kMigrations[version].script);
        if (kMigrations[version].finish) kMigrations[version].finish(*this);
        // PRAGMA takes no parameters; the number is this program's own constant.
        RunScript(("PRAGMA user_version=" + std::to_string(version + 1)).c_str());
    }
    if (Prepare("PRAGMA foreign_key_check").Step()) {
        throw DatabaseError("the upgraded database has rows that refer to nothing", SQLITE_CONSTRAINT);
    }
    transaction.Commit();
    // The pages an upgrade replaced may still sit in the write-ahead log: fold it into the file.
    if (upgraded) RunScript("PRAGMA wal_checkpoint(TRUNCATE)");
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
