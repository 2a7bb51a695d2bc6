// Finding groups and people of the groups-and-people model by the identifiers that the group
// selection keeps, the entries the group tab shows, and the rings that the arrow keys walk.
#pragma once

#include <vector>

#include "protocol/groups_model.h"

// Index of the first group with identifier `id`, or -1.
int FindGroupIndex(const GroupList& groups, int id);
// The first group with identifier `id`, or null.
const Group* FindGroup(const GroupList& groups, int id);

// Indexes of the groups the group tab lists: every group when `shownGroup` is -1, otherwise the
// first group with that identifier (none when there is no such group).
std::vector<int> ShownGroupIndexes(const GroupList& groups, int shownGroup);

// One entry of the group tab: a person of a group, as indexes into the model.
struct EntryPlace {
    int group;
    int person;
};

// The entries of the group tab in the order they are painted.
std::vector<EntryPlace> ShownEntries(const GroupList& groups, int shownGroup);

const Group& GroupAt(const GroupList& groups, const EntryPlace& entry);
const Person& PersonAt(const GroupList& groups, const EntryPlace& entry);

// The row among `rows` rows that `matches` (carries the identifiers looked for): `remembered`
// when it does, so that a repeated identifier keeps the row that was chosen, else the first row
// that does; -1 when none does.
template <typename Matches>
int FindRowOf(int rows, int remembered, Matches matches) {
    if (remembered >= 0 && remembered < rows && matches(remembered)) return remembered;
    for (int row = 0; row < rows; ++row) {
        if (matches(row)) return row;
    }
    return -1;
}

// Row of the selected entry among `entries` (identifiers `person` and `group`, told apart by
// `remembered`), or -1 when nothing is selected or the selection is not among them.
int FindSelectedRow(const GroupList& groups, const std::vector<EntryPlace>& entries, int person, int group,
                    int remembered);

// The next row after `from` (or before it, `step` -1) in the ring of `rows` rows that `selectable`
// accepts: every row is looked at once, so the walk always ends. `from` itself when it is the only
// one; -1 when there is none. From -1 stepping forward the first selectable row is found.
template <typename Selectable>
int NextInRing(int rows, int from, int step, Selectable selectable) {
    for (int offset = 1; offset <= rows; ++offset) {
        const int row = ((from + step * offset) % rows + rows) % rows;
        if (selectable(row)) return row;
    }
    return -1;
}
