// SQLite 3 access: one connection in WAL mode, cached prepared statements, the schema and its
// migrations. Every value reaches SQL through a bound parameter.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

namespace pelmora {

class DatabaseError : public std::runtime_error {
public:
    DatabaseError(const std::string& what, int code) : std::runtime_error(what), code_(code) {}
    // SQLite's primary result code (SQLITE_CONSTRAINT, SQLITE_BUSY, ...).
    int code() const { return code_; }

private:
    int code_;
};

// A prepared statement in use: bound, stepped, reset when the query goes out of scope.
class Query {
public:
    Query(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    ~Query();

    Query& Bind(int index, std::int64_t value);
    Query& Bind(int index, int value) { return Bind(index, static_cast<std::int64_t>(value)); }
    Query& Bind(int index, double value);
    Query& Bind(int index, std::string_view value);
    Query& Bind(int index, const std::string& value) { return Bind(index, std::string_view(value)); }
    Query& Bind(int index, const char* value) { return Bind(index, std::string_view(value)); }
    Query& BindNull(int index);
    template <typename T>
    Query& Bind(int index, const std::optional<T>& value) {
        return value ? Bind(index, *value) : BindNull(index);
    }

    // Advances to the next row; false when there is none.
    bool Step();
    // Runs a statement that returns no rows.
    void Run();

    bool IsNull(int column) const;
    std::int64_t Int(int column) const;
    double Real(int column) const;
    std::string Text(int column) const;
    std::optional<double> OptionalReal(int column) const;
    std::optional<std::int64_t> OptionalInt(int column) const;

private:
    void Check(int result) const;

    sqlite3* db_;
    sqlite3_stmt* statement_;
};

class Database {
public:
    // The schema version this server writes; an older file is migrated on opening.
    static constexpr int kSchemaVersion = 2;

    // Opens (creating if needed) and migrates the database; throws DatabaseError.
    explicit Database(const std::string& path);
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    Query Prepare(const std::string& sql);
    std::int64_t LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
    int Changes() const { return sqlite3_changes(db_); }
    int SchemaVersion();
    bool InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

    // Begin on construction, commit on Commit, roll back when left without committing.
    class Transaction {
    public:
        explicit Transaction(Database& db);
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        ~Transaction();
        void Commit();

    private:
        Database& db_;
        bool done_ = false;
    };

private:
    void RunScript(const char* script);
    void Migrate();

    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace pelmora
