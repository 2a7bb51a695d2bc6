// Finding groups and people of the groups-and-people model by the identifiers that the group
// selection keeps, and the groups the group tab shows.
#pragma once

#include <vector>

#include "protocol/groups_model.h"

// Index of the first group with identifier `id`, or -1.
int FindGroupIndex(const GroupList& groups, int id);
// The first group with identifier `id`, or null.
const Group* FindGroup(const GroupList& groups, int id);
// The first person of `group` with identifier `id`, or null.
const Person* FindPerson(const Group& group, int id);

// Indexes of the groups the group tab lists: every group when `shownGroup` is -1, otherwise the
// first group with that identifier (none when there is no such group).
std::vector<int> ShownGroupIndexes(const GroupList& groups, int shownGroup);
