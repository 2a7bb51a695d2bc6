// What the people who run the service watch: GET /healthz (200 "ok" while the database answers,
// 503 otherwise) and GET /metrics in Prometheus's text format through prometheus-cpp: requests by
// kind and result, their latency, open connections, active sessions, database errors.
#pragma once

#include "server/refusal.h"
#include "server/store.h"
#include "server/web.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace pelmora {

struct MonitoringState;

class Monitoring {
public:
    Monitoring(Store& store, Clock clock);
    Monitoring(const Monitoring&) = delete;
    Monitoring& operator=(const Monitoring&) = delete;
    ~Monitoring();

    // One answered request: `kind` a phone request kind, or the web's "page", "api", "static",
    // "healthz", "metrics"; `result` what the access log says ("ok", "status 1", "error 503 (…)" for
    // the phone, the HTTP status for the web). Whether the database failed it.
    void CountRequest(std::string_view kind, std::string_view result, std::chrono::steady_clock::duration took,
                      bool databaseFailed);

    WebAnswer Health();
    WebAnswer Metrics(int openConnections);

private:
    std::unique_ptr<MonitoringState> state_;
};

// The label a request's kind goes by: a phone kind as it is, anything else a phone might send
// "unknown"; for the web, what the path is.
std::string_view PhoneKindLabel(std::string_view kind);
std::string_view WebKindLabel(std::string_view path);

}  // namespace pelmora
