// The "ineed" request and the groups-and-people model it rebuilds.
#pragma once

#include "protocol/groups_model.h"

class TiXmlElement;
struct AppContext;

// Empties the model and rebuilds it from the server's reply; empty after any failure.
void FetchGroups(AppContext& context);
// Appends the groups of an "ineed" reply's root element (null: none) to `groups`, in reply order.
void ReadGroupsReply(const TiXmlElement* ineed, GroupList* groups);
// Empties the model.
void ClearGroups(AppContext& context);
