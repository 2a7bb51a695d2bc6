// The service rules every handler works through — the phone protocol, the JSON API and the pages
// alike — so that each rule has one implementation.
#pragma once

#include "server/accounts.h"
#include "server/cell_sightings.h"
#include "server/groups.h"
#include "server/marks.h"
#include "server/refusal.h"
#include "server/store.h"
#include "server/visibility.h"

namespace pelmora {

struct Rules {
    Rules(Store& store, Clock clock)
        : store(store),
          clock(clock),
          accounts(store, clock),
          groups(store, clock),
          marks(store, clock),
          sightings(store) {}
    Rules(const Rules&) = delete;
    Rules& operator=(const Rules&) = delete;

    Store& store;
    Clock clock;
    Accounts accounts;
    Groups groups;
    PlaceMarks marks;
    CellSightings sightings;
};

}  // namespace pelmora
