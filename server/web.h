// The web side of the listener: the JSON API under /api/v1, the pages, and the files they use.
// Requests and answers here are plain values; http_server.cpp moves them over the network.
#pragma once

#include "server/rules.h"

#include <nlohmann/json_fwd.hpp>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace pelmora {

// Largest body a web request may carry; a larger one is answered 413.
constexpr std::size_t kMaxWebBodyBytes = 64 * 1024;

struct WebRequest {
    std::string method;  // "GET", "POST", ...
    std::string path;    // the target up to "?", as sent
    std::string query;   // after "?", as sent
    std::string host;    // the Host header
    std::string origin;  // the Origin header; empty when absent
    std::string cookies;  // the Cookie header
    std::string authorization;
    std::string body;
    std::string client;  // the network address the request came from
};

struct WebAnswer {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string user = "-";  // for the access log: the e-mail of the signed-in user
    std::string route;       // for the access log: the path with codes left out
    bool databaseFailed = false;  // the database failed the request (counted in /metrics)
};

// The HTTP status of a refusal of the service rules.
int StatusOf(RefusalKind kind);

// The web site's base address for links handed out ("http://host:port/"): the site_address setting,
// else the address the request came to.
std::string SiteAddress(const ServerSettings& settings, const std::string& host);

// The web side's entry: /api/v1 to the API, /static/ to the site's files and Leaflet's (read from
// `leafletDirectory`, Debian's libjs-leaflet), everything else to the pages.
class WebSite {
public:
    WebSite(Rules& rules, std::string leafletDirectory);

    // Never throws: a failure of the store becomes a 500 or 503 answer.
    WebAnswer Handle(const WebRequest& request);
    // The answer to a body over kMaxWebBodyBytes at `path`.
    static WebAnswer TooLarge(const std::string& path);

private:
    WebAnswer Static(const WebRequest& request);

    Rules& rules_;
    std::string leafletDirectory_;
};

// The JSON API (web_api.cpp) and the pages (web_pages.cpp).
WebAnswer HandleApi(Rules& rules, const WebRequest& request);
WebAnswer HandlePage(Rules& rules, const WebRequest& request);

// An identifier in a path: digits only, above 0.
std::optional<std::int64_t> PositiveId(const std::string& text);

// The parts of a path between its slashes, after its first `skip` characters ("/api/v1/me", 8 → "me").
std::vector<std::string> PathParts(const std::string& path, std::size_t skip);

// A JSON error answer: {"error": text}.
WebAnswer JsonError(int status, const std::string& text);

// GET /api/v1/groups: what the viewer may see of their groups; the map page shows the same document.
nlohmann::ordered_json GroupsDocument(Store& store, const User& viewer, std::time_t now);

// The files built into the program (server/web/): the site's style and scripts.
struct WebAsset {
    const char* path;  // under /static/
    const char* contentType;
    const char* content;
};
extern const WebAsset kWebAssets[];
extern const std::size_t kWebAssetCount;

}  // namespace pelmora
