// What the service keeps: accounts, sessions, groups, cells, reports, place marks, settings.
// Every operation takes the store's lock, so one store serves all connection threads.
#pragma once

#include "server/database.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pelmora {

// A problem of the caller's making (a duplicate e-mail, an unknown group), worded for the operator.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct User {
    std::int64_t id = 0;
    std::string email;
    std::string passHash;
    std::string name;
    int mode = 0;
    int rate = 0;
    int visibility = 0;
    int privateTime = 0;
    int forceGps = 0;
    int levelGps = 0;
    std::optional<int> methodUse;
};

struct CellKey {
    std::int64_t mnc = 0;
    std::int64_t lac = 0;
    std::int64_t cid = 0;
};

struct Cell {
    CellKey key;
    double lat = 0;
    double lon = 0;
    std::string address;
};

struct Coordinates {
    double lat = 0;
    double lon = 0;
};

// The last location report of a user: the three dominant cells, front first.
struct Position {
    CellKey cells[3];
    std::int64_t delta = 0;
    std::optional<Coordinates> where;
    std::int64_t reportedAt = 0;
};

// Place mark scopes: who besides the owner sees the mark.
enum MarkScope { kScopeOwner = 0, kScopeEverybody = 1, kScopeMyGroups = 2, kScopeOneGroup = 3 };

struct Mark {
    std::int64_t id = 0;
    std::int64_t userId = 0;
    CellKey cell;
    int scope = kScopeOwner;
    std::optional<std::int64_t> groupId;
    std::string title;
    std::string street;
    std::string number;
    std::string build;
    std::string tags;
};

struct GroupSummary {
    std::int64_t id = 0;
    std::string title;
    int memberCount = 0;
};

// Visibility states a user chooses.
enum Visibility { kVisibleToAll = 0, kVisibleToGroups = 1, kInvisible = 2, kSwitchedOff = 3 };

// The service-wide settings, kept in the database so that they change without a restart.
struct ServerSettings {
    int reportInterval = 300;              // "timer" of every accepted report, seconds
    std::vector<int> methods{1, 2, 3};     // cell-reading methods offered at the handshake
    std::int64_t tokenLifetime = 86400;    // seconds a token lives after its last use
    std::string updateUrl;                 // where a newer client is; offered when set
    std::string host;                      // another server for the clients to use; empty: this one
    bool suspended = false;                // refuse every log-in with "service suspended"
    int minClientVersion = 1;              // older client versions are told to update
};

class Store {
public:
    // Opens or creates the database file (":memory:" for a private in-memory one).
    explicit Store(const std::string& path);

    // Accounts. `email` is already normalised, `passHash` the phone's MD5 hex.
    std::int64_t AddUser(const std::string& email, const std::string& passHash, const std::string& name,
                         std::int64_t now);
    std::optional<User> FindUser(const std::string& email);
    std::optional<User> GetUser(std::int64_t id);
    std::vector<User> ListUsers();
    void SetPassword(std::int64_t userId, const std::string& passHash);
    void UpdateTerminal(std::int64_t userId, const std::string& model, const std::string& firmware,
                        const std::string& subscriber);
    void SetName(std::int64_t userId, const std::string& name);
    void SetRate(std::int64_t userId, int rate);
    void SetPrivateTime(std::int64_t userId, int privateTime);
    void SetVisibility(std::int64_t userId, int visibility);
    void SetMethodUse(std::int64_t userId, int method);

    // Sessions: a fresh 128-bit token (sessions unused for `lifetime` seconds are cleared out first);
    // the user of a token used within its lifetime, which the use renews.
    std::string OpenSession(std::int64_t userId, std::int64_t now, std::int64_t lifetime);
    std::optional<std::int64_t> SessionUser(const std::string& token, std::int64_t now, std::int64_t lifetime);

    // Groups, in the order they were created; members by name.
    std::int64_t AddGroup(const std::string& title);
    std::optional<std::int64_t> FindGroup(const std::string& title);
    void AddMember(std::int64_t groupId, std::int64_t userId);
    bool IsMember(std::int64_t groupId, std::int64_t userId);
    std::vector<GroupSummary> GroupsOf(std::int64_t userId);
    std::vector<User> MembersOf(std::int64_t groupId);

    // Cells: a known cell's place and address line.
    void PutCell(const Cell& cell);
    std::optional<Cell> FindCell(const CellKey& key);
    std::int64_t CellCount();

    // Reports: the user's last three cells; the position is estimated from the cells the store knows.
    void RecordReport(std::int64_t userId, const CellKey (&cells)[3], std::int64_t delta, std::int64_t now);
    std::optional<Position> PositionOf(std::int64_t userId);

    // Place marks: one per user and cell; saving again at the same cell replaces the mark, keeping its id.
    std::int64_t SaveMark(const Mark& mark, std::int64_t now);
    // Deletes the mark when it is the user's own; false for another's mark or an unknown id.
    bool DeleteMark(std::int64_t userId, std::int64_t markId);
    // The mark at a cell that the viewer may see: the viewer's own first, then others' from the
    // narrowest audience to the widest, the latest saved first.
    std::optional<Mark> VisibleMark(std::int64_t viewerId, const CellKey& cell);
    std::int64_t MarkCount();

    ServerSettings Settings();
    // Validates and stores one setting by its name (report_interval, methods, token_lifetime,
    // update_url, host, suspended, min_client_version).
    void SetSetting(const std::string& key, const std::string& value);
    static std::vector<std::pair<std::string, std::string>> DescribeSettings(const ServerSettings& settings);

    // Runs `work` as one transaction holding the store's lock; it may call the store again.
    template <typename Work>
    void InTransaction(Work work) {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        Database::Transaction transaction(db_);
        work();
        transaction.Commit();
    }

private:
    // One column of one user, by a statement with the user as ?1 and the value as ?2.
    template <typename Value>
    void UpdateUser(const char* statement, std::int64_t userId, const Value& value) {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        db_.Prepare(statement).Bind(1, userId).Bind(2, value).Run();
    }

    std::recursive_mutex mutex_;
    Database db_;
};

}  // namespace pelmora
