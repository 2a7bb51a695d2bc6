// What the service keeps: accounts, sessions, groups, invitations, cells, reports, place marks,
// failed log-ins, settings. Only storage: who may do or see what is decided above it (accounts.h,
// groups.h, visibility.h). Every operation takes the store's lock, so one store serves all threads.
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
    std::string passwordHash;  // Argon2id of the phone's MD5 of the password (passwords.h)
    std::string name;
    int mode = 0;
    int rate = 0;
    int visibility = 0;
    int privateTime = 0;
    int forceGps = 0;
    int levelGps = 0;
    std::optional<int> methodUse;
    bool disabled = false;
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
    std::int64_t savedAt = 0;
};

struct GroupSummary {
    std::int64_t id = 0;
    std::string title;
    int memberCount = 0;
    std::optional<std::int64_t> ownerId;  // none: a group the administrator runs
};

struct Invitation {
    std::int64_t groupId = 0;
    std::optional<std::int64_t> createdBy;
    std::int64_t expiresAt = 0;
    bool used = false;
};

// Who may sign up on the web.
enum class Registration { kOpen, kInvite, kClosed };

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
    Registration registration = Registration::kOpen;
    // The map's tile address, {z}/{x}/{y} (and {s}) as Leaflet fills them in.
    std::string mapTiles = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
    // The web site's address for the links it hands out (invitations); empty: the address the
    // request came to.
    std::string siteAddress;
};

class Store {
public:
    // Opens or creates the database file (":memory:" for a private in-memory one).
    explicit Store(const std::string& path);

    // Accounts. `email` is already normalised, `passwordHash` made by HashPassword.
    std::int64_t AddUser(const std::string& email, const std::string& passwordHash, const std::string& name,
                         std::int64_t now);
    std::optional<User> FindUser(const std::string& email);
    std::optional<User> GetUser(std::int64_t id);
    std::vector<User> ListUsers();
    void SetPassword(std::int64_t userId, const std::string& passwordHash);
    void UpdateTerminal(std::int64_t userId, const std::string& model, const std::string& firmware,
                        const std::string& subscriber);
    void SetName(std::int64_t userId, const std::string& name);
    void SetRate(std::int64_t userId, int rate);
    void SetPrivateTime(std::int64_t userId, int privateTime);
    void SetVisibility(std::int64_t userId, int visibility);
    void SetMethodUse(std::int64_t userId, int method);
    void SetDisabled(std::int64_t userId, bool disabled);
    // Removes the account with its sessions, memberships, place and marks.
    void DeleteUser(std::int64_t userId);

    // Sessions, found by the SHA-256 of their token (`kind`: "phone", "web" or "api"). Sessions unused
    // for `lifetime` seconds are cleared out when one is opened; using one renews it.
    void OpenSession(const std::string& tokenHash, std::int64_t userId, const std::string& kind, std::int64_t now,
                     std::int64_t lifetime);
    std::optional<std::int64_t> SessionUser(const std::string& tokenHash, std::int64_t now, std::int64_t lifetime);
    void CloseSession(const std::string& tokenHash);
    // Every session of the user but the one given (empty: all of them).
    void CloseSessionsOf(std::int64_t userId, const std::string& keptTokenHash);
    std::int64_t SessionCount();

    // Groups, in the order they were created; titles are unique per owner. Nothing when the owner
    // already has a group of that title.
    std::optional<std::int64_t> AddGroup(const std::string& title, std::optional<std::int64_t> ownerId,
                                         std::int64_t now);
    std::optional<GroupSummary> GetGroup(std::int64_t groupId);
    std::vector<GroupSummary> FindGroups(const std::string& title);
    std::vector<GroupSummary> ListGroups();
    // False when the owner already has another group of that title.
    bool RenameGroup(std::int64_t groupId, const std::string& title);
    void SetGroupOwner(std::int64_t groupId, std::optional<std::int64_t> ownerId);
    // Removes the group with its memberships, invitations and the marks shown only to it.
    void DeleteGroup(std::int64_t groupId);
    void AddMember(std::int64_t groupId, std::int64_t userId, std::int64_t now);
    void RemoveMember(std::int64_t groupId, std::int64_t userId);
    bool IsMember(std::int64_t groupId, std::int64_t userId);
    std::vector<GroupSummary> GroupsOf(std::int64_t userId);
    std::vector<std::int64_t> GroupIdsOf(std::int64_t userId);
    // By name; MemberIdsByJoining in the order they joined.
    std::vector<User> MembersOf(std::int64_t groupId);
    std::vector<std::int64_t> MemberIdsByJoining(std::int64_t groupId);

    // Invitations, found by the SHA-256 of their code.
    void AddInvitation(const std::string& codeHash, std::int64_t groupId, std::optional<std::int64_t> createdBy,
                       std::int64_t now,
                       std::int64_t expiresAt);
    std::optional<Invitation> FindInvitation(const std::string& codeHash);
    // Marks the invitation used by the user, unless it is used already or expired; false then.
    bool ClaimInvitation(const std::string& codeHash, std::int64_t userId, std::int64_t now);

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
    // The user's marks shown only to one group.
    void DeleteGroupMarks(std::int64_t userId, std::int64_t groupId);
    // Every mark at a cell, whoever may see it; the user's own marks, the latest saved first.
    std::vector<Mark> MarksAt(const CellKey& cell);
    std::vector<Mark> MarksOf(std::int64_t userId);
    std::int64_t MarkCount();

    // Failed log-ins: which address, from which client (its network address), when.
    void RecordLoginFailure(const std::string& address, const std::string& client, std::int64_t now);
    // The times of the failures since `since`, oldest first, for an address or from a client.
    std::vector<std::int64_t> LoginFailuresOfAddress(const std::string& address, std::int64_t since);
    std::vector<std::int64_t> LoginFailuresOfClient(const std::string& client, std::int64_t since);
    // Forgets the failures of this address from this client only, and every failure before `before`.
    void ClearLoginFailures(const std::string& address, const std::string& client, std::int64_t before);

    ServerSettings Settings();
    // Validates and stores one setting by its name (report_interval, methods, token_lifetime,
    // update_url, host, suspended, min_client_version, registration, map_tiles, site_address).
    void SetSetting(const std::string& key, const std::string& value);
    static std::vector<std::pair<std::string, std::string>> DescribeSettings(const ServerSettings& settings);

    // Runs `work` as one transaction holding the store's lock; it may call the store again, and
    // InTransaction too (the inner call joins the outer transaction).
    template <typename Work>
    void InTransaction(Work work) {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (db_.InTransaction()) return work();
        Database::Transaction transaction(db_);
        work();
        transaction.Commit();
    }

private:
    // The numbers a statement with a text ?1 and a number ?2 selects.
    std::vector<std::int64_t> Times(const char* statement, const std::string& key, std::int64_t since);
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
