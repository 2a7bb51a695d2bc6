#include "server/accounts.h"

#include "server/groups.h"
#include "server/passwords.h"
#include "server/text.h"

#include <algorithm>

namespace pelmora {

namespace {

const char* const kWrongCredentialsText = "Неверный адрес электронной почты или пароль";
const char* const kThrottledText = "Слишком много неудачных попыток входа, попробуйте позже";
const char* const kDisabledText = "Учётная запись отключена администратором";

// Seconds until fewer than the limit of `failures` (oldest first) lie in the window; 0 when fewer do.
std::int64_t WaitForWindow(const std::vector<std::int64_t>& failures, std::int64_t now) {
    if (failures.size() < static_cast<std::size_t>(kLogInFailureLimit)) return 0;
    std::int64_t leaves = failures[failures.size() - kLogInFailureLimit] + kLogInWindowSeconds;
    return std::max<std::int64_t>(1, leaves - now);
}

std::string RequirePasswordRecord(const std::string& password) {
    std::optional<std::string> record = Accounts::PasswordRecord(password);
    if (!record) throw StoreError("the password has characters a phone cannot type (outside Windows-1251)");
    return *record;
}

// A password a person chose on the web: typable on the phone, long enough, bounded.
void CheckNewPassword(const std::string& password) {
    std::optional<std::string> bytes = Utf8ToCp1251(password);
    if (!bytes) {
        throw Refusal(RefusalKind::kInvalid,
                      "В пароле есть символы, которых нельзя набрать на телефоне: используйте русские и латинские "
                      "буквы, цифры и знаки");
    }
    // One Windows-1251 byte per character.
    if (bytes->size() < kMinPasswordCharacters) {
        throw Refusal(RefusalKind::kInvalid, "Пароль должен быть не короче 6 символов");
    }
    if (bytes->size() > kMaxPasswordCharacters) {
        throw Refusal(RefusalKind::kInvalid, "Пароль должен быть не длиннее 128 символов");
    }
}

}  // namespace

std::size_t CharacterCount(const std::string& utf8) {
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string ValidEmail(const std::string& typed) {
    const char* const invalid = "Укажите настоящий адрес электронной почты, например anna@example.org";
    std::optional<std::string> email = typed.size() <= kMaxEmailBytes ? NormaliseEmail(typed) : std::nullopt;
    if (!email) throw Refusal(RefusalKind::kInvalid, invalid);
    std::size_t at = email->find('@');
    std::size_t dot = at == std::string::npos ? std::string::npos : email->find('.', at);
    bool valid = at != std::string::npos && at > 0 && email->find('@', at + 1) == std::string::npos &&
                 dot != std::string::npos && dot > at + 1 && email->back() != '.' &&
                 email->find_first_of(" \t,;<>\"'()[]\\") == std::string::npos;
    if (!valid) throw Refusal(RefusalKind::kInvalid, invalid);
    return *email;
}

std::string ValidLine(const std::string& typed, std::size_t maxCharacters, const char* emptyReason,
                      const char* longReason) {
    std::string line = CleanText(typed);
    std::size_t begin = line.find_first_not_of(' ');
    if (begin == std::string::npos) throw Refusal(RefusalKind::kInvalid, emptyReason);
    line = line.substr(begin, line.find_last_not_of(' ') - begin + 1);
    if (CharacterCount(line) > maxCharacters) throw Refusal(RefusalKind::kInvalid, longReason);
    return line;
}

std::string ValidName(const std::string& typed) {
    return ValidLine(typed, kMaxNameCharacters, "Укажите имя", "Имя должно быть не длиннее 100 символов");
}

Accounts::Accounts(Store& store, Clock clock) : store_(store), clock_(std::move(clock)) {}

std::optional<std::string> Accounts::PasswordRecord(const std::string& password) {
    std::optional<std::string> phoneHash = PasswordHash(password);
    if (!phoneHash) return std::nullopt;
    return HashPassword(*phoneHash);
}

User Accounts::SignUp(const NewAccount& account) {
    ServerSettings settings = store_.Settings();
    if (settings.registration == Registration::kClosed) {
        throw Refusal(RefusalKind::kForbidden, "Регистрация новых пользователей закрыта");
    }
    if (settings.registration == Registration::kInvite && account.invitation.empty()) {
        throw Refusal(RefusalKind::kForbidden, "Зарегистрироваться можно только по приглашению");
    }
    std::string email = ValidEmail(account.email);
    CheckNewPassword(account.password);
    std::string name = ValidName(account.name);
    std::int64_t now = clock_();
    if (!account.invitation.empty()) UsableInvitation(store_, account.invitation, now);
    if (store_.FindUser(email)) throw Refusal(RefusalKind::kConflict, "Этот адрес уже зарегистрирован");
    // Hashed before the store is locked: the hash takes a while.
    std::string record = *PasswordRecord(account.password);
    std::int64_t id = 0;
    store_.InTransaction([&] {
        if (store_.FindUser(email)) throw Refusal(RefusalKind::kConflict, "Этот адрес уже зарегистрирован");
        id = store_.AddUser(email, record, name, now);
        if (!account.invitation.empty()) JoinByInvitation(store_, account.invitation, id, now);
    });
    return *store_.GetUser(id);
}

void Accounts::CheckThrottle(const std::string& address, const std::string& client, std::int64_t now) {
    std::int64_t since = now - kLogInWindowSeconds + 1;
    std::int64_t wait = std::max(WaitForWindow(store_.LoginFailuresOfAddress(address, since), now),
                                 WaitForWindow(store_.LoginFailuresOfClient(client, since), now));
    if (wait > 0) throw Refusal(RefusalKind::kThrottled, kThrottledText, static_cast<long>(wait));
}

Session Accounts::StartSession(const User& user, const std::string& kind) {
    std::string token = RandomHex(16);
    store_.OpenSession(Sha256Hex(token), user.id, kind, clock_(), store_.Settings().tokenLifetime);
    return Session{token, user};
}

Session Accounts::LogIn(const std::string& email, const std::string& passwordHash, const std::string& client,
                        const std::string& kind) {
    std::int64_t now = clock_();
    CheckThrottle(email, client, now);
    std::string secret = passwordHash;
    for (char& c : secret) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::optional<User> user = store_.FindUser(email);
    bool matches = false;
    if (user) {
        matches = VerifyPassword(user->passwordHash, secret);
    } else {
        SpendPasswordCheckTime(secret);
    }
    if (!matches) {
        store_.RecordLoginFailure(email, client, now);
        throw Refusal(RefusalKind::kNotSignedIn, kWrongCredentialsText);
    }
    if (user->disabled) throw Refusal(RefusalKind::kForbidden, kDisabledText);
    store_.ClearLoginFailures(email, client, now - kLogInWindowSeconds);
    // Hashes made at another cost are made again at today's while the password is at hand.
    if (PasswordNeedsRehash(user->passwordHash)) store_.SetPassword(user->id, HashPassword(secret));
    return StartSession(*user, kind);
}

Session Accounts::LogInWithPassword(const std::string& email, const std::string& password, const std::string& client,
                                    const std::string& kind) {
    std::optional<std::string> address = email.size() <= kMaxEmailBytes ? NormaliseEmail(email) : std::nullopt;
    std::optional<std::string> phoneHash = PasswordHash(password);
    if (!address || !phoneHash) throw Refusal(RefusalKind::kNotSignedIn, kWrongCredentialsText);
    return LogIn(*address, *phoneHash, client, kind);
}

std::optional<User> Accounts::Authenticate(const std::string& token) {
    if (token.empty()) return std::nullopt;
    std::optional<User> user = store_.SessionUser(Sha256Hex(token), clock_(), store_.Settings().tokenLifetime);
    if (!user || user->disabled) return std::nullopt;
    return user;
}

void Accounts::LogOut(const std::string& token) {
    store_.CloseSession(Sha256Hex(token));
}

User Accounts::ChangeProfile(const User& user, const ProfileChange& change, const std::string& client,
                             const std::string& keptToken) {
    std::optional<std::string> name;
    if (change.name) name = ValidName(*change.name);
    if (change.visibility && (*change.visibility < kVisibleToAll || *change.visibility > kSwitchedOff)) {
        throw Refusal(RefusalKind::kInvalid, "Видимость задаётся числом от 0 до 3");
    }
    if (change.privateTime && *change.privateTime != 0 && *change.privateTime != 1) {
        throw Refusal(RefusalKind::kInvalid, "Личное время задаётся числом 0 или 1");
    }
    std::optional<std::string> record;
    if (change.password) {
        if (!change.currentPassword) {
            throw Refusal(RefusalKind::kInvalid, "Чтобы сменить пароль, укажите и текущий пароль");
        }
        std::int64_t now = clock_();
        CheckThrottle(user.email, client, now);
        std::optional<std::string> current = PasswordHash(*change.currentPassword);
        if (!current || !VerifyPassword(user.passwordHash, *current)) {
            store_.RecordLoginFailure(user.email, client, now);
            throw Refusal(RefusalKind::kForbidden, "Текущий пароль указан неверно");
        }
        CheckNewPassword(*change.password);
        record = PasswordRecord(*change.password);
    }
    store_.InTransaction([&] {
        if (name) store_.SetName(user.id, *name);
        if (change.visibility) store_.SetVisibility(user.id, *change.visibility);
        if (change.privateTime) store_.SetPrivateTime(user.id, *change.privateTime);
        if (record) {
            store_.SetPassword(user.id, *record);
            store_.CloseSessionsOf(user.id, Sha256Hex(keptToken));
        }
    });
    return *store_.GetUser(user.id);
}

std::int64_t Accounts::AddByAdministrator(const std::string& email, const std::string& password,
                                          const std::string& name) {
    std::optional<std::string> address = NormaliseEmail(email);
    if (!address || address->find('@') == std::string::npos) {
        throw StoreError("not an e-mail address a phone can type: " + email);
    }
    return store_.AddUser(*address, RequirePasswordRecord(password), CleanText(name), clock_());
}

void Accounts::SetPasswordByAdministrator(std::int64_t userId, const std::string& password) {
    store_.SetPassword(userId, RequirePasswordRecord(password));
    store_.CloseSessionsOf(userId, std::string());
}

void Accounts::Disable(std::int64_t userId, bool disabled) {
    store_.InTransaction([&] {
        store_.SetDisabled(userId, disabled);
        if (disabled) store_.CloseSessionsOf(userId, std::string());
    });
}

}  // namespace pelmora
