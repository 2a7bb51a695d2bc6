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

const Person* FindPerson(const Group& group, int id) {
    for (const Person& person : group.people) {
        if (person.id == id) return &person;
    }
    return nullptr;
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
