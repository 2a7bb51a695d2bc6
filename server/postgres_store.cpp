#include "server/postgres_store.h"

#include <pqxx/pqxx>

#include <spawn.h>
#include <sys/wait.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>
#include <mutex>
#include <unordered_map>
#include <vector>

extern char** environ;

namespace pelmora {

namespace {

// A statement's parameter in libpq's text form, or null.
struct PostgresParameter {
    bool null = true;
    std::string text;
};

}  // namespace

}  // namespace pelmora

namespace pqxx {

template <>
struct string_traits<pelmora::PostgresParameter> {
    static constexpr const char* name() noexcept { return "PostgresParameter"; }
    static constexpr bool has_null() noexcept { return true; }
    static bool is_null(const pelmora::PostgresParameter& value) { return value.null; }
    static pelmora::PostgresParameter null() { return {}; }
    static void from_string(const char text[], pelmora::PostgresParameter& value) { value = {false, text}; }
    static std::string to_string(const pelmora::PostgresParameter& value) { return value.text; }
};

}  // namespace pqxx

namespace pelmora {

namespace {

// How long a request waits for a connection of the pool before it is answered "busy".
constexpr std::chrono::seconds kPoolWait{10};

// The advisory lock keys of the roles ("PELM" and a number).
constexpr std::int64_t kMigrationLock = 0x50454C4D00;
constexpr std::int64_t kDemoWalkerLock = 0x50454C4D01;

// Each entry brings the schema from the version before it to its own number; entries are never
// edited once released, only appended. Names, titles and e-mail addresses sort by their bytes
// ("C"), as SQLite sorts them, whatever the database's locale.
const char* const kMigrations[] = {
    // 1: everything the SQLite engine has at its schema 2.
    R"sql(
CREATE TABLE users(
    id BIGSERIAL PRIMARY KEY,
    email TEXT COLLATE "C" NOT NULL UNIQUE,
    pass_hash TEXT NOT NULL,
    name TEXT COLLATE "C" NOT NULL DEFAULT '',
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
    created_at BIGINT NOT NULL,
    disabled INTEGER NOT NULL DEFAULT 0);
CREATE TABLE user_groups(
    id BIGSERIAL PRIMARY KEY,
    title TEXT COLLATE "C" NOT NULL,
    owner_id BIGINT REFERENCES users(id) ON DELETE SET NULL,
    created_at BIGINT NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX user_groups_by_owner ON user_groups(owner_id, title);
CREATE INDEX user_groups_by_title ON user_groups(title);
CREATE TABLE group_members(
    group_id BIGINT NOT NULL REFERENCES user_groups(id) ON DELETE CASCADE,
    user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    joined_at BIGINT NOT NULL DEFAULT 0,
    rowid BIGSERIAL,
    PRIMARY KEY(group_id, user_id));
CREATE INDEX group_members_by_user ON group_members(user_id);
CREATE TABLE invitations(
    code_hash TEXT PRIMARY KEY,
    group_id BIGINT NOT NULL REFERENCES user_groups(id) ON DELETE CASCADE,
    created_by BIGINT REFERENCES users(id) ON DELETE SET NULL,
    created_at BIGINT NOT NULL,
    expires_at BIGINT NOT NULL,
    used_by BIGINT REFERENCES users(id) ON DELETE SET NULL,
    used_at BIGINT);
CREATE TABLE sessions(
    token_hash TEXT PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    kind TEXT NOT NULL,
    created_at BIGINT NOT NULL,
    used_at BIGINT NOT NULL);
CREATE INDEX sessions_by_user ON sessions(user_id);
CREATE INDEX sessions_by_use ON sessions(used_at);
CREATE TABLE cells(
    mnc BIGINT NOT NULL,
    lac BIGINT NOT NULL,
    cid BIGINT NOT NULL,
    lat DOUBLE PRECISION NOT NULL,
    lon DOUBLE PRECISION NOT NULL,
    address TEXT NOT NULL,
    PRIMARY KEY(mnc, lac, cid));
CREATE TABLE positions(
    user_id BIGINT PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,
    mnc BIGINT NOT NULL,
    lac BIGINT NOT NULL,
    cid BIGINT NOT NULL,
    lac1 BIGINT NOT NULL,
    cid1 BIGINT NOT NULL,
    lac2 BIGINT NOT NULL,
    cid2 BIGINT NOT NULL,
    delta BIGINT NOT NULL,
    lat DOUBLE PRECISION,
    lon DOUBLE PRECISION,
    reported_at BIGINT NOT NULL);
CREATE TABLE marks(
    id BIGSERIAL PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    mnc BIGINT NOT NULL,
    lac BIGINT NOT NULL,
    cid BIGINT NOT NULL,
    scope INTEGER NOT NULL,
    group_id BIGINT REFERENCES user_groups(id) ON DELETE CASCADE,
    title TEXT NOT NULL,
    street TEXT NOT NULL,
    number TEXT NOT NULL,
    build TEXT NOT NULL,
    tags TEXT NOT NULL,
    saved_at BIGINT NOT NULL,
    UNIQUE(user_id, mnc, lac, cid));
CREATE INDEX marks_by_cell ON marks(mnc, lac, cid);
CREATE TABLE settings(
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL);
CREATE TABLE login_failures(
    id BIGSERIAL PRIMARY KEY,
    address TEXT NOT NULL,
    client TEXT NOT NULL,
    failed_at BIGINT NOT NULL);
CREATE INDEX login_failures_by_address ON login_failures(address, failed_at);
CREATE INDEX login_failures_by_client ON login_failures(client, failed_at);
)sql",
    // 2: a country (mcc) with every cell, the cells before it taken for Russia's; where each address
    // came from and the asking for those still missing; cells the phones met that nobody has; the
    // geocoder's answers by point, its one turn among servers; secrets of the database.
    R"sql(
ALTER TABLE cells ADD COLUMN mcc BIGINT NOT NULL DEFAULT 250;
ALTER TABLE cells ALTER COLUMN mcc DROP DEFAULT;
ALTER TABLE cells DROP CONSTRAINT cells_pkey;
ALTER TABLE cells ADD PRIMARY KEY(mcc, mnc, lac, cid);
ALTER TABLE cells ADD COLUMN address_source INTEGER NOT NULL DEFAULT 0;
UPDATE cells SET address_source = 1 WHERE address <> '';
ALTER TABLE cells ADD COLUMN geocode_wanted_at BIGINT;
ALTER TABLE cells ADD COLUMN geocode_after BIGINT NOT NULL DEFAULT 0;
ALTER TABLE cells ADD COLUMN geocode_failures INTEGER NOT NULL DEFAULT 0;
CREATE INDEX cells_wanted ON cells(geocode_wanted_at) WHERE geocode_wanted_at IS NOT NULL;
CREATE TABLE missing_cells(
    mcc BIGINT NOT NULL,
    mnc BIGINT NOT NULL,
    lac BIGINT NOT NULL,
    cid BIGINT NOT NULL,
    first_seen BIGINT NOT NULL,
    last_seen BIGINT NOT NULL,
    reports BIGINT NOT NULL,
    PRIMARY KEY(mcc, mnc, lac, cid));
CREATE TABLE missing_cell_phones(
    mcc BIGINT NOT NULL,
    mnc BIGINT NOT NULL,
    lac BIGINT NOT NULL,
    cid BIGINT NOT NULL,
    phone TEXT NOT NULL,
    PRIMARY KEY(mcc, mnc, lac, cid, phone),
    FOREIGN KEY(mcc, mnc, lac, cid) REFERENCES missing_cells(mcc, mnc, lac, cid) ON DELETE CASCADE);
CREATE TABLE geocoded_places(
    lat_key BIGINT NOT NULL,
    lon_key BIGINT NOT NULL,
    address TEXT NOT NULL,
    fetched_at BIGINT NOT NULL,
    PRIMARY KEY(lat_key, lon_key));
CREATE TABLE geocoder_turn(
    id INTEGER PRIMARY KEY CHECK(id = 1),
    holder TEXT NOT NULL,
    until_ms BIGINT NOT NULL,
    next_ms BIGINT NOT NULL);
INSERT INTO geocoder_turn(id, holder, until_ms, next_ms) VALUES(1, '', 0, 0);
CREATE TABLE secrets(
    name TEXT PRIMARY KEY,
    value TEXT NOT NULL);
)sql",
    // 3: counts of the changes of the cells and of the marks, moved by every statement that writes them
    // whoever runs it, so that a server may keep them in memory while the count stays.
    R"sql(
CREATE TABLE table_changes(
    name TEXT PRIMARY KEY,
    counter BIGINT NOT NULL);
INSERT INTO table_changes(name, counter) VALUES('cells', 0), ('marks', 0);
CREATE FUNCTION count_table_changes() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    UPDATE table_changes SET counter = counter + 1 WHERE name = TG_TABLE_NAME;
    RETURN NULL;
END $$;
CREATE TRIGGER cells_changed AFTER INSERT OR DELETE OR TRUNCATE OR UPDATE OF mcc, mnc, lac, cid, lat, lon, address
    ON cells FOR EACH STATEMENT EXECUTE FUNCTION count_table_changes();
CREATE TRIGGER marks_changed AFTER INSERT OR DELETE OR TRUNCATE OR UPDATE
    ON marks FOR EACH STATEMENT EXECUTE FUNCTION count_table_changes();
)sql",
};

static_assert(sizeof kMigrations / sizeof kMigrations[0] == PostgresStore::kSchemaVersion,
              "one migration per schema version");

// SQL states (the first two characters name the class) that say the database went away.
bool IsConnectionState(const std::string& state) {
    return state.rfind("08", 0) == 0 || state == "57P01" || state == "57P02" || state == "57P03" ||
           state == "53300";
}

// pqxx's exceptions in the store's terms; `broken` is set when the connection can serve no more.
[[noreturn]] void Translate(bool& broken) {
    try {
        throw;
    } catch (const pqxx::broken_connection& error) {
        broken = true;
        throw DatabaseError(DatabaseError::Kind::kUnavailable, std::string("the database went away: ") + error.what());
    } catch (const pqxx::sql_error& error) {
        const std::string& state = error.sqlstate();
        if (state == "40001" || state == "40P01") {
            throw DatabaseError(DatabaseError::Kind::kBusy, error.what());
        }
        if (IsConnectionState(state)) {
            broken = true;
            throw DatabaseError(DatabaseError::Kind::kUnavailable, error.what());
        }
        throw DatabaseError(DatabaseError::Kind::kFailed, error.what());
    } catch (const pqxx::in_doubt_error& error) {
        broken = true;
        throw DatabaseError(DatabaseError::Kind::kFailed, std::string("the outcome of a commit is unknown: ") + error.what());
    } catch (const pqxx::failure& error) {
        throw DatabaseError(DatabaseError::Kind::kFailed, error.what());
    }
}

// Connections give up after a few seconds and say who they are in pg_stat_activity.
std::string WithConnectionDefaults(const std::string& uri) {
    std::string result = uri;
    char separator = uri.find('?') == std::string::npos ? '?' : '&';
    if (uri.find("connect_timeout=") == std::string::npos) {
        result += separator + std::string("connect_timeout=5");
        separator = '&';
    }
    if (uri.find("application_name=") == std::string::npos) result += separator + std::string("application_name=pelmora-server");
    return result;
}

class PostgresRows : public RowSource {
public:
    explicit PostgresRows(pqxx::result result) : result_(std::move(result)) {}
    bool Next() override { return ++row_ < static_cast<long>(result_.size()); }
    bool IsNull(int column) const override { return Field(column).is_null(); }
    std::int64_t Int(int column) const override { return Field(column).as<std::int64_t>(); }
    double Real(int column) const override { return Field(column).as<double>(); }
    std::string Text(int column) const override {
        pqxx::field field = Field(column);
        return field.is_null() ? std::string() : std::string(field.c_str(), field.size());
    }
    void Finish() noexcept override {}

private:
    pqxx::field Field(int column) const { return result_[static_cast<pqxx::result::size_type>(row_)][column]; }

    pqxx::result result_;
    long row_ = -1;
};

class PostgresConnection : public SqlConnection {
public:
    explicit PostgresConnection(const std::string& uri) try : connection_(uri) {
    } catch (...) {
        bool ignored = false;
        Translate(ignored);
    }

    Rows Run(const Statement& statement, std::initializer_list<SqlValue> values) override {
        CountStatement();
        auto found = names_.find(&statement);
        if (found == names_.end()) {
            std::string name = "s" + std::to_string(names_.size() + 1);
            Guard([&] { connection_.prepare(name, statement.postgresql ? statement.postgresql : statement.sql); });
            found = names_.emplace(&statement, name).first;
        }
        std::vector<PostgresParameter> parameters;
        parameters.reserve(values.size());
        for (const SqlValue& value : values) parameters.push_back(Parameter(value));
        pqxx::result result;
        Guard([&] {
            auto dynamic = pqxx::prepare::make_dynamic_params(parameters);
            if (transaction_) {
                result = transaction_->exec_prepared(found->second, dynamic);
            } else {
                pqxx::nontransaction single(connection_);
                result = single.exec_prepared(found->second, dynamic);
            }
        });
        return Rows(std::make_unique<PostgresRows>(std::move(result)));
    }

    void Begin(TransactionKind kind) override {
        Guard([&] {
            if (kind == TransactionKind::kRead) {
                transaction_ = std::make_unique<pqxx::transaction<pqxx::repeatable_read, pqxx::read_only>>(connection_);
            } else {
                transaction_ = std::make_unique<pqxx::transaction<pqxx::serializable>>(connection_);
            }
        });
    }

    void Commit() override {
        Guard([&] {
            transaction_->commit();
            transaction_.reset();
        });
    }

    void Rollback() noexcept override {
        try {
            if (transaction_) transaction_->abort();
        } catch (const std::exception&) {
            broken_ = true;
        }
        transaction_.reset();
    }

    // Statements without parameters run once (migrations, checks), in a transaction of their own.
    pqxx::result Once(const std::string& sql, bool locked = false) {
        pqxx::result result;
        Guard([&] {
            pqxx::work work(connection_);
            if (locked) work.exec("SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLock) + ")");
            result = work.exec(sql);
            work.commit();
        });
        return result;
    }

    template <typename Action>
    void Guard(Action action) {
        try {
            action();
        } catch (...) {
            Translate(broken_);
        }
    }

    bool broken() const { return broken_; }
    pqxx::connection& raw() { return connection_; }

private:
    static PostgresParameter Parameter(const SqlValue& value) {
        switch (value.type()) {
        case SqlValue::Type::kInteger:
            return {false, std::to_string(value.integer())};
        case SqlValue::Type::kReal: {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", value.real());
            return {false, text};
        }
        case SqlValue::Type::kText:
            return {false, std::string(value.text())};
        default:
            return {};
        }
    }

    pqxx::connection connection_;
    std::unique_ptr<pqxx::transaction_base> transaction_;
    std::unordered_map<const Statement*, std::string> names_;
    bool broken_ = false;
};

class AdvisoryRole : public ExclusiveRole {
public:
    explicit AdvisoryRole(std::unique_ptr<PostgresConnection> connection) : connection_(std::move(connection)) {}
    bool StillHeld() override {
        if (!connection_) return false;
        try {
            connection_->Once("SELECT 1");
            return true;
        } catch (const DatabaseError&) {
            // The session, and with it the lock, may be gone: another server may take the role now.
            connection_.reset();
            return false;
        }
    }

private:
    std::unique_ptr<PostgresConnection> connection_;
};

// The columns of cells as arrays in PostgreSQL's text form: {1,2,3}, {"a","b"}.
struct CellArrays {
    std::string mcc, mnc, lac, cid, lat, lon, address;

    void Add(const Cell& cell) {
        Number(mcc, std::to_string(cell.mcc));
        Number(mnc, std::to_string(cell.key.mnc));
        Number(lac, std::to_string(cell.key.lac));
        Number(cid, std::to_string(cell.key.cid));
        Number(lat, Real(cell.lat));
        Number(lon, Real(cell.lon));
        address += address.empty() ? "{\"" : ",\"";
        for (char c : cell.address) {
            if (c == '"' || c == '\\') address += '\\';
            address += c;
        }
        address += '"';
    }
    void Close() {
        for (std::string* array : {&mcc, &mnc, &lac, &cid, &lat, &lon, &address}) *array += '}';
    }

private:
    static void Number(std::string& array, const std::string& number) {
        array += array.empty() ? "{" : ",";
        array += number;
    }
    static std::string Real(double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", value);
        return text;
    }
};

std::string PercentDecode(const std::string& text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

}  // namespace

struct PostgresPool {
    std::string uri;
    unsigned limit = 1;
    std::mutex mutex;
    std::condition_variable freed;
    std::vector<std::unique_ptr<PostgresConnection>> idle;
    unsigned open = 0;  // idle and in use
};

std::pair<std::string, std::string> SplitPassword(const std::string& uri) {
    std::size_t scheme = uri.find("://");
    if (scheme == std::string::npos) return {uri, std::string()};
    std::size_t start = scheme + 3;
    std::size_t end = uri.find_first_of("/?", start);
    std::string authority = uri.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::size_t at = authority.rfind('@');
    if (at == std::string::npos) return {uri, std::string()};
    std::size_t colon = authority.find(':');
    if (colon == std::string::npos || colon > at) return {uri, std::string()};
    std::string password = PercentDecode(authority.substr(colon + 1, at - colon - 1));
    return {uri.substr(0, start) + authority.substr(0, colon) + authority.substr(at) +
                (end == std::string::npos ? std::string() : uri.substr(end)),
            password};
}

PostgresStore::PostgresStore(const std::string& uri, const StoreOptions& options)
    : uri_(WithConnectionDefaults(uri)), pool_(std::make_unique<PostgresPool>()) {
    std::tie(shownUri_, password_) = SplitPassword(uri);
    pool_->uri = uri_;
    pool_->limit = std::max(1u, options.connections);
    auto first = std::make_unique<PostgresConnection>(uri_);
    // Servers starting together on a new database: one creates the schema, the others wait for it.
    first->Once("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)", true);
    pqxx::result version = first->Once("SELECT version FROM schema_version", true);
    int current = version.empty() ? 0 : version[0][0].as<int>();
    if (current > kSchemaVersion) {
        throw DatabaseError(DatabaseError::Kind::kFailed,
                            "the database has schema version " + std::to_string(current) +
                                ", newer than this server's " + std::to_string(kSchemaVersion));
    }
    if (current < kSchemaVersion) {
        first->Guard([&] {
            pqxx::work work(first->raw());
            work.exec("SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLock) + ")");
            pqxx::result again = work.exec("SELECT version FROM schema_version");
            int at = again.empty() ? 0 : again[0][0].as<int>();
            for (; at < kSchemaVersion; ++at) work.exec(kMigrations[at]);
            work.exec("DELETE FROM schema_version");
            work.exec("INSERT INTO schema_version(version) VALUES(" + std::to_string(kSchemaVersion) + ")");
            work.commit();
        });
    }
    pool_->idle.push_back(std::move(first));
    pool_->open = 1;
}

PostgresStore::~PostgresStore() = default;

std::string PostgresStore::Describe() const {
    return "PostgreSQL database " + shownUri_;
}

int PostgresStore::SchemaVersion() {
    return Use([&](SqlConnection& connection) {
        pqxx::result version = static_cast<PostgresConnection&>(connection).Once("SELECT version FROM schema_version");
        return version.empty() ? 0 : version[0][0].as<int>();
    });
}

SqlConnection& PostgresStore::Acquire() {
    PostgresPool& pool = *pool_;
    std::unique_lock<std::mutex> lock(pool.mutex);
    if (!pool.freed.wait_for(lock, kPoolWait, [&] { return !pool.idle.empty() || pool.open < pool.limit; })) {
        throw DatabaseError(DatabaseError::Kind::kBusy,
                            "all " + std::to_string(pool.limit) + " connections to the database are in use");
    }
    if (!pool.idle.empty()) {
        PostgresConnection* connection = pool.idle.back().release();
        pool.idle.pop_back();
        return *connection;
    }
    ++pool.open;
    lock.unlock();
    try {
        return *new PostgresConnection(pool.uri);
    } catch (...) {
        lock.lock();
        --pool.open;
        pool.freed.notify_one();
        throw;
    }
}

void PostgresStore::Release(SqlConnection& connection) noexcept {
    std::unique_ptr<PostgresConnection> owned(static_cast<PostgresConnection*>(&connection));
    PostgresPool& pool = *pool_;
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (owned->broken()) {
        // The server went away: the connections left idle are as dead as this one.
        pool.open -= 1 + static_cast<unsigned>(pool.idle.size());
        pool.idle.clear();
    } else {
        pool.idle.push_back(std::move(owned));
    }
    pool.freed.notify_one();
}

bool PostgresStore::MayRetry(const DatabaseError& error) const {
    return error.kind() == DatabaseError::Kind::kBusy;
}

std::optional<std::string> PostgresStore::CheckHealth() {
    // A connection left idle from before a restart of the database fails once and takes the other
    // idle ones with it; the second try connects anew.
    std::string problem;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            Use([&](SqlConnection& connection) { static_cast<PostgresConnection&>(connection).Once("SELECT 1"); });
            return std::nullopt;
        } catch (const DatabaseError& error) {
            problem = std::string("the database does not answer: ") + error.what();
        }
    }
    return problem;
}

void PostgresStore::Backup(const std::string& file) {
    std::error_code ignored;
    if (std::filesystem::exists(file, ignored)) throw StoreError("will not overwrite " + file);
    const std::string partial = file + ".partial";
    std::filesystem::remove(partial, ignored);
    // The password goes to pg_dump through its environment, never on a command line others can read.
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "PGPASSWORD=", 11) != 0) environment.push_back(*variable);
    }
    if (!password_.empty()) environment.push_back("PGPASSWORD=" + password_);
    std::vector<std::string> arguments = {"pg_dump", "--format=custom", "--no-owner", "--file=" + partial,
                                          "--dbname=" + SplitPassword(uri_).first};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_t child = 0;
    int spawned = posix_spawnp(&child, "pg_dump", nullptr, nullptr, argv.data(), envp.data());
    if (spawned != 0) throw StoreError(std::string("cannot run pg_dump: ") + std::strerror(spawned));
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::filesystem::remove(partial, ignored);
        throw StoreError("pg_dump failed; nothing was written to " + file);
    }
    std::filesystem::rename(partial, file);
}

CellImportCounts PostgresStore::ImportCells(const std::vector<Cell>& cells) {
    constexpr std::size_t kCellsPerStatement = 5000;
    // A statement may name a cell only once: a cell's second row goes into a later round, so that
    // every row meets what the row before it left, as one row at a time would.
    std::vector<std::vector<const Cell*>> rounds;
    std::map<std::tuple<std::int64_t, std::int64_t, std::int64_t, std::int64_t>, std::size_t> named;
    for (const Cell& cell : cells) {
        std::size_t round = named[{cell.mcc, cell.key.mnc, cell.key.lac, cell.key.cid}]++;
        if (round == rounds.size()) rounds.emplace_back();
        rounds[round].push_back(&cell);
    }
    return Transact(TransactionKind::kWrite, [&](SqlConnection& connection) {
        CellImportCounts counts;
        for (const std::vector<const Cell*>& round : rounds) {
            for (std::size_t start = 0; start < round.size(); start += kCellsPerStatement) {
                std::size_t end = std::min(round.size(), start + kCellsPerStatement);
                CellArrays arrays;
                for (std::size_t i = start; i < end; ++i) arrays.Add(*round[i]);
                arrays.Close();
                std::int64_t changed = 0;
                Rows rows = connection.Run(CellArraysStatement(), {arrays.mcc, arrays.mnc, arrays.lac, arrays.cid,
                                                                   arrays.lat, arrays.lon, arrays.address});
                while (rows.Next()) {
                    ++changed;
                    ++(rows.Int(0) ? counts.added : counts.updated);
                }
                counts.unchanged += static_cast<std::int64_t>(end - start) - changed;
            }
        }
        counts.closedMissing = CloseKnownMissing(connection);
        return counts;
    });
}

std::unique_ptr<ExclusiveRole> PostgresStore::TakeRole(RoleName) {
    auto connection = std::make_unique<PostgresConnection>(uri_);
    bool taken = false;
    connection->Guard([&] {
        pqxx::nontransaction single(connection->raw());
        taken = single.exec("SELECT pg_try_advisory_lock(" + std::to_string(kDemoWalkerLock) + ")")[0][0].as<bool>();
    });
    if (!taken) return nullptr;
    return std::make_unique<AdvisoryRole>(std::move(connection));
}

}  // namespace pelmora
