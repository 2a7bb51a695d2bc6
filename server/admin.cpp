#include "server/admin.h"

#include "server/geocoder.h"
#include "server/text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace pelmora {

namespace {

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

void RunCommand(Rules& rules, const std::vector<std::string>& words, std::ostream& out, ProgressLine progress);

void Usage(const std::string& command) {
    throw StoreError("usage: pelmora-server " + command);
}

using Seconds = std::chrono::duration<double>;

// Writes a progress line: over the last one on a terminal, else at most one every ten seconds
// (`last` is when the previous went out); `final` always goes out, ending the line.
void ShowProgress(const ProgressLine& progress, const std::string& text, bool final,
                  std::chrono::steady_clock::time_point& last) {
    if (!progress.stream) return;
    auto now = std::chrono::steady_clock::now();
    if (progress.terminal) {
        *progress.stream << "\r\033[K" << text << (final ? "\n" : "") << std::flush;
    } else if (final || now - last >= std::chrono::seconds(10)) {
        *progress.stream << text << "\n" << std::flush;
        last = now;
    }
}

// A number of a command's option, within bounds.
std::int64_t OptionNumber(const std::vector<std::string>& words, std::size_t& at, std::int64_t low, std::int64_t high) {
    if (at + 1 >= words.size()) throw StoreError(words[at] + " needs a number");
    std::optional<std::int64_t> number = ParseInteger(words[++at]);
    if (!number || *number < low || *number > high) {
        throw StoreError(words[at - 1] + " needs a number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return *number;
}

void ImportCells(Rules& rules, const std::vector<std::string>& words, std::ostream& out, const ProgressLine& progress) {
    const char* usage = "cell import [--format csv|opencellid] [--mcc MCC] FILE[.gz]";
    CellImportOptions options;
    options.serviceMcc = rules.store.Settings().mcc;
    std::string path;
    for (std::size_t at = 2; at < words.size(); ++at) {
        if (words[at] == "--format" && at + 1 < words.size()) {
            const std::string& format = words[++at];
            if (format == "csv") options.layout = CellFileLayout::kOurs;
            else if (format == "opencellid") options.layout = CellFileLayout::kOpenCellId;
            else throw StoreError("--format must be csv (mnc, lac, cid, lat, lon, address) or opencellid");
        } else if (words[at] == "--mcc") {
            options.mcc = OptionNumber(words, at, 1, 999);
        } else if (path.empty() && words[at].rfind("--", 0) != 0) {
            path = words[at];
        } else {
            Usage(usage);
        }
    }
    if (path.empty()) Usage(usage);

    const auto started = std::chrono::steady_clock::now();
    auto last = started;
    auto describe = [&](const CellImportReport& report) {
        Seconds elapsed = std::chrono::steady_clock::now() - started;
        int percent = report.fileBytes ? static_cast<int>(100 * report.bytesRead / report.fileBytes) : 100;
        char text[160];
        std::snprintf(text, sizeof text, "cell import: %d%%, %lld rows, %lld cells stored, %.1f s, %.0f rows a second",
                      std::min(percent, 100), static_cast<long long>(report.rows),
                      static_cast<long long>(report.stored.added + report.stored.updated + report.stored.unchanged),
                      elapsed.count(), elapsed.count() > 0 ? report.rows / elapsed.count() : 0.0);
        return std::string(text);
    };
    CellImportReport report = ImportCellFile(rules.store, path, options, [&](const CellImportReport& sofar) {
        ShowProgress(progress, describe(sofar), false, last);
    });
    ShowProgress(progress, describe(report), true, last);

    const CellImportCounts& stored = report.stored;
    out << stored.added + stored.updated + stored.unchanged << " cells imported\n";
    if (stored.updated || stored.unchanged) {
        out << "  " << stored.added << " new, " << stored.updated << " updated, " << stored.unchanged << " unchanged\n";
    }
    if (report.otherRadios) out << "  " << report.otherRadios << " rows of other radios (LTE, CDMA, NR) left out\n";
    if (report.otherCountries) out << "  " << report.otherCountries << " rows of other countries left out\n";
    if (report.wideCellIds) out << "  " << report.wideCellIds << " rows with cell ids over 65535 left out\n";
    if (report.badLines) {
        out << "  " << report.badLines << " bad lines left out" << (report.badLines > 1 ? ", the first:" : ":") << "\n";
        for (const std::string& problem : report.problems) out << "    " << problem << "\n";
    }
    if (stored.closedMissing) out << "  " << stored.closedMissing << " missing cells are known now\n";
}

void GeocodeCells(Rules& rules, const std::vector<std::string>& words, std::ostream& out, const ProgressLine& progress) {
    // Failures one after another that end the command: the geocoder is away or broken.
    constexpr int kFailuresInARow = 3;
    std::int64_t limit = 0;
    for (std::size_t at = 2; at < words.size(); ++at) {
        if (words[at] != "--limit") Usage("cell geocode [--limit N]");
        limit = OptionNumber(words, at, 1, 100000000);
    }
    std::string address = rules.store.Settings().geocoder;
    if (address.empty()) throw StoreError("no geocoder is set: setting set geocoder http://HOST[:PORT][/PATH]");

    Geocoder geocoder(rules.store, rules.clock);
    std::optional<CellKey> cursor;
    std::int64_t named = 0, asked = 0, earlier = 0, nothing = 0, failed = 0;
    int failuresInARow = 0;
    std::string problem;
    auto last = std::chrono::steady_clock::now();
    auto describe = [&] {
        return "cell geocode: " + std::to_string(named) + " named (" + std::to_string(asked) + " asked), " +
               std::to_string(nothing) + " with nothing there, " + std::to_string(failed) + " failed";
    };
    while ((limit == 0 || named + nothing + failed < limit) && failuresInARow < kFailuresInARow) {
        Geocoder::Step step = geocoder.NameNext(false, cursor);
        using Kind = Geocoder::Step::Kind;
        if (step.kind == Kind::kIdle || step.kind == Kind::kNoGeocoder) break;
        if (step.kind == Kind::kWait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::int64_t>(step.waitMs, 1000)));
            continue;
        }
        asked += step.asked ? 1 : 0;
        earlier += step.asked ? 0 : 1;
        if (step.kind == Kind::kNamed) ++named;
        else if (step.kind == Kind::kNothingThere) ++nothing;
        else ++failed;
        bool failure = step.kind == Kind::kFailed || step.kind == Kind::kRefused;
        failuresInARow = failure ? failuresInARow + 1 : 0;
        if (failure) problem = step.problem;
        ShowProgress(progress, describe(), false, last);
    }
    ShowProgress(progress, describe(), true, last);
    out << named << " cells named, " << nothing << " with nothing there, " << failed
        << " failed (asked again later); " << asked << " requests to the geocoder, " << earlier
        << " from its earlier answers\n";
    if (failuresInARow >= kFailuresInARow) {
        throw StoreError("stopped after " + std::to_string(kFailuresInARow) + " failures in a row of the geocoder at " +
                         address + ": " + problem);
    }
}

void ListMissingCells(Rules& rules, const std::vector<std::string>& words, std::ostream& out) {
    std::int64_t limit = 100;
    for (std::size_t at = 2; at < words.size(); ++at) {
        if (words[at] != "--limit") Usage("cell missing [--limit N]");
        limit = OptionNumber(words, at, 1, 100000000);
    }
    for (const MissingCell& cell : rules.store.MissingCells(limit)) {
        out << cell.mcc << '\t' << cell.key.mnc << '\t' << cell.key.lac << '\t' << cell.key.cid << '\t'
            << cell.phones << " phones\t" << cell.reports << " reports\t"
            << FormatTime(cell.firstSeen, "%Y-%m-%d %H:%M", true) << '\t'
            << FormatTime(cell.lastSeen, "%Y-%m-%d %H:%M", true) << '\n';
    }
}

}  // namespace

bool IsAdminCommand(const std::string& word) {
    return word == "user" || word == "group" || word == "cell" || word == "setting" || word == "backup";
}

void RunAdminCommand(Rules& rules, const std::vector<std::string>& words, std::ostream& out, ProgressLine progress) {
    try {
        RunCommand(rules, words, out, progress);
    } catch (const Refusal& refusal) {
        throw StoreError(refusal.what());
    }
}

namespace {

void RunCommand(Rules& rules, const std::vector<std::string>& words, std::ostream& out, ProgressLine progress) {
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
        ImportCells(rules, words, out, progress);
    } else if (noun == "cell" && verb == "geocode") {
        GeocodeCells(rules, words, out, progress);
    } else if (noun == "cell" && verb == "missing") {
        ListMissingCells(rules, words, out);
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
