#include "server/cell_cache.h"

namespace pelmora {

std::vector<CellKey> CellCache::Find(std::int64_t mcc, std::int64_t changes, const std::vector<CellKey>& keys,
                                     Found& found) {
    std::vector<CellKey> missing;
    std::lock_guard<std::mutex> lock(mutex_);
    // Another state of the table (or another country): what the cache holds is not that state's.
    if (mcc != mcc_ || changes != changes_) {
        cells_.clear();
        mcc_ = mcc;
        changes_ = changes;
    }
    for (const CellKey& key : keys) {
        auto cached = cells_.find(key);
        if (cached == cells_.end()) {
            missing.push_back(key);
        } else if (cached->second) {
            found.emplace(key, cached->second);
        }
    }
    return missing;
}

void CellCache::Keep(std::int64_t mcc, std::int64_t changes, const std::vector<CellKey>& asked, const Found& known) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Read in a snapshot older or newer than the one the cache holds now: not kept.
    if (mcc != mcc_ || changes != changes_) return;
    if (cells_.size() + asked.size() > kMaxCells) cells_.clear();
    for (const CellKey& key : asked) {
        auto cell = known.find(key);
        cells_[key] = cell == known.end() ? nullptr : cell->second;
    }
}

}  // namespace pelmora
