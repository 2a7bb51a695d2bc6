#include "server/geocoder.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace pelmora {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

// The largest answer read: a jsonv2 answer about one point is a kilobyte or two.
constexpr std::uint64_t kMaxAnswerBytes = 64 * 1024;
constexpr std::uint32_t kMaxHeaderBytes = 16 * 1024;
// Every part of an address line is cut to this many bytes (of whole characters).
constexpr std::size_t kMaxPartBytes = 100;
// A wait the geocoder asks for is taken within these bounds; without a number, a minute.
constexpr std::int64_t kShortestRetry = 1;
constexpr std::int64_t kLongestRetry = 3600;
constexpr std::int64_t kDefaultRetry = 60;
// A cell the geocoder failed on is asked about again after a minute, then twice as long each time,
// at most a day later.
constexpr std::int64_t kFirstRetry = 60;
constexpr std::int64_t kLongestPostponement = 86400;
// The turn is held no longer than a request may take and this much more, should its holder die.
constexpr std::chrono::milliseconds kTurnMargin{20000};

const char* const kLocalities[] = {"city", "town", "village", "hamlet", "isolated_dwelling", "municipality", "county",
                                   "state"};
const char* const kStreets[] = {"road", "pedestrian", "square", "footway", "path"};
// Named when there is no street: where in the locality the point is.
const char* const kQuarters[] = {"quarter", "neighbourhood", "suburb", "city_district"};

// A part of an address as it may be shown: one line of whole characters, without blanks around it.
std::string Part(const nlohmann::json& address, const char* key) {
    auto found = address.find(key);
    if (found == address.end() || !found->is_string()) return std::string();
    std::string text = CleanText(Utf8Prefix(found->get_ref<const std::string&>(), 4 * kMaxPartBytes));
    std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) return std::string();
    text = text.substr(begin, text.find_last_not_of(' ') - begin + 1);
    return std::string(Utf8Prefix(text, kMaxPartBytes));
}

template <std::size_t N>
std::string FirstPart(const nlohmann::json& address, const char* const (&keys)[N]) {
    for (const char* key : keys) {
        std::string part = Part(address, key);
        if (!part.empty()) return part;
    }
    return std::string();
}

// "Тверская улица" and "улица Арбат" as the phones write streets: "ул. Тверская", "ул. Арбат". Other
// kinds of street (площадь, бульвар, переулок…) keep their words.
std::string ShortStreet(const std::string& road) {
    std::vector<std::string> words;
    bool street = false;
    std::size_t start = 0;
    while (start <= road.size()) {
        std::size_t blank = road.find(' ', start);
        std::string word = road.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
        if (word == "улица" || word == "Улица") {
            street = true;
        } else if (!word.empty()) {
            words.push_back(word);
        }
        if (blank == std::string::npos) break;
        start = blank + 1;
    }
    if (!street || words.empty()) return road;
    std::string text = "ул.";
    for (const std::string& word : words) text += " " + word;
    return text;
}

// The address line of a jsonv2 answer's "address"; empty when it names nothing.
std::string AddressLine(const nlohmann::json& address) {
    std::string locality = FirstPart(address, kLocalities);
    std::string street = FirstPart(address, kStreets);
    street = street.empty() ? FirstPart(address, kQuarters) : ShortStreet(street);
    std::string house = Part(address, "house_number");
    if (street == locality) street.clear();
    if (locality.empty() && street.empty()) return std::string();
    std::string line;
    for (const std::string* part : {&locality, &street, &house}) {
        if (part->empty()) continue;
        if (!line.empty()) line += ", ";
        line += *part;
    }
    return line;
}

GeocoderAnswer Failed(std::string problem) {
    GeocoderAnswer answer;
    answer.problem = std::move(problem);
    return answer;
}

std::string Degrees(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

}  // namespace

GridPoint GeocodeGrid(double lat, double lon) {
    return {std::llround(lat * 10000), std::llround(lon * 10000)};
}

GeocoderAnswer ReadGeocoderAnswer(int status, std::string_view retryAfter, std::string_view body) {
    if (status == 429 || status == 503) {
        GeocoderAnswer answer;
        answer.kind = GeocoderAnswer::Kind::kRefused;
        std::optional<std::int64_t> seconds = ParseInteger(retryAfter);
        answer.retryAfter = std::clamp<std::int64_t>(seconds.value_or(kDefaultRetry), kShortestRetry, kLongestRetry);
        answer.problem = "the geocoder answered " + std::to_string(status) + ", asking to wait " +
                         std::to_string(answer.retryAfter) + " s";
        return answer;
    }
    if (status != 200) return Failed("the geocoder answered " + std::to_string(status));
    nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
    if (document.is_discarded() || !document.is_object()) return Failed("the geocoder's answer is not a JSON object");
    GeocoderAnswer answer;
    auto address = document.find("address");
    if (address != document.end() && address->is_object()) {
        answer.address = AddressLine(*address);
        answer.kind = answer.address.empty() ? GeocoderAnswer::Kind::kNothing : GeocoderAnswer::Kind::kPlace;
        return answer;
    }
    // Nominatim's word for a point it has nothing about: {"error": "Unable to geocode"}.
    if (document.contains("error")) {
        answer.kind = GeocoderAnswer::Kind::kNothing;
        return answer;
    }
    return Failed("the geocoder's answer has no address");
}

GeocoderAnswer AskGeocoder(const HttpAddress& address, double lat, double lon, std::chrono::milliseconds timeout) {
    try {
        asio::io_context io;
        asio::ip::tcp::resolver resolver(io);
        beast::tcp_stream stream(io);
        beast::flat_buffer buffer(kMaxAnswerBytes + kMaxHeaderBytes);
        http::response_parser<http::string_body> parser;
        parser.body_limit(kMaxAnswerBytes);
        parser.header_limit(kMaxHeaderBytes);
        http::request<http::empty_body> request{
            http::verb::get,
            address.path + "/reverse?format=jsonv2&lat=" + Degrees(lat) + "&lon=" + Degrees(lon) +
                "&accept-language=ru&addressdetails=1&zoom=18",
            11};
        bool literal6 = address.host.find(':') != std::string::npos;
        request.set(http::field::host, (literal6 ? "[" + address.host + "]" : address.host) +
                                           (address.port == "80" ? std::string() : ":" + address.port));
        request.set(http::field::user_agent, "pelmora-server (cell addresses)");
        request.set(http::field::accept, "application/json");
        request.set(http::field::connection, "close");

        beast::error_code failure;
        const char* stage = "cannot find the geocoder's host";
        stream.expires_after(timeout);
        resolver.async_resolve(address.host, address.port, [&](beast::error_code error, auto endpoints) {
            if (error) {
                failure = error;
                return;
            }
            stage = "cannot connect to the geocoder";
            stream.async_connect(endpoints, [&](beast::error_code error, const auto&) {
                if (error) {
                    failure = error;
                    return;
                }
                stage = "the geocoder does not take the request";
                http::async_write(stream, request, [&](beast::error_code error, std::size_t) {
                    if (error) {
                        failure = error;
                        return;
                    }
                    stage = "the geocoder's answer is unreadable";
                    http::async_read_header(stream, buffer, parser, [&](beast::error_code error, std::size_t) {
                        // Beast (1.74) lets a Content-Length over the limit through once the header
                        // is read, and would make room for all of it: it is refused here.
                        boost::optional<std::uint64_t> length = parser.content_length();
                        if (!error && length && *length > kMaxAnswerBytes) error = http::error::body_limit;
                        if (error) {
                            failure = error;
                            return;
                        }
                        http::async_read(stream, buffer, parser, [&](beast::error_code error, std::size_t) {
                            failure = error;
                        });
                    });
                });
            });
        });
        // The resolver is not covered by the stream's expiry: the whole exchange is given `timeout`.
        io.run_for(timeout + std::chrono::milliseconds(100));
        if (!io.stopped()) {
            resolver.cancel();
            beast::get_lowest_layer(stream).close();
            io.run();
            return Failed("the geocoder did not answer within " + std::to_string(timeout.count()) + " ms");
        }
        if (failure == beast::error::timeout) {
            return Failed("the geocoder did not answer within " + std::to_string(timeout.count()) + " ms");
        }
        if (failure) return Failed(std::string(stage) + ": " + failure.message());
        const auto& response = parser.get();
        return ReadGeocoderAnswer(response.result_int(), std::string(response[http::field::retry_after]),
                                  response.body());
    } catch (const std::exception& error) {
        return Failed(std::string("cannot ask the geocoder: ") + error.what());
    }
}

Geocoder::Geocoder(Store& store, Clock clock, GeocoderLimits limits)
    : store_(store), clock_(std::move(clock)), limits_(limits), holder_(RandomHex(8)) {}

std::optional<Geocoder::Step> Geocoder::FromEarlierAnswer(const GeocodingTask& task) {
    GridPoint point = GeocodeGrid(task.cell.lat, task.cell.lon);
    std::optional<std::string> earlier = store_.CachedPlace(point.latKey, point.lonKey);
    if (!earlier) return std::nullopt;
    store_.SavePlace(task.cell, point.latKey, point.lonKey, *earlier, clock_());
    Step step;
    step.kind = earlier->empty() ? Step::Kind::kNothingThere : Step::Kind::kNamed;
    step.cell = task.cell;
    step.cell.address = *earlier;
    return step;
}

Geocoder::Step Geocoder::NameNext(bool wantedOnly, std::optional<CellKey>& cursor) {
    ServerSettings settings = store_.Settings();
    std::optional<HttpAddress> address = ParseHttpAddress(settings.geocoder);
    Step step;
    if (!address) {
        step.kind = Step::Kind::kNoGeocoder;
        return step;
    }
    // The next cell after where the cursor stood, which the cursor then passes.
    const std::optional<CellKey> from = cursor;
    auto pick = [&] {
        cursor = from;
        std::optional<GeocodingTask> found = store_.NextCellToGeocode(settings.mcc, wantedOnly, clock_(), cursor);
        if (found && !found->wanted) cursor = found->cell.key;
        return found;
    };
    std::optional<GeocodingTask> task = pick();
    if (!task) return step;
    if (std::optional<Step> earlier = FromEarlierAnswer(*task)) return *earlier;

    std::int64_t wait = store_.TakeGeocoderTurn(holder_, (limits_.timeout + kTurnMargin).count());
    if (wait > 0) {
        // The cell is taken up again on the next step.
        cursor = from;
        step.kind = Step::Kind::kWait;
        step.waitMs = wait;
        return step;
    }
    std::int64_t pause = 0;
    try {
        // While others held the turn they may have named this very cell or its point.
        if (!(task = pick())) {
            store_.EndGeocoderTurn(holder_, 0);
            return step;
        }
        if (std::optional<Step> earlier = FromEarlierAnswer(*task)) {
            store_.EndGeocoderTurn(holder_, 0);
            return *earlier;
        }
        step = Name(*task, *address);
        pause = step.kind == Step::Kind::kRefused ? step.waitMs : limits_.pause.count();
        store_.EndGeocoderTurn(holder_, pause);
    } catch (...) {
        try {
            store_.EndGeocoderTurn(holder_, limits_.pause.count());
        } catch (const DatabaseError&) {
            // The turn runs out by itself.
        }
        throw;
    }
    return step;
}

Geocoder::Step Geocoder::Name(const GeocodingTask& task, const HttpAddress& address) {
    GridPoint point = GeocodeGrid(task.cell.lat, task.cell.lon);
    GeocoderAnswer answer = AskGeocoder(address, point.latKey / 10000.0, point.lonKey / 10000.0, limits_.timeout);
    Step step;
    step.asked = true;
    step.cell = task.cell;
    step.problem = answer.problem;
    std::int64_t now = clock_();
    switch (answer.kind) {
    case GeocoderAnswer::Kind::kPlace:
    case GeocoderAnswer::Kind::kNothing:
        store_.SavePlace(task.cell, point.latKey, point.lonKey, answer.address, now);
        step.kind = answer.address.empty() ? Step::Kind::kNothingThere : Step::Kind::kNamed;
        step.cell.address = answer.address;
        break;
    case GeocoderAnswer::Kind::kRefused:
        store_.PostponeGeocoding(task.cell, now + answer.retryAfter);
        step.kind = Step::Kind::kRefused;
        step.waitMs = answer.retryAfter * 1000;
        break;
    case GeocoderAnswer::Kind::kFailed: {
        std::int64_t delay = kFirstRetry << std::min(task.failures, 16);
        store_.PostponeGeocoding(task.cell, now + std::min(delay, kLongestPostponement));
        step.kind = Step::Kind::kFailed;
        break;
    }
    }
    return step;
}

GeocoderWorker::GeocoderWorker(Store& store, Clock clock, std::function<void(const std::string&)> log,
                               GeocoderLimits limits)
    : geocoder_(store, std::move(clock), limits), log_(std::move(log)) {}

GeocoderWorker::~GeocoderWorker() {
    Stop();
}

void GeocoderWorker::Start(std::chrono::milliseconds idleLook) {
    background_.Start([this, idleLook] { return Round(idleLook); });
}

void GeocoderWorker::Wake() {
    background_.Wake();
}

void GeocoderWorker::Stop() {
    background_.Stop();
}

std::chrono::milliseconds GeocoderWorker::Round(std::chrono::milliseconds idleLook) {
    // Another's turn is looked at again this often at most: a request of theirs may end sooner.
    const std::chrono::milliseconds turnLook{250};
    std::optional<CellKey> unused;
    try {
        Geocoder::Step step = geocoder_.NameNext(true, unused);
        const CellKey& key = step.cell.key;
        switch (step.kind) {
        case Geocoder::Step::Kind::kFailed:
        case Geocoder::Step::Kind::kRefused:
            if (log_) {
                log_("geocoder: cell " + std::to_string(step.cell.mcc) + "-" + std::to_string(key.mnc) + "-" +
                     std::to_string(key.lac) + "-" + std::to_string(key.cid) + " not named: " + step.problem);
            }
            return std::chrono::milliseconds(0);
        case Geocoder::Step::Kind::kNamed:
        case Geocoder::Step::Kind::kNothingThere:
            return std::chrono::milliseconds(0);
        case Geocoder::Step::Kind::kWait:
            return std::min(turnLook, std::chrono::milliseconds(step.waitMs));
        default:
            return idleLook;
        }
    } catch (const std::exception& error) {
        if (log_) log_(std::string("geocoder: ") + error.what());
        return idleLook;
    }
}

}  // namespace pelmora
