#include "server/visibility.h"

#include "server/places.h"

#include <algorithm>
#include <map>
#include <set>

namespace pelmora {

namespace {

// Whether a viewer who shares a group with the member may see where the member is, by the member's
// own choices: visible to all or to their groups, and not in private hours.
bool PlaceShown(const User& member, std::time_t now) {
    bool allowed = member.visibility == kVisibleToAll || member.visibility == kVisibleToGroups;
    return allowed && !(member.privateTime != 0 && IsPrivateHour(now));
}

// Whether a mark's audience takes in the viewer, whose groups are given.
bool InAudience(Store& store, const Mark& mark, std::int64_t viewerId, const std::set<std::int64_t>& viewerGroups) {
    if (mark.userId == viewerId) return true;
    switch (mark.scope) {
    case kScopeEverybody:
        return true;
    case kScopeMyGroups: {
        std::vector<std::int64_t> ownerGroups = store.GroupIdsOf(mark.userId);
        return std::any_of(ownerGroups.begin(), ownerGroups.end(),
                           [&](std::int64_t group) { return viewerGroups.count(group) > 0; });
    }
    case kScopeOneGroup:
        return mark.groupId && viewerGroups.count(*mark.groupId) > 0;
    default:
        return false;
    }
}

// The narrower the audience, the closer the mark to the viewer: it wins over wider ones.
int Narrowness(const Mark& mark, std::int64_t viewerId) {
    if (mark.userId == viewerId) return 0;
    if (mark.scope == kScopeOneGroup) return 1;
    if (mark.scope == kScopeMyGroups) return 2;
    return 3;
}

PersonView::Place Describe(Store& store, std::int64_t viewerId, const Position& position,
                           const std::optional<Position>& viewerPosition) {
    PersonView::Place place;
    place.address = DescribePlace(MarkSeenBy(store, viewerId, position.cells[0]), AddressCell(store, position));
    place.where = position.where;
    if (position.where && viewerPosition && viewerPosition->where) {
        place.distance = FormatDistance(DistanceKm(*viewerPosition->where, *position.where));
    }
    place.updatedAt = position.reportedAt;
    return place;
}

}  // namespace

std::optional<Cell> AddressCell(Store& store, const Position& position) {
    for (const CellKey& key : position.cells) {
        if (std::optional<Cell> cell = store.FindCell(key)) return cell;
    }
    return std::nullopt;
}

std::optional<Mark> MarkSeenBy(Store& store, std::int64_t viewerId, const CellKey& cell) {
    std::vector<Mark> marks = store.MarksAt(cell);
    if (marks.empty()) return std::nullopt;
    std::vector<std::int64_t> groups = store.GroupIdsOf(viewerId);
    std::set<std::int64_t> viewerGroups(groups.begin(), groups.end());
    std::optional<Mark> best;
    // The marks come latest first: a later one wins only by a narrower audience.
    for (const Mark& mark : marks) {
        if (!InAudience(store, mark, viewerId, viewerGroups)) continue;
        if (!best || Narrowness(mark, viewerId) < Narrowness(*best, viewerId)) best = mark;
    }
    return best;
}

std::vector<GroupView> SeeGroups(Store& store, const User& viewer, std::time_t now) {
    std::optional<Position> viewerPosition = store.PositionOf(viewer.id);
    // What the viewer may see of each member, worked out once even for a member of several groups.
    std::map<std::int64_t, std::optional<PersonView::Place>> seen;
    std::vector<GroupView> views;
    for (const GroupSummary& group : store.GroupsOf(viewer.id)) {
        GroupView view{group, {}};
        for (const User& member : store.MembersOf(group.id)) {
            if (member.id == viewer.id) continue;
            auto found = seen.find(member.id);
            if (found == seen.end()) {
                std::optional<PersonView::Place> place;
                std::optional<Position> position =
                    PlaceShown(member, now) ? store.PositionOf(member.id) : std::nullopt;
                if (position) place = Describe(store, viewer.id, *position, viewerPosition);
                found = seen.emplace(member.id, place).first;
            }
            view.members.push_back(PersonView{member.id, member.name.empty() ? member.email : member.name, found->second});
        }
        views.push_back(std::move(view));
    }
    return views;
}

PersonView SeeSelf(Store& store, const User& viewer) {
    PersonView self{viewer.id, viewer.name.empty() ? viewer.email : viewer.name, std::nullopt};
    if (std::optional<Position> position = store.PositionOf(viewer.id)) {
        self.place = Describe(store, viewer.id, *position, std::nullopt);
    }
    return self;
}

}  // namespace pelmora
