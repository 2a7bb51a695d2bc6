#include "server/marks.h"

namespace pelmora {

PlaceMarks::PlaceMarks(Store& store, Clock clock) : store_(store), clock_(std::move(clock)) {}

std::int64_t PlaceMarks::Save(const Mark& mark) {
    if (mark.scope == kScopeOneGroup && !(mark.groupId && store_.IsMember(*mark.groupId, mark.userId))) {
        throw Refusal(RefusalKind::kForbidden, "вы не состоите в этой группе");
    }
    return store_.SaveMark(mark, clock_());
}

void PlaceMarks::Delete(std::int64_t userId, std::int64_t markId) {
    if (!store_.DeleteMark(userId, markId)) throw Refusal(RefusalKind::kNotFound, "Метка не найдена");
}

std::vector<Mark> PlaceMarks::Of(std::int64_t userId) {
    return store_.MarksOf(userId);
}

}  // namespace pelmora
