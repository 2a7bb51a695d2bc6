// Groups run by their members: the owner renames, deletes, invites and removes; members leave.
// The administrator (no acting user) may do all of it. One implementation for the web pages and the API.
#pragma once

#include "server/refusal.h"
#include "server/store.h"

#include <optional>
#include <string>

namespace pelmora {

constexpr std::size_t kMaxTitleCharacters = 100;
constexpr std::int64_t kInvitationSeconds = 7 * 86400;

// Who acts: a user, or nothing for the administrator on the command line.
using Actor = std::optional<std::int64_t>;

class Groups {
public:
    Groups(Store& store, Clock clock);

    // A new group owned by `ownerId` (nothing: run by the administrator), who becomes its first member.
    // Refusals: kInvalid (title), kConflict (the owner has a group of that title already).
    std::int64_t Create(Actor ownerId, const std::string& title);
    // Refusals: kNotFound, kForbidden (not the owner), kInvalid, kConflict.
    void Rename(Actor actor, std::int64_t groupId, const std::string& title);
    void Remove(Actor actor, std::int64_t groupId);
    void SetOwner(std::int64_t groupId, std::int64_t ownerId);
    // A fresh code for one person within kInvitationSeconds (the owner only).
    std::string Invite(Actor actor, std::int64_t groupId);
    // Joins the user to the invitation's group; an invitation of a group the user is in already is
    // left for someone else. Refusals: kNotFound, kGone (used or expired).
    std::int64_t Accept(std::int64_t userId, const std::string& code);
    // The owner removes a member, a member removes themselves. The member's marks shown only to the
    // group go; an owner who leaves hands the group to the member who joined first after them, and
    // the last member's leaving ends the group.
    void RemoveMember(Actor actor, std::int64_t groupId, std::int64_t memberId);
    void AddMember(std::int64_t groupId, std::int64_t userId);
    // An account's end: it leaves every group as above, then goes with everything it had.
    void DeleteUser(std::int64_t userId);

private:
    // The group, when the actor may run it; refuses otherwise.
    GroupSummary OwnedGroup(Actor actor, std::int64_t groupId);

    Store& store_;
    Clock clock_;
};

// A title typed by a person, cleaned; Refusal kInvalid when empty or too long.
std::string ValidTitle(const std::string& typed);

// The invitation of `code` while it may be used; Refusal kNotFound or kGone otherwise.
Invitation UsableInvitation(Store& store, const std::string& code, std::int64_t now);
// Uses the invitation for the user and makes them a member; the group. Refusals as above.
std::int64_t JoinByInvitation(Store& store, const std::string& code, std::int64_t userId, std::int64_t now);

}  // namespace pelmora
