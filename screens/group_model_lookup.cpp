#include "screens/group_model_lookup.h"

int FindGroupIndex(const GroupList& groups, int id) {
    for (size_t index = 0; index < groups.size(); ++index) {
        if (groups[index].id == id) return static_cast<int>(index);
    }
    return -1;
}

const Group* FindGroup(const GroupList& groups, int id) {
    const int index = FindGroupIndex(groups, id);
    return index < 0 ? nullptr : &groups[index];
}

std::vector<int> ShownGroupIndexes(const GroupList& groups, int shownGroup) {
    std::vector<int> shown;
    if (shownGroup == -1) {
        for (size_t index = 0; index < groups.size(); ++index) shown.push_back(static_cast<int>(index));
    } else {
        const int index = FindGroupIndex(groups, shownGroup);
        if (index >= 0) shown.push_back(index);
    }
    return shown;
}

std::vector<EntryPlace> ShownEntries(const GroupList& groups, int shownGroup) {
    std::vector<EntryPlace> entries;
    for (int index : ShownGroupIndexes(groups, shownGroup)) {
        const int people = static_cast<int>(groups[index].people.size());
        for (int person = 0; person < people; ++person) entries.push_back({index, person});
    }
    return entries;
}

const Group& GroupAt(const GroupList& groups, const EntryPlace& entry) { return groups[entry.group]; }

const Person& PersonAt(const GroupList& groups, const EntryPlace& entry) {
    return groups[entry.group].people[entry.person];
}

int FindSelectedRow(const GroupList& groups, const std::vector<EntryPlace>& entries, int person, int group,
                    int remembered) {
    // -1 is "nothing selected"; a person the server sent without an identifier is never selected.
    if (person == -1) return -1;
    return FindRowOf(static_cast<int>(entries.size()), remembered, [&](int row) {
        return PersonAt(groups, entries[row]).id == person && GroupAt(groups, entries[row]).id == group;
    });
}
