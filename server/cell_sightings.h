// What the phones' reports tell about the table of cells: the cells nobody has (when they were met,
// how often, by how many phones) and the known cells still without an address, which the geocoder
// names first. A report only notes them in memory; the server writes what it noted every few seconds
// in one transaction, so that a crowd of phones in unknown cells costs the database one write, not
// one per report, and a report of known cells costs nothing at all. What a server noted in its last
// seconds before it dies is lost: counts for the operator, nothing a phone relies on.
#pragma once

#include "server/background.h"
#include "server/store.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

namespace pelmora {

class CellSightings {
public:
    // At most this many cells are held between two writes; more are not noted while the database
    // is away.
    static constexpr std::size_t kMaxCells = 100000;

    explicit CellSightings(Store& store);
    CellSightings(const CellSightings&) = delete;
    CellSightings& operator=(const CellSightings&) = delete;
    ~CellSightings();

    // A report of `userId` naming `cells`, of which the store knew `known` in the country `mcc`.
    void Note(std::int64_t userId, std::int64_t mcc, const CellKey (&cells)[3], const Store::KnownCells& known,
              std::int64_t now);
    // Writes what was noted. What cannot be written is kept for the next time (and the error
    // thrown). True when some cell wants an address.
    bool Flush();
    // Writes every `interval` on a thread of its own; `addressesWanted` hears of each write that
    // wanted an address.
    void Start(std::chrono::milliseconds interval, std::function<void()> addressesWanted);
    // Stops the thread after a last write.
    void Stop();

private:
    using CountryCell = std::tuple<std::int64_t, std::int64_t, std::int64_t, std::int64_t>;  // mcc, mnc, lac, cid
    struct Unknown {
        std::int64_t firstSeen = 0;
        std::int64_t lastSeen = 0;
        std::int64_t reports = 0;
        std::set<std::int64_t> users;
    };
    struct Noted {
        std::map<CountryCell, Unknown> missing;
        std::map<CountryCell, std::int64_t> wanted;  // when first met without an address
    };

    // Puts what a failed write took back in front of what was noted meanwhile.
    void Restore(Noted&& taken);

    Store& store_;
    std::mutex mutex_;  // guards noted_
    Noted noted_;
    std::mutex writing_;  // one write at a time; guards secret_
    std::string secret_;  // the store's key for telling phones apart, read on the first write
    Background background_;
};

}  // namespace pelmora
