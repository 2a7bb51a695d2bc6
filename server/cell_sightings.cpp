#include "server/cell_sightings.h"

#include "server/passwords.h"

#include <algorithm>

namespace pelmora {

namespace {

CellKey KeyOf(const std::tuple<std::int64_t, std::int64_t, std::int64_t, std::int64_t>& cell) {
    return {std::get<1>(cell), std::get<2>(cell), std::get<3>(cell)};
}

}  // namespace

CellSightings::CellSightings(Store& store) : store_(store) {}

CellSightings::~CellSightings() {
    Stop();
}

void CellSightings::Note(std::int64_t userId, std::int64_t mcc, const CellKey (&cells)[3],
                         const Store::KnownCells& known, std::int64_t now) {
    // Most reports name known cells with addresses: they take no lock that other reports wait for.
    if (std::all_of(known.begin(), known.end(), [](const auto& cell) { return cell && !cell->address.empty(); })) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < 3; ++i) {
        // A phone names the same cell up to three times in one report: it counts once.
        if ((i > 0 && cells[i] == cells[0]) || (i > 1 && cells[i] == cells[1])) continue;
        CountryCell cell{mcc, cells[i].mnc, cells[i].lac, cells[i].cid};
        if (known[i]) {
            if (known[i]->address.empty() && noted_.wanted.size() < kMaxCells) noted_.wanted.emplace(cell, now);
            continue;
        }
        auto found = noted_.missing.find(cell);
        if (found == noted_.missing.end()) {
            if (noted_.missing.size() >= kMaxCells) continue;
            found = noted_.missing.emplace(cell, Unknown{now, now, 0, {}}).first;
        }
        Unknown& unknown = found->second;
        unknown.firstSeen = std::min(unknown.firstSeen, now);
        unknown.lastSeen = std::max(unknown.lastSeen, now);
        ++unknown.reports;
        unknown.users.insert(userId);
    }
}

bool CellSightings::Flush() {
    std::lock_guard<std::mutex> writing(writing_);
    Noted taken;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(taken, noted_);
    }
    if (taken.missing.empty() && taken.wanted.empty()) return false;
    try {
        if (secret_.empty()) secret_ = store_.Secret("phones");
        std::vector<MissingSighting> missing;
        for (const auto& [cell, unknown] : taken.missing) {
            MissingCell seen{std::get<0>(cell), KeyOf(cell), unknown.firstSeen, unknown.lastSeen, unknown.reports,
                             static_cast<std::int64_t>(unknown.users.size())};
            MissingSighting sighting{seen, {}};
            // The cell goes into the hash too: one phone's hashes at two cells do not match, so the
            // table holds no trail of anybody.
            std::string where = std::to_string(seen.mcc) + ":" + std::to_string(seen.key.mnc) + ":" +
                                std::to_string(seen.key.lac) + ":" + std::to_string(seen.key.cid) + ":";
            for (std::int64_t user : unknown.users) {
                sighting.phones.push_back(KeyedHashHex(secret_, where + std::to_string(user)));
            }
            missing.push_back(std::move(sighting));
        }
        std::vector<AddressWanted> wanted;
        for (const auto& [cell, seen] : taken.wanted) wanted.push_back({std::get<0>(cell), KeyOf(cell), seen});
        store_.RecordSightings(missing, wanted);
        return !wanted.empty();
    } catch (...) {
        Restore(std::move(taken));
        throw;
    }
}

void CellSightings::Restore(Noted&& taken) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [cell, unknown] : taken.missing) {
        auto found = noted_.missing.find(cell);
        if (found == noted_.missing.end()) {
            if (noted_.missing.size() < kMaxCells) noted_.missing.emplace(cell, std::move(unknown));
            continue;
        }
        Unknown& later = found->second;
        later.firstSeen = std::min(later.firstSeen, unknown.firstSeen);
        later.lastSeen = std::max(later.lastSeen, unknown.lastSeen);
        later.reports += unknown.reports;
        later.users.insert(unknown.users.begin(), unknown.users.end());
    }
    for (const auto& [cell, seen] : taken.wanted) {
        if (noted_.wanted.size() < kMaxCells) noted_.wanted.emplace(cell, seen);
    }
}

void CellSightings::Start(std::chrono::milliseconds interval, std::function<void()> addressesWanted) {
    background_.Start([this, interval, addressesWanted = std::move(addressesWanted)] {
        try {
            if (Flush() && addressesWanted) addressesWanted();
        } catch (const std::exception&) {
            // The database is busy or away: what was noted waits for the next write.
        }
        return interval;
    });
}

void CellSightings::Stop() {
    background_.Stop();
    try {
        Flush();
    } catch (const std::exception&) {
        // The database is away: what the last seconds noted is lost with the server.
    }
}

}  // namespace pelmora
