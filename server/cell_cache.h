// The cells the group lists show, kept in memory between requests: a group list of a hundred people
// names hundreds of cells, and reading each from the table again costs more than all the rest of the
// list. The cache holds the cells as one state of the table held them, known and unknown alike, told
// by the count of changes that every write of a cell moves (table_changes): whoever reads the count in
// the same snapshot as the people's reports knows whether the cache still holds what that snapshot
// holds, whichever server changed the cells meanwhile.
#pragma once

#include "server/store.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace pelmora {

class CellCache {
public:
    // More cells than this at once and the cache starts again from nothing.
    static constexpr std::size_t kMaxCells = 100000;

    using Found = std::unordered_map<CellKey, std::shared_ptr<const Cell>, CellKeyHash>;

    // The cells of the country `mcc` among `keys` as the table held them at change count `changes`:
    // the known ones into `found`; the keys the cache cannot answer for are returned.
    std::vector<CellKey> Find(std::int64_t mcc, std::int64_t changes, const std::vector<CellKey>& keys, Found& found);
    // What the table held at change count `changes` for the keys `asked`: `known` among them, the
    // rest unknown.
    void Keep(std::int64_t mcc, std::int64_t changes, const std::vector<CellKey>& asked, const Found& known);

private:
    std::mutex mutex_;
    std::int64_t mcc_ = 0;
    std::int64_t changes_ = -1;
    std::unordered_map<CellKey, std::shared_ptr<const Cell>, CellKeyHash> cells_;  // null: no such cell
};

}  // namespace pelmora
