// The "isee" request: the three last dominant cells out, the place, the interval and the status back.
#pragma once

struct AppContext;
struct PlaceMark;

bool SendLocationReport(AppContext& context, PlaceMark& placeMark);
