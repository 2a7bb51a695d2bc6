// The web site's pages, in Russian, rendered on the server from the same rules as the JSON API.
// Forms carry a token bound to the session (or, before log-in, to a cookie of their own) and are
// refused when posted from another origin.
#include "server/web.h"

#include "server/passwords.h"
#include "server/places.h"
#include "server/text.h"

#include <nlohmann/json.hpp>

#include <ctime>
#include <map>

namespace pelmora {

namespace {

const char* const kSessionCookie = "pelmora_session";
const char* const kFormCookie = "pelmora_csrf";
const char* const kForeignFormText =
    "Запрос отклонён: форма отправлена не со страницы этого сайта. Откройте страницу заново и повторите.";

const char* const kVisibilityNames[] = {"Виден", "Виден группам", "Не виден", "Отключен"};
const char* const kPrivateTimeText = "Не показывать мое местоположение с 18:00 до 8:00 и в выходные дни";

std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string CookieValue(const std::string& header, const std::string& name) {
    std::size_t start = 0;
    while (start < header.size()) {
        std::size_t end = header.find(';', start);
        std::string pair = header.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::size_t first = pair.find_first_not_of(' ');
        std::size_t equals = pair.find('=');
        if (first != std::string::npos && equals != std::string::npos && pair.substr(first, equals - first) == name) {
            return pair.substr(equals + 1);
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return std::string();
}

// One visit of a page: who is signed in, the form token, what came with the request.
struct Visit {
    Rules& rules;
    const WebRequest& request;
    std::optional<User> user;
    std::string token;      // the session's, when signed in
    std::string formToken;  // what every form of the answer carries
    bool newFormCookie = false;
    FormFields form;   // the posted fields
    FormFields query;  // the address's fields
};

std::string Field(const FormFields& fields, const char* key) {
    const std::string* value = fields.Find(key);
    return value ? *value : std::string();
}

std::string HiddenToken(const Visit& visit) {
    return "<input type=\"hidden\" name=\"csrf\" value=\"" + Escape(visit.formToken) + "\">";
}

// A form that posts to `action` with one button; `confirm` asks first (site.js).
std::string ButtonForm(const Visit& visit, const std::string& action, const std::string& label,
                       const std::string& style, const std::string& confirm = std::string()) {
    std::string form = "<form method=\"post\" action=\"" + Escape(action) + "\" class=\"inline\"";
    if (!confirm.empty()) form += " data-confirm=\"" + Escape(confirm) + "\"";
    return form + ">" + HiddenToken(visit) + "<button type=\"submit\" class=\"" + style + "\">" + Escape(label) +
           "</button></form>";
}

std::string TileOrigin(const std::string& tiles) {
    std::size_t scheme = tiles.find("://");
    std::size_t end = tiles.find('/', scheme + 3);
    std::string origin = tiles.substr(0, end);
    std::size_t subdomain = origin.find("{s}");
    if (subdomain != std::string::npos) origin.replace(subdomain, 3, "*");
    return origin;
}

struct PageOptions {
    std::string extraHead;
    std::string scripts;
    bool wide = false;  // the map uses the whole width
};

WebAnswer Page(const Visit& visit, int status, const std::string& title, const std::string& content,
               const PageOptions& options = PageOptions()) {
    std::string nav;
    if (visit.user) {
        auto link = [&](const char* path, const char* text) {
            bool here = visit.request.path == path || (std::string(path) == "/groups" &&
                                                        visit.request.path.rfind("/groups/", 0) == 0);
            return std::string("<a href=\"") + path + "\"" + (here ? " aria-current=\"page\"" : "") + ">" + text +
                   "</a>";
        };
        nav = link("/groups", "Мои группы") + link("/map", "Карта") + link("/marks", "Мои метки") +
              link("/account", "Учётная запись") + ButtonForm(visit, "/logout", "Выйти", "link");
    } else {
        nav = "<a href=\"/login\">Войти</a><a href=\"/signup\">Регистрация</a>";
    }
    WebAnswer answer;
    answer.status = status;
    answer.contentType = "text/html; charset=utf-8";
    answer.body =
        "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>" + Escape(title) + " — Pelmora</title>"
        "<link rel=\"icon\" href=\"/static/icon.svg\" type=\"image/svg+xml\">"
        "<link rel=\"stylesheet\" href=\"/static/site.css\">" + options.extraHead +
        "</head>\n<body><header class=\"top\"><a class=\"brand\" href=\"/\"><img src=\"/static/icon.svg\" alt=\"\" "
        "width=\"28\" height=\"28\">Pelmora</a><nav>" + nav + "</nav></header>\n<main" +
        (options.wide ? " class=\"wide\"" : "") + ">" + content +
        "</main>\n<footer>Pelmora — где свои, без GPS</footer><script src=\"/static/site.js\"></script>" +
        options.scripts + "</body></html>\n";
    std::string tiles = TileOrigin(visit.rules.store.Settings().mapTiles);
    answer.headers = {
        {"Content-Security-Policy", "default-src 'self'; img-src 'self' data: " + tiles +
                                        "; object-src 'none'; base-uri 'none'; form-action 'self'; "
                                        "frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "same-origin"},
        {"Cache-Control", "no-store"},
    };
    if (visit.newFormCookie) {
        answer.headers.emplace_back("Set-Cookie", std::string(kFormCookie) + "=" + visit.formToken +
                                                      "; Path=/; HttpOnly; SameSite=Strict");
    }
    if (visit.user) answer.user = visit.user->email;
    return answer;
}

WebAnswer Redirect(const Visit& visit, const std::string& location) {
    WebAnswer answer;
    answer.status = 303;
    answer.headers.emplace_back("Location", location);
    answer.headers.emplace_back("Cache-Control", "no-store");
    if (visit.user) answer.user = visit.user->email;
    return answer;
}

std::string SessionCookie(const Visit& visit, const std::string& token) {
    bool secure = visit.rules.store.Settings().siteAddress.rfind("https://", 0) == 0;
    return std::string(kSessionCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Lax" + (secure ? "; Secure" : "");
}

std::string Message(const std::string& text, const char* style = "notice") {
    if (text.empty()) return std::string();
    return std::string("<p class=\"") + style + "\" role=\"" + (std::string(style) == "error" ? "alert" : "status") +
           "\">" + Escape(text) + "</p>";
}

// What a page says after an action redirected to it (?done=…).
std::string DoneMessage(const Visit& visit) {
    static const std::map<std::string, const char*> texts = {
        {"created", "Группа создана"},        {"renamed", "Группа переименована"},
        {"deleted", "Группа удалена"},         {"removed", "Участник удалён из группы"},
        {"left", "Вы вышли из группы"},       {"joined", "Вы вступили в группу"},
        {"saved", "Настройки сохранены"},     {"password", "Пароль изменён"},
        {"mark", "Метка удалена"},            {"welcome", "Добро пожаловать в Pelmora!"},
    };
    auto found = texts.find(Field(visit.query, "done"));
    return found == texts.end() ? std::string() : Message(found->second);
}

// A local path to go to after log-in; anything else goes to the groups.
std::string LocalPath(const std::string& next) {
    bool local = next.size() > 1 && next[0] == '/' && next[1] != '/' && next.find('\\') == std::string::npos &&
                 next.find_first_of("\r\n") == std::string::npos;
    return local ? next : "/groups";
}

std::string PercentEncode(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string Ago(std::int64_t when, std::int64_t now) {
    std::int64_t seconds = now - when;
    if (seconds < 60) return "только что";
    if (seconds < 3600) return std::to_string(seconds / 60) + " мин назад";
    if (seconds < 86400) return std::to_string(seconds / 3600) + " ч назад";
    return FormatTime(when, "%d.%m.%Y %H:%M", true);
}

// ---- Forms of the visitor's own ----

std::string EmailField(const std::string& value) {
    return "<label>Электронная почта<input type=\"email\" name=\"email\" autocomplete=\"email\" required "
           "maxlength=\"254\" value=\"" + Escape(value) + "\"></label>";
}

std::string SignUpForm(const Visit& visit, const std::string& invitation) {
    return "<form method=\"post\" action=\"/signup\" class=\"card form\">" + HiddenToken(visit) +
           (invitation.empty() ? std::string()
                               : "<input type=\"hidden\" name=\"invitation\" value=\"" + Escape(invitation) + "\">") +
           EmailField(Field(visit.form, "email")) +
           "<label>Имя<input type=\"text\" name=\"name\" autocomplete=\"name\" required maxlength=\"100\" value=\"" +
           Escape(Field(visit.form, "name")) + "\"></label>"
           "<label>Пароль<input type=\"password\" name=\"password\" autocomplete=\"new-password\" required "
           "minlength=\"6\" maxlength=\"128\"></label>"
           "<label>Пароль ещё раз<input type=\"password\" name=\"password2\" autocomplete=\"new-password\" required "
           "minlength=\"6\" maxlength=\"128\"></label>"
           "<p class=\"hint\">Не короче 6 символов: русские и латинские буквы, цифры, знаки — всё, что можно набрать "
           "на телефоне. Этим же паролем вы войдёте в программу Pelmora на телефоне.</p>"
           "<button type=\"submit\">Зарегистрироваться</button></form>";
}

std::string LogInForm(const Visit& visit, const std::string& next) {
    return "<form method=\"post\" action=\"/login\" class=\"card form\">" + HiddenToken(visit) +
           "<input type=\"hidden\" name=\"next\" value=\"" + Escape(next) + "\">" + EmailField(Field(visit.form, "email")) +
           "<label>Пароль<input type=\"password\" name=\"password\" autocomplete=\"current-password\" required "
           "maxlength=\"128\"></label><button type=\"submit\">Войти</button></form>";
}

// ---- Pages ----

WebAnswer Landing(Visit& visit) {
    std::string content =
        "<section class=\"hero\"><h1>Где свои — видно сразу</h1>"
        "<p>Pelmora показывает близких на карте и в списке: телефон узнаёт место по сотовой сети, без GPS. "
        "Собирайте свои группы — семью, друзей, коллег — и решайте сами, кто вас видит и когда.</p>"
        "<p class=\"actions\"><a class=\"button\" href=\"/signup\">Зарегистрироваться</a>"
        "<a class=\"button secondary\" href=\"/login\">Войти</a></p></section>"
        "<section class=\"features\">"
        "<div class=\"card\"><h2>Свои группы</h2><p>Создайте группу и пригласите людей ссылкой: по ней "
        "вступит один человек в течение недели.</p></div>"
        "<div class=\"card\"><h2>Карта и список</h2><p>Где каждый, как далеко от вас и когда его видели в "
        "последний раз — на сайте и в программе на телефоне.</p></div>"
        "<div class=\"card\"><h2>Ваша видимость</h2><p>Видны всем, только группам или никому; личное время "
        "вечером и в выходные скрывает вас само.</p></div></section>";
    return Page(visit, 200, "Где свои", content);
}

WebAnswer SignUpPage(Visit& visit, int status, const std::string& error) {
    ServerSettings settings = visit.rules.store.Settings();
    std::string content = "<h1>Регистрация</h1>" + Message(error, "error");
    if (settings.registration == Registration::kClosed) {
        content += Message("Регистрация новых пользователей закрыта. Обратитесь к администратору сервиса.");
    } else if (settings.registration == Registration::kInvite) {
        content += Message("Зарегистрироваться можно только по приглашению: откройте ссылку, которую вам прислали.");
    } else {
        content += SignUpForm(visit, std::string()) +
                   "<p class=\"aside\">Уже есть учётная запись? <a href=\"/login\">Войдите</a>.</p>";
    }
    return Page(visit, status, "Регистрация", content);
}

WebAnswer LogInPage(Visit& visit, int status, const std::string& error) {
    std::string next = LocalPath(Field(visit.request.method == "POST" ? visit.form : visit.query, "next"));
    std::string content = "<h1>Вход</h1>" + Message(error, "error") + LogInForm(visit, next) +
                          "<p class=\"aside\">Нет учётной записи? <a href=\"/signup\">Зарегистрируйтесь</a>.</p>";
    return Page(visit, status, "Вход", content);
}

std::string PlaceCells(const PersonView& person, std::int64_t now) {
    if (!person.place) return "<td class=\"place hidden\" colspan=\"3\">Место скрыто</td>";
    std::string address = person.place->address.empty() ? "Место неизвестно" : person.place->address;
    return "<td class=\"place\">" + Escape(address) + "</td><td class=\"distance\">" +
           (person.place->distance ? Escape(*person.place->distance) + " км" : std::string("—")) +
           "</td><td class=\"seen\">" + Escape(Ago(person.place->updatedAt, now)) + "</td>";
}

std::string MemberTable(const Visit& visit, const GroupView& view, bool withActions) {
    std::int64_t now = visit.rules.clock();
    if (view.members.empty()) return "<p class=\"hint\">В группе пока только вы. Пригласите кого-нибудь.</p>";
    std::string rows;
    for (const PersonView& member : view.members) {
        rows += "<tr><td class=\"name\">" + Escape(member.name) +
                (view.group.ownerId == member.id ? " <span class=\"badge\">владелец</span>" : "") + "</td>" +
                PlaceCells(member, now);
        if (withActions) {
            rows += "<td class=\"actions\">" +
                    ButtonForm(visit,
                               "/groups/" + std::to_string(view.group.id) + "/members/" + std::to_string(member.id) +
                                   "/remove",
                               "Удалить", "small danger", "Удалить " + member.name + " из группы?") +
                    "</td>";
        }
        rows += "</tr>";
    }
    return "<table class=\"members\"><thead><tr><th>Кто</th><th>Где</th><th>Далеко</th><th>Когда</th>" +
           std::string(withActions ? "<th></th>" : "") + "</tr></thead><tbody>" + rows + "</tbody></table>";
}

std::string CreateGroupForm(const Visit& visit, const std::string& error) {
    return "<form method=\"post\" action=\"/groups\" class=\"card form\" id=\"new-group\"><h2>Новая группа</h2>" +
           Message(error, "error") + HiddenToken(visit) +
           "<label>Название<input type=\"text\" name=\"title\" required maxlength=\"100\" value=\"" +
           Escape(Field(visit.form, "title")) + "\"></label><button type=\"submit\">Создать группу</button></form>";
}

WebAnswer GroupsPage(Visit& visit, int status, const std::string& error) {
    std::vector<GroupView> views = SeeGroups(visit.rules.store, *visit.user, visit.rules.clock());
    std::string content = "<h1>Мои группы</h1>" + DoneMessage(visit);
    if (views.empty()) {
        content += "<p class=\"hint\">Вы пока не состоите ни в одной группе. Создайте свою или вступите по "
                   "приглашению.</p>";
    }
    for (const GroupView& view : views) {
        std::string id = std::to_string(view.group.id);
        content += "<section class=\"card group\"><h2><a href=\"/groups/" + id + "\">" + Escape(view.group.title) +
                   "</a> <span class=\"count\">" + std::to_string(view.group.memberCount) + " чел.</span>" +
                   (view.group.ownerId == visit.user->id ? " <span class=\"badge\">вы владелец</span>" : "") +
                   "</h2>" + MemberTable(visit, view, false) + "</section>";
    }
    content += CreateGroupForm(visit, error);
    return Page(visit, status, "Мои группы", content);
}

std::optional<GroupView> GroupOf(Visit& visit, std::int64_t groupId) {
    for (GroupView& view : SeeGroups(visit.rules.store, *visit.user, visit.rules.clock())) {
        if (view.group.id == groupId) return std::move(view);
    }
    return std::nullopt;
}

WebAnswer NotFoundPage(Visit& visit, const std::string& text) {
    return Page(visit, 404, "Не найдено", "<h1>Не найдено</h1>" + Message(text, "error") +
                                             "<p><a href=\"/groups\">К моим группам</a></p>");
}

WebAnswer GroupPage(Visit& visit, std::int64_t groupId, int status, const std::string& error,
                    const std::string& invitationUrl = std::string()) {
    std::optional<GroupView> view = GroupOf(visit, groupId);
    if (!view) return NotFoundPage(visit, "Такой группы нет среди ваших");
    bool owner = view->group.ownerId == visit.user->id;
    std::string base = "/groups/" + std::to_string(groupId);
    std::string content = "<p class=\"crumbs\"><a href=\"/groups\">Мои группы</a></p><h1>" +
                          Escape(view->group.title) + "</h1>" + DoneMessage(visit) + Message(error, "error");
    std::string ownerName = "администратор сервиса";
    if (owner) {
        ownerName = "вы";
    } else if (view->group.ownerId) {
        std::optional<User> other = visit.rules.store.GetUser(*view->group.ownerId);
        if (other) ownerName = other->name.empty() ? other->email : other->name;
    }
    content += "<p class=\"hint\">Участников: " + std::to_string(view->group.memberCount) +
               ", вместе с вами. Владелец: " + Escape(ownerName) + ".</p>";
    content += "<section class=\"card\"><h2>Участники</h2>" + MemberTable(visit, *view, owner) + "</section>";
    if (owner) {
        std::string invitation;
        if (!invitationUrl.empty()) {
            invitation = "<div class=\"invitation\"><label>Ссылка-приглашение<input type=\"text\" readonly "
                         "id=\"invitation-link\" value=\"" + Escape(invitationUrl) +
                         "\"></label><button type=\"button\" class=\"secondary\" data-copy=\"invitation-link\">"
                         "Скопировать</button></div><p class=\"hint\">Отправьте её тому, кого приглашаете: по ней "
                         "вступит один человек в течение 7 дней.</p>";
        } else {
            invitation = "<p class=\"hint\">Ссылка-приглашение годится для одного человека и действует 7 дней.</p>";
        }
        content += "<section class=\"card\"><h2>Пригласить</h2>" + invitation +
                   ButtonForm(visit, base + "/invitations", invitationUrl.empty() ? "Создать приглашение"
                                                                                  : "Создать ещё одно",
                              invitationUrl.empty() ? "" : "secondary") +
                   "</section>";
        content += "<section class=\"card\"><h2>Название</h2><form method=\"post\" action=\"" + base +
                   "/rename\" class=\"form row\">" + HiddenToken(visit) +
                   "<label class=\"grow\">Новое название<input type=\"text\" name=\"title\" required maxlength=\"100\" "
                   "value=\"" + Escape(view->group.title) + "\"></label><button type=\"submit\">Переименовать</button>"
                   "</form></section>";
    }
    content += "<section class=\"card danger-zone\"><h2>" + std::string(owner ? "Выйти или удалить" : "Выйти") +
               "</h2>";
    content += "<p class=\"hint\">" +
               std::string(owner ? "Если вы выйдете, группу поведёт участник, вступивший раньше других. "
                                 : "") +
               "Ваши метки, показанные только этой группе, будут удалены.</p>";
    content += ButtonForm(visit, base + "/members/" + std::to_string(visit.user->id) + "/remove", "Выйти из группы",
                          "secondary", "Выйти из группы «" + view->group.title + "»?");
    if (owner) {
        content += ButtonForm(visit, base + "/delete", "Удалить группу", "danger",
                              "Удалить группу «" + view->group.title + "» для всех участников?");
    }
    content += "</section>";
    return Page(visit, status, view->group.title, content);
}

nlohmann::ordered_json MapDocument(Visit& visit) {
    PersonView self = SeeSelf(visit.rules.store, *visit.user);
    nlohmann::ordered_json me = nullptr;
    if (self.place && self.place->where) {
        me = {{"name", self.name},
              {"address", self.place->address},
              {"lat", self.place->where->lat},
              {"lon", self.place->where->lon}};
    }
    return {{"self", me}, {"groups", GroupsDocument(visit.rules.store, *visit.user, visit.rules.clock())}};
}

WebAnswer MapPage(Visit& visit) {
    std::string tiles = visit.rules.store.Settings().mapTiles;
    std::string data = MapDocument(visit).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    // Inside <script> a "</" would end the element early.
    std::string safe;
    for (char c : data) safe += c == '<' ? std::string("\\u003c") : std::string(1, c);

    std::int64_t now = visit.rules.clock();
    std::map<std::int64_t, bool> listed;
    std::string rows;
    for (const GroupView& view : SeeGroups(visit.rules.store, *visit.user, now)) {
        for (const PersonView& member : view.members) {
            if (listed[member.id]) continue;
            listed[member.id] = true;
            rows += "<tr data-person=\"" + std::to_string(member.id) + "\"><td class=\"name\">" + Escape(member.name) +
                    "</td>" + PlaceCells(member, now) + "</tr>";
        }
    }
    std::string content =
        "<h1>Карта</h1><div id=\"map\" class=\"map\" data-tiles=\"" + Escape(tiles) +
        "\" aria-label=\"Карта\"></div><p class=\"hint\" id=\"map-note\" hidden>Карта не загрузилась: ниже список "
        "тех, кого вы видите.</p><script type=\"application/json\" id=\"map-people\">" + safe + "</script>";
    content += rows.empty() ? "<p class=\"hint\">Здесь появятся участники ваших групп, которые вам видны.</p>"
                            : "<table class=\"members\" id=\"people\"><thead><tr><th>Кто</th><th>Где</th>"
                              "<th>Далеко</th><th>Когда</th></tr></thead><tbody>" + rows + "</tbody></table>";
    PageOptions options;
    options.extraHead = "<link rel=\"stylesheet\" href=\"/static/leaflet/leaflet.css\">";
    options.scripts = "<script src=\"/static/leaflet/leaflet.js\"></script><script src=\"/static/map.js\"></script>";
    options.wide = true;
    return Page(visit, 200, "Карта", content, options);
}

WebAnswer AccountPage(Visit& visit, int status, const std::string& error, const std::string& passwordError) {
    const User& user = *visit.user;
    std::string options;
    for (int state = kVisibleToAll; state <= kSwitchedOff; ++state) {
        options += "<option value=\"" + std::to_string(state) + "\"" + (user.visibility == state ? " selected" : "") +
                   ">" + kVisibilityNames[state] + "</option>";
    }
    std::string content =
        "<h1>Учётная запись</h1>" + DoneMessage(visit) +
        "<form method=\"post\" action=\"/account\" class=\"card form\"><h2>Профиль</h2>" + Message(error, "error") +
        HiddenToken(visit) + "<p class=\"hint\">Адрес: " + Escape(user.email) + "</p>"
        "<label>Имя<input type=\"text\" name=\"name\" required maxlength=\"100\" value=\"" + Escape(user.name) +
        "\"></label><label>Видимость<select name=\"visibility\">" + options + "</select></label>"
        "<label class=\"check\"><input type=\"checkbox\" name=\"private_time\" value=\"1\"" +
        (user.privateTime ? " checked" : "") + "> " + kPrivateTimeText +
        "</label><button type=\"submit\">Сохранить</button></form>"
        "<form method=\"post\" action=\"/account/password\" class=\"card form\"><h2>Пароль</h2>" +
        Message(passwordError, "error") + HiddenToken(visit) +
        "<label>Текущий пароль<input type=\"password\" name=\"current_password\" autocomplete=\"current-password\" "
        "required maxlength=\"128\"></label><label>Новый пароль<input type=\"password\" name=\"password\" "
        "autocomplete=\"new-password\" required minlength=\"6\" maxlength=\"128\"></label>"
        "<label>Новый пароль ещё раз<input type=\"password\" name=\"password2\" autocomplete=\"new-password\" "
        "required minlength=\"6\" maxlength=\"128\"></label><p class=\"hint\">Телефоны и другие браузеры, где вы "
        "вошли, попросят войти снова.</p><button type=\"submit\">Сменить пароль</button></form>";
    return Page(visit, status, "Учётная запись", content);
}

std::string Audience(Store& store, const Mark& mark) {
    switch (mark.scope) {
    case kScopeEverybody:
        return "Все";
    case kScopeMyGroups:
        return "Мои группы";
    case kScopeOneGroup: {
        std::optional<GroupSummary> group = mark.groupId ? store.GetGroup(*mark.groupId) : std::nullopt;
        return "Группа " + (group ? group->title : std::string("?"));
    }
    default:
        return "Только я";
    }
}

WebAnswer MarksPage(Visit& visit, int status, const std::string& error) {
    std::vector<Mark> marks = visit.rules.marks.Of(visit.user->id);
    std::string content = "<h1>Мои метки</h1>" + DoneMessage(visit) + Message(error, "error") +
                          "<p class=\"hint\">Метка — имя, которое вы дали месту. Её ставят в программе на телефоне, "
                          "там, где вы находитесь; здесь их можно посмотреть и удалить.</p>";
    if (marks.empty()) content += "<p class=\"hint\">Меток пока нет.</p>";
    std::int64_t mcc = visit.rules.store.Settings().mcc;
    for (const Mark& mark : marks) {
        std::optional<Cell> cell = visit.rules.store.FindCell(mcc, mark.cell);
        std::string cellAddress = !cell                  ? "неизвестная сота"
                                  : cell->address.empty() ? "адрес пока не известен"
                                                          : cell->address;
        std::string address = MarkAddress(mark);
        content += "<section class=\"card mark\"><h2>" + Escape(mark.title.empty() ? "Без названия" : mark.title) +
                   "</h2><dl><dt>Адрес</dt><dd>" +
                   Escape(address.empty() ? "—" : address) +
                   "</dd><dt>Сота</dt><dd>" + Escape(cellAddress) +
                   "</dd><dt>Кто видит</dt><dd>" + Escape(Audience(visit.rules.store, mark)) + "</dd>" +
                   (mark.tags.empty() ? std::string() : "<dt>Слова</dt><dd>" + Escape(mark.tags) + "</dd>") +
                   "<dt>Сохранена</dt><dd>" + Escape(Ago(mark.savedAt, visit.rules.clock())) + "</dd></dl>" +
                   ButtonForm(visit, "/marks/" + std::to_string(mark.id) + "/delete", "Удалить метку", "small danger",
                              "Удалить метку «" + mark.title + "»?") +
                   "</section>";
    }
    return Page(visit, status, "Мои метки", content);
}

WebAnswer InvitationPage(Visit& visit, const std::string& code, int status, const std::string& error) {
    Invitation invitation;
    try {
        invitation = UsableInvitation(visit.rules.store, code, visit.rules.clock());
    } catch (const Refusal& refusal) {
        return Page(visit, StatusOf(refusal.kind()), "Приглашение",
                    "<h1>Приглашение</h1>" + Message(refusal.what(), "error") +
                        "<p>Попросите пригласившего прислать новую ссылку.</p>");
    }
    std::optional<GroupSummary> group = visit.rules.store.GetGroup(invitation.groupId);
    std::optional<User> inviter =
        invitation.createdBy ? visit.rules.store.GetUser(*invitation.createdBy) : std::nullopt;
    std::string who = inviter ? (inviter->name.empty() ? inviter->email : inviter->name) : "Администратор";
    std::string content = "<h1>Приглашение в группу «" + Escape(group->title) + "»</h1><p class=\"lead\">" +
                          Escape(who) + " приглашает вас в группу «" + Escape(group->title) +
                          "»: вы будете видеть её участников, а они — вас, насколько вы им позволите.</p>" +
                          Message(error, "error");
    std::string path = "/invitations/" + code;
    if (visit.user) {
        if (visit.rules.store.IsMember(invitation.groupId, visit.user->id)) {
            content += "<p>Вы уже в этой группе. <a href=\"/groups/" + std::to_string(invitation.groupId) +
                       "\">Открыть группу</a></p>";
        } else {
            content += ButtonForm(visit, path + "/accept", "Вступить в группу", "");
        }
    } else {
        content += "<h2>Новая учётная запись</h2>" + SignUpForm(visit, code) +
                   "<p class=\"aside\">Уже есть учётная запись? <a href=\"/login?next=" + PercentEncode(path) +
                   "\">Войдите</a>, и вернётесь сюда.</p>";
    }
    return Page(visit, status, "Приглашение", content);
}

// ---- Actions ----

bool SameOrigin(const WebRequest& request) {
    if (request.origin.empty()) return true;
    return request.origin == "http://" + request.host || request.origin == "https://" + request.host;
}

WebAnswer Refused(Visit& visit) {
    return Page(visit, 403, "Запрос отклонён", "<h1>Запрос отклонён</h1>" + Message(kForeignFormText, "error"));
}

WebAnswer SignIn(Visit& visit, const Session& session, const std::string& next) {
    visit.user = session.user;
    WebAnswer answer = Redirect(visit, next);
    answer.headers.emplace_back("Set-Cookie", SessionCookie(visit, session.token));
    return answer;
}

WebAnswer PostSignUp(Visit& visit) {
    std::string invitation = Field(visit.form, "invitation");
    auto refuse = [&](int status, const std::string& error) {
        return invitation.empty() ? SignUpPage(visit, status, error)
                                  : InvitationPage(visit, invitation, status, error);
    };
    if (Field(visit.form, "password") != Field(visit.form, "password2")) return refuse(400, "Пароли не совпадают");
    try {
        User user = visit.rules.accounts.SignUp(
            {Field(visit.form, "email"), Field(visit.form, "password"), Field(visit.form, "name"), invitation});
        Session session = visit.rules.accounts.StartSession(user, "web");
        return SignIn(visit, session, "/groups?done=welcome");
    } catch (const Refusal& refusal) {
        return refuse(StatusOf(refusal.kind()), refusal.what());
    }
}

WebAnswer PostLogIn(Visit& visit) {
    try {
        Session session = visit.rules.accounts.LogInWithPassword(
            Field(visit.form, "email"), Field(visit.form, "password"), visit.request.client, "web");
        return SignIn(visit, session, LocalPath(Field(visit.form, "next")));
    } catch (const Refusal& refusal) {
        WebAnswer answer = LogInPage(visit, StatusOf(refusal.kind()), refusal.what());
        if (refusal.kind() == RefusalKind::kThrottled) {
            answer.headers.emplace_back("Retry-After", std::to_string(refusal.retryAfter()));
        }
        return answer;
    }
}

WebAnswer PostAccount(Visit& visit) {
    ProfileChange change;
    change.name = Field(visit.form, "name");
    std::optional<std::int64_t> visibility = ParseInteger(Field(visit.form, "visibility"));
    change.visibility = visibility && *visibility >= 0 && *visibility <= 3 ? static_cast<int>(*visibility) : -1;
    change.privateTime = Field(visit.form, "private_time") == "1" ? 1 : 0;
    try {
        visit.rules.accounts.ChangeProfile(*visit.user, change, visit.request.client, visit.token);
        return Redirect(visit, "/account?done=saved");
    } catch (const Refusal& refusal) {
        return AccountPage(visit, StatusOf(refusal.kind()), refusal.what(), std::string());
    }
}

WebAnswer PostPassword(Visit& visit) {
    if (Field(visit.form, "password") != Field(visit.form, "password2")) {
        return AccountPage(visit, 400, std::string(), "Новые пароли не совпадают");
    }
    ProfileChange change;
    change.password = Field(visit.form, "password");
    change.currentPassword = Field(visit.form, "current_password");
    try {
        visit.rules.accounts.ChangeProfile(*visit.user, change, visit.request.client, visit.token);
        return Redirect(visit, "/account?done=password");
    } catch (const Refusal& refusal) {
        WebAnswer answer = AccountPage(visit, StatusOf(refusal.kind()), std::string(), refusal.what());
        if (refusal.kind() == RefusalKind::kThrottled) {
            answer.headers.emplace_back("Retry-After", std::to_string(refusal.retryAfter()));
        }
        return answer;
    }
}

// The pages and actions of a signed-in user.
WebAnswer MemberRoute(Visit& visit, const std::vector<std::string>& part, WebAnswer& log) {
    const std::string& method = visit.request.method;
    bool post = method == "POST";
    Rules& rules = visit.rules;
    std::int64_t me = visit.user->id;
    if (part.size() == 1 && part[0] == "groups") {
        log.route = "/groups";
        if (!post) return GroupsPage(visit, 200, std::string());
        try {
            std::int64_t id = rules.groups.Create(me, Field(visit.form, "title"));
            return Redirect(visit, "/groups/" + std::to_string(id) + "?done=created");
        } catch (const Refusal& refusal) {
            return GroupsPage(visit, StatusOf(refusal.kind()), refusal.what());
        }
    }
    if (part.size() >= 2 && part[0] == "groups") {
        std::optional<std::int64_t> id = PositiveId(part[1]);
        if (!id) return NotFoundPage(visit, "Такой группы нет");
        std::string base = "/groups/" + std::to_string(*id);
        log.route = "/groups/{id}" + (part.size() > 2 ? "/" + part[2] : std::string());
        try {
            if (part.size() == 2 && !post) return GroupPage(visit, *id, 200, std::string());
            if (part.size() == 3 && post && part[2] == "rename") {
                rules.groups.Rename(me, *id, Field(visit.form, "title"));
                return Redirect(visit, base + "?done=renamed");
            }
            if (part.size() == 3 && post && part[2] == "delete") {
                rules.groups.Remove(me, *id);
                return Redirect(visit, "/groups?done=deleted");
            }
            if (part.size() == 3 && post && part[2] == "invitations") {
                std::string code = rules.groups.Invite(me, *id);
                return GroupPage(visit, *id, 201, std::string(),
                                 SiteAddress(rules.store.Settings(), visit.request.host) + "invitations/" + code);
            }
            std::optional<std::int64_t> member = part.size() == 5 ? PositiveId(part[3]) : std::nullopt;
            if (post && member && part[2] == "members" && part[4] == "remove") {
                rules.groups.RemoveMember(me, *id, *member);
                return Redirect(visit, *member == me ? "/groups?done=left" : base + "?done=removed");
            }
        } catch (const Refusal& refusal) {
            if (refusal.kind() == RefusalKind::kNotFound && !GroupOf(visit, *id)) return NotFoundPage(visit, refusal.what());
            return GroupPage(visit, *id, StatusOf(refusal.kind()), refusal.what());
        }
        return NotFoundPage(visit, "Такой страницы нет");
    }
    if (part.size() == 3 && part[0] == "invitations" && part[2] == "accept" && post) {
        log.route = "/invitations/{code}/accept";
        try {
            std::int64_t group = rules.groups.Accept(me, part[1]);
            return Redirect(visit, "/groups/" + std::to_string(group) + "?done=joined");
        } catch (const Refusal& refusal) {
            return InvitationPage(visit, part[1], StatusOf(refusal.kind()), refusal.what());
        }
    }
    if (part.size() == 1 && part[0] == "map" && !post) {
        log.route = "/map";
        return MapPage(visit);
    }
    if (part.size() == 1 && part[0] == "account") {
        log.route = "/account";
        return post ? PostAccount(visit) : AccountPage(visit, 200, std::string(), std::string());
    }
    if (part.size() == 2 && part[0] == "account" && part[1] == "password" && post) {
        log.route = "/account/password";
        return PostPassword(visit);
    }
    if (part.size() == 1 && part[0] == "marks" && !post) {
        log.route = "/marks";
        return MarksPage(visit, 200, std::string());
    }
    if (part.size() == 3 && part[0] == "marks" && part[2] == "delete" && post) {
        log.route = "/marks/{id}/delete";
        std::optional<std::int64_t> id = PositiveId(part[1]);
        try {
            rules.marks.Delete(me, id.value_or(0));
            return Redirect(visit, "/marks?done=mark");
        } catch (const Refusal& refusal) {
            return MarksPage(visit, StatusOf(refusal.kind()), refusal.what());
        }
    }
    return NotFoundPage(visit, "Такой страницы нет");
}

WebAnswer Route(Visit& visit, WebAnswer& log) {
    const WebRequest& request = visit.request;
    bool post = request.method == "POST";
    if (!post && request.method != "GET" && request.method != "HEAD") {
        WebAnswer answer = Page(visit, 405, "Недопустимый запрос", "<h1>Недопустимый запрос</h1>");
        answer.headers.emplace_back("Allow", "GET, HEAD, POST");
        return answer;
    }
    if (post && (!SameOrigin(request) || visit.formToken.empty() || Field(visit.form, "csrf") != visit.formToken)) {
        log.route = "form from elsewhere";
        return Refused(visit);
    }
    std::vector<std::string> part = PathParts(request.path, 1);
    if (request.path == "/") {
        log.route = "/";
        return visit.user ? Redirect(visit, "/groups") : Landing(visit);
    }
    if (request.path == "/signup") {
        log.route = "/signup";
        if (visit.user && !post) return Redirect(visit, "/groups");
        return post ? PostSignUp(visit) : SignUpPage(visit, 200, std::string());
    }
    if (request.path == "/login") {
        log.route = "/login";
        if (visit.user && !post) return Redirect(visit, LocalPath(Field(visit.query, "next")));
        return post ? PostLogIn(visit) : LogInPage(visit, 200, std::string());
    }
    if (request.path == "/logout" && post) {
        log.route = "/logout";
        if (!visit.token.empty()) visit.rules.accounts.LogOut(visit.token);
        WebAnswer answer = Redirect(visit, "/");
        answer.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
        return answer;
    }
    if (part.size() == 2 && part[0] == "invitations" && !post) {
        log.route = "/invitations/{code}";
        return InvitationPage(visit, part[1], 200, std::string());
    }
    if (!visit.user) {
        log.route = "sign in first";
        return Redirect(visit, "/login?next=" + PercentEncode(post ? std::string("/groups") : request.path));
    }
    return MemberRoute(visit, part, log);
}

}  // namespace

WebAnswer HandlePage(Rules& rules, const WebRequest& request) {
    Visit visit{rules, request, std::nullopt, std::string(), std::string(), false, FormFields(),
                FormFields::Parse(request.query)};
    if (request.method == "POST") visit.form = FormFields::Parse(request.body);
    std::string token = CookieValue(request.cookies, kSessionCookie);
    visit.user = rules.accounts.Authenticate(token);
    if (visit.user) {
        visit.token = token;
        visit.formToken = Sha256Hex("form:" + token);
    } else {
        visit.formToken = CookieValue(request.cookies, kFormCookie);
        if (visit.formToken.size() != 32 && request.method != "POST") {
            visit.formToken = RandomHex(16);
            visit.newFormCookie = true;
        }
    }
    WebAnswer log;
    WebAnswer answer = Route(visit, log);
    answer.route = log.route.empty() ? "page" : log.route;
    return answer;
}

}  // namespace pelmora
