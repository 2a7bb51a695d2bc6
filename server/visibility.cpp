#include "server/visibility.h"

#include "server/places.h"

#include <algorithm>
#include <set>
#include <unordered_map>

namespace pelmora {

namespace {

// Whether a viewer who shares a group with the member may see where the member is, by the member's
// own choices: visible to all or to their groups, and not in private hours.
bool PlaceShown(const User& member, std::time_t now) {
    bool allowed = member.visibility == kVisibleToAll || member.visibility == kVisibleToGroups;
    return allowed && !(member.privateTime != 0 && IsPrivateHour(now));
}

// Whether a mark's audience takes in the viewer, whose groups are given.
bool InAudience(const Mark& mark, const MarksWithOwners& marks, std::int64_t viewerId,
                const std::set<std::int64_t>& viewerGroups) {
    if (mark.userId == viewerId) return true;
    switch (mark.scope) {
    case kScopeEverybody:
        return true;
    case kScopeMyGroups: {
        auto owner = marks.ownerGroups.find(mark.userId);
        if (owner == marks.ownerGroups.end()) return false;
        return std::any_of(owner->second.begin(), owner->second.end(),
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

// Of the marks (latest first), the one at `cell` that the viewer sees.
std::optional<Mark> ChooseMark(const MarksWithOwners& marks, std::int64_t viewerId,
                               const std::set<std::int64_t>& viewerGroups, const CellKey& cell) {
    std::optional<Mark> best;
    // A later mark wins only by a narrower audience.
    for (const Mark& mark : marks.marks) {
        if (!(mark.cell == cell) || !InAudience(mark, marks, viewerId, viewerGroups)) continue;
        if (!best || Narrowness(mark, viewerId) < Narrowness(*best, viewerId)) best = mark;
    }
    return best;
}

PersonView::Place Describe(const std::optional<Mark>& mark, const std::optional<Cell>& cell, const Position& position,
                           const std::optional<Coordinates>& viewerWhere) {
    PersonView::Place place;
    place.address = DescribePlace(mark, cell ? &*cell : nullptr);
    place.where = position.where;
    if (position.where && viewerWhere) place.distance = FormatDistance(DistanceKm(*viewerWhere, *position.where));
    place.updatedAt = position.reportedAt;
    return place;
}

std::string ShownName(const User& user) {
    return user.name.empty() ? user.email : user.name;
}

}  // namespace

std::optional<Mark> MarkSeenBy(Store& store, std::int64_t viewerId, const CellKey& cell) {
    MarksWithOwners marks = store.MarksAt(cell);
    if (marks.marks.empty()) return std::nullopt;
    std::vector<std::int64_t> groups = store.GroupIdsOf(viewerId);
    return ChooseMark(marks, viewerId, std::set<std::int64_t>(groups.begin(), groups.end()), cell);
}

std::vector<GroupView> SeeGroups(Store& store, const User& viewer, std::time_t now) {
    GroupCircle circle = store.CircleOf(viewer.id, store.Settings().mcc);
    std::set<std::int64_t> viewerGroups;
    for (const GroupSummary& group : circle.groups) viewerGroups.insert(group.id);
    std::optional<Coordinates> viewerWhere;
    for (const GroupCircle::Membership& membership : circle.members) {
        if (membership.member.id == viewer.id && membership.position) viewerWhere = membership.position->where;
    }
    // What the viewer may see of a member, worked out once even for a member of several groups.
    std::unordered_map<std::int64_t, std::optional<PersonView::Place>> seen;
    seen.reserve(circle.members.size());
    auto placeOf = [&](const GroupCircle::Membership& membership) -> const std::optional<PersonView::Place>& {
        const User& member = membership.member;
        auto found = seen.find(member.id);
        if (found != seen.end()) return found->second;
        std::optional<PersonView::Place>& place = seen[member.id];
        if (!membership.position || !PlaceShown(member, now)) return place;
        const Position& position = *membership.position;
        std::optional<Mark> mark = circle.marks.marks.empty()
                                       ? std::nullopt
                                       : ChooseMark(circle.marks, viewer.id, viewerGroups, position.cells[0]);
        place = PersonView::Place();
        place->address = DescribePlace(mark, AddressedCell(circle.cells, position.cells));
        place->where = position.where;
        if (place->where && viewerWhere) place->distance = FormatDistance(DistanceKm(*viewerWhere, *place->where));
        place->updatedAt = position.reportedAt;
        return place;
    };
    std::vector<GroupView> views;
    views.reserve(circle.groups.size());
    // The memberships come group by group, each group's in the order they are shown.
    auto membership = circle.members.begin();
    for (const GroupSummary& group : circle.groups) {
        GroupView view{group, {}};
        while (membership != circle.members.end() && membership->groupId < group.id) ++membership;
        for (; membership != circle.members.end() && membership->groupId == group.id; ++membership) {
            const User& member = membership->member;
            if (member.id == viewer.id) continue;
            view.members.push_back(PersonView{member.id, ShownName(member), placeOf(*membership)});
        }
        views.push_back(std::move(view));
    }
    return views;
}

PersonView SeeSelf(Store& store, const User& viewer) {
    PersonView self{viewer.id, ShownName(viewer), std::nullopt};
    if (std::optional<Position> position = store.PositionOf(viewer.id)) {
        std::int64_t mcc = store.Settings().mcc;
        Store::KnownCells known;
        for (int i = 0; i < 3; ++i) known[i] = store.FindCell(mcc, position->cells[i]);
        self.place = Describe(MarkSeenBy(store, viewer.id, position->cells[0]), AddressedCell(known), *position,
                              std::nullopt);
    }
    return self;
}

}  // namespace pelmora
