// Stand-in until the location report is built: nothing is reported.
#include "location/location_report.h"

#include "app/app_context.h"

bool SendLocationReport(AppContext&, PlaceMark&) { return false; }
