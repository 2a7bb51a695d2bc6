// Naming places: a cell's address line from a reverse geocoder that speaks Nominatim's API
// (/reverse?format=jsonv2), at the address the setting geocoder names. Its usage policy asks for one
// request a second at most, so every server and command sharing the database asks in one turn kept in
// the database: one request at a time, the next a second after the last answer. Each answer is kept
// for its point of a grid about ten metres across, so no point is asked about twice, and the asking
// runs in the background: a report never waits for it.
#pragma once

#include "server/background.h"
#include "server/rules.h"
#include "server/text.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pelmora {

// A point of the grid the geocoder's answers are kept by: ten-thousandths of a degree.
struct GridPoint {
    std::int64_t latKey = 0;
    std::int64_t lonKey = 0;
};
GridPoint GeocodeGrid(double lat, double lon);

// What a geocoder answered about a point.
struct GeocoderAnswer {
    enum class Kind {
        kPlace,    // `address` names it
        kNothing,  // the geocoder knows nothing there (the sea, a field)
        kFailed,   // no answer fit to use; `problem` says why; the point is asked about again later
        kRefused,  // too many requests: nobody asks again for `retryAfter` seconds
    };
    Kind kind = Kind::kFailed;
    std::string address;
    std::string problem;
    std::int64_t retryAfter = 0;
};

// Reads an answer of the geocoder: its HTTP status, its Retry-After header and its body (jsonv2). The
// address line is made as the phones show it, "Москва, ул. Тверская, 7": the locality, the street and
// the house, each left out when the answer has none, every part cut to a bounded length.
GeocoderAnswer ReadGeocoderAnswer(int status, std::string_view retryAfter, std::string_view body);

struct GeocoderLimits {
    std::chrono::milliseconds timeout{10000};  // for the whole of one request
    std::chrono::milliseconds pause{1000};     // from an answer to the next request, among all servers
};

// Asks the geocoder at `address` about the point; never throws.
GeocoderAnswer AskGeocoder(const HttpAddress& address, double lat, double lon, std::chrono::milliseconds timeout);

// Names one cell at a time, taking the geocoder's turn for each request it makes.
class Geocoder {
public:
    struct Step {
        enum class Kind {
            kNamed,         // the cell has its address
            kNothingThere,  // the geocoder knows nothing there: the cell stays without one
            kFailed,        // no answer fit to use: the cell is asked about again later
            kRefused,       // the geocoder asks to wait
            kWait,          // another server or command has the turn: try again after `waitMs`
            kIdle,          // no cell to name
            kNoGeocoder,    // the setting geocoder is empty
        };
        Kind kind = Kind::kIdle;
        bool asked = false;  // the geocoder was asked (otherwise an earlier answer served)
        std::int64_t waitMs = 0;
        std::string problem;
        Cell cell;
    };

    Geocoder(Store& store, Clock clock, GeocoderLimits limits = GeocoderLimits());

    // Names one cell of the service's country without an address: one a report wanted, else (with
    // `wantedOnly` false) the next after `cursor`, which moves past it.
    Step NameNext(bool wantedOnly, std::optional<CellKey>& cursor);

private:
    Step Name(const GeocodingTask& task, const HttpAddress& address);
    // The cell named from an earlier answer for its point, if there is one.
    std::optional<Step> FromEarlierAnswer(const GeocodingTask& task);

    Store& store_;
    Clock clock_;
    GeocoderLimits limits_;
    std::string holder_;  // who holds the turn, in the database: this geocoder
};

// A server's naming in the background: the cells reports met without an address, one after another
// while there are any, then a look every few seconds (or at once when woken).
class GeocoderWorker {
public:
    GeocoderWorker(Store& store, Clock clock, std::function<void(const std::string&)> log,
                   GeocoderLimits limits = GeocoderLimits());
    GeocoderWorker(const GeocoderWorker&) = delete;
    GeocoderWorker& operator=(const GeocoderWorker&) = delete;
    ~GeocoderWorker();

    void Start(std::chrono::milliseconds idleLook = std::chrono::seconds(5));
    // Reports wanted addresses: look now.
    void Wake();
    void Stop();

private:
    // Names one cell; how long to wait before the next.
    std::chrono::milliseconds Round(std::chrono::milliseconds idleLook);

    Geocoder geocoder_;
    std::function<void(const std::string&)> log_;
    Background background_;
};

}  // namespace pelmora
