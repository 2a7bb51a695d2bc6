#include "protocol/groups.h"

#include "app/app_context.h"
#include "platform/text_conversion.h"
#include "protocol/transport.h"
#include "protocol/wire_format.h"
#include "resources/texts.h"

namespace {

// The identifier of a group the server sent without one: the largest signed 32-bit value.
constexpr int kGroupWithoutId = 2147483647;
constexpr int kPersonWithoutId = -1;

Person ReadPerson(const TiXmlElement* user) {
    Person person;
    person.id = kPersonWithoutId;
    ReadChildNumber(user, "user_id", &person.id);
    if (const char* name = ChildText(user, "name")) person.name = Utf8ToWide(name) + L": ";
    person.address = ChildWideText(user, "address");
    if (const char* distance = ChildText(user, "distance")) {
        person.address += L", " + Utf8ToWide(distance) + kTextDistanceUnit;
    }
    return person;
}

Group ReadGroup(const TiXmlElement* element) {
    Group group;
    group.title = ChildWideText(element, "title");
    group.id = kGroupWithoutId;
    ReadChildNumber(element, "group_id", &group.id);
    if (const char* count = ChildText(element, "count")) group.title += L" (" + Utf8ToWide(count) + L")";
    // Every sibling after the first "user" counts as a person, whatever its name.
    for (const TiXmlElement* user = FindChild(FindChild(element, "users"), "user"); user != nullptr;
         user = user->NextSiblingElement()) {
        group.people.push_back(ReadPerson(user));
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
    TiXmlDocument document;
    const TiXmlElement* ineed =
        ExchangeRequest(context, "ineed", FormBody().Add("token", context.token).Add("group_list", 1).Text(), &document);
    ReadGroupsReply(ineed, &context.groups);
}

void ClearGroups(AppContext& context) { GroupList().swap(context.groups); }
