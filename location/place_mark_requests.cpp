// Stand-in until the place mark requests are built: nothing is stored.
#include "location/place_mark_requests.h"

#include "app/app_context.h"

bool SendPlaceMark(AppContext&, const PlaceMark&) { return false; }
bool DeletePlaceMark(AppContext&, const PlaceMark&) { return false; }
