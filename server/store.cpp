#include "server/store.h"

#include "server/postgres_store.h"
#include "server/sqlite_store.h"
#include "server/text.h"

#include <sstream>

namespace pelmora {

namespace {

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
    } else if (key == "mcc") {
        settings.mcc = SettingNumber(key, value, 1, 999);
    } else if (key == "geocoder") {
        if (!value.empty() && !ParseHttpAddress(value)) {
            throw StoreError("setting geocoder must be empty or the http:// address of a Nominatim server, "
                             "http://HOST[:PORT][/PATH] (https is not spoken: run it beside the servers)");
        }
        settings.geocoder = value;
    } else {
        throw StoreError("no setting named " + key);
    }
}

}  // namespace

bool IsPostgresTarget(const std::string& target) {
    return target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Store> OpenStore(const std::string& target, const StoreOptions& options) {
    if (IsPostgresTarget(target)) return std::make_unique<PostgresStore>(target, options);
    const std::string prefix = "sqlite:";
    return std::make_unique<SqliteStore>(target.rfind(prefix, 0) == 0 ? target.substr(prefix.size()) : target);
}

ServerSettings Store::Settings() {
    bool keep = !InTransactionOnThisThread();
    if (keep) {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        if (settings_ && std::chrono::steady_clock::now() - settingsRead_ < kSettingsFreshFor) return *settings_;
    }
    std::chrono::steady_clock::time_point read = std::chrono::steady_clock::now();
    ServerSettings settings;
    for (const auto& setting : SettingValues()) {
        try {
            ApplySetting(settings, setting.first, setting.second);
        } catch (const StoreError&) {
            // A key this server does not know, or a value it no longer accepts, leaves the default.
        }
    }
    if (keep) {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        settings_ = settings;
        settingsRead_ = read;
    }
    return settings;
}

void Store::SetSetting(const std::string& key, const std::string& value) {
    ServerSettings check;
    ApplySetting(check, key, value);
    PutSetting(key, value);
    std::lock_guard<std::mutex> lock(settingsMutex_);
    settings_.reset();
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
        {"mcc", std::to_string(settings.mcc)},
        {"geocoder", settings.geocoder},
    };
}

}  // namespace pelmora
