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

std::string RequireHash(const std::string& password) {
    std::optional<std::string> hash = PasswordHash(password);
    if (!hash) throw StoreError("the password has characters a phone cannot type (outside Windows-1251)");
    return *hash;
}

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
    return word == "user" || word == "group" || word == "cell" || word == "setting";
}

void RunAdminCommand(Store& store, const std::vector<std::string>& words, std::ostream& out, std::time_t now) {
    std::string noun = words.empty() ? std::string() : words[0];
    std::string verb = words.size() > 1 ? words[1] : std::string();
    std::size_t arguments = words.size() < 2 ? 0 : words.size() - 2;

    if (noun == "user" && verb == "add") {
        if (arguments != 3) Usage("user add EMAIL PASSWORD NAME");
        std::optional<std::string> email = NormaliseEmail(words[2]);
        if (!email || email->find('@') == std::string::npos) {
            throw StoreError("not an e-mail address a phone can type: " + words[2]);
        }
        std::int64_t id = store.AddUser(*email, RequireHash(words[3]), CleanText(words[4]), now);
        out << "user " << id << " " << *email << " added\n";
    } else if (noun == "user" && verb == "password") {
        if (arguments != 2) Usage("user password EMAIL PASSWORD");
        User user = RequireUser(store, words[2]);
        store.SetPassword(user.id, RequireHash(words[3]));
        out << "password of " << user.email << " changed\n";
    } else if (noun == "user" && verb == "list") {
        if (arguments != 0) Usage("user list");
        for (const User& user : store.ListUsers()) {
            std::string groups;
            for (const GroupSummary& group : store.GroupsOf(user.id)) groups += (groups.empty() ? "" : ", ") + group.title;
            out << user.id << '\t' << user.email << '\t' << user.name << '\t' << groups << '\n';
        }
    } else if (noun == "group" && verb == "add") {
        if (arguments != 1) Usage("group add TITLE");
        std::string title = CleanText(words[2]);
        if (title.empty()) throw StoreError("a group needs a title");
        std::int64_t id = store.AddGroup(title);
        out << "group " << id << " " << title << " added\n";
    } else if (noun == "group" && verb == "member") {
        if (arguments != 2) Usage("group member GROUP EMAIL");
        std::optional<std::int64_t> group = store.FindGroup(CleanText(words[2]));
        if (!group) throw StoreError("no group titled " + words[2]);
        User user = RequireUser(store, words[3]);
        store.AddMember(*group, user.id);
        out << user.email << " is a member of " << words[2] << "\n";
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
    } else if (noun == "setting" && verb == "set") {
        if (arguments != 2) Usage("setting set KEY VALUE");
        store.SetSetting(words[2], words[3]);
        out << words[2] << " set to " << words[3] << "\n";
    } else {
        throw StoreError("unknown command; see pelmora-server --help");
    }
}

}  // namespace pelmora
