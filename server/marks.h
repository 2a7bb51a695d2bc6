// Place marks: the names people give to where they are, and who may see each name. Saving and
// deleting for the phone ("itake", "cancel") and the web (own marks page, API).
#pragma once

#include "server/refusal.h"
#include "server/store.h"

#include <vector>

namespace pelmora {

class PlaceMarks {
public:
    PlaceMarks(Store& store, Clock clock);

    // Saves the user's mark (replacing theirs at the same cell); its id. Refusal kForbidden for a
    // mark shown to a group the user is not in.
    std::int64_t Save(const Mark& mark);
    // Refusal kNotFound unless the mark is the user's own.
    void Delete(std::int64_t userId, std::int64_t markId);
    std::vector<Mark> Of(std::int64_t userId);

private:
    Store& store_;
    Clock clock_;
};

}  // namespace pelmora
