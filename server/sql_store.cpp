#include "server/sql_store.h"

#include "server/places.h"
#include "server/text.h"

#include <algorithm>

namespace pelmora {

namespace {

thread_local std::int64_t statementsRun = 0;

// The transactions this thread has open, one per store at most.
struct OpenTransaction {
    const SqlStore* store;
    SqlConnection* connection;
};
thread_local std::vector<OpenTransaction> openTransactions;

// A transaction that keeps meeting concurrent writers is given up after this many runs.
constexpr int kTransactionRuns = 8;

// Every query of users names the table "u" so that these columns serve joins as well.
#define PELMORA_USER_COLUMNS \
    "u.id, u.email, u.pass_hash, u.name, u.mode, u.rate, u.visibility, u.private_time, u.force_gps, " \
    "u.level_gps, u.method_use, u.disabled"
#define PELMORA_MARK_COLUMNS \
    "m.id, m.user_id, m.mnc, m.lac, m.cid, m.scope, m.group_id, m.title, m.street, m.number, m.build, m.tags, " \
    "m.saved_at"
#define PELMORA_GROUP_COLUMNS "g.id, g.title, (SELECT COUNT(*) FROM group_members c WHERE c.group_id = g.id), g.owner_id"
#define PELMORA_POSITION_COLUMNS \
    "p.user_id, p.mnc, p.lac, p.cid, p.lac1, p.cid1, p.lac2, p.cid2, p.delta, p.lat, p.lon, p.reported_at"
const Statement kAddUser{
    "INSERT INTO users(email, pass_hash, name, created_at) VALUES($1, $2, $3, $4) ON CONFLICT DO NOTHING "
    "RETURNING id"};
const Statement kFindUser{"SELECT " PELMORA_USER_COLUMNS " FROM users u WHERE u.email = $1"};
const Statement kGetUser{"SELECT " PELMORA_USER_COLUMNS " FROM users u WHERE u.id = $1"};
const Statement kListUsers{"SELECT " PELMORA_USER_COLUMNS " FROM users u ORDER BY u.id"};
const Statement kSetPassword{"UPDATE users SET pass_hash = $2 WHERE id = $1"};
const Statement kUpdateTerminal{
    "UPDATE users SET terminal_model = $2, terminal_firmver = $3, subscriber = $4 WHERE id = $1"};
const Statement kSetName{"UPDATE users SET name = $2 WHERE id = $1"};
const Statement kSetRate{"UPDATE users SET rate = $2 WHERE id = $1"};
const Statement kSetPrivateTime{"UPDATE users SET private_time = $2 WHERE id = $1"};
const Statement kSetVisibility{"UPDATE users SET visibility = $2 WHERE id = $1"};
const Statement kSetMethodUse{"UPDATE users SET method_use = $2 WHERE id = $1"};
const Statement kSetDisabled{"UPDATE users SET disabled = $2 WHERE id = $1"};
const Statement kDeleteUser{"DELETE FROM users WHERE id = $1"};

const Statement kClearOldSessions{"DELETE FROM sessions WHERE used_at < $1"};
const Statement kOpenSession{
    "INSERT INTO sessions(token_hash, user_id, kind, created_at, used_at) VALUES($1, $2, $3, $4, $4)"};
const Statement kFindSession{"SELECT s.used_at, " PELMORA_USER_COLUMNS
                             " FROM sessions s JOIN users u ON u.id = s.user_id WHERE s.token_hash = $1"};
const Statement kTouchSession{"UPDATE sessions SET used_at = $2 WHERE token_hash = $1 AND used_at < $2", nullptr,
                              true};
const Statement kCloseSession{"DELETE FROM sessions WHERE token_hash = $1"};
const Statement kCloseSessionsOf{"DELETE FROM sessions WHERE user_id = $1 AND token_hash <> $2"};
const Statement kSessionCount{"SELECT COUNT(*) FROM sessions"};
const Statement kActiveSessionCount{"SELECT COUNT(*) FROM sessions WHERE used_at >= $1"};

const Statement kOwnerHasTitle{
    "SELECT 1 FROM user_groups WHERE title = $1 AND owner_id IS NOT DISTINCT FROM $2 AND id <> $3"};
const Statement kAddGroup{"INSERT INTO user_groups(title, owner_id, created_at) VALUES($1, $2, $3) RETURNING id"};
const Statement kGetGroup{"SELECT " PELMORA_GROUP_COLUMNS " FROM user_groups g WHERE g.id = $1"};
const Statement kFindGroups{"SELECT " PELMORA_GROUP_COLUMNS " FROM user_groups g WHERE g.title = $1 ORDER BY g.id"};
const Statement kListGroups{"SELECT " PELMORA_GROUP_COLUMNS " FROM user_groups g ORDER BY g.id"};
const Statement kRenameGroup{"UPDATE user_groups SET title = $2 WHERE id = $1"};
const Statement kSetGroupOwner{"UPDATE user_groups SET owner_id = $2 WHERE id = $1"};
const Statement kDeleteGroup{"DELETE FROM user_groups WHERE id = $1"};
const Statement kAddMember{
    "INSERT INTO group_members(group_id, user_id, joined_at) VALUES($1, $2, $3) ON CONFLICT DO NOTHING"};
const Statement kRemoveMember{"DELETE FROM group_members WHERE group_id = $1 AND user_id = $2"};
const Statement kIsMember{"SELECT 1 FROM group_members WHERE group_id = $1 AND user_id = $2"};
const Statement kGroupsOf{"SELECT " PELMORA_GROUP_COLUMNS
                          " FROM user_groups g JOIN group_members m ON m.group_id = g.id "
                          "WHERE m.user_id = $1 ORDER BY g.id"};
const Statement kGroupIdsOf{"SELECT group_id FROM group_members WHERE user_id = $1 ORDER BY group_id"};
const Statement kMembersOf{"SELECT " PELMORA_USER_COLUMNS
                           " FROM users u JOIN group_members m ON m.user_id = u.id "
                           "WHERE m.group_id = $1 ORDER BY u.name, u.id"};
// PostgreSQL's group_members has a "rowid" column of its own that keeps the order of insertion.
const Statement kMemberIdsByJoining{
    "SELECT user_id FROM group_members WHERE group_id = $1 ORDER BY joined_at, rowid"};

const Statement kCircleGroups{"SELECT " PELMORA_GROUP_COLUMNS
                              " FROM user_groups g JOIN group_members v ON v.group_id = g.id "
                              "WHERE v.user_id = $1 ORDER BY g.id"};
// Every member of the viewer's groups (the viewer too) with what is shown of them and their last
// report, a member of several groups once for each; first the count of changes of the cells in the same
// snapshot, which tells whether the cells kept in memory are still the table's.
const Statement kCircleMembers{
    "SELECT (SELECT counter FROM table_changes WHERE name = 'cells'), "
    "(SELECT counter FROM table_changes WHERE name = 'marks'), m.group_id, u.id, u.email, u.name, "
    "u.visibility, u.private_time, " PELMORA_POSITION_COLUMNS
    " FROM group_members v JOIN group_members m ON m.group_id = v.group_id JOIN users u ON u.id = m.user_id "
    "LEFT JOIN positions p ON p.user_id = u.id WHERE v.user_id = $1"};
// The cells of the country $1 named by the JSON array $2 of [mnc, lac, cid] arrays, key by key (SQLite
// takes CROSS JOIN for that order; it would otherwise walk the country's cells).
#define PELMORA_CELLS_BY_KEYS(keys)                                                                       \
    "SELECT c.mnc, c.lac, c.cid, c.lat, c.lon, c.address FROM " keys " k CROSS JOIN cells c WHERE c.mcc = $1 " \
    "AND c.mnc = CAST(k.value->>0 AS BIGINT) AND c.lac = CAST(k.value->>1 AS BIGINT) "                    \
    "AND c.cid = CAST(k.value->>2 AS BIGINT)"
const Statement kCellsByKeys{PELMORA_CELLS_BY_KEYS("json_each($2)"),
                             PELMORA_CELLS_BY_KEYS("jsonb_array_elements(CAST($2 AS jsonb))")};
// The marks at the cells named by the JSON array $1 of [mnc, lac, cid] arrays (the front cells of the
// circle's last reports, which the group list has read already), key by key.
#define PELMORA_MARKS_AT_KEYS(keys)                                                              \
    "SELECT " PELMORA_MARK_COLUMNS " FROM " keys " k CROSS JOIN marks m "                        \
    "WHERE m.mnc = CAST(k.value->>0 AS BIGINT) AND m.lac = CAST(k.value->>1 AS BIGINT) "         \
    "AND m.cid = CAST(k.value->>2 AS BIGINT) ORDER BY m.saved_at DESC, m.id DESC"
const Statement kMarksAtKeys{PELMORA_MARKS_AT_KEYS("json_each($1)"),
                             PELMORA_MARKS_AT_KEYS("jsonb_array_elements(CAST($1 AS jsonb))")};
// The groups of the users named by the JSON array $1 of ids (the owners of the marks a list shows).
#define PELMORA_GROUPS_OF_USERS(ids)                                                            \
    "SELECT g.user_id, g.group_id FROM " ids " k CROSS JOIN group_members g "                    \
    "WHERE g.user_id = CAST(k.value AS BIGINT) ORDER BY g.user_id, g.group_id"
const Statement kGroupsOfUsers{PELMORA_GROUPS_OF_USERS("json_each($1)"),
                               PELMORA_GROUPS_OF_USERS("jsonb_array_elements_text(CAST($1 AS jsonb))")};

const Statement kClearOldInvitations{"DELETE FROM invitations WHERE expires_at < $1"};
const Statement kAddInvitation{
    "INSERT INTO invitations(code_hash, group_id, created_by, created_at, expires_at) VALUES($1, $2, $3, $4, $5)"};
const Statement kFindInvitation{
    "SELECT group_id, created_by, expires_at, used_at FROM invitations WHERE code_hash = $1"};
const Statement kClaimInvitation{
    "UPDATE invitations SET used_by = $2, used_at = $3 WHERE code_hash = $1 AND used_at IS NULL AND expires_at > $3 "
    "RETURNING group_id"};

#define PELMORA_CELL_KEY "mcc = $1 AND mnc = $2 AND lac = $3 AND cid = $4"
#define PELMORA_SAME_CELL(a, b) a ".mcc = " b ".mcc AND " a ".mnc = " b ".mnc AND " a ".lac = " b ".lac AND " a ".cid = " b ".cid"
// What an address's source says (address_source): none yet, the operator's, the geocoder's, or the
// geocoder knows nothing there.
#define PELMORA_NO_ADDRESS "0"
#define PELMORA_GEOCODED "2"
#define PELMORA_NOTHING_THERE "3"
// The database's clock in milliseconds: the same clock for every server that shares it.
#define PELMORA_SQLITE_NOW_MS "CAST((julianday('now') - 2440587.5) * 86400000.0 AS BIGINT)"
#define PELMORA_POSTGRES_NOW_MS "CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)"

// A cell with an address takes it as the operator's; one without keeps its address unless that was
// the geocoder's and the cell moved: then it is named again. Written over the new values' names.
#define PELMORA_CELL_MOVED(lat, lon) "(cells.lat <> " lat " OR cells.lon <> " lon ")"
#define PELMORA_NAMED_AGAIN(lat, lon, address)                                                          \
    "(" address " = '' AND cells.address_source >= " PELMORA_GEOCODED " AND " PELMORA_CELL_MOVED(lat, lon) \
    ")"
#define PELMORA_CELL_UPDATE(lat, lon, address)                                                                       \
    "lat = " lat ", lon = " lon ", "                                                                                 \
    "address = CASE WHEN " address " <> '' THEN " address " WHEN " PELMORA_NAMED_AGAIN(lat, lon, address)            \
    " THEN '' ELSE cells.address END, "                                                                              \
    "address_source = CASE WHEN " address " <> '' THEN 1 WHEN " PELMORA_NAMED_AGAIN(lat, lon, address)                \
    " THEN " PELMORA_NO_ADDRESS " ELSE cells.address_source END, "                                                  \
    "geocode_after = CASE WHEN " PELMORA_NAMED_AGAIN(lat, lon, address) " THEN 0 ELSE cells.geocode_after END, "     \
    "geocode_failures = CASE WHEN " PELMORA_NAMED_AGAIN(lat, lon, address) " THEN 0 ELSE cells.geocode_failures END, " \
    "geocode_wanted_at = CASE WHEN " address " <> '' THEN NULL ELSE cells.geocode_wanted_at END"
// Whether the update changes anything.
#define PELMORA_CELL_CHANGED(lat, lon, address)                                                        \
    "(" PELMORA_CELL_MOVED(lat, lon) " OR (" address " <> '' AND (cells.address <> " address          \
    " OR cells.address_source <> 1)))"

const Statement kInsertCell{
    "INSERT INTO cells(mcc, mnc, lac, cid, lat, lon, address, address_source) "
    "VALUES($1, $2, $3, $4, $5, $6, $7, CASE WHEN $7 = '' THEN 0 ELSE 1 END) ON CONFLICT DO NOTHING RETURNING 1"};
const Statement kUpdateCell{"UPDATE cells SET " PELMORA_CELL_UPDATE("$5", "$6", "$7") " WHERE " PELMORA_CELL_KEY
                            " AND " PELMORA_CELL_CHANGED("$5", "$6", "$7") " RETURNING 1"};
// PostgreSQL's: every cell of arrays at once, no cell twice among them; a row for each cell added
// (true) or changed (false).
const Statement kImportCellArrays{
    "", "INSERT INTO cells(mcc, mnc, lac, cid, lat, lon, address, address_source) "
        "SELECT i.mcc, i.mnc, i.lac, i.cid, i.lat, i.lon, i.address, CASE WHEN i.address = '' THEN 0 ELSE 1 END "
        "FROM unnest($1::bigint[], $2::bigint[], $3::bigint[], $4::bigint[], $5::float8[], $6::float8[], $7::text[]) "
        "AS i(mcc, mnc, lac, cid, lat, lon, address) "
        "ON CONFLICT(mcc, mnc, lac, cid) DO UPDATE SET "
        PELMORA_CELL_UPDATE("excluded.lat", "excluded.lon", "excluded.address")
        " WHERE " PELMORA_CELL_CHANGED("excluded.lat", "excluded.lon", "excluded.address")
        " RETURNING CAST((xmax = 0) AS INTEGER)"};
const Statement kCloseMissing{
    "DELETE FROM missing_cells WHERE EXISTS (SELECT 1 FROM cells c WHERE " PELMORA_SAME_CELL("c", "missing_cells")
    ") RETURNING 1"};
const Statement kFindCell{"SELECT lat, lon, address FROM cells WHERE " PELMORA_CELL_KEY};
const Statement kReportCells{
    "SELECT lac, cid, lat, lon, address FROM cells WHERE mcc = $8 AND mnc = $1 AND "
    "((lac = $2 AND cid = $3) OR (lac = $4 AND cid = $5) OR (lac = $6 AND cid = $7))"};
const Statement kCellCount{"SELECT COUNT(*) FROM cells"};

const Statement kRecordMissing{
    "INSERT INTO missing_cells(mcc, mnc, lac, cid, first_seen, last_seen, reports) "
    "SELECT CAST($1 AS BIGINT), CAST($2 AS BIGINT), CAST($3 AS BIGINT), CAST($4 AS BIGINT), CAST($5 AS BIGINT), "
    "CAST($6 AS BIGINT), CAST($7 AS BIGINT) WHERE NOT EXISTS (SELECT 1 FROM cells WHERE " PELMORA_CELL_KEY ") "
    "ON CONFLICT(mcc, mnc, lac, cid) DO UPDATE SET "
    "first_seen = CASE WHEN excluded.first_seen < missing_cells.first_seen THEN excluded.first_seen "
    "ELSE missing_cells.first_seen END, "
    "last_seen = CASE WHEN excluded.last_seen > missing_cells.last_seen THEN excluded.last_seen "
    "ELSE missing_cells.last_seen END, "
    "reports = missing_cells.reports + excluded.reports"};
const Statement kRecordMissingPhone{
    "INSERT INTO missing_cell_phones(mcc, mnc, lac, cid, phone) "
    "SELECT CAST($1 AS BIGINT), CAST($2 AS BIGINT), CAST($3 AS BIGINT), CAST($4 AS BIGINT), CAST($5 AS TEXT) "
    "WHERE EXISTS (SELECT 1 FROM missing_cells WHERE " PELMORA_CELL_KEY ") ON CONFLICT DO NOTHING"};
const Statement kWantAddress{
    "UPDATE cells SET geocode_wanted_at = $5 WHERE " PELMORA_CELL_KEY
    " AND address_source = " PELMORA_NO_ADDRESS " AND geocode_wanted_at IS NULL"};
const Statement kMissingCells{
    "SELECT m.mcc, m.mnc, m.lac, m.cid, m.first_seen, m.last_seen, m.reports, "
    "(SELECT COUNT(*) FROM missing_cell_phones p WHERE " PELMORA_SAME_CELL("p", "m") ") AS phones "
    "FROM missing_cells m ORDER BY phones DESC, m.reports DESC, m.last_seen DESC, m.mcc, m.mnc, m.lac, m.cid "
    "LIMIT $1"};

#define PELMORA_TASK_COLUMNS "mcc, mnc, lac, cid, lat, lon, geocode_failures"
const Statement kNextWantedCell{
    "SELECT " PELMORA_TASK_COLUMNS " FROM cells WHERE geocode_wanted_at IS NOT NULL AND mcc = $1 "
    "AND address_source = " PELMORA_NO_ADDRESS " AND geocode_after <= $2 ORDER BY geocode_wanted_at, mnc, lac, cid "
    "LIMIT 1"};
const Statement kNextCellWithoutAddress{
    "SELECT " PELMORA_TASK_COLUMNS " FROM cells WHERE mcc = $1 AND (mnc, lac, cid) > ($3, $4, $5) "
    "AND address_source = " PELMORA_NO_ADDRESS " AND geocode_after <= $2 ORDER BY mnc, lac, cid LIMIT 1"};
const Statement kCachedPlace{"SELECT address FROM geocoded_places WHERE lat_key = $1 AND lon_key = $2"};
const Statement kCachePlace{
    "INSERT INTO geocoded_places(lat_key, lon_key, address, fetched_at) VALUES($1, $2, $3, $4) "
    "ON CONFLICT(lat_key, lon_key) DO UPDATE SET address = excluded.address, fetched_at = excluded.fetched_at"};
const Statement kPlaceCell{
    "UPDATE cells SET address = $5, address_source = CASE WHEN $5 = '' THEN " PELMORA_NOTHING_THERE
    " ELSE " PELMORA_GEOCODED " END, geocode_wanted_at = NULL, geocode_after = 0, geocode_failures = 0 "
    "WHERE " PELMORA_CELL_KEY " AND address_source = " PELMORA_NO_ADDRESS};
const Statement kPostponeGeocoding{
    "UPDATE cells SET geocode_after = $5, geocode_failures = geocode_failures + 1 WHERE " PELMORA_CELL_KEY};
#define PELMORA_TAKE_TURN(now)                                                                      \
    "UPDATE geocoder_turn SET holder = $1, until_ms = " now " + $2 WHERE id = 1 AND until_ms <= " now \
    " AND next_ms <= " now " RETURNING 1"
const Statement kTakeGeocoderTurn{PELMORA_TAKE_TURN(PELMORA_SQLITE_NOW_MS),
                                  PELMORA_TAKE_TURN(PELMORA_POSTGRES_NOW_MS)};
#define PELMORA_TURN_FREE_IN(now) \
    "SELECT CASE WHEN until_ms > next_ms THEN until_ms ELSE next_ms END - " now " FROM geocoder_turn WHERE id = 1"
const Statement kGeocoderTurnFreeIn{PELMORA_TURN_FREE_IN(PELMORA_SQLITE_NOW_MS),
                                    PELMORA_TURN_FREE_IN(PELMORA_POSTGRES_NOW_MS)};
#define PELMORA_END_TURN(now) \
    "UPDATE geocoder_turn SET until_ms = 0, next_ms = " now " + $2 WHERE id = 1 AND holder = $1"
const Statement kEndGeocoderTurn{PELMORA_END_TURN(PELMORA_SQLITE_NOW_MS), PELMORA_END_TURN(PELMORA_POSTGRES_NOW_MS)};

const Statement kAddSecret{"INSERT INTO secrets(name, value) VALUES($1, $2) ON CONFLICT DO NOTHING"};
const Statement kSecret{"SELECT value FROM secrets WHERE name = $1"};

const Statement kRecordReport{
    "INSERT INTO positions(user_id, mnc, lac, cid, lac1, cid1, lac2, cid2, delta, lat, lon, reported_at) "
    "VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) ON CONFLICT(user_id) DO UPDATE SET "
    "mnc = excluded.mnc, lac = excluded.lac, cid = excluded.cid, lac1 = excluded.lac1, cid1 = excluded.cid1, "
    "lac2 = excluded.lac2, cid2 = excluded.cid2, delta = excluded.delta, lat = excluded.lat, lon = excluded.lon, "
    "reported_at = excluded.reported_at"};
const Statement kPositionOf{"SELECT " PELMORA_POSITION_COLUMNS " FROM positions p WHERE p.user_id = $1"};

const Statement kSaveMark{
    "INSERT INTO marks(user_id, mnc, lac, cid, scope, group_id, title, street, number, build, tags, saved_at) "
    "VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) "
    "ON CONFLICT(user_id, mnc, lac, cid) DO UPDATE SET scope = excluded.scope, group_id = excluded.group_id, "
    "title = excluded.title, street = excluded.street, number = excluded.number, build = excluded.build, "
    "tags = excluded.tags, saved_at = excluded.saved_at RETURNING id"};
const Statement kDeleteMark{"DELETE FROM marks WHERE id = $1 AND user_id = $2 RETURNING id"};
const Statement kDeleteGroupMarks{"DELETE FROM marks WHERE user_id = $1 AND scope = 3 AND group_id = $2"};
const Statement kMarksAt{"SELECT " PELMORA_MARK_COLUMNS
                         " FROM marks m WHERE m.mnc = $1 AND m.lac = $2 AND m.cid = $3 "
                         "ORDER BY m.saved_at DESC, m.id DESC"};
const Statement kMarkOwnerGroupsAt{
    "SELECT g.user_id, g.group_id FROM group_members g WHERE g.user_id IN "
    "(SELECT m.user_id FROM marks m WHERE m.mnc = $1 AND m.lac = $2 AND m.cid = $3) ORDER BY g.user_id, g.group_id"};
const Statement kMarksOf{"SELECT " PELMORA_MARK_COLUMNS
                         " FROM marks m WHERE m.user_id = $1 ORDER BY m.saved_at DESC, m.id DESC"};
const Statement kMarkCount{"SELECT COUNT(*) FROM marks"};

const Statement kRecordLoginFailure{"INSERT INTO login_failures(address, client, failed_at) VALUES($1, $2, $3)"};
const Statement kFailuresOfAddress{
    "SELECT failed_at FROM login_failures WHERE address = $1 AND failed_at >= $2 ORDER BY failed_at"};
const Statement kFailuresOfClient{
    "SELECT failed_at FROM login_failures WHERE client = $1 AND failed_at >= $2 ORDER BY failed_at"};
const Statement kClearLoginFailures{
    "DELETE FROM login_failures WHERE (address = $1 AND client = $2) OR failed_at < $3"};

const Statement kSettingValues{"SELECT key, value FROM settings"};
const Statement kPutSetting{
    "INSERT INTO settings(key, value) VALUES($1, $2) ON CONFLICT(key) DO UPDATE SET value = excluded.value"};

User ReadUser(const Rows& rows, int first = 0) {
    User user;
    user.id = rows.Int(first + 0);
    user.email = rows.Text(first + 1);
    user.passwordHash = rows.Text(first + 2);
    user.name = rows.Text(first + 3);
    user.mode = static_cast<int>(rows.Int(first + 4));
    user.rate = static_cast<int>(rows.Int(first + 5));
    user.visibility = static_cast<int>(rows.Int(first + 6));
    user.privateTime = static_cast<int>(rows.Int(first + 7));
    user.forceGps = static_cast<int>(rows.Int(first + 8));
    user.levelGps = static_cast<int>(rows.Int(first + 9));
    if (!rows.IsNull(first + 10)) user.methodUse = static_cast<int>(rows.Int(first + 10));
    user.disabled = rows.Int(first + 11) != 0;
    return user;
}

Mark ReadMark(const Rows& rows) {
    Mark mark;
    mark.id = rows.Int(0);
    mark.userId = rows.Int(1);
    mark.cell = {rows.Int(2), rows.Int(3), rows.Int(4)};
    mark.scope = static_cast<int>(rows.Int(5));
    mark.groupId = rows.OptionalInt(6);
    mark.title = rows.Text(7);
    mark.street = rows.Text(8);
    mark.number = rows.Text(9);
    mark.build = rows.Text(10);
    mark.tags = rows.Text(11);
    mark.savedAt = rows.Int(12);
    return mark;
}

GroupSummary ReadGroup(const Rows& rows) {
    return {rows.Int(0), rows.Text(1), static_cast<int>(rows.Int(2)), rows.OptionalInt(3)};
}

// A row of PELMORA_POSITION_COLUMNS from column `first` on, the user's id first.
Position ReadPosition(const Rows& rows, int first = 0) {
    Position position;
    std::int64_t mnc = rows.Int(first + 1);
    for (int i = 0; i < 3; ++i) position.cells[i] = {mnc, rows.Int(first + 2 + 2 * i), rows.Int(first + 3 + 2 * i)};
    position.delta = rows.Int(first + 8);
    if (!rows.IsNull(first + 9) && !rows.IsNull(first + 10)) {
        position.where = Coordinates{rows.Real(first + 9), rows.Real(first + 10)};
    }
    position.reportedAt = rows.Int(first + 11);
    return position;
}

std::map<std::int64_t, std::vector<std::int64_t>> ReadOwnerGroups(Rows rows) {
    std::map<std::int64_t, std::vector<std::int64_t>> groups;
    while (rows.Next()) groups[rows.Int(0)].push_back(rows.Int(1));
    return groups;
}

// Each value once, in order.
template <typename Value>
std::vector<Value> Distinct(std::vector<Value> values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

// `values` as the JSON array that the statements walking a list of keys take, each written by `write`.
template <typename Value, typename Write>
std::string JsonArray(const std::vector<Value>& values, Write write) {
    std::string list = "[";
    for (const Value& value : values) {
        if (list.size() > 1) list += ',';
        write(list, value);
    }
    list += "]";
    return list;
}

// Cell keys as [mnc, lac, cid] arrays.
std::string KeyList(const std::vector<CellKey>& keys) {
    return JsonArray(keys, [](std::string& list, const CellKey& key) {
        list += "[" + std::to_string(key.mnc) + "," + std::to_string(key.lac) + "," + std::to_string(key.cid) + "]";
    });
}

std::string IdList(const std::vector<std::int64_t>& ids) {
    return JsonArray(ids, [](std::string& list, std::int64_t id) { list += std::to_string(id); });
}

std::vector<Mark> ReadMarks(Rows rows) {
    std::vector<Mark> marks;
    while (rows.Next()) marks.push_back(ReadMark(rows));
    return marks;
}

}  // namespace

void CountStatement() {
    ++statementsRun;
}

std::int64_t StatementsRunOnThisThread() {
    return statementsRun;
}

SqlConnection* SqlStore::Current() const {
    for (const OpenTransaction& open : openTransactions) {
        if (open.store == this) return open.connection;
    }
    return nullptr;
}

void SqlStore::RunTransaction(TransactionKind kind, const std::function<void(SqlConnection&)>& work) {
    for (int run = 1;; ++run) {
        SqlConnection& connection = Acquire();
        bool registered = false;
        bool again = false;
        try {
            connection.Begin(kind);
            openTransactions.push_back({this, &connection});
            registered = true;
            work(connection);
            openTransactions.pop_back();
            registered = false;
            connection.Commit();
            Release(connection);
            return;
        } catch (const DatabaseError& error) {
            again = run < kTransactionRuns && MayRetry(error);
            if (!again) {
                if (registered) openTransactions.pop_back();
                connection.Rollback();
                Release(connection);
                throw;
            }
        } catch (...) {
            if (registered) openTransactions.pop_back();
            connection.Rollback();
            Release(connection);
            throw;
        }
        // Met a concurrent writer: the work runs again on what that writer left.
        if (registered) openTransactions.pop_back();
        connection.Rollback();
        Release(connection);
    }
}

void SqlStore::InTransaction(const std::function<void()>& work) {
    Transact(TransactionKind::kWrite, [&](SqlConnection&) { work(); });
}

void SqlStore::Execute(const Statement& statement, std::initializer_list<SqlValue> values) {
    Use([&](SqlConnection& connection) {
        Rows rows = connection.Run(statement, values);
        while (rows.Next()) {
        }
    });
}

std::vector<std::int64_t> SqlStore::Numbers(const Statement& statement, std::initializer_list<SqlValue> values) {
    return Use([&](SqlConnection& connection) {
        std::vector<std::int64_t> numbers;
        Rows rows = connection.Run(statement, values);
        while (rows.Next()) numbers.push_back(rows.Int(0));
        return numbers;
    });
}

std::int64_t SqlStore::Count(const Statement& statement, std::initializer_list<SqlValue> values) {
    std::vector<std::int64_t> numbers = Numbers(statement, values);
    return numbers.empty() ? 0 : numbers.front();
}

std::vector<GroupSummary> SqlStore::Groups(const Statement& statement, std::initializer_list<SqlValue> values) {
    return Use([&](SqlConnection& connection) {
        std::vector<GroupSummary> groups;
        Rows rows = connection.Run(statement, values);
        while (rows.Next()) groups.push_back(ReadGroup(rows));
        return groups;
    });
}

std::vector<Mark> SqlStore::Marks(const Statement& statement, std::initializer_list<SqlValue> values) {
    return Use([&](SqlConnection& connection) { return ReadMarks(connection.Run(statement, values)); });
}

std::optional<User> SqlStore::OneUser(const Statement& statement, std::initializer_list<SqlValue> values) {
    return Use([&](SqlConnection& connection) -> std::optional<User> {
        Rows rows = connection.Run(statement, values);
        if (!rows.Next()) return std::nullopt;
        return ReadUser(rows);
    });
}

std::int64_t SqlStore::AddUser(const std::string& email, const std::string& passwordHash, const std::string& name,
                               std::int64_t now) {
    std::vector<std::int64_t> id = Numbers(kAddUser, {email, passwordHash, name, now});
    if (id.empty()) throw StoreError("a user with the e-mail " + email + " exists already");
    return id.front();
}

std::optional<User> SqlStore::FindUser(const std::string& email) {
    return OneUser(kFindUser, {email});
}

std::optional<User> SqlStore::GetUser(std::int64_t id) {
    return OneUser(kGetUser, {id});
}

std::vector<User> SqlStore::ListUsers() {
    return Use([&](SqlConnection& connection) {
        std::vector<User> users;
        Rows rows = connection.Run(kListUsers, {});
        while (rows.Next()) users.push_back(ReadUser(rows));
        return users;
    });
}

void SqlStore::SetPassword(std::int64_t userId, const std::string& passwordHash) {
    Execute(kSetPassword, {userId, passwordHash});
}

void SqlStore::UpdateTerminal(std::int64_t userId, const std::string& model, const std::string& firmware,
                              const std::string& subscriber) {
    Execute(kUpdateTerminal, {userId, model, firmware, subscriber});
}

void SqlStore::SetName(std::int64_t userId, const std::string& name) {
    Execute(kSetName, {userId, name});
}

void SqlStore::SetRate(std::int64_t userId, int rate) {
    Execute(kSetRate, {userId, rate});
}

void SqlStore::SetPrivateTime(std::int64_t userId, int privateTime) {
    Execute(kSetPrivateTime, {userId, privateTime});
}

void SqlStore::SetVisibility(std::int64_t userId, int visibility) {
    Execute(kSetVisibility, {userId, visibility});
}

void SqlStore::SetMethodUse(std::int64_t userId, int method) {
    Execute(kSetMethodUse, {userId, method});
}

void SqlStore::SetDisabled(std::int64_t userId, bool disabled) {
    Execute(kSetDisabled, {userId, disabled ? 1 : 0});
}

void SqlStore::DeleteUser(std::int64_t userId) {
    Execute(kDeleteUser, {userId});
}

void SqlStore::OpenSession(const std::string& tokenHash, std::int64_t userId, const std::string& kind,
                           std::int64_t now, std::int64_t lifetime) {
    Transact(TransactionKind::kWrite, [&](SqlConnection& connection) {
        connection.Run(kClearOldSessions, {now - lifetime});
        connection.Run(kOpenSession, {tokenHash, userId, kind, now});
    });
}

std::optional<User> SqlStore::SessionUser(const std::string& tokenHash, std::int64_t now, std::int64_t lifetime) {
    std::optional<User> user;
    std::int64_t usedAt = 0;
    Use([&](SqlConnection& connection) {
        Rows rows = connection.Run(kFindSession, {tokenHash});
        if (!rows.Next()) return;
        usedAt = rows.Int(0);
        user = ReadUser(rows, 1);
    });
    if (!user) return std::nullopt;
    if (now - usedAt > lifetime) {
        CloseSession(tokenHash);
        return std::nullopt;
    }
    // Renewing the last use is left for the next request when the database is busy with writers:
    // the session lives on for its lifetime all the same.
    if (now - usedAt >= std::max<std::int64_t>(1, SessionUseStep(lifetime))) Execute(kTouchSession, {tokenHash, now});
    return user;
}

void SqlStore::CloseSession(const std::string& tokenHash) {
    Execute(kCloseSession, {tokenHash});
}

void SqlStore::CloseSessionsOf(std::int64_t userId, const std::string& keptTokenHash) {
    Execute(kCloseSessionsOf, {userId, keptTokenHash});
}

std::int64_t SqlStore::SessionCount() {
    return Count(kSessionCount, {});
}

std::int64_t SqlStore::ActiveSessionCount(std::int64_t since) {
    return Count(kActiveSessionCount, {since});
}

std::optional<std::int64_t> SqlStore::AddGroup(const std::string& title, std::optional<std::int64_t> ownerId,
                                               std::int64_t now) {
    return Transact(TransactionKind::kWrite, [&](SqlConnection& connection) -> std::optional<std::int64_t> {
        if (connection.Run(kOwnerHasTitle, {title, ownerId, std::int64_t{0}}).Next()) return std::nullopt;
        Rows rows = connection.Run(kAddGroup, {title, ownerId, now});
        rows.Next();
        std::int64_t id = rows.Int(0);
        while (rows.Next()) {
        }
        return id;
    });
}

std::optional<GroupSummary> SqlStore::GetGroup(std::int64_t groupId) {
    std::vector<GroupSummary> groups = Groups(kGetGroup, {groupId});
    if (groups.empty()) return std::nullopt;
    return groups.front();
}

std::vector<GroupSummary> SqlStore::FindGroups(const std::string& title) {
    return Groups(kFindGroups, {title});
}

std::vector<GroupSummary> SqlStore::ListGroups() {
    return Groups(kListGroups, {});
}

bool SqlStore::RenameGroup(std::int64_t groupId, const std::string& title) {
    std::optional<GroupSummary> group = GetGroup(groupId);
    if (!group) return false;
    return Transact(TransactionKind::kWrite, [&](SqlConnection& connection) {
        if (connection.Run(kOwnerHasTitle, {title, group->ownerId, groupId}).Next()) return false;
        connection.Run(kRenameGroup, {groupId, title});
        return true;
    });
}

void SqlStore::SetGroupOwner(std::int64_t groupId, std::optional<std::int64_t> ownerId) {
    Execute(kSetGroupOwner, {groupId, ownerId});
}

void SqlStore::DeleteGroup(std::int64_t groupId) {
    Execute(kDeleteGroup, {groupId});
}

void SqlStore::AddMember(std::int64_t groupId, std::int64_t userId, std::int64_t now) {
    Execute(kAddMember, {groupId, userId, now});
}

void SqlStore::RemoveMember(std::int64_t groupId, std::int64_t userId) {
    Execute(kRemoveMember, {groupId, userId});
}

bool SqlStore::IsMember(std::int64_t groupId, std::int64_t userId) {
    return !Numbers(kIsMember, {groupId, userId}).empty();
}

std::vector<GroupSummary> SqlStore::GroupsOf(std::int64_t userId) {
    return Groups(kGroupsOf, {userId});
}

std::vector<std::int64_t> SqlStore::GroupIdsOf(std::int64_t userId) {
    return Numbers(kGroupIdsOf, {userId});
}

std::vector<User> SqlStore::MembersOf(std::int64_t groupId) {
    return Use([&](SqlConnection& connection) {
        std::vector<User> members;
        Rows rows = connection.Run(kMembersOf, {groupId});
        while (rows.Next()) members.push_back(ReadUser(rows));
        return members;
    });
}

std::vector<std::int64_t> SqlStore::MemberIdsByJoining(std::int64_t groupId) {
    return Numbers(kMemberIdsByJoining, {groupId});
}

GroupCircle SqlStore::CircleOf(std::int64_t viewerId, std::int64_t mcc) {
    return Transact(TransactionKind::kRead, [&](SqlConnection& connection) {
        GroupCircle circle;
        {
            Rows rows = connection.Run(kCircleGroups, {viewerId});
            while (rows.Next()) circle.groups.push_back(ReadGroup(rows));
        }
        std::size_t memberships = 0;
        for (const GroupSummary& group : circle.groups) memberships += static_cast<std::size_t>(group.memberCount);
        circle.members.reserve(memberships);
        std::int64_t cellChanges = 0;
        std::int64_t markChanges = 0;
        {
            // Columns: the counts of changes of the cells and the marks, the membership and the member
            // (6), the report.
            constexpr int kReport = 8;
            Rows rows = connection.Run(kCircleMembers, {viewerId});
            while (rows.Next()) {
                cellChanges = rows.Int(0);
                markChanges = rows.Int(1);
                GroupCircle::Membership& membership = circle.members.emplace_back();
                membership.groupId = rows.Int(2);
                membership.member.id = rows.Int(3);
                membership.member.email = rows.Text(4);
                membership.member.name = rows.Text(5);
                membership.member.visibility = static_cast<int>(rows.Int(6));
                membership.member.privateTime = static_cast<int>(rows.Int(7));
                if (!rows.IsNull(kReport)) membership.position = ReadPosition(rows, kReport);
            }
        }
        // Group by group, by name (its bytes, as both databases order it), then by id.
        std::sort(circle.members.begin(), circle.members.end(),
                  [](const GroupCircle::Membership& a, const GroupCircle::Membership& b) {
                      return std::tie(a.groupId, a.member.name, a.member.id) <
                             std::tie(b.groupId, b.member.name, b.member.id);
                  });
        // Most people stand in a few cells: the keys are looked up as they come, repeats and all, and
        // only those the caches cannot answer for are sorted out.
        std::vector<CellKey> keys;
        std::vector<CellKey> fronts;
        keys.reserve(3 * circle.members.size());
        fronts.reserve(circle.members.size());
        for (const GroupCircle::Membership& membership : circle.members) {
            if (!membership.position) continue;
            keys.insert(keys.end(), membership.position->cells, membership.position->cells + 3);
            fronts.push_back(membership.position->cells[0]);
        }
        std::vector<CellKey> missing = Distinct(cellCache_.Find({cellChanges, mcc}, keys, circle.cells));
        if (!missing.empty()) {
            std::string list = KeyList(missing);
            decltype(cellCache_)::Found known;
            Rows rows = connection.Run(kCellsByKeys, {mcc, list});
            while (rows.Next()) {
                auto cell = std::make_shared<const Cell>(
                    Cell{{rows.Int(0), rows.Int(1), rows.Int(2)}, rows.Real(3), rows.Real(4), rows.Text(5), mcc});
                known.emplace(cell->key, cell);
                circle.cells.emplace(cell->key, cell);
            }
            cellCache_.Keep({cellChanges, mcc}, missing, known);
        }
        // The marks at the front cells of the reports just read, from memory while no mark changed.
        decltype(markCache_)::Found marksAt;
        std::vector<CellKey> unread = Distinct(markCache_.Find({markChanges, 0}, fronts, marksAt));
        if (!unread.empty()) {
            std::string list = KeyList(unread);
            std::unordered_map<CellKey, MarksAtCell, CellKeyHash> read;
            for (Mark& mark : ReadMarks(connection.Run(kMarksAtKeys, {list}))) {
                CellKey cell = mark.cell;
                read[cell].push_back(std::move(mark));
            }
            decltype(markCache_)::Found there;
            for (auto& [cell, marks] : read) there.emplace(cell, std::make_shared<const MarksAtCell>(std::move(marks)));
            markCache_.Keep({markChanges, 0}, unread, there);
            marksAt.insert(there.begin(), there.end());
        }
        for (const auto& [cell, marks] : marksAt) {
            circle.marks.marks.insert(circle.marks.marks.end(), marks->begin(), marks->end());
        }
        // Saved last first, as a single read of them would have listed them.
        std::sort(circle.marks.marks.begin(), circle.marks.marks.end(), [](const Mark& a, const Mark& b) {
            return std::tie(b.savedAt, b.id) < std::tie(a.savedAt, a.id);
        });
        if (!circle.marks.marks.empty()) {
            std::vector<std::int64_t> owners;
            for (const Mark& mark : circle.marks.marks) owners.push_back(mark.userId);
            std::string ownerList = IdList(Distinct(std::move(owners)));
            circle.marks.ownerGroups = ReadOwnerGroups(connection.Run(kGroupsOfUsers, {ownerList}));
        }
        return circle;
    });
}

void SqlStore::AddInvitation(const std::string& codeHash, std::int64_t groupId, std::optional<std::int64_t> createdBy,
                             std::int64_t now, std::int64_t expiresAt) {
    Transact(TransactionKind::kWrite, [&](SqlConnection& connection) {
        // An expired invitation is still told apart from an unknown one for a month, then forgotten.
        connection.Run(kClearOldInvitations, {now - 30 * 86400});
        connection.Run(kAddInvitation, {codeHash, groupId, createdBy, now, expiresAt});
    });
}

std::optional<Invitation> SqlStore::FindInvitation(const std::string& codeHash) {
    return Use([&](SqlConnection& connection) -> std::optional<Invitation> {
        Rows rows = connection.Run(kFindInvitation, {codeHash});
        if (!rows.Next()) return std::nullopt;
        return Invitation{rows.Int(0), rows.OptionalInt(1), rows.Int(2), !rows.IsNull(3)};
    });
}

bool SqlStore::ClaimInvitation(const std::string& codeHash, std::int64_t userId, std::int64_t now) {
    return !Numbers(kClaimInvitation, {codeHash, userId, now}).empty();
}

std::optional<Cell> SqlStore::FindCell(std::int64_t mcc, const CellKey& key) {
    return Use([&](SqlConnection& connection) -> std::optional<Cell> {
        Rows rows = connection.Run(kFindCell, {mcc, key.mnc, key.lac, key.cid});
        if (!rows.Next()) return std::nullopt;
        return Cell{key, rows.Real(0), rows.Real(1), rows.Text(2), mcc};
    });
}

std::int64_t SqlStore::CellCount() {
    return Count(kCellCount, {});
}

const Statement& SqlStore::CellArraysStatement() {
    return kImportCellArrays;
}

std::int64_t SqlStore::CloseKnownMissing(SqlConnection& connection) {
    std::int64_t closed = 0;
    Rows rows = connection.Run(kCloseMissing, {});
    while (rows.Next()) ++closed;
    return closed;
}

CellImportCounts SqlStore::ImportCells(const std::vector<Cell>& cells) {
    return Transact(TransactionKind::kWrite, [&](SqlConnection& connection) {
        CellImportCounts counts;
        for (const Cell& cell : cells) {
            std::initializer_list<SqlValue> values = {cell.mcc, cell.key.mnc, cell.key.lac, cell.key.cid,
                                                      cell.lat, cell.lon, cell.address};
            if (connection.Run(kInsertCell, values).Next()) {
                ++counts.added;
            } else if (connection.Run(kUpdateCell, values).Next()) {
                ++counts.updated;
            } else {
                ++counts.unchanged;
            }
        }
        counts.closedMissing = CloseKnownMissing(connection);
        return counts;
    });
}

Store::KnownCells SqlStore::RecordReport(std::int64_t userId, std::int64_t mcc, const CellKey (&cells)[3],
                                         std::int64_t delta, std::int64_t now) {
    return Use([&](SqlConnection& connection) {
        std::optional<Cell> known[3];
        {
            Rows rows = connection.Run(kReportCells, {cells[0].mnc, cells[0].lac, cells[0].cid, cells[1].lac,
                                                      cells[1].cid, cells[2].lac, cells[2].cid, mcc});
            while (rows.Next()) {
                Cell cell{{cells[0].mnc, rows.Int(0), rows.Int(1)}, rows.Real(2), rows.Real(3), rows.Text(4), mcc};
                for (int i = 0; i < 3; ++i) {
                    if (cells[i].lac == cell.key.lac && cells[i].cid == cell.key.cid) known[i] = cell;
                }
            }
        }
        // The cells after the front one carry the front one's network code.
        for (int i = 1; i < 3; ++i) {
            if (known[i] && cells[i].mnc != cells[0].mnc) known[i] = std::nullopt;
        }
        std::optional<Coordinates> where = EstimatePosition(known);
        connection.Run(kRecordReport,
                       {userId, cells[0].mnc, cells[0].lac, cells[0].cid, cells[1].lac, cells[1].cid, cells[2].lac,
                        cells[2].cid, delta, where ? SqlValue(where->lat) : SqlValue(nullptr),
                        where ? SqlValue(where->lon) : SqlValue(nullptr), now});
        return KnownCells{known[0], known[1], known[2]};
    });
}

void SqlStore::RecordSightings(const std::vector<MissingSighting>& missing, const std::vector<AddressWanted>& wanted) {
    Transact(TransactionKind::kWrite, [&](SqlConnection& connection) {
        for (const MissingSighting& sighting : missing) {
            const MissingCell& cell = sighting.seen;
            const CellKey& key = cell.key;
            connection.Run(kRecordMissing,
                           {cell.mcc, key.mnc, key.lac, key.cid, cell.firstSeen, cell.lastSeen, cell.reports});
            for (const std::string& phone : sighting.phones) {
                connection.Run(kRecordMissingPhone, {cell.mcc, key.mnc, key.lac, key.cid, phone});
            }
        }
        for (const AddressWanted& cell : wanted) {
            connection.Run(kWantAddress, {cell.mcc, cell.key.mnc, cell.key.lac, cell.key.cid, cell.seen});
        }
    });
}

std::vector<MissingCell> SqlStore::MissingCells(std::int64_t limit) {
    return Use([&](SqlConnection& connection) {
        std::vector<MissingCell> cells;
        Rows rows = connection.Run(kMissingCells, {limit});
        while (rows.Next()) {
            cells.push_back({rows.Int(0), {rows.Int(1), rows.Int(2), rows.Int(3)}, rows.Int(4), rows.Int(5),
                             rows.Int(6), rows.Int(7)});
        }
        return cells;
    });
}

std::optional<GeocodingTask> SqlStore::OneTask(const Statement& statement, std::initializer_list<SqlValue> values) {
    return Use([&](SqlConnection& connection) -> std::optional<GeocodingTask> {
        Rows rows = connection.Run(statement, values);
        if (!rows.Next()) return std::nullopt;
        Cell cell{{rows.Int(1), rows.Int(2), rows.Int(3)}, rows.Real(4), rows.Real(5), std::string(), rows.Int(0)};
        return GeocodingTask{cell, static_cast<int>(rows.Int(6)), &statement == &kNextWantedCell};
    });
}

std::optional<GeocodingTask> SqlStore::NextCellToGeocode(std::int64_t mcc, bool wantedOnly, std::int64_t now,
                                                         const std::optional<CellKey>& after) {
    if (std::optional<GeocodingTask> wanted = OneTask(kNextWantedCell, {mcc, now})) return wanted;
    if (wantedOnly) return std::nullopt;
    CellKey from = after ? *after : CellKey{-1, -1, -1};
    return OneTask(kNextCellWithoutAddress, {mcc, now, from.mnc, from.lac, from.cid});
}

std::optional<std::string> SqlStore::CachedPlace(std::int64_t latKey, std::int64_t lonKey) {
    return Use([&](SqlConnection& connection) -> std::optional<std::string> {
        Rows rows = connection.Run(kCachedPlace, {latKey, lonKey});
        if (!rows.Next()) return std::nullopt;
        return rows.Text(0);
    });
}

void SqlStore::SavePlace(const Cell& cell, std::int64_t latKey, std::int64_t lonKey, const std::string& address,
                         std::int64_t now) {
    Transact(TransactionKind::kWrite, [&](SqlConnection& connection) {
        connection.Run(kCachePlace, {latKey, lonKey, address, now});
        connection.Run(kPlaceCell, {cell.mcc, cell.key.mnc, cell.key.lac, cell.key.cid, address});
    });
}

void SqlStore::PostponeGeocoding(const Cell& cell, std::int64_t until) {
    Execute(kPostponeGeocoding, {cell.mcc, cell.key.mnc, cell.key.lac, cell.key.cid, until});
}

std::int64_t SqlStore::TakeGeocoderTurn(const std::string& holder, std::int64_t leaseMs) {
    if (!Numbers(kTakeGeocoderTurn, {holder, leaseMs}).empty()) return 0;
    return std::max<std::int64_t>(1, Count(kGeocoderTurnFreeIn, {}));
}

void SqlStore::EndGeocoderTurn(const std::string& holder, std::int64_t pauseMs) {
    Execute(kEndGeocoderTurn, {holder, pauseMs});
}

std::string SqlStore::Secret(const std::string& name) {
    std::vector<std::string> found;
    auto read = [&] {
        Use([&](SqlConnection& connection) {
            Rows rows = connection.Run(kSecret, {name});
            while (rows.Next()) found.push_back(rows.Text(0));
        });
    };
    read();
    if (!found.empty()) return found.front();
    // Two servers making it at once: the first one written is everybody's.
    std::string made = RandomHex(32);
    Execute(kAddSecret, {name, made});
    read();
    return found.front();
}

std::optional<Position> SqlStore::PositionOf(std::int64_t userId) {
    return Use([&](SqlConnection& connection) -> std::optional<Position> {
        Rows rows = connection.Run(kPositionOf, {userId});
        if (!rows.Next()) return std::nullopt;
        return ReadPosition(rows);
    });
}

std::int64_t SqlStore::SaveMark(const Mark& mark, std::int64_t now) {
    return Numbers(kSaveMark, {mark.userId, mark.cell.mnc, mark.cell.lac, mark.cell.cid, mark.scope, mark.groupId,
                               mark.title, mark.street, mark.number, mark.build, mark.tags, now})
        .front();
}

bool SqlStore::DeleteMark(std::int64_t userId, std::int64_t markId) {
    return !Numbers(kDeleteMark, {markId, userId}).empty();
}

void SqlStore::DeleteGroupMarks(std::int64_t userId, std::int64_t groupId) {
    Execute(kDeleteGroupMarks, {userId, groupId});
}

MarksWithOwners SqlStore::MarksAt(const CellKey& cell) {
    return Use([&](SqlConnection& connection) {
        MarksWithOwners marks;
        marks.marks = ReadMarks(connection.Run(kMarksAt, {cell.mnc, cell.lac, cell.cid}));
        if (!marks.marks.empty()) {
            marks.ownerGroups = ReadOwnerGroups(connection.Run(kMarkOwnerGroupsAt, {cell.mnc, cell.lac, cell.cid}));
        }
        return marks;
    });
}

std::vector<Mark> SqlStore::MarksOf(std::int64_t userId) {
    return Marks(kMarksOf, {userId});
}

std::int64_t SqlStore::MarkCount() {
    return Count(kMarkCount, {});
}

void SqlStore::RecordLoginFailure(const std::string& address, const std::string& client, std::int64_t now) {
    Execute(kRecordLoginFailure, {address, client, now});
}

std::vector<std::int64_t> SqlStore::LoginFailuresOfAddress(const std::string& address, std::int64_t since) {
    return Numbers(kFailuresOfAddress, {address, since});
}

std::vector<std::int64_t> SqlStore::LoginFailuresOfClient(const std::string& client, std::int64_t since) {
    return Numbers(kFailuresOfClient, {client, since});
}

void SqlStore::ClearLoginFailures(const std::string& address, const std::string& client, std::int64_t before) {
    Execute(kClearLoginFailures, {address, client, before});
}

std::vector<std::pair<std::string, std::string>> SqlStore::SettingValues() {
    return Use([&](SqlConnection& connection) {
        std::vector<std::pair<std::string, std::string>> values;
        Rows rows = connection.Run(kSettingValues, {});
        while (rows.Next()) values.emplace_back(rows.Text(0), rows.Text(1));
        return values;
    });
}

void SqlStore::PutSetting(const std::string& key, const std::string& value) {
    Execute(kPutSetting, {key, value});
}

}  // namespace pelmora
