// The JSON API, version 1: the contract of the web site and of other clients. Every answer is JSON;
// every error is {"error": "…"} in Russian with its status.
#include "server/web.h"

#include "server/passwords.h"
#include "server/text.h"

#include <nlohmann/json.hpp>

#include <ctime>
#include <set>

namespace pelmora {

namespace {

using Json = nlohmann::ordered_json;

// A refusal of the request itself, before any rule is asked.
struct ApiError {
    int status;
    std::string text;
};

const char* const kNotSignedInText = "Требуется вход: передайте действующий токен в заголовке Authorization";

WebAnswer JsonAnswer(int status, const Json& value) {
    WebAnswer answer;
    answer.status = status;
    answer.contentType = "application/json; charset=utf-8";
    answer.body = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    return answer;
}

WebAnswer NoContent() {
    WebAnswer answer;
    answer.status = 204;
    return answer;
}

std::string IsoTime(std::int64_t when) {
    return FormatTime(when, "%Y-%m-%dT%H:%M:%SZ", false);
}

std::int64_t Identifier(const std::string& text) {
    std::optional<std::int64_t> id = PositiveId(text);
    if (!id) throw ApiError{404, "Не найдено"};
    return *id;
}

// The body as a JSON object with only the given fields.
Json Body(const WebRequest& request, std::initializer_list<const char*> allowed) {
    Json body = Json::parse(request.body, nullptr, false);
    if (body.is_discarded()) throw ApiError{400, "Тело запроса не является правильным JSON"};
    if (!body.is_object()) throw ApiError{400, "Тело запроса должно быть объектом JSON"};
    std::set<std::string> known(allowed.begin(), allowed.end());
    for (const auto& field : body.items()) {
        if (!known.count(field.key())) throw ApiError{400, "Неизвестное поле «" + field.key() + "»"};
    }
    return body;
}

std::optional<std::string> OptionalText(const Json& body, const char* key) {
    if (!body.contains(key)) return std::nullopt;
    if (!body[key].is_string()) throw ApiError{400, std::string("Поле «") + key + "» должно быть строкой"};
    std::string text = body[key].get<std::string>();
    if (text.size() > 4096) throw ApiError{400, std::string("Поле «") + key + "» слишком длинное"};
    return text;
}

std::string RequiredText(const Json& body, const char* key) {
    std::optional<std::string> text = OptionalText(body, key);
    if (!text) throw ApiError{400, std::string("Нет поля «") + key + "»"};
    return *text;
}

std::optional<int> OptionalNumber(const Json& body, const char* key) {
    if (!body.contains(key)) return std::nullopt;
    if (!body[key].is_number_integer()) throw ApiError{400, std::string("Поле «") + key + "» должно быть целым числом"};
    std::int64_t value = body[key].get<std::int64_t>();
    if (value < -1000 || value > 1000) throw ApiError{400, std::string("Недопустимое значение поля «") + key + "»"};
    return static_cast<int>(value);
}

Json Me(const User& user) {
    return {{"id", user.id},
            {"email", user.email},
            {"name", user.name},
            {"visibility", user.visibility},
            {"private_time", user.privateTime}};
}

Json Optional(const std::optional<double>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

Json GroupsDocument(Store& store, const User& viewer, std::time_t now) {
    Json groups = Json::array();
    for (const GroupView& view : SeeGroups(store, viewer, now)) {
        Json members = Json::array();
        for (const PersonView& member : view.members) {
            Json person = {{"id", member.id}, {"name", member.name}, {"address", nullptr}, {"lat", nullptr},
                           {"lon", nullptr},  {"distance_km", nullptr}, {"updated_at", nullptr}};
            if (member.place) {
                if (!member.place->address.empty()) person["address"] = member.place->address;
                if (member.place->where) {
                    person["lat"] = member.place->where->lat;
                    person["lon"] = member.place->where->lon;
                }
                if (member.place->distance) person["distance_km"] = std::stod(*member.place->distance);
                person["updated_at"] = IsoTime(member.place->updatedAt);
            }
            members.push_back(person);
        }
        groups.push_back({{"id", view.group.id},
                          {"title", view.group.title},
                          {"owner", view.group.ownerId ? Json(*view.group.ownerId) : Json(nullptr)},
                          {"members", members}});
    }
    return groups;
}

namespace {

Json MarksDocument(Store& store, const std::vector<Mark>& marks) {
    Json list = Json::array();
    std::int64_t mcc = store.Settings().mcc;
    for (const Mark& mark : marks) {
        std::optional<Cell> cell = store.FindCell(mcc, mark.cell);
        list.push_back({{"id", mark.id},
                        {"title", mark.title},
                        {"street", mark.street},
                        {"number", mark.number},
                        {"build", mark.build},
                        {"tags", mark.tags},
                        {"scope", mark.scope},
                        {"group_id", mark.groupId ? Json(*mark.groupId) : Json(nullptr)},
                        {"address", cell && !cell->address.empty() ? Json(cell->address) : Json(nullptr)},
                        {"lat", Optional(cell ? std::optional<double>(cell->lat) : std::nullopt)},
                        {"lon", Optional(cell ? std::optional<double>(cell->lon) : std::nullopt)},
                        {"saved_at", IsoTime(mark.savedAt)}});
    }
    return list;
}

std::string BearerToken(const WebRequest& request) {
    const std::string prefix = "Bearer ";
    if (request.authorization.compare(0, prefix.size(), prefix) != 0) return std::string();
    return request.authorization.substr(prefix.size());
}

// One API call; what it may throw (ApiError, Refusal) is answered by HandleApi.
WebAnswer Route(Rules& rules, const WebRequest& request, WebAnswer& log) {
    std::vector<std::string> part = PathParts(request.path, std::string("/api/v1/").size());
    const std::string& method = request.method;
    auto route = [&](const char* name, std::initializer_list<const char*> methods) {
        log.route = name;
        for (const char* allowed : methods) {
            if (method == allowed) return;
        }
        std::string allow;
        for (const char* allowed : methods) allow += (allow.empty() ? "" : ", ") + std::string(allowed);
        throw ApiError{405, "Метод " + method + " здесь не поддерживается; допустимы: " + allow};
    };

    // Calls open to everybody.
    if (part.size() == 1 && part[0] == "accounts") {
        route("/api/v1/accounts", {"POST"});
        Json body = Body(request, {"email", "password", "name", "invitation"});
        NewAccount account{RequiredText(body, "email"), RequiredText(body, "password"), RequiredText(body, "name"),
                           OptionalText(body, "invitation").value_or(std::string())};
        User user = rules.accounts.SignUp(account);
        log.user = user.email;
        return JsonAnswer(201, {{"id", user.id}, {"email", user.email}, {"name", user.name}});
    }
    if (part.size() == 1 && part[0] == "sessions") {
        route("/api/v1/sessions", {"POST"});
        Json body = Body(request, {"email", "password"});
        Session session = rules.accounts.LogInWithPassword(RequiredText(body, "email"), RequiredText(body, "password"),
                                                           request.client, "api");
        log.user = session.user.email;
        return JsonAnswer(201, {{"token", session.token}});
    }

    std::string token = BearerToken(request);
    std::optional<User> user = rules.accounts.Authenticate(token);
    if (!user) throw ApiError{401, kNotSignedInText};
    log.user = user->email;

    if (part.size() == 2 && part[0] == "sessions" && part[1] == "current") {
        route("/api/v1/sessions/current", {"DELETE"});
        rules.accounts.LogOut(token);
        return NoContent();
    }
    if (part.size() == 1 && part[0] == "me") {
        route("/api/v1/me", {"GET", "PATCH"});
        if (method == "GET") return JsonAnswer(200, Me(*user));
        Json body = Body(request, {"name", "visibility", "private_time", "password", "current_password"});
        ProfileChange change{OptionalText(body, "name"), OptionalNumber(body, "visibility"),
                             OptionalNumber(body, "private_time"), OptionalText(body, "password"),
                             OptionalText(body, "current_password")};
        return JsonAnswer(200, Me(rules.accounts.ChangeProfile(*user, change, request.client, token)));
    }
    if (part.size() == 1 && part[0] == "groups") {
        route("/api/v1/groups", {"GET", "POST"});
        if (method == "GET") return JsonAnswer(200, GroupsDocument(rules.store, *user, rules.clock()));
        Json body = Body(request, {"title"});
        std::int64_t id = rules.groups.Create(user->id, RequiredText(body, "title"));
        return JsonAnswer(201, {{"id", id}, {"title", rules.store.GetGroup(id)->title}});
    }
    if (part.size() == 2 && part[0] == "groups") {
        route("/api/v1/groups/{id}", {"PATCH", "DELETE"});
        std::int64_t id = Identifier(part[1]);
        if (method == "DELETE") {
            rules.groups.Remove(user->id, id);
            return NoContent();
        }
        Json body = Body(request, {"title"});
        rules.groups.Rename(user->id, id, RequiredText(body, "title"));
        return JsonAnswer(200, {{"id", id}, {"title", rules.store.GetGroup(id)->title}});
    }
    if (part.size() == 3 && part[0] == "groups" && part[2] == "invitations") {
        route("/api/v1/groups/{id}/invitations", {"POST"});
        std::string code = rules.groups.Invite(user->id, Identifier(part[1]));
        return JsonAnswer(201, {{"code", code},
                                {"url", SiteAddress(rules.store.Settings(), request.host) + "invitations/" + code}});
    }
    if (part.size() == 4 && part[0] == "groups" && part[2] == "members") {
        route("/api/v1/groups/{id}/members/{user_id}", {"DELETE"});
        rules.groups.RemoveMember(user->id, Identifier(part[1]), Identifier(part[3]));
        return NoContent();
    }
    if (part.size() == 3 && part[0] == "invitations" && part[2] == "accept") {
        route("/api/v1/invitations/{code}/accept", {"POST"});
        return JsonAnswer(200, {{"group_id", rules.groups.Accept(user->id, part[1])}});
    }
    if (part.size() == 1 && part[0] == "marks") {
        route("/api/v1/marks", {"GET"});
        return JsonAnswer(200, MarksDocument(rules.store, rules.marks.Of(user->id)));
    }
    if (part.size() == 2 && part[0] == "marks") {
        route("/api/v1/marks/{id}", {"DELETE"});
        rules.marks.Delete(user->id, Identifier(part[1]));
        return NoContent();
    }
    log.route = "/api/v1/?";
    throw ApiError{404, "Такого адреса в API нет"};
}

}  // namespace

WebAnswer JsonError(int status, const std::string& text) {
    return JsonAnswer(status, {{"error", text}});
}

WebAnswer HandleApi(Rules& rules, const WebRequest& request) {
    WebAnswer log;
    WebAnswer answer;
    try {
        answer = Route(rules, request, log);
    } catch (const ApiError& error) {
        answer = JsonError(error.status, error.text);
        if (error.status == 405) {
            answer.headers.emplace_back("Allow", error.text.substr(error.text.rfind(": ") + 2));
        }
    } catch (const Refusal& refusal) {
        answer = JsonError(StatusOf(refusal.kind()), refusal.what());
        if (refusal.kind() == RefusalKind::kThrottled) {
            answer.headers.emplace_back("Retry-After", std::to_string(refusal.retryAfter()));
        }
    }
    answer.user = log.user;
    answer.route = log.route;
    return answer;
}

}  // namespace pelmora
