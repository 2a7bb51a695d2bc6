// Who sees what of whom: the one rule behind the phone's group list ("ineed") and place ("isee") and
// the web's groups, map and API. A member's place shows when their visibility lets the viewer see
// it and they are not in their private hours; a place goes by the name of the mark the viewer may
// see there (by the mark's audience), else by the cell's address line.
#pragma once

#include "server/store.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace pelmora {

// One person as a viewer sees them. Without `place` nothing of where they are is shown.
struct PersonView {
    std::int64_t id = 0;
    std::string name;  // the name, or the e-mail address for an account without one
    struct Place {
        std::string address;                 // the words for the place; empty when unknown
        std::optional<Coordinates> where;    // from the known cells
        std::optional<std::string> distance;  // km from the viewer, one decimal ("2.4")
        std::int64_t updatedAt = 0;          // when the person's phone last reported
    };
    std::optional<Place> place;
};

struct GroupView {
    GroupSummary group;
    std::vector<PersonView> members;  // by name, the viewer left out
};

// The viewer's groups in the order they were made, each with what the viewer may see of every
// other member; places among the cells of the service's country (the setting mcc).
std::vector<GroupView> SeeGroups(Store& store, const User& viewer, std::time_t now);

// The viewer's own place, as the viewer sees it.
PersonView SeeSelf(Store& store, const User& viewer);

// The mark at a cell that the viewer may see: the viewer's own first, then others' from the
// narrowest audience to the widest, the latest saved first.
std::optional<Mark> MarkSeenBy(Store& store, std::int64_t viewerId, const CellKey& cell);


}  // namespace pelmora
