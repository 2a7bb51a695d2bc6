// What a request reads of tables that seldom change (the cells, the place marks), kept in memory between
// requests: a group list of a hundred people names hundreds of cells, and reading each from the table
// again costs more than the rest of the list. Every write of such a table moves its count of changes
// (table_changes, kept by triggers whoever writes), and whoever reads that count in the same snapshot as
// the rest of its request knows whether what is kept is still that snapshot's, whichever server wrote
// meanwhile. The cache holds what one state of the table held, things that are not there included.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pelmora {

template <typename Key, typename Value, typename Hash>
class ChangeCountedCache {
public:
    // More keys than this at once and the cache starts again from nothing.
    static constexpr std::size_t kMaxKeys = 100000;

    // The state a request read: the table's count of changes, and what else the values depend on
    // (the country of the cells).
    using State = std::pair<std::int64_t, std::int64_t>;
    using Found = std::unordered_map<Key, std::shared_ptr<const Value>, Hash>;

    // The values among `keys` (repeats allowed) at `state`, those there are into `found`; the keys the
    // cache cannot answer for are returned, as often as asked. A state other than the one the cache holds empties it.
    std::vector<Key> Find(State state, const std::vector<Key>& keys, Found& found) {
        std::vector<Key> missing;
        std::lock_guard<std::mutex> lock(mutex_);
        if (state != state_) {
            values_.clear();
            state_ = state;
        }
        for (const Key& key : keys) {
            auto kept = values_.find(key);
            if (kept == values_.end()) {
                missing.push_back(key);
            } else if (kept->second) {
                found.try_emplace(key, kept->second);
            }
        }
        return missing;
    }

    // What the table held at `state` for the keys `asked`: `there` among them, nothing for the rest.
    // Read in a snapshot older or newer than the one the cache holds now: not kept.
    void Keep(State state, const std::vector<Key>& asked, const Found& there) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state != state_) return;
        if (values_.size() + asked.size() > kMaxKeys) values_.clear();
        for (const Key& key : asked) {
            auto value = there.find(key);
            values_[key] = value == there.end() ? nullptr : value->second;
        }
    }

private:
    std::mutex mutex_;
    State state_{-1, 0};
    std::unordered_map<Key, std::shared_ptr<const Value>, Hash> values_;  // null: nothing there
};

}  // namespace pelmora
