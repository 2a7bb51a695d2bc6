#include "server/web.h"

#include "server/text.h"

#include <fstream>
#include <sstream>

namespace pelmora {

namespace {

const char* const kBusyText = "Сервер перегружен, повторите запрос позже";
const char* const kInternalText = "Внутренняя ошибка сервера";

// A file of Leaflet's that the map may ask for, and its type; nothing for any other name.
const char* LeafletFileType(const std::string& name) {
    static const std::pair<const char*, const char*> files[] = {
        {"leaflet.js", "text/javascript; charset=utf-8"},
        {"leaflet.css", "text/css; charset=utf-8"},
        {"images/layers.png", "image/png"},
        {"images/layers-2x.png", "image/png"},
        {"images/marker-icon.png", "image/png"},
        {"images/marker-icon-2x.png", "image/png"},
        {"images/marker-shadow.png", "image/png"},
    };
    for (const auto& file : files) {
        if (name == file.first) return file.second;
    }
    return nullptr;
}

bool IsApi(const std::string& path) {
    return path == "/api/v1" || path.rfind("/api/v1/", 0) == 0 || path.rfind("/api/", 0) == 0;
}

}  // namespace

std::optional<std::int64_t> PositiveId(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    std::optional<std::int64_t> id = ParseInteger(text);
    if (!id || *id <= 0) return std::nullopt;
    return id;
}

std::vector<std::string> PathParts(const std::string& path, std::size_t skip) {
    std::vector<std::string> parts;
    std::size_t start = skip;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

int StatusOf(RefusalKind kind) {
    switch (kind) {
    case RefusalKind::kInvalid:
        return 400;
    case RefusalKind::kNotSignedIn:
        return 401;
    case RefusalKind::kForbidden:
        return 403;
    case RefusalKind::kNotFound:
        return 404;
    case RefusalKind::kConflict:
        return 409;
    case RefusalKind::kGone:
        return 410;
    case RefusalKind::kThrottled:
        return 429;
    }
    return 400;
}

std::string SiteAddress(const ServerSettings& settings, const std::string& host) {
    if (!settings.siteAddress.empty()) {
        return settings.siteAddress.back() == '/' ? settings.siteAddress : settings.siteAddress + "/";
    }
    // The Host header goes into a link: only the characters a host and port are made of.
    bool plain = !host.empty() && host.size() <= 255 &&
                 host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]") ==
                     std::string::npos;
    return "http://" + (plain ? host : std::string("localhost")) + "/";
}

WebSite::WebSite(Rules& rules, std::string leafletDirectory)
    : rules_(rules), leafletDirectory_(std::move(leafletDirectory)) {}

WebAnswer WebSite::TooLarge(const std::string& path) {
    WebAnswer answer = JsonError(413, "Слишком большой запрос: не больше 64 КиБ");
    answer.route = IsApi(path) ? "/api/v1/…" : "page";
    return answer;
}

WebAnswer WebSite::Static(const WebRequest& request) {
    WebAnswer answer;
    answer.route = request.path;
    if (request.method != "GET" && request.method != "HEAD") {
        answer = JsonError(405, "Файлы сайта можно только получить");
        answer.headers.emplace_back("Allow", "GET, HEAD");
        return answer;
    }
    std::string name = request.path.substr(std::string("/static/").size());
    for (std::size_t i = 0; i < kWebAssetCount; ++i) {
        if (name == kWebAssets[i].path) {
            answer.contentType = kWebAssets[i].contentType;
            answer.body = kWebAssets[i].content;
            answer.headers.emplace_back("Cache-Control", "no-cache");
            return answer;
        }
    }
    const std::string leaflet = "leaflet/";
    const char* type = name.rfind(leaflet, 0) == 0 ? LeafletFileType(name.substr(leaflet.size())) : nullptr;
    if (type) {
        std::ifstream file(leafletDirectory_ + "/" + name.substr(leaflet.size()), std::ios::binary);
        if (file) {
            std::ostringstream content;
            content << file.rdbuf();
            answer.contentType = type;
            answer.body = content.str();
            answer.headers.emplace_back("Cache-Control", "max-age=86400");
            return answer;
        }
    }
    answer.status = 404;
    answer.contentType = "text/plain; charset=utf-8";
    answer.body = "Файл не найден\n";
    return answer;
}

WebAnswer WebSite::Handle(const WebRequest& request) {
    bool api = IsApi(request.path);
    try {
        if (request.path.rfind("/static/", 0) == 0) return Static(request);
        return api ? HandleApi(rules_, request) : HandlePage(rules_, request);
    } catch (const std::exception& error) {
        const DatabaseError* failure = dynamic_cast<const DatabaseError*>(&error);
        bool busy = failure && failure->Transient();
        WebAnswer answer = JsonError(busy ? 503 : 500, busy ? kBusyText : kInternalText);
        answer.route = request.path + " (" + error.what() + ")";
        answer.databaseFailed = failure != nullptr;
        return answer;
    }
}

}  // namespace pelmora
