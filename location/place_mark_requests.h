// The "itake" and "cancel" requests that name and delete place marks on the server.
#pragma once

struct AppContext;
struct PlaceMark;

bool SendPlaceMark(AppContext& context, const PlaceMark& placeMark);
bool DeletePlaceMark(AppContext& context, const PlaceMark& placeMark);
