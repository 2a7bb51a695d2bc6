// Accounts and sessions: sign-up, log-in with its limit on failures, the token of every session,
// the account's own settings. One implementation for the phone, the web pages and the API.
#pragma once

#include "server/refusal.h"
#include "server/store.h"

#include <optional>
#include <string>

namespace pelmora {

// Failed log-ins allowed per address and per client within the window; the next ones are refused
// until the oldest failures leave it.
constexpr int kLogInFailureLimit = 10;
constexpr std::int64_t kLogInWindowSeconds = 600;

// Bounds of what a person types on the web.
constexpr std::size_t kMinPasswordCharacters = 6;
constexpr std::size_t kMaxPasswordCharacters = 128;
constexpr std::size_t kMaxNameCharacters = 100;
constexpr std::size_t kMaxEmailBytes = 254;

struct NewAccount {
    std::string email;     // as typed (UTF-8)
    std::string password;  // as typed (UTF-8)
    std::string name;
    std::string invitation;  // a code, or empty
};

// A session opened: its token (shown once, stored only as SHA-256) and its user.
struct Session {
    std::string token;
    User user;
};

// Changes of PATCH /api/v1/me and of the account page; what is absent stays. A new password comes
// with the current one.
struct ProfileChange {
    std::optional<std::string> name;
    std::optional<int> visibility;
    std::optional<int> privateTime;
    std::optional<std::string> password;
    std::optional<std::string> currentPassword;
};

class Accounts {
public:
    Accounts(Store& store, Clock clock);

    // A web sign-up under the registration setting; joins the invitation's group when one is given.
    // Refusals: kInvalid (address, password, name), kConflict (address taken), kForbidden
    // (registration closed, or by invitation only), kNotFound / kGone (the invitation).
    User SignUp(const NewAccount& account);
    // A session for a user who has just proven who they are (signed up).
    Session StartSession(const User& user, const std::string& kind);

    // A log-in with the phone's password hash (MD5 hex of the Windows-1251 password). Refusals:
    // kNotSignedIn (wrong address or password alike), kThrottled, kForbidden (account disabled).
    // `kind` names the session: "phone", "web" or "api".
    Session LogIn(const std::string& email, const std::string& passwordHash, const std::string& client,
                  const std::string& kind);
    // The same with the password as typed on the web.
    Session LogInWithPassword(const std::string& email, const std::string& password, const std::string& client,
                              const std::string& kind);

    // The user of a live session; nothing for an unknown, expired or disabled one.
    std::optional<User> Authenticate(const std::string& token);
    void LogOut(const std::string& token);

    // All or nothing. Refusal kInvalid when a value is out of range or a new password comes without
    // the current one; kForbidden for a wrong current password (counted as a failed log-in), and
    // kThrottled. A new password closes every other session of the user (`keptToken` stays).
    User ChangeProfile(const User& user, const ProfileChange& change, const std::string& client,
                       const std::string& keptToken);

    // The administrator's side: accounts without the web's rules on passwords, and their end.
    std::int64_t AddByAdministrator(const std::string& email, const std::string& password, const std::string& name);
    void SetPasswordByAdministrator(std::int64_t userId, const std::string& password);
    void Disable(std::int64_t userId, bool disabled);

    // What the store keeps for a password typed in UTF-8: nothing when the phone cannot type it.
    static std::optional<std::string> PasswordRecord(const std::string& password);

private:
    // Refuses with kThrottled while the address or the client has too many recent failures.
    void CheckThrottle(const std::string& address, const std::string& client, std::int64_t now);

    Store& store_;
    Clock clock_;
};

// An e-mail address typed on the web, normalised as the store keeps it; Refusal kInvalid when it is
// not one a phone could type.
std::string ValidEmail(const std::string& typed);
// Refusal kInvalid unless the name is one line of 1 to kMaxNameCharacters characters; the name cleaned.
std::string ValidName(const std::string& typed);
// A line a person typed, cleaned and without blanks around it; Refusal kInvalid with `emptyReason`
// when nothing is left, with `longReason` when over `maxCharacters`.
std::string ValidLine(const std::string& typed, std::size_t maxCharacters, const char* emptyReason,
                      const char* longReason);
// Number of characters (code points) of UTF-8 text.
std::size_t CharacterCount(const std::string& utf8);

}  // namespace pelmora
