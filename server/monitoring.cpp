#include "server/monitoring.h"

#include "server/phone_protocol.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <mutex>
#include <vector>

namespace pelmora {

namespace {

// Every kind and the results it may have: their series are made at start, so that counting a
// request looks up a table that never changes instead of taking the registry's lock. A result not
// listed counts as "other".
struct KindResults {
    const char* kind;
    std::vector<const char*> results;
};

const std::vector<KindResults>& KnownResults() {
    static const std::vector<const char*> phone = {"ok",        "status 0",  "status 1",  "status 2", "status 3",
                                                   "error 400", "error 401", "error 500", "error 503"};
    static const std::vector<const char*> web = {"200", "201", "204", "303", "304", "400", "401", "403",
                                                 "404", "405", "409", "410", "413", "429", "500", "503"};
    static const std::vector<KindResults> known = {
        {"hand", phone},   {"config", phone}, {"isee", phone},   {"itake", phone},   {"cancel", phone},
        {"ineed", phone},  {"unknown", phone}, {"page", web},    {"api", web},       {"static", web},
        {"healthz", web},  {"metrics", web},
    };
    return known;
}

// Latency buckets in seconds: a report takes milliseconds, a log-in tens of them (Argon2id).
const prometheus::Histogram::BucketBoundaries kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                          0.1,   0.25,   0.5,   1,    2.5,   10};

// "error 503 (database is locked)" → "error 503".
std::string_view ResultLabel(std::string_view result) {
    std::size_t detail = result.find(" (");
    return detail == std::string_view::npos ? result : result.substr(0, detail);
}

}  // namespace

struct MonitoringState {
    struct Kind {
        std::string name;
        std::vector<std::pair<std::string, prometheus::Counter*>> results;  // "other" last
        prometheus::Histogram* latency = nullptr;
    };

    MonitoringState(Store& store, Clock clock) : store(store), clock(std::move(clock)) {}

    Store& store;
    Clock clock;
    prometheus::Registry registry;
    std::vector<Kind> kinds;
    prometheus::Gauge* openConnections = nullptr;
    prometheus::Gauge* activeSessions = nullptr;
    prometheus::Gauge* databaseUp = nullptr;
    prometheus::Counter* databaseErrors = nullptr;
    std::mutex scrape;  // one scrape at a time: the gauges are set, then read
};

std::string_view PhoneKindLabel(std::string_view kind) {
    return IsPhoneRequestKind(kind) ? kind : std::string_view("unknown");
}

std::string_view WebKindLabel(std::string_view path) {
    if (path == "/healthz") return "healthz";
    if (path == "/metrics") return "metrics";
    if (path.rfind("/api/", 0) == 0 || path == "/api") return "api";
    if (path.rfind("/static/", 0) == 0) return "static";
    return "page";
}

Monitoring::Monitoring(Store& store, Clock clock) : state_(std::make_unique<MonitoringState>(store, std::move(clock))) {
    MonitoringState& state = *state_;
    auto& requests = prometheus::BuildCounter()
                         .Name("pelmora_requests_total")
                         .Help("Requests answered, by kind (phone request kind or web part) and result")
                         .Register(state.registry);
    auto& latency = prometheus::BuildHistogram()
                        .Name("pelmora_request_duration_seconds")
                        .Help("Time from the first byte of a request to its answer being written")
                        .Register(state.registry);
    for (const KindResults& known : KnownResults()) {
        MonitoringState::Kind kind;
        kind.name = known.kind;
        for (const char* result : known.results) {
            kind.results.emplace_back(result, &requests.Add({{"kind", known.kind}, {"result", result}}));
        }
        kind.results.emplace_back("other", &requests.Add({{"kind", known.kind}, {"result", "other"}}));
        kind.latency = &latency.Add({{"kind", known.kind}}, kBuckets);
        state.kinds.push_back(std::move(kind));
    }
    state.openConnections = &prometheus::BuildGauge()
                                 .Name("pelmora_open_connections")
                                 .Help("Connections open to this server, phones' and browsers' alike")
                                 .Register(state.registry)
                                 .Add({});
    state.activeSessions = &prometheus::BuildGauge()
                                .Name("pelmora_active_sessions")
                                .Help("Sessions used within the token lifetime, of every server on the database")
                                .Register(state.registry)
                                .Add({});
    state.databaseUp = &prometheus::BuildGauge()
                            .Name("pelmora_database_up")
                            .Help("1 when the database answered the last scrape, 0 otherwise")
                            .Register(state.registry)
                            .Add({});
    state.databaseErrors = &prometheus::BuildCounter()
                                .Name("pelmora_database_errors_total")
                                .Help("Requests and health checks the database failed")
                                .Register(state.registry)
                                .Add({});
}

Monitoring::~Monitoring() = default;

void Monitoring::CountRequest(std::string_view kind, std::string_view result, std::chrono::steady_clock::duration took,
                              bool databaseFailed) {
    if (databaseFailed) state_->databaseErrors->Increment();
    for (MonitoringState::Kind& known : state_->kinds) {
        if (known.name != kind) continue;
        std::string_view label = ResultLabel(result);
        auto series = known.results.begin();
        while (series + 1 != known.results.end() && series->first != label) ++series;
        series->second->Increment();
        known.latency->Observe(std::chrono::duration<double>(took).count());
        return;
    }
}

WebAnswer Monitoring::Health() {
    WebAnswer answer;
    answer.route = "/healthz";
    answer.contentType = "text/plain; charset=utf-8";
    answer.headers.emplace_back("Cache-Control", "no-store");
    std::optional<std::string> problem = state_->store.CheckHealth();
    if (problem) {
        answer.status = 503;
        answer.body = *problem + "\n";
        answer.databaseFailed = true;
    } else {
        answer.body = "ok\n";
    }
    return answer;
}

WebAnswer Monitoring::Metrics(int openConnections) {
    MonitoringState& state = *state_;
    WebAnswer answer;
    answer.route = "/metrics";
    answer.contentType = "text/plain; version=0.0.4; charset=utf-8";
    answer.headers.emplace_back("Cache-Control", "no-store");
    std::lock_guard<std::mutex> lock(state.scrape);
    state.openConnections->Set(openConnections);
    // The rest of the numbers are this server's own and worth reading without the database too.
    bool up = !state.store.CheckHealth();
    if (up) {
        try {
            std::int64_t since = state.clock() - state.store.Settings().tokenLifetime;
            state.activeSessions->Set(static_cast<double>(state.store.ActiveSessionCount(since)));
        } catch (const DatabaseError&) {
            up = false;
        }
    }
    state.databaseUp->Set(up ? 1 : 0);
    answer.databaseFailed = !up;
    answer.body = prometheus::TextSerializer().Serialize(state.registry.Collect());
    return answer;
}

}  // namespace pelmora
