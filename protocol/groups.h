// The "ineed" request and the groups-and-people model it rebuilds.
#pragma once

struct AppContext;

// Empties the model and rebuilds it from the server's reply; empty after any failure.
void FetchGroups(AppContext& context);
// Empties the model.
void ClearGroups(AppContext& context);
