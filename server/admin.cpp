#include "server/admin.h"

#include "server/text.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace pelmora {

namespace {

std::string Trim(std::string_view text) {
    std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) return std::string();
    std::size_t end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(begin, end - begin + 1));
}

std::optional<double> ParseCoordinate(const std::string& text, double limit) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(value >= -limit && value <= limit)) return std::nullopt;
    return value;
}

std::string Unquote(const std::string& field, std::size_t line) {
    if (field.size() < 2 || field.front() != '"') return field;
    if (field.back() != '"') throw StoreError("line " + std::to_string(line) + ": the address has no closing quote");
    std::string text;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        text += field[i];
        if (field[i] == '"' && i + 2 < field.size() && field[i + 1] == '"') ++i;
    }
    return text;
}

User RequireUser(Store& store, const std::string& email) {
    std::optional<std::string> normal = NormaliseEmail(email);
    std::optional<User> user = normal ? store.FindUser(*normal) : std::nullopt;
    if (!user) throw StoreError("no user with the e-mail " + email);
    return *user;
}

// A group named on the command line: by its id, or by a title no other group has.
GroupSummary RequireGroup(Store& store, const std::string& name) {
    std::optional<std::int64_t> id = ParseInteger(name);
    if (id && name.find_first_not_of("0123456789") == std::string::npos) {
        std::optional<GroupSummary> group = store.GetGroup(*id);
        if (!group) throw StoreError("no group with the id " + name);
        return *group;
    }
    std::vector<GroupSummary> groups = store.FindGroups(CleanText(name));
    if (groups.empty()) throw StoreError("no group titled " + name);
    if (groups.size() > 1) {
        std::string ids;
        for (const GroupSummary& group : groups) ids += (ids.empty() ? "" : ", ") + std::to_string(group.id);
        throw StoreError("several groups are titled " + name + " (ids " + ids + "): name one by its id");
    }
    return groups.front();
}

std::string OwnerOf(Store& store, const GroupSummary& group) {
    if (!group.ownerId) return "-";
    std::optional<User> owner = store.GetUser(*group.ownerId);
    return owner ? owner->email : "-";
}

void RunCommand(Rules& rules, const std::vector<std::string>& words, std::ostream& out);

void Usage(const std::string& command) {
    throw StoreError("usage: pelmora-server " + command);
}

}  // namespace

std::vector<Cell> ParseCellsCsv(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<Cell> cells;
    std::size_t number = 0;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.empty() || line[0] == '#') continue;

        std::string fields[6];
        std::size_t start = 0;
        for (int i = 0; i < 5; ++i) {
            std::size_t comma = line.find(',', start);
            if (comma == std::string::npos) {
                throw StoreError("line " + std::to_string(number) + ": expected mnc, lac, cid, lat, lon, address");
            }
            fields[i] = Trim(std::string_view(line).substr(start, comma - start));
            start = comma + 1;
        }
        fields[5] = Unquote(Trim(std::string_view(line).substr(start)), number);

        std::optional<std::int64_t> mnc = ParseInteger(fields[0]);
        if (!mnc && cells.empty() && fields[0] == "mnc") continue;  // the header line
        std::optional<std::int64_t> lac = ParseInteger(fields[1]);
        std::optional<std::int64_t> cid = ParseInteger(fields[2]);
        std::optional<double> lat = ParseCoordinate(fields[3], 90);
        std::optional<double> lon = ParseCoordinate(fields[4], 180);
        std::string where = "line " + std::to_string(number) + ": ";
        if (!mnc || *mnc < 0 || *mnc > 999) throw StoreError(where + "mnc must be a number from 0 to 999");
        if (!lac || *lac < 0 || *lac > 0xFFFFFFFFLL) throw StoreError(where + "lac must be a non-negative number");
        if (!cid || *cid < 0 || *cid > 0xFFFFFFFFLL) throw StoreError(where + "cid must be a non-negative number");
        if (!lat || !lon) throw StoreError(where + "latitude and longitude must be decimal degrees");
        if (fields[5].empty()) throw StoreError(where + "the address is empty");
        cells.push_back(Cell{{*mnc, *lac, *cid}, *lat, *lon, CleanText(fields[5])});
    }
    return cells;
}

bool IsAdminCommand(const std::string& word) {
    return word == "user" || word == "group" || word == "cell" || word == "setting" || word == "backup";
}

void RunAdminCommand(Rules& rules, const std::vector<std::string>& words, std::ostream& out) {
    try {
        RunCommand(rules, words, out);
    } catch (const Refusal& refusal) {
        throw StoreError(refusal.what());
    }
}

namespace {

void RunCommand(Rules& rules, const std::vector<std::string>& words, std::ostream& out) {
    Store& store = rules.store;
    std::string noun = words.empty() ? std::string() : words[0];
    std::string verb = words.size() > 1 ? words[1] : std::string();
    std::size_t arguments = words.size() < 2 ? 0 : words.size() - 2;

    if (noun == "user" && verb == "add") {
        if (arguments != 3) Usage("user add EMAIL PASSWORD NAME");
        std::int64_t id = rules.accounts.AddByAdministrator(words[2], words[3], words[4]);
        out << "user " << id << " " << store.GetUser(id)->email << " added\n";
    } else if (noun == "user" && verb == "password") {
        if (arguments != 2) Usage("user password EMAIL PASSWORD");
        User user = RequireUser(store, words[2]);
        rules.accounts.SetPasswordByAdministrator(user.id, words[3]);
        out << "password of " << user.email << " changed\n";
    } else if (noun == "user" && (verb == "disable" || verb == "enable")) {
        if (arguments != 1) Usage("user " + verb + " EMAIL");
        User user = RequireUser(store, words[2]);
        rules.accounts.Disable(user.id, verb == "disable");
        out << user.email << (verb == "disable" ? " disabled\n" : " enabled\n");
    } else if (noun == "user" && verb == "delete") {
        if (arguments != 1) Usage("user delete EMAIL");
        User user = RequireUser(store, words[2]);
        rules.groups.DeleteUser(user.id);
        out << user.email << " deleted\n";
    } else if (noun == "user" && verb == "list") {
        if (arguments != 0) Usage("user list");
        for (const User& user : store.ListUsers()) {
            std::string groups;
            for (const GroupSummary& group : store.GroupsOf(user.id)) {
                groups += (groups.empty() ? "" : ", ") + group.title + (group.ownerId == user.id ? " (owner)" : "");
            }
            out << user.id << '\t' << user.email << '\t' << user.name << '\t' << groups
                << (user.disabled ? "\tdisabled" : "") << '\n';
        }
    } else if (noun == "group" && verb == "list") {
        if (arguments != 0) Usage("group list");
        for (const GroupSummary& group : store.ListGroups()) {
            out << group.id << '\t' << group.title << '\t' << OwnerOf(store, group) << '\t' << group.memberCount
                << '\n';
        }
    } else if (noun == "group" && verb == "add") {
        if (arguments != 1 && arguments != 2) Usage("group add TITLE [OWNER_EMAIL]");
        std::optional<std::int64_t> owner;
        if (arguments == 2) owner = RequireUser(store, words[3]).id;
        std::int64_t id = rules.groups.Create(owner, words[2]);
        out << "group " << id << " " << store.GetGroup(id)->title << " added\n";
    } else if (noun == "group" && verb == "rename") {
        if (arguments != 2) Usage("group rename GROUP TITLE");
        GroupSummary group = RequireGroup(store, words[2]);
        rules.groups.Rename(std::nullopt, group.id, words[3]);
        out << "group " << group.id << " renamed to " << store.GetGroup(group.id)->title << "\n";
    } else if (noun == "group" && verb == "owner") {
        if (arguments != 2) Usage("group owner GROUP EMAIL");
        GroupSummary group = RequireGroup(store, words[2]);
        User user = RequireUser(store, words[3]);
        rules.groups.SetOwner(group.id, user.id);
        out << user.email << " owns " << group.title << "\n";
    } else if (noun == "group" && verb == "remove") {
        if (arguments != 1) Usage("group remove GROUP");
        GroupSummary group = RequireGroup(store, words[2]);
        rules.groups.Remove(std::nullopt, group.id);
        out << "group " << group.id << " " << group.title << " removed\n";
    } else if (noun == "group" && verb == "member" && arguments == 3 && words[2] == "remove") {
        GroupSummary group = RequireGroup(store, words[3]);
        User user = RequireUser(store, words[4]);
        rules.groups.RemoveMember(std::nullopt, group.id, user.id);
        out << user.email << " is no longer a member of " << group.title << "\n";
    } else if (noun == "group" && verb == "member") {
        if (arguments != 2) Usage("group member GROUP EMAIL | group member remove GROUP EMAIL");
        GroupSummary group = RequireGroup(store, words[2]);
        User user = RequireUser(store, words[3]);
        rules.groups.AddMember(group.id, user.id);
        out << user.email << " is a member of " << group.title << "\n";
    } else if (noun == "cell" && verb == "import") {
        if (arguments != 1) Usage("cell import FILE.csv");
        std::ifstream file(words[2], std::ios::binary);
        if (!file) throw StoreError("cannot read " + words[2]);
        std::stringstream content;
        content << file.rdbuf();
        std::vector<Cell> cells = ParseCellsCsv(content.str());
        store.InTransaction([&] {
            for (const Cell& cell : cells) store.PutCell(cell);
        });
        out << cells.size() << " cells imported\n";
    } else if (noun == "setting" && verb == "list") {
        if (arguments != 0) Usage("setting list");
        for (const auto& setting : Store::DescribeSettings(store.Settings())) {
            out << setting.first << '\t' << setting.second << '\n';
        }
    } else if (noun == "backup") {
        if (words.size() != 2) Usage("backup FILE");
        store.Backup(words[1]);
        out << "backup of the " << store.Describe() << " written to " << words[1] << "\n";
    } else if (noun == "setting" && verb == "set") {
        if (arguments != 2) Usage("setting set KEY VALUE");
        store.SetSetting(words[2], words[3]);
        out << words[2] << " set to " << words[3] << "\n";
    } else {
        throw StoreError("unknown command; see pelmora-server --help");
    }
}

}  // namespace

}  // namespace pelmora
