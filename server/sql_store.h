// The store's operations written once in the SQL both engines understand, over the little that
// differs between them: how a connection is had, how a statement is prepared, run and read, how a
// transaction begins. Statements are written with $1, $2… parameters; an engine that needs other
// words for one gives its own text.
#pragma once

#include "server/change_counted_cache.h"
#include "server/store.h"

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace pelmora {

struct Statement {
    const char* sql;
    const char* postgresql = nullptr;  // PostgreSQL's text where it differs
    // A write that may be left out when the database is busy (renewing a session's last use): a
    // reader never waits for it.
    bool skippedWhenBusy = false;
};

// A parameter: null, a whole number, a real number or text (which must outlive the statement's run).
class SqlValue {
public:
    enum class Type { kNull, kInteger, kReal, kText };

    SqlValue(std::nullptr_t) : type_(Type::kNull) {}
    SqlValue(std::int64_t value) : type_(Type::kInteger), integer_(value) {}
    SqlValue(int value) : type_(Type::kInteger), integer_(value) {}
    SqlValue(double value) : type_(Type::kReal), real_(value) {}
    SqlValue(std::string_view value) : type_(Type::kText), text_(value) {}
    SqlValue(const std::string& value) : type_(Type::kText), text_(value) {}
    SqlValue(const char* value) : type_(Type::kText), text_(value) {}
    template <typename T>
    SqlValue(const std::optional<T>& value) : SqlValue(value ? SqlValue(*value) : SqlValue(nullptr)) {}

    Type type() const { return type_; }
    std::int64_t integer() const { return integer_; }
    double real() const { return real_; }
    std::string_view text() const { return text_; }

private:
    Type type_;
    std::int64_t integer_ = 0;
    double real_ = 0;
    std::string_view text_;
};

// The rows of a statement being run, as an engine reads them.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual bool Next() = 0;
    virtual bool IsNull(int column) const = 0;
    virtual std::int64_t Int(int column) const = 0;
    virtual double Real(int column) const = 0;
    virtual std::string Text(int column) const = 0;
    // The statement is done with: its rows may go.
    virtual void Finish() noexcept = 0;
};

// The rows of one run, read front to back; done with when it goes out of scope.
class Rows {
public:
    explicit Rows(RowSource* source) : source_(source) {}
    explicit Rows(std::unique_ptr<RowSource> owned) : source_(owned.get()), owned_(std::move(owned)) {}
    Rows(Rows&& other) noexcept : source_(other.source_), owned_(std::move(other.owned_)) { other.source_ = nullptr; }
    Rows(const Rows&) = delete;
    Rows& operator=(const Rows&) = delete;
    Rows& operator=(Rows&&) = delete;
    ~Rows() {
        if (source_) source_->Finish();
    }

    bool Next() { return source_->Next(); }
    bool IsNull(int column) const { return source_->IsNull(column); }
    std::int64_t Int(int column) const { return source_->Int(column); }
    double Real(int column) const { return source_->Real(column); }
    std::string Text(int column) const { return source_->Text(column); }
    std::optional<std::int64_t> OptionalInt(int column) const {
        return IsNull(column) ? std::nullopt : std::optional<std::int64_t>(Int(column));
    }

private:
    RowSource* source_;
    std::unique_ptr<RowSource> owned_;
};

enum class TransactionKind {
    kRead,   // one consistent snapshot, no writes
    kWrite,  // writes of one piece, isolated from every other writer
};

// One connection to the database, used by one thread at a time.
class SqlConnection {
public:
    virtual ~SqlConnection() = default;
    // Runs the statement, prepared once per connection, with its parameters in order.
    virtual Rows Run(const Statement& statement, std::initializer_list<SqlValue> values) = 0;
    virtual void Begin(TransactionKind kind) = 0;
    virtual void Commit() = 0;
    virtual void Rollback() noexcept = 0;
};

// Counts a statement run on this thread (StatementsRunOnThisThread).
void CountStatement();

class SqlStore : public Store {
public:
    std::int64_t AddUser(const std::string& email, const std::string& passwordHash, const std::string& name,
                         std::int64_t now) override;
    std::optional<User> FindUser(const std::string& email) override;
    std::optional<User> GetUser(std::int64_t id) override;
    std::vector<User> ListUsers() override;
    void SetPassword(std::int64_t userId, const std::string& passwordHash) override;
    void UpdateTerminal(std::int64_t userId, const std::string& model, const std::string& firmware,
                        const std::string& subscriber) override;
    void SetName(std::int64_t userId, const std::string& name) override;
    void SetRate(std::int64_t userId, int rate) override;
    void SetPrivateTime(std::int64_t userId, int privateTime) override;
    void SetVisibility(std::int64_t userId, int visibility) override;
    void SetMethodUse(std::int64_t userId, int method) override;
    void SetDisabled(std::int64_t userId, bool disabled) override;
    void DeleteUser(std::int64_t userId) override;

    void OpenSession(const std::string& tokenHash, std::int64_t userId, const std::string& kind, std::int64_t now,
                     std::int64_t lifetime) override;
    std::optional<User> SessionUser(const std::string& tokenHash, std::int64_t now, std::int64_t lifetime) override;
    void CloseSession(const std::string& tokenHash) override;
    void CloseSessionsOf(std::int64_t userId, const std::string& keptTokenHash) override;
    std::int64_t SessionCount() override;
    std::int64_t ActiveSessionCount(std::int64_t since) override;

    std::optional<std::int64_t> AddGroup(const std::string& title, std::optional<std::int64_t> ownerId,
                                         std::int64_t now) override;
    std::optional<GroupSummary> GetGroup(std::int64_t groupId) override;
    std::vector<GroupSummary> FindGroups(const std::string& title) override;
    std::vector<GroupSummary> ListGroups() override;
    bool RenameGroup(std::int64_t groupId, const std::string& title) override;
    void SetGroupOwner(std::int64_t groupId, std::optional<std::int64_t> ownerId) override;
    void DeleteGroup(std::int64_t groupId) override;
    void AddMember(std::int64_t groupId, std::int64_t userId, std::int64_t now) override;
    void RemoveMember(std::int64_t groupId, std::int64_t userId) override;
    bool IsMember(std::int64_t groupId, std::int64_t userId) override;
    std::vector<GroupSummary> GroupsOf(std::int64_t userId) override;
    std::vector<std::int64_t> GroupIdsOf(std::int64_t userId) override;
    std::vector<User> MembersOf(std::int64_t groupId) override;
    std::vector<std::int64_t> MemberIdsByJoining(std::int64_t groupId) override;
    GroupCircle CircleOf(std::int64_t viewerId, std::int64_t mcc) override;

    void AddInvitation(const std::string& codeHash, std::int64_t groupId, std::optional<std::int64_t> createdBy,
                       std::int64_t now, std::int64_t expiresAt) override;
    std::optional<Invitation> FindInvitation(const std::string& codeHash) override;
    bool ClaimInvitation(const std::string& codeHash, std::int64_t userId, std::int64_t now) override;

    std::optional<Cell> FindCell(std::int64_t mcc, const CellKey& key) override;
    std::int64_t CellCount() override;
    CellImportCounts ImportCells(const std::vector<Cell>& cells) override;

    KnownCells RecordReport(std::int64_t userId, std::int64_t mcc, const CellKey (&cells)[3], std::int64_t delta,
                            std::int64_t now) override;
    std::optional<Position> PositionOf(std::int64_t userId) override;

    void RecordSightings(const std::vector<MissingSighting>& missing, const std::vector<AddressWanted>& wanted) override;
    std::vector<MissingCell> MissingCells(std::int64_t limit) override;

    std::optional<GeocodingTask> NextCellToGeocode(std::int64_t mcc, bool wantedOnly, std::int64_t now,
                                                   const std::optional<CellKey>& after) override;
    std::optional<std::string> CachedPlace(std::int64_t latKey, std::int64_t lonKey) override;
    void SavePlace(const Cell& cell, std::int64_t latKey, std::int64_t lonKey, const std::string& address,
                   std::int64_t now) override;
    void PostponeGeocoding(const Cell& cell, std::int64_t until) override;
    std::int64_t TakeGeocoderTurn(const std::string& holder, std::int64_t leaseMs) override;
    void EndGeocoderTurn(const std::string& holder, std::int64_t pauseMs) override;

    std::string Secret(const std::string& name) override;

    std::int64_t SaveMark(const Mark& mark, std::int64_t now) override;
    bool DeleteMark(std::int64_t userId, std::int64_t markId) override;
    void DeleteGroupMarks(std::int64_t userId, std::int64_t groupId) override;
    MarksWithOwners MarksAt(const CellKey& cell) override;
    std::vector<Mark> MarksOf(std::int64_t userId) override;
    std::int64_t MarkCount() override;

    void RecordLoginFailure(const std::string& address, const std::string& client, std::int64_t now) override;
    std::vector<std::int64_t> LoginFailuresOfAddress(const std::string& address, std::int64_t since) override;
    std::vector<std::int64_t> LoginFailuresOfClient(const std::string& client, std::int64_t since) override;
    void ClearLoginFailures(const std::string& address, const std::string& client, std::int64_t before) override;

    void InTransaction(const std::function<void()>& work) override;

protected:
    std::vector<std::pair<std::string, std::string>> SettingValues() override;
    void PutSetting(const std::string& key, const std::string& value) override;
    bool InTransactionOnThisThread() const override { return Current() != nullptr; }

    // A connection for this thread's use until Release; throws DatabaseError when none can be had.
    virtual SqlConnection& Acquire() = 0;
    virtual void Release(SqlConnection& connection) noexcept = 0;
    // Whether a transaction that failed so may simply run again (it met a concurrent writer).
    virtual bool MayRetry(const DatabaseError& error) const = 0;

    // For an engine that takes arrays (PostgreSQL): the statement adding or updating the cells of
    // the arrays $1 to $7 (mcc, mnc, lac, cid, lat, lon, address; no cell twice), with a row for each
    // cell it added (true) or changed (false).
    static const Statement& CellArraysStatement();
    // Forgets the missing cells that are known now; how many.
    std::int64_t CloseKnownMissing(SqlConnection& connection);

    // Runs `work(connection)` in this thread's transaction when there is one, otherwise on a
    // connection of its own, without a transaction.
    template <typename Work>
    auto Use(Work work) -> decltype(work(std::declval<SqlConnection&>()));
    // Runs `work(connection)` in a transaction of `kind`, or in this thread's when there is one.
    template <typename Work>
    auto Transact(TransactionKind kind, Work work) -> decltype(work(std::declval<SqlConnection&>()));

private:
    // The transaction this thread has open on this store, if any.
    SqlConnection* Current() const;
    void RunTransaction(TransactionKind kind, const std::function<void(SqlConnection&)>& work);
    std::vector<std::int64_t> Numbers(const Statement& statement, std::initializer_list<SqlValue> values);
    void Execute(const Statement& statement, std::initializer_list<SqlValue> values);
    std::int64_t Count(const Statement& statement, std::initializer_list<SqlValue> values);
    std::vector<GroupSummary> Groups(const Statement& statement, std::initializer_list<SqlValue> values);
    std::vector<Mark> Marks(const Statement& statement, std::initializer_list<SqlValue> values);
    std::optional<User> OneUser(const Statement& statement, std::initializer_list<SqlValue> values);
    std::optional<GeocodingTask> OneTask(const Statement& statement, std::initializer_list<SqlValue> values);

    using MarksAtCell = std::vector<Mark>;  // saved last first
    ChangeCountedCache<CellKey, Cell, CellKeyHash> cellCache_;      // state: cells' changes, country
    ChangeCountedCache<CellKey, MarksAtCell, CellKeyHash> markCache_;  // state: marks' changes
};

template <typename Work>
auto SqlStore::Use(Work work) -> decltype(work(std::declval<SqlConnection&>())) {
    if (SqlConnection* current = Current()) return work(*current);
    SqlConnection& connection = Acquire();
    struct Releaser {
        SqlStore& store;
        SqlConnection& connection;
        ~Releaser() { store.Release(connection); }
    } releaser{*this, connection};
    return work(connection);
}

template <typename Work>
auto SqlStore::Transact(TransactionKind kind, Work work) -> decltype(work(std::declval<SqlConnection&>())) {
    using Result = decltype(work(std::declval<SqlConnection&>()));
    if (SqlConnection* current = Current()) return work(*current);
    if constexpr (std::is_void_v<Result>) {
        RunTransaction(kind, [&](SqlConnection& connection) { work(connection); });
    } else {
        std::optional<Result> result;
        RunTransaction(kind, [&](SqlConnection& connection) { result = work(connection); });
        return std::move(*result);
    }
}

}  // namespace pelmora
