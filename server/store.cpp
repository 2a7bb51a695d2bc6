#include "server/store.h"

#include "server/places.h"
#include "server/text.h"

#include <sstream>

namespace pelmora {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Every query of users names the table "u" so that these columns serve joins as well.
const char* const kUserColumns =
    "u.id, u.email, u.pass_hash, u.name, u.mode, u.rate, u.visibility, u.private_time, u.force_gps, u.level_gps, "
    "u.method_use, u.disabled";

const char* const kMarkColumns =
    "m.id, m.user_id, m.mnc, m.lac, m.cid, m.scope, m.group_id, m.title, m.street, m.number, m.build, m.tags, "
    "m.saved_at";

const char* const kGroupColumns =
    "g.id, g.title, (SELECT COUNT(*) FROM group_members c WHERE c.group_id = g.id), g.owner_id";

User ReadUser(const Query& query) {
    User user;
    user.id = query.Int(0);
    user.email = query.Text(1);
    user.passwordHash = query.Text(2);
    user.name = query.Text(3);
    user.mode = static_cast<int>(query.Int(4));
    user.rate = static_cast<int>(query.Int(5));
    user.visibility = static_cast<int>(query.Int(6));
    user.privateTime = static_cast<int>(query.Int(7));
    user.forceGps = static_cast<int>(query.Int(8));
    user.levelGps = static_cast<int>(query.Int(9));
    if (!query.IsNull(10)) user.methodUse = static_cast<int>(query.Int(10));
    user.disabled = query.Int(11) != 0;
    return user;
}

Mark ReadMark(const Query& query) {
    Mark mark;
    mark.id = query.Int(0);
    mark.userId = query.Int(1);
    mark.cell = {query.Int(2), query.Int(3), query.Int(4)};
    mark.scope = static_cast<int>(query.Int(5));
    mark.groupId = query.OptionalInt(6);
    mark.title = query.Text(7);
    mark.street = query.Text(8);
    mark.number = query.Text(9);
    mark.build = query.Text(10);
    mark.tags = query.Text(11);
    mark.savedAt = query.Int(12);
    return mark;
}

GroupSummary ReadGroup(const Query& query) {
    return {query.Int(0), query.Text(1), static_cast<int>(query.Int(2)), query.OptionalInt(3)};
}

std::vector<GroupSummary> ReadGroups(Query& query) {
    std::vector<GroupSummary> groups;
    while (query.Step()) groups.push_back(ReadGroup(query));
    return groups;
}

std::vector<std::int64_t> ReadIds(Query& query) {
    std::vector<std::int64_t> ids;
    while (query.Step()) ids.push_back(query.Int(0));
    return ids;
}

std::vector<Mark> ReadMarks(Query& query) {
    std::vector<Mark> marks;
    while (query.Step()) marks.push_back(ReadMark(query));
    return marks;
}

std::int64_t SettingNumber(const std::string& key, const std::string& value, std::int64_t low, std::int64_t high) {
    std::optional<std::int64_t> number = ParseInteger(value);
    if (!number || *number < low || *number > high) {
        throw StoreError("setting " + key + " must be a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high));
    }
    return *number;
}

std::vector<int> ParseMethods(const std::string& value) {
    std::vector<int> methods;
    std::stringstream list(value);
    std::string item;
    while (std::getline(list, item, ',')) {
        methods.push_back(static_cast<int>(SettingNumber("methods", item, -1, 3)));
    }
    if (methods.empty()) throw StoreError("setting methods needs at least one method (-1, 0, 1, 2 or 3)");
    return methods;
}

std::string JoinMethods(const std::vector<int>& methods) {
    std::string text;
    for (int method : methods) {
        if (!text.empty()) text += ',';
        text += std::to_string(method);
    }
    return text;
}

// An absolute http or https address without blanks, quotes or angle brackets: it goes into pages.
bool IsWebAddress(const std::string& value) {
    bool scheme = value.rfind("http://", 0) == 0 || value.rfind("https://", 0) == 0;
    return scheme && value.size() <= 512 && value.find_first_of(" \t\r\n\"'<>\\`") == std::string::npos;
}

const char* RegistrationName(Registration registration) {
    switch (registration) {
    case Registration::kInvite:
        return "invite";
    case Registration::kClosed:
        return "closed";
    default:
        return "open";
    }
}

void ApplySetting(ServerSettings& settings, const std::string& key, const std::string& value) {
    if (key == "report_interval") {
        settings.reportInterval = static_cast<int>(SettingNumber(key, value, 10, 86400));
    } else if (key == "methods") {
        settings.methods = ParseMethods(value);
    } else if (key == "token_lifetime") {
        settings.tokenLifetime = SettingNumber(key, value, 60, 365LL * 86400);
    } else if (key == "update_url") {
        settings.updateUrl = value;
    } else if (key == "host") {
        if (value.find_first_of(" \t\r\n") != std::string::npos) throw StoreError("setting host must be one word");
        settings.host = value;
    } else if (key == "suspended") {
        settings.suspended = SettingNumber(key, value, 0, 1) != 0;
    } else if (key == "min_client_version") {
        settings.minClientVersion = static_cast<int>(SettingNumber(key, value, 0, 1000000));
    } else if (key == "registration") {
        if (value == "open") settings.registration = Registration::kOpen;
        else if (value == "invite") settings.registration = Registration::kInvite;
        else if (value == "closed") settings.registration = Registration::kClosed;
        else throw StoreError("setting registration must be open, invite or closed");
    } else if (key == "map_tiles") {
        if (!IsWebAddress(value) || value.find("{z}") == std::string::npos || value.find("{x}") == std::string::npos ||
            value.find("{y}") == std::string::npos) {
            throw StoreError("setting map_tiles must be an http(s) address with {z}, {x} and {y}");
        }
        settings.mapTiles = value;
    } else if (key == "site_address") {
        if (!value.empty() && !IsWebAddress(value)) throw StoreError("setting site_address must be an http(s) address");
        settings.siteAddress = value;
    } else {
        throw StoreError("no setting named " + key);
    }
}

}  // namespace

Store::Store(const std::string& path) : db_(path) {}

std::int64_t Store::AddUser(const std::string& email, const std::string& passwordHash, const std::string& name,
                            std::int64_t now) {
    Lock lock(mutex_);
    if (FindUser(email)) throw StoreError("a user with the e-mail " + email + " exists already");
    db_.Prepare("INSERT INTO users(email, pass_hash, name, created_at) VALUES(?1, ?2, ?3, ?4)")
        .Bind(1, email)
        .Bind(2, passwordHash)
        .Bind(3, name)
        .Bind(4, now)
        .Run();
    return db_.LastInsertId();
}

std::optional<User> Store::FindUser(const std::string& email) {
    Lock lock(mutex_);
    Query query = db_.Prepare(std::string("SELECT ") + kUserColumns + " FROM users u WHERE u.email = ?1");
    query.Bind(1, email);
    if (!query.Step()) return std::nullopt;
    return ReadUser(query);
}

std::optional<User> Store::GetUser(std::int64_t id) {
    Lock lock(mutex_);
    Query query = db_.Prepare(std::string("SELECT ") + kUserColumns + " FROM users u WHERE u.id = ?1");
    query.Bind(1, id);
    if (!query.Step()) return std::nullopt;
    return ReadUser(query);
}

std::vector<User> Store::ListUsers() {
    Lock lock(mutex_);
    Query query = db_.Prepare(std::string("SELECT ") + kUserColumns + " FROM users u ORDER BY u.id");
    std::vector<User> users;
    while (query.Step()) users.push_back(ReadUser(query));
    return users;
}

void Store::SetPassword(std::int64_t userId, const std::string& passwordHash) {
    UpdateUser("UPDATE users SET pass_hash = ?2 WHERE id = ?1", userId, passwordHash);
}

void Store::UpdateTerminal(std::int64_t userId, const std::string& model, const std::string& firmware,
                           const std::string& subscriber) {
    Lock lock(mutex_);
    db_.Prepare("UPDATE users SET terminal_model = ?2, terminal_firmver = ?3, subscriber = ?4 WHERE id = ?1")
        .Bind(1, userId)
        .Bind(2, model)
        .Bind(3, firmware)
        .Bind(4, subscriber)
        .Run();
}

void Store::SetName(std::int64_t userId, const std::string& name) {
    UpdateUser("UPDATE users SET name = ?2 WHERE id = ?1", userId, name);
}

void Store::SetRate(std::int64_t userId, int rate) {
    UpdateUser("UPDATE users SET rate = ?2 WHERE id = ?1", userId, rate);
}

void Store::SetPrivateTime(std::int64_t userId, int privateTime) {
    UpdateUser("UPDATE users SET private_time = ?2 WHERE id = ?1", userId, privateTime);
}

void Store::SetVisibility(std::int64_t userId, int visibility) {
    UpdateUser("UPDATE users SET visibility = ?2 WHERE id = ?1", userId, visibility);
}

void Store::SetMethodUse(std::int64_t userId, int method) {
    UpdateUser("UPDATE users SET method_use = ?2 WHERE id = ?1", userId, method);
}

void Store::SetDisabled(std::int64_t userId, bool disabled) {
    UpdateUser("UPDATE users SET disabled = ?2 WHERE id = ?1", userId, disabled ? 1 : 0);
}

void Store::DeleteUser(std::int64_t userId) {
    Lock lock(mutex_);
    db_.Prepare("DELETE FROM users WHERE id = ?1").Bind(1, userId).Run();
}

void Store::OpenSession(const std::string& tokenHash, std::int64_t userId, const std::string& kind,
                        std::int64_t now, std::int64_t lifetime) {
    Lock lock(mutex_);
    db_.Prepare("DELETE FROM sessions WHERE used_at < ?1").Bind(1, now - lifetime).Run();
    db_.Prepare("INSERT INTO sessions(token_hash, user_id, kind, created_at, used_at) VALUES(?1, ?2, ?3, ?4, ?4)")
        .Bind(1, tokenHash)
        .Bind(2, userId)
        .Bind(3, kind)
        .Bind(4, now)
        .Run();
}

std::optional<std::int64_t> Store::SessionUser(const std::string& tokenHash, std::int64_t now,
                                               std::int64_t lifetime) {
    Lock lock(mutex_);
    std::int64_t userId;
    {
        Query query = db_.Prepare("SELECT user_id, used_at FROM sessions WHERE token_hash = ?1");
        query.Bind(1, tokenHash);
        if (!query.Step()) return std::nullopt;
        userId = query.Int(0);
        if (now - query.Int(1) > lifetime) {
            userId = 0;
        }
    }
    if (userId == 0) {
        CloseSession(tokenHash);
        return std::nullopt;
    }
    db_.Prepare("UPDATE sessions SET used_at = ?2 WHERE token_hash = ?1 AND used_at < ?2")
        .Bind(1, tokenHash)
        .Bind(2, now)
        .Run();
    return userId;
}

void Store::CloseSession(const std::string& tokenHash) {
    Lock lock(mutex_);
    db_.Prepare("DELETE FROM sessions WHERE token_hash = ?1").Bind(1, tokenHash).Run();
}

void Store::CloseSessionsOf(std::int64_t userId, const std::string& keptTokenHash) {
    Lock lock(mutex_);
    db_.Prepare("DELETE FROM sessions WHERE user_id = ?1 AND token_hash <> ?2").Bind(1, userId).Bind(2, keptTokenHash).Run();
}

std::int64_t Store::SessionCount() {
    Lock lock(mutex_);
    Query query = db_.Prepare("SELECT COUNT(*) FROM sessions");
    query.Step();
    return query.Int(0);
}

std::optional<std::int64_t> Store::AddGroup(const std::string& title, std::optional<std::int64_t> ownerId,
                                            std::int64_t now) {
    Lock lock(mutex_);
    for (const GroupSummary& group : FindGroups(title)) {
        if (group.ownerId == ownerId) return std::nullopt;
    }
    db_.Prepare("INSERT INTO user_groups(title, owner_id, created_at) VALUES(?1, ?2, ?3)")
        .Bind(1, title)
        .Bind(2, ownerId)
        .Bind(3, now)
        .Run();
    return db_.LastInsertId();
}

std::optional<GroupSummary> Store::GetGroup(std::int64_t groupId) {
    Lock lock(mutex_);
    Query query = db_.Prepare(std::string("SELECT ") + kGroupColumns + " FROM user_groups g WHERE g.id = ?1");
    query.Bind(1, groupId);
    if (!query.Step()) return std::nullopt;
    return ReadGroup(query);
}

std::vector<GroupSummary> Store::FindGroups(const std::string& title) {
    Lock lock(mutex_);
    Query query =
        db_.Prepare(std::string("SELECT ") + kGroupColumns + " FROM user_groups g WHERE g.title = ?1 ORDER BY g.id");
    query.Bind(1, title);
    return ReadGroups(query);
}

std::vector<GroupSummary> Store::ListGroups() {
    Lock lock(mutex_);
    Query query = db_.Prepare(std::string("SELECT ") + kGroupColumns + " FROM user_groups g ORDER BY g.id");
    return ReadGroups(query);
}

bool Store::RenameGroup(std::int64_t groupId, const std::string& title) {
    Lock lock(mutex_);
    std::optional<GroupSummary> group = GetGroup(groupId);
    if (!group) return false;
    for (const GroupSummary& other : FindGroups(title)) {
        if (other.id != groupId && other.ownerId == group->ownerId) return false;
    }
    db_.Prepare("UPDATE user_groups SET title = ?2 WHERE id = ?1").Bind(1, groupId).Bind(2, title).Run();
    return true;
}

void Store::SetGroupOwner(std::int64_t groupId, std::optional<std::int64_t> ownerId) {
    Lock lock(mutex_);
    db_.Prepare("UPDATE user_groups SET owner_id = ?2 WHERE id = ?1").Bind(1, groupId).Bind(2, ownerId).Run();
}

void Store::DeleteGroup(std::int64_t groupId) {
    Lock lock(mutex_);
    db_.Prepare("DELETE FROM user_groups WHERE id = ?1").Bind(1, groupId).Run();
}

void Store::AddMember(std::int64_t groupId, std::int64_t userId, std::int64_t now) {
    Lock lock(mutex_);
    db_.Prepare("INSERT OR IGNORE INTO group_members(group_id, user_id, joined_at) VALUES(?1, ?2, ?3)")
        .Bind(1, groupId)
        .Bind(2, userId)
        .Bind(3, now)
        .Run();
}

void Store::RemoveMember(std::int64_t groupId, std::int64_t userId) {
    Lock lock(mutex_);
    db_.Prepare("DELETE FROM group_members WHERE group_id = ?1 AND user_id = ?2").Bind(1, groupId).Bind(2, userId).Run();
}

bool Store::IsMember(std::int64_t groupId, std::int64_t userId) {
    Lock lock(mutex_);
    Query query = db_.Prepare("SELECT 1 FROM group_members WHERE group_id = ?1 AND user_id = ?2");
    query.Bind(1, groupId).Bind(2, userId);
    return query.Step();
}

std::vector<GroupSummary> Store::GroupsOf(std::int64_t userId) {
    Lock lock(mutex_);
    Query query = db_.Prepare(std::string("SELECT ") + kGroupColumns +
                              " FROM user_groups g JOIN group_members m ON m.group_id = g.id "
                              "WHERE m.user_id = ?1 ORDER BY g.id");
    query.Bind(1, userId);
    return ReadGroups(query);
}

std::vector<std::int64_t> Store::GroupIdsOf(std::int64_t userId) {
    Lock lock(mutex_);
    Query query = db_.Prepare("SELECT group_id FROM group_members WHERE user_id = ?1 ORDER BY group_id");
    query.Bind(1, userId);
    return ReadIds(query);
}

std::vector<User> Store::MembersOf(std::int64_t groupId) {
    Lock lock(mutex_);
    Query query = db_.Prepare(std::string("SELECT ") + kUserColumns +
                              " FROM users u JOIN group_members m ON m.user_id = u.id "
                              "WHERE m.group_id = ?1 ORDER BY u.name, u.id");
    query.Bind(1, groupId);
    std::vector<User> members;
    while (query.Step()) members.push_back(ReadUser(query));
    return members;
}

std::vector<std::int64_t> Store::MemberIdsByJoining(std::int64_t groupId) {
    Lock lock(mutex_);
    Query query =
        db_.Prepare("SELECT user_id FROM group_members WHERE group_id = ?1 ORDER BY joined_at, rowid");
    query.Bind(1, groupId);
    return ReadIds(query);
}

void Store::AddInvitation(const std::string& codeHash, std::int64_t groupId, std::optional<std::int64_t> createdBy,
                          std::int64_t now, std::int64_t expiresAt) {
    Lock lock(mutex_);
    // An expired invitation is still told apart from an unknown one for a month, then forgotten.
    db_.Prepare("DELETE FROM invitations WHERE expires_at < ?1").Bind(1, now - 30 * 86400).Run();
    db_.Prepare("INSERT INTO invitations(code_hash, group_id, created_by, created_at, expires_at) "
                "VALUES(?1, ?2, ?3, ?4, ?5)")
        .Bind(1, codeHash)
        .Bind(2, groupId)
        .Bind(3, createdBy)
        .Bind(4, now)
        .Bind(5, expiresAt)
        .Run();
}

std::optional<Invitation> Store::FindInvitation(const std::string& codeHash) {
    Lock lock(mutex_);
    Query query =
        db_.Prepare("SELECT group_id, created_by, expires_at, used_at FROM invitations WHERE code_hash = ?1");
    query.Bind(1, codeHash);
    if (!query.Step()) return std::nullopt;
    return Invitation{query.Int(0), query.OptionalInt(1), query.Int(2), !query.IsNull(3)};
}

bool Store::ClaimInvitation(const std::string& codeHash, std::int64_t userId, std::int64_t now) {
    Lock lock(mutex_);
    db_.Prepare("UPDATE invitations SET used_by = ?2, used_at = ?3 "
                "WHERE code_hash = ?1 AND used_at IS NULL AND expires_at > ?3")
        .Bind(1, codeHash)
        .Bind(2, userId)
        .Bind(3, now)
        .Run();
    return db_.Changes() > 0;
}

void Store::PutCell(const Cell& cell) {
    Lock lock(mutex_);
    db_.Prepare(
           "INSERT INTO cells(mnc, lac, cid, lat, lon, address) VALUES(?1, ?2, ?3, ?4, ?5, ?6) "
           "ON CONFLICT(mnc, lac, cid) DO UPDATE SET lat = excluded.lat, lon = excluded.lon, "
           "address = excluded.address")
        .Bind(1, cell.key.mnc)
        .Bind(2, cell.key.lac)
        .Bind(3, cell.key.cid)
        .Bind(4, cell.lat)
        .Bind(5, cell.lon)
        .Bind(6, cell.address)
        .Run();
}

std::optional<Cell> Store::FindCell(const CellKey& key) {
    Lock lock(mutex_);
    Query query = db_.Prepare("SELECT lat, lon, address FROM cells WHERE mnc = ?1 AND lac = ?2 AND cid = ?3");
    query.Bind(1, key.mnc).Bind(2, key.lac).Bind(3, key.cid);
    if (!query.Step()) return std::nullopt;
    return Cell{key, query.Real(0), query.Real(1), query.Text(2)};
}

std::int64_t Store::CellCount() {
    Lock lock(mutex_);
    Query query = db_.Prepare("SELECT COUNT(*) FROM cells");
    query.Step();
    return query.Int(0);
}

void Store::RecordReport(std::int64_t userId, const CellKey (&cells)[3], std::int64_t delta, std::int64_t now) {
    Lock lock(mutex_);
    std::optional<Cell> known[3] = {FindCell(cells[0]), FindCell(cells[1]), FindCell(cells[2])};
    std::optional<Coordinates> where = EstimatePosition(known);
    db_.Prepare(
           "INSERT OR REPLACE INTO positions(user_id, mnc, lac, cid, lac1, cid1, lac2, cid2, delta, lat, lon, "
           "reported_at) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)")
        .Bind(1, userId)
        .Bind(2, cells[0].mnc)
        .Bind(3, cells[0].lac)
        .Bind(4, cells[0].cid)
        .Bind(5, cells[1].lac)
        .Bind(6, cells[1].cid)
        .Bind(7, cells[2].lac)
        .Bind(8, cells[2].cid)
        .Bind(9, delta)
        .Bind(10, where ? std::optional<double>(where->lat) : std::nullopt)
        .Bind(11, where ? std::optional<double>(where->lon) : std::nullopt)
        .Bind(12, now)
        .Run();
}

std::optional<Position> Store::PositionOf(std::int64_t userId) {
    Lock lock(mutex_);
    Query query = db_.Prepare(
        "SELECT mnc, lac, cid, lac1, cid1, lac2, cid2, delta, lat, lon, reported_at FROM positions WHERE user_id = ?1");
    query.Bind(1, userId);
    if (!query.Step()) return std::nullopt;
    Position position;
    std::int64_t mnc = query.Int(0);
    for (int i = 0; i < 3; ++i) position.cells[i] = {mnc, query.Int(1 + 2 * i), query.Int(2 + 2 * i)};
    position.delta = query.Int(7);
    if (!query.IsNull(8) && !query.IsNull(9)) position.where = Coordinates{query.Real(8), query.Real(9)};
    position.reportedAt = query.Int(10);
    return position;
}

std::int64_t Store::SaveMark(const Mark& mark, std::int64_t now) {
    Lock lock(mutex_);
    Query query = db_.Prepare(
        "INSERT INTO marks(user_id, mnc, lac, cid, scope, group_id, title, street, number, build, tags, saved_at) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12) "
        "ON CONFLICT(user_id, mnc, lac, cid) DO UPDATE SET scope = excluded.scope, group_id = excluded.group_id, "
        "title = excluded.title, street = excluded.street, number = excluded.number, build = excluded.build, "
        "tags = excluded.tags, saved_at = excluded.saved_at "
        "RETURNING id");
    query.Bind(1, mark.userId)
        .Bind(2, mark.cell.mnc)
        .Bind(3, mark.cell.lac)
        .Bind(4, mark.cell.cid)
        .Bind(5, mark.scope)
        .Bind(6, mark.groupId)
        .Bind(7, mark.title)
        .Bind(8, mark.street)
        .Bind(9, mark.number)
        .Bind(10, mark.build)
        .Bind(11, mark.tags)
        .Bind(12, now);
    query.Step();
    std::int64_t id = query.Int(0);
    while (query.Step()) {
    }
    return id;
}

bool Store::DeleteMark(std::int64_t userId, std::int64_t markId) {
    Lock lock(mutex_);
    db_.Prepare("DELETE FROM marks WHERE id = ?1 AND user_id = ?2").Bind(1, markId).Bind(2, userId).Run();
    return db_.Changes() > 0;
}

void Store::DeleteGroupMarks(std::int64_t userId, std::int64_t groupId) {
    Lock lock(mutex_);
    db_.Prepare("DELETE FROM marks WHERE user_id = ?1 AND scope = 3 AND group_id = ?2")
        .Bind(1, userId)
        .Bind(2, groupId)
        .Run();
}

std::vector<Mark> Store::MarksAt(const CellKey& cell) {
    Lock lock(mutex_);
    Query query = db_.Prepare(std::string("SELECT ") + kMarkColumns +
                              " FROM marks m WHERE m.mnc = ?1 AND m.lac = ?2 AND m.cid = ?3 "
                              "ORDER BY m.saved_at DESC, m.id DESC");
    query.Bind(1, cell.mnc).Bind(2, cell.lac).Bind(3, cell.cid);
    return ReadMarks(query);
}

std::vector<Mark> Store::MarksOf(std::int64_t userId) {
    Lock lock(mutex_);
    Query query = db_.Prepare(std::string("SELECT ") + kMarkColumns +
                              " FROM marks m WHERE m.user_id = ?1 ORDER BY m.saved_at DESC, m.id DESC");
    query.Bind(1, userId);
    return ReadMarks(query);
}

std::int64_t Store::MarkCount() {
    Lock lock(mutex_);
    Query query = db_.Prepare("SELECT COUNT(*) FROM marks");
    query.Step();
    return query.Int(0);
}

void Store::RecordLoginFailure(const std::string& address, const std::string& client, std::int64_t now) {
    Lock lock(mutex_);
    db_.Prepare("INSERT INTO login_failures(address, client, failed_at) VALUES(?1, ?2, ?3)")
        .Bind(1, address)
        .Bind(2, client)
        .Bind(3, now)
        .Run();
}

std::vector<std::int64_t> Store::LoginFailuresOfAddress(const std::string& address, std::int64_t since) {
    return Times("SELECT failed_at FROM login_failures WHERE address = ?1 AND failed_at >= ?2 ORDER BY failed_at",
                 address, since);
}

std::vector<std::int64_t> Store::LoginFailuresOfClient(const std::string& client, std::int64_t since) {
    return Times("SELECT failed_at FROM login_failures WHERE client = ?1 AND failed_at >= ?2 ORDER BY failed_at",
                 client, since);
}

std::vector<std::int64_t> Store::Times(const char* statement, const std::string& key, std::int64_t since) {
    Lock lock(mutex_);
    Query query = db_.Prepare(statement);
    query.Bind(1, key).Bind(2, since);
    return ReadIds(query);
}

void Store::ClearLoginFailures(const std::string& address, const std::string& client, std::int64_t before) {
    Lock lock(mutex_);
    db_.Prepare("DELETE FROM login_failures WHERE (address = ?1 AND client = ?2) OR failed_at < ?3")
        .Bind(1, address)
        .Bind(2, client)
        .Bind(3, before)
        .Run();
}

ServerSettings Store::Settings() {
    Lock lock(mutex_);
    ServerSettings settings;
    Query query = db_.Prepare("SELECT key, value FROM settings");
    while (query.Step()) {
        try {
            ApplySetting(settings, query.Text(0), query.Text(1));
        } catch (const StoreError&) {
            // A key this server does not know, or a value it no longer accepts, leaves the default.
        }
    }
    return settings;
}

void Store::SetSetting(const std::string& key, const std::string& value) {
    ServerSettings check;
    ApplySetting(check, key, value);
    Lock lock(mutex_);
    db_.Prepare("INSERT OR REPLACE INTO settings(key, value) VALUES(?1, ?2)").Bind(1, key).Bind(2, value).Run();
}

std::vector<std::pair<std::string, std::string>> Store::DescribeSettings(const ServerSettings& settings) {
    return {
        {"report_interval", std::to_string(settings.reportInterval)},
        {"methods", JoinMethods(settings.methods)},
        {"token_lifetime", std::to_string(settings.tokenLifetime)},
        {"update_url", settings.updateUrl},
        {"host", settings.host},
        {"suspended", settings.suspended ? "1" : "0"},
        {"min_client_version", std::to_string(settings.minClientVersion)},
        {"registration", RegistrationName(settings.registration)},
        {"map_tiles", settings.mapTiles},
        {"site_address", settings.siteAddress},
    };
}

}  // namespace pelmora
