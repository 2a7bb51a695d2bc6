#include "server/groups.h"

#include "server/accounts.h"
#include "server/passwords.h"
#include "server/text.h"

namespace pelmora {

namespace {

const char* const kNoGroupText = "Группа не найдена";
const char* const kNotOwnerText = "Это может сделать только владелец группы";
const char* const kTitleTakenText = "Группа с таким названием у этого владельца уже есть";

}  // namespace

std::string ValidTitle(const std::string& typed) {
    return ValidLine(typed, kMaxTitleCharacters, "Укажите название группы",
                     "Название группы должно быть не длиннее 100 символов");
}

Invitation UsableInvitation(Store& store, const std::string& code, std::int64_t now) {
    std::optional<Invitation> invitation =
        code.size() <= 128 ? store.FindInvitation(Sha256Hex(code)) : std::nullopt;
    if (!invitation) throw Refusal(RefusalKind::kNotFound, "Приглашение не найдено: проверьте ссылку");
    if (invitation->used) throw Refusal(RefusalKind::kGone, "Этим приглашением уже воспользовались");
    if (invitation->expiresAt <= now) throw Refusal(RefusalKind::kGone, "Срок действия приглашения истёк");
    return *invitation;
}

std::int64_t JoinByInvitation(Store& store, const std::string& code, std::int64_t userId, std::int64_t now) {
    std::int64_t groupId = 0;
    store.InTransaction([&] {
        groupId = UsableInvitation(store, code, now).groupId;
        if (store.IsMember(groupId, userId)) return;
        if (!store.ClaimInvitation(Sha256Hex(code), userId, now)) {
            throw Refusal(RefusalKind::kGone, "Этим приглашением уже воспользовались");
        }
        store.AddMember(groupId, userId, now);
    });
    return groupId;
}

Groups::Groups(Store& store, Clock clock) : store_(store), clock_(std::move(clock)) {}

GroupSummary Groups::OwnedGroup(Actor actor, std::int64_t groupId) {
    std::optional<GroupSummary> group = store_.GetGroup(groupId);
    if (!group) throw Refusal(RefusalKind::kNotFound, kNoGroupText);
    if (actor && group->ownerId != actor) throw Refusal(RefusalKind::kForbidden, kNotOwnerText);
    return *group;
}

std::int64_t Groups::Create(Actor ownerId, const std::string& title) {
    std::string clean = ValidTitle(title);
    std::int64_t now = clock_();
    std::int64_t id = 0;
    store_.InTransaction([&] {
        std::optional<std::int64_t> made = store_.AddGroup(clean, ownerId, now);
        if (!made) throw Refusal(RefusalKind::kConflict, kTitleTakenText);
        id = *made;
        if (ownerId) store_.AddMember(id, *ownerId, now);
    });
    return id;
}

void Groups::Rename(Actor actor, std::int64_t groupId, const std::string& title) {
    std::string clean = ValidTitle(title);
    store_.InTransaction([&] {
        OwnedGroup(actor, groupId);
        if (!store_.RenameGroup(groupId, clean)) throw Refusal(RefusalKind::kConflict, kTitleTakenText);
    });
}

void Groups::Remove(Actor actor, std::int64_t groupId) {
    store_.InTransaction([&] {
        OwnedGroup(actor, groupId);
        store_.DeleteGroup(groupId);
    });
}

void Groups::SetOwner(std::int64_t groupId, std::int64_t ownerId) {
    store_.InTransaction([&] {
        OwnedGroup(std::nullopt, groupId);
        store_.AddMember(groupId, ownerId, clock_());
        store_.SetGroupOwner(groupId, ownerId);
    });
}

std::string Groups::Invite(Actor actor, std::int64_t groupId) {
    std::string code = RandomHex(16);
    std::int64_t now = clock_();
    store_.InTransaction([&] {
        OwnedGroup(actor, groupId);
        store_.AddInvitation(Sha256Hex(code), groupId, actor, now, now + kInvitationSeconds);
    });
    return code;
}

std::int64_t Groups::Accept(std::int64_t userId, const std::string& code) {
    return JoinByInvitation(store_, code, userId, clock_());
}

void Groups::AddMember(std::int64_t groupId, std::int64_t userId) {
    store_.InTransaction([&] {
        OwnedGroup(std::nullopt, groupId);
        store_.AddMember(groupId, userId, clock_());
    });
}

void Groups::RemoveMember(Actor actor, std::int64_t groupId, std::int64_t memberId) {
    store_.InTransaction([&] {
        std::optional<GroupSummary> group = store_.GetGroup(groupId);
        if (!group) throw Refusal(RefusalKind::kNotFound, kNoGroupText);
        bool allowed = !actor || *actor == memberId || group->ownerId == actor;
        if (!allowed) throw Refusal(RefusalKind::kForbidden, kNotOwnerText);
        if (!store_.IsMember(groupId, memberId)) {
            throw Refusal(RefusalKind::kNotFound, "Этого человека нет в группе");
        }
        store_.DeleteGroupMarks(memberId, groupId);
        store_.RemoveMember(groupId, memberId);
        if (group->ownerId != memberId) return;
        std::vector<std::int64_t> rest = store_.MemberIdsByJoining(groupId);
        if (rest.empty()) {
            store_.DeleteGroup(groupId);
        } else {
            store_.SetGroupOwner(groupId, rest.front());
        }
    });
}

void Groups::DeleteUser(std::int64_t userId) {
    store_.InTransaction([&] {
        for (std::int64_t groupId : store_.GroupIdsOf(userId)) RemoveMember(std::nullopt, groupId, userId);
        store_.DeleteUser(userId);
    });
}

}  // namespace pelmora
