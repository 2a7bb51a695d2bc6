#include "protocol/groups.h"

#include "app/app_context.h"
#include "platform/scratch_heap.h"
#include "platform/text_conversion.h"
#include "protocol/transport.h"
#include "protocol/wire_format.h"
#include "resources/texts.h"

namespace {

// The identifier of a group the server sent without one: the largest signed 32-bit value.
constexpr int kGroupWithoutId = 2147483647;
constexpr int kPersonWithoutId = -1;

// Each text is put together in `scratch` and copied once at its final length, so that a reply of
// thousands of people makes two allocations per person, not one for every piece of every text.
Person ReadPerson(const TiXmlElement* user, std::wstring* scratch) {
    Person person;
    person.id = kPersonWithoutId;
    ReadChildNumber(user, "user_id", &person.id);
    if (const char* name = ChildText(user, "name")) {
        scratch->clear();
        AppendUtf8AsWide(name, scratch);
        scratch->append(L": ");
        person.name = *scratch;
    }
    scratch->clear();
    if (const char* address = ChildText(user, "address")) AppendUtf8AsWide(address, scratch);
    if (const char* distance = ChildText(user, "distance")) {
        scratch->append(L", ");
        AppendUtf8AsWide(distance, scratch);
        scratch->append(kTextDistanceUnit);
    }
    person.address = *scratch;
    return person;
}

Group ReadGroup(const TiXmlElement* element) {
    Group group;
    group.title = ChildWideText(element, "title");
    group.id = kGroupWithoutId;
    ReadChildNumber(element, "group_id", &group.id);
    if (const char* count = ChildText(element, "count")) group.title += L" (" + Utf8ToWide(count) + L")";
    // Every sibling after the first "user" counts as a person, whatever its name.
    const TiXmlElement* first = FindChild(FindChild(element, "users"), "user");
    std::size_t people = 0;
    for (const TiXmlElement* user = first; user != nullptr; user = user->NextSiblingElement()) ++people;
    group.people.reserve(people);
    std::wstring scratch;
    for (const TiXmlElement* user = first; user != nullptr; user = user->NextSiblingElement()) {
        group.people.push_back(ReadPerson(user, &scratch));
    }
    return group;
}

}  // namespace

void ReadGroupsReply(const TiXmlElement* ineed, GroupList* groups) {
    // Every sibling after the first "group" counts as a group, whatever its name.
    for (const TiXmlElement* group = FindChild(FindChild(ineed, "groups"), "group"); group != nullptr;
         group = group->NextSiblingElement()) {
        groups->push_back(ReadGroup(group));
    }
}

void FetchGroups(AppContext& context) {
    ClearGroups(context);
    // The reply's tree is the largest thing the program ever holds, a few times the reply's size, and
    // only until the model is read: it is built in a scratch heap that gives its pages back at once.
    ScratchHeap scratch;
    TiXmlDocument document;
    const TiXmlElement* ineed = ExchangeRequest(
        context, "ineed", FormBody().Add("token", context.token).Add("group_list", 1).Text(), &document, &scratch);
    ReadGroupsReply(ineed, &context.groups);
}

void ClearGroups(AppContext& context) { GroupList().swap(context.groups); }
