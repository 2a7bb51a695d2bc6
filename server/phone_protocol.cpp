#include "server/phone_protocol.h"

#include "server/places.h"
#include "server/xml_writer.h"


#include <map>

namespace pelmora {

const char* const kBadRequestText = "Некорректный запрос";
const char* const kUnauthorizedText = "Сессия недействительна, требуется повторный вход";
const char* const kBusyText = "Сервер перегружен, повторите запрос позже";

namespace {

// Thrown while a request is read; Handle turns each into its error document.
struct BadRequest {
    std::string description;
};
struct Unauthorized {};

const char* const kInternalErrorText = "Внутренняя ошибка сервера";

Outcome Done(XmlWriter& reply, const std::string& user, const std::string& result) {
    return Outcome{reply.Finish(), user, result};
}

const std::string& Required(const FormFields& form, const char* key) {
    const std::string* value = form.Find(key);
    if (!value) throw BadRequest{std::string(kBadRequestText) + ": нет поля " + key};
    return *value;
}

std::int64_t Number(const FormFields& form, const char* key, std::int64_t low, std::int64_t high) {
    std::optional<std::int64_t> number = ParseInteger(Required(form, key));
    if (!number || *number < low || *number > high) {
        throw BadRequest{std::string(kBadRequestText) + ": неверное значение " + key};
    }
    return *number;
}

// A text field as it will be stored: valid UTF-8 on one line, of bounded length; empty when absent.
std::string Text(const FormFields& form, const char* key) {
    const std::string* value = form.Find(key);
    if (!value) return std::string();
    if (value->size() > kMaxTextBytes) throw BadRequest{std::string(kBadRequestText) + ": слишком длинное " + key};
    return CleanText(*value);
}

// The cell identities the phone sends: LAC and CI are unsigned, the network code a small number.
std::int64_t CellNumber(const FormFields& form, const char* key) {
    return Number(form, key, 0, 0xFFFFFFFFLL);
}

std::int64_t NetworkCode(const FormFields& form) {
    return Number(form, "mnc", 0, 999);
}

}  // namespace

bool IsPhoneRequestKind(std::string_view kind) {
    for (const char* known : {"hand", "config", "isee", "itake", "cancel", "ineed"}) {
        if (kind == known) return true;
    }
    return false;
}

PhoneProtocol::PhoneProtocol(Rules& rules) : rules_(rules), store_(rules.store) {}

Outcome PhoneProtocol::Error(int code, const std::string& description) {
    XmlWriter reply("error");
    reply.Add("code", code);
    reply.Add("description", description);
    return Outcome{reply.Finish(), "-", "error " + std::to_string(code)};
}

Outcome PhoneProtocol::Handle(std::string_view kind, std::string_view body, const std::string& client) {
    try {
        return Dispatch(kind, body, client);
    } catch (const BadRequest& bad) {
        return Error(400, bad.description);
    } catch (const Unauthorized&) {
        return Error(401, kUnauthorizedText);
    } catch (const DatabaseError& error) {
        Outcome outcome = error.Transient() ? Error(503, kBusyText) : Error(500, kInternalErrorText);
        outcome.result += std::string(" (") + error.what() + ")";
        outcome.databaseFailed = true;
        return outcome;
    } catch (const std::exception& error) {
        Outcome outcome = Error(500, kInternalErrorText);
        outcome.result += std::string(" (") + error.what() + ")";
        return outcome;
    }
}

Outcome PhoneProtocol::Dispatch(std::string_view kind, std::string_view body, const std::string& client) {
    FormFields form = FormFields::Parse(body);
    if (kind == "hand") return Hand(form, client);
    if (kind == "config") return Config(form);
    if (kind == "isee") return Isee(form);
    if (kind == "itake") return Itake(form);
    if (kind == "cancel") return Cancel(form);
    if (kind == "ineed") return Ineed(form);
    throw BadRequest{std::string(kBadRequestText) + ": неизвестный вид запроса"};
}

User PhoneProtocol::Authenticate(const FormFields& form) {
    const std::string* token = form.Find("token");
    if (!token) throw Unauthorized{};
    std::optional<User> user = rules_.accounts.Authenticate(*token);
    if (!user) throw Unauthorized{};
    return *user;
}

Outcome PhoneProtocol::Hand(const FormFields& form, const std::string& client) {
    std::int64_t clientId = Number(form, "client_id", INT32_MIN, INT32_MAX);
    std::int64_t clientVersion = Number(form, "client_ver", INT32_MIN, INT32_MAX);
    std::string email = NormaliseEmailFromPhone(Required(form, "user_id"));
    std::string hash = Required(form, "auth");
    ServerSettings settings = store_.Settings();
    XmlWriter reply("handshake");

    if (clientId != 2 || clientVersion < settings.minClientVersion) {
        reply.Add("status", 2);
        if (!settings.updateUrl.empty()) reply.Add("updateurl", settings.updateUrl);
        return Done(reply, email, "status 2");
    }
    if (settings.suspended) {
        reply.Add("status", 3);
        return Done(reply, email, "status 3");
    }
    // A wrong address or password, too many failures, a disabled account: the phone has one answer.
    std::optional<Session> session;
    try {
        session = rules_.accounts.LogIn(email, hash, client, "phone");
    } catch (const Refusal& refusal) {
        reply.Add("status", 1);
        const char* why = refusal.kind() == RefusalKind::kThrottled   ? "status 1 (throttled)"
                          : refusal.kind() == RefusalKind::kForbidden ? "status 1 (disabled)"
                                                                      : "status 1";
        return Done(reply, email, why);
    }
    std::optional<User> user = session->user;

    store_.UpdateTerminal(user->id, Text(form, "terminal_model"), Text(form, "terminal_firmver"),
                          Text(form, "user_subid"));
    std::string name = Text(form, "user_name");
    if (!name.empty()) {
        store_.SetName(user->id, name);
        user->name = name;
    }
    const std::string& token = session->token;

    reply.Add("status", 0);
    if (!settings.updateUrl.empty()) reply.Add("updateurl", settings.updateUrl);
    reply.Add("token", token);
    reply.Add("mode", user->mode);
    if (!settings.host.empty()) reply.Add("host", settings.host);
    reply.Add("userName", user->name);
    // A method the phone found by probing comes first, so that it need not probe (and warn) again.
    std::vector<int> methods;
    if (user->methodUse && *user->methodUse >= 1 && *user->methodUse <= 3 && settings.methods.front() != -1) {
        methods.push_back(*user->methodUse);
    }
    for (int method : settings.methods) {
        if (methods.empty() || method != methods.front()) methods.push_back(method);
    }
    for (int method : methods) reply.Add("method", method);
    return Done(reply, email, "ok");
}

Outcome PhoneProtocol::Config(const FormFields& form) {
    User user = Authenticate(form);
    XmlWriter reply("config");

    if (form.Has("config_get")) {
        reply.Add("config_rate", user.rate);
        reply.Add("config_visibilily", user.visibility);
        reply.Add("config_privatetime", user.privateTime);
        reply.Add("config_forcegps", user.forceGps);
        reply.Add("config_levelgps", user.levelGps);
        return Done(reply, user.email, "ok");
    }

    // The other forms are answered with status 0, or status 1 and the first field refused in "bad".
    auto refuse = [&](const char* key) {
        reply.Add("status", 1);
        reply.Add("bad", key);
        return Done(reply, user.email, std::string("status 1 (") + key + ")");
    };
    auto flag = [&](const char* key) -> std::optional<int> {
        std::optional<std::int64_t> value = ParseInteger(*form.Find(key));
        if (!value || (*value != 0 && *value != 1)) return std::nullopt;
        return static_cast<int>(*value);
    };

    if (form.Has("method_use")) {
        std::optional<std::int64_t> method = ParseInteger(*form.Find("method_use"));
        if (!method || *method < -1 || *method > 3) return refuse("method_use");
        store_.SetMethodUse(user.id, static_cast<int>(*method));
    } else if (form.Has("config_visibilily")) {
        std::optional<std::int64_t> visibility = ParseInteger(*form.Find("config_visibilily"));
        if (!visibility || *visibility < kVisibleToAll || *visibility > kSwitchedOff) {
            return refuse("config_visibilily");
        }
        store_.SetVisibility(user.id, static_cast<int>(*visibility));
    } else if (form.Has("config_rate") || form.Has("config_privatetime") || form.Has("user_name")) {
        std::optional<int> rate;
        std::optional<int> privateTime;
        if (form.Has("config_rate") && !(rate = flag("config_rate"))) return refuse("config_rate");
        if (form.Has("config_privatetime") && !(privateTime = flag("config_privatetime"))) {
            return refuse("config_privatetime");
        }
        if (form.Has("user_name") && form.Find("user_name")->size() > kMaxTextBytes) return refuse("user_name");
        std::string name = Text(form, "user_name");
        store_.InTransaction([&] {
            if (rate) store_.SetRate(user.id, *rate);
            if (privateTime) store_.SetPrivateTime(user.id, *privateTime);
            if (!name.empty()) store_.SetName(user.id, name);
        });
    } else {
        throw BadRequest{std::string(kBadRequestText) + ": неизвестная форма config"};
    }
    reply.Add("status", 0);
    return Done(reply, user.email, "ok");
}

Outcome PhoneProtocol::Isee(const FormFields& form) {
    User user = Authenticate(form);
    std::int64_t mnc = NetworkCode(form);
    CellKey cells[3] = {
        {mnc, CellNumber(form, "lac"), CellNumber(form, "cid")},
        {mnc, CellNumber(form, "lac1"), CellNumber(form, "cid1")},
        {mnc, CellNumber(form, "lac2"), CellNumber(form, "cid2")},
    };
    std::int64_t delta = form.Has("delta") ? Number(form, "delta", INT32_MIN, INT32_MAX) : 0;
    ServerSettings settings = store_.Settings();
    std::time_t now = rules_.clock();
    Store::KnownCells known = store_.RecordReport(user.id, settings.mcc, cells, delta, now);
    rules_.sightings.Note(user.id, settings.mcc, cells, known, now);

    std::optional<Mark> mark = MarkSeenBy(store_, user.id, cells[0]);
    std::optional<Cell> cell = AddressedCell(known);

    XmlWriter reply("isee");
    reply.Add("status", 1);
    reply.Add("timer", settings.reportInterval);
    if (mark || cell) {
        reply.Open("sint");
        if (mark) {
            reply.Add("sint_id", mark->id);
            reply.Add("sint_scope", mark->scope);
            if (mark->groupId) reply.Add("sint_group", *mark->groupId);
            reply.Add("sint_title", mark->title);
        }
        reply.Add("address", cell ? cell->address : std::string());
        if (mark) {
            reply.Add("address_street", mark->street);
            reply.Add("address_number", mark->number);
            reply.Add("address_build", mark->build);
        }
        reply.Close();
    }
    return Done(reply, user.email, "ok");
}

Outcome PhoneProtocol::Itake(const FormFields& form) {
    User user = Authenticate(form);
    Mark mark;
    mark.userId = user.id;
    mark.cell = {NetworkCode(form), CellNumber(form, "lac"), CellNumber(form, "cid")};
    mark.scope = static_cast<int>(Number(form, "sint_scope", kScopeOwner, kScopeOneGroup));
    if (mark.scope == kScopeOneGroup) {
        mark.groupId = Number(form, "sint_scope_group", 1, INT64_MAX);
    }
    mark.title = Text(form, "sint_title");
    mark.street = Text(form, "sint_address_street");
    mark.number = Text(form, "sint_address_number");
    mark.build = Text(form, "sint_address_build");
    mark.tags = Text(form, "sint_tags");
    std::int64_t id = 0;
    try {
        id = rules_.marks.Save(mark);
    } catch (const Refusal& refusal) {
        throw BadRequest{std::string(kBadRequestText) + ": " + refusal.what()};
    }

    XmlWriter reply("itake");
    reply.Add("id", id);
    return Done(reply, user.email, "ok");
}

Outcome PhoneProtocol::Cancel(const FormFields& form) {
    User user = Authenticate(form);
    std::int64_t id = Number(form, "sint_id", INT64_MIN, INT64_MAX);
    bool deleted = true;
    try {
        rules_.marks.Delete(user.id, id);
    } catch (const Refusal&) {
        deleted = false;
    }
    XmlWriter reply("cancel");
    reply.Add("status", deleted ? 0 : 1);
    return Done(reply, user.email, deleted ? "ok" : "status 1");
}

Outcome PhoneProtocol::Ineed(const FormFields& form) {
    User viewer = Authenticate(form);
    std::vector<GroupView> views = SeeGroups(store_, viewer, rules_.clock());
    std::size_t people = 0;
    for (const GroupView& view : views) people += view.members.size();
    // About this much a person: their element, id, name, address and distance.
    XmlWriter reply("ineed", 512 + 320 * people);
    reply.Open("groups");
    for (const GroupView& view : views) {
        reply.Open("group");
        reply.Add("title", view.group.title);
        reply.Add("group_id", view.group.id);
        reply.Add("count", view.group.memberCount);
        reply.Open("users");
        for (const PersonView& member : view.members) {
            reply.Open("user");
            reply.Add("user_id", member.id);
            reply.Add("name", member.name);
            if (member.place) {
                if (!member.place->address.empty()) reply.Add("address", member.place->address);
                if (member.place->distance) reply.Add("distance", *member.place->distance);
            }
            reply.Close();
        }
        reply.Close();
        reply.Close();
    }
    reply.Close();
    return Done(reply, viewer.email, "ok");
}

}  // namespace pelmora
