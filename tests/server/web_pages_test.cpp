// The pages over HTTP: what each shows a visitor and a member, the session cookie, and forms that
// are refused unless they come from this site's own pages.
#include "server/admin.h"
#include "server/text.h"

#include "server_fixture.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace pelmora {
namespace {

using testing::HttpReply;

class WebPagesTest : public testing::EngineTest {
protected:
    void SetUp() override {
        StartServer();
        std::ostringstream out;
        RunAdminCommand(*rules_, {"user", "add", "anna@example.org", "пароль1", "Анна"}, out);
        RunAdminCommand(*rules_, {"user", "add", "boris@example.org", "secret", "Борис"}, out);
        RunAdminCommand(*rules_, {"group", "add", "Семья", "anna@example.org"}, out);
        RunAdminCommand(*rules_, {"group", "member", "Семья", "boris@example.org"}, out);
        AddCell(7701, 1, 55.7558, 37.6136, "Москва, Манежная площадь, 1");
    }

    static std::string CookieOf(const HttpReply& reply, const std::string& name) {
        std::smatch match;
        std::string cookies = reply.headers.count("set-cookie") ? reply.headers.at("set-cookie") : "";
        if (!std::regex_search(cookies, match, std::regex(name + "=([0-9a-f]*);"))) return std::string();
        return match[1];
    }
    static std::string FormToken(const HttpReply& reply) {
        std::smatch match;
        if (!std::regex_search(reply.body, match, std::regex("name=\"csrf\" value=\"([0-9a-f]+)\""))) return "";
        return match[1];
    }
    HttpReply Post(const std::string& path, const std::string& form, const std::string& cookies,
                   const std::string& origin = "http://localhost:8080") {
        std::string headers = "Content-Type: application/x-www-form-urlencoded\r\n";
        if (!cookies.empty()) headers += "Cookie: " + cookies + "\r\n";
        if (!origin.empty()) headers += "Origin: " + origin + "\r\n";
        std::string request = "POST " + path + " HTTP/1.1\r\nHost: localhost:8080\r\nConnection: close\r\n" +
                              headers + "Content-Length: " + std::to_string(form.size()) + "\r\n\r\n" + form;
        return testing::ParseHttp(testing::Exchange(port_, request));
    }
    HttpReply Get(const std::string& path, const std::string& cookies = std::string()) {
        return Web("GET", path, "", "", cookies.empty() ? "" : "Cookie: " + cookies + "\r\n");
    }
    // Logs in through the log-in form as a browser would; the cookies to send from then on.
    std::string LogIn(const std::string& email, const std::string& password) {
        HttpReply page = Get("/login");
        std::string form = CookieOf(page, "pelmora_csrf");
        HttpReply done = Post("/login", "csrf=" + FormToken(page) + "&email=" + email + "&password=" + password +
                                            "&next=/map", "pelmora_csrf=" + form);
        EXPECT_EQ(done.status, 303) << done.body;
        return "pelmora_session=" + CookieOf(done, "pelmora_session");
    }
};

TEST_P(WebPagesTest, AdministratorsAccountLogsInOnTheWebWithAnHttpOnlySameSiteCookie) {
    HttpReply page = Get("/login");
    EXPECT_EQ(page.status, 200);
    std::string form = CookieOf(page, "pelmora_csrf");
    ASSERT_EQ(form.size(), 32u);
    EXPECT_NE(page.headers["set-cookie"].find("HttpOnly; SameSite=Strict"), std::string::npos);
    EXPECT_EQ(FormToken(page), form);
    EXPECT_NE(page.headers["content-security-policy"].find("default-src 'self'"), std::string::npos);

    // "пароль1" typed in UTF-8 and percent-encoded as a browser sends it.
    std::string password = "%D0%BF%D0%B0%D1%80%D0%BE%D0%BB%D1%8C1";
    HttpReply wrong = Post("/login", "csrf=" + form + "&email=anna%40example.org&password=nope", "pelmora_csrf=" + form);
    EXPECT_EQ(wrong.status, 401);
    EXPECT_NE(wrong.body.find("Неверный адрес электронной почты или пароль"), std::string::npos);
    EXPECT_EQ(CookieOf(wrong, "pelmora_session"), "");
    HttpReply done = Post("/login", "csrf=" + form + "&email=anna%40example.org&password=" + password + "&next=%2Fmap",
                          "pelmora_csrf=" + form);
    EXPECT_EQ(done.status, 303);
    EXPECT_EQ(done.headers["location"], "/map");
    EXPECT_NE(done.headers["set-cookie"].find("; Path=/; HttpOnly; SameSite=Lax"), std::string::npos);
    std::string session = CookieOf(done, "pelmora_session");
    EXPECT_EQ(rules_->accounts.Authenticate(session)->email, "anna@example.org");
    HttpReply away = Post("/login", "csrf=" + form + "&email=anna%40example.org&password=" + password +
                                        "&next=%2F%2Fevil.example.org", "pelmora_csrf=" + form);
    EXPECT_EQ(away.headers["location"], "/groups") << "never to another site after the log-in";
}

TEST_P(WebPagesTest, FormsFromAnotherOriginOrWithoutTheirTokenAreRefused) {
    std::string cookies = LogIn("anna%40example.org", "%D0%BF%D0%B0%D1%80%D0%BE%D0%BB%D1%8C1");
    std::string token = FormToken(Get("/groups", cookies));
    ASSERT_EQ(token.size(), 64u);
    struct Case {
        std::string form;
        std::string origin;
        int status;
    };
    const Case cases[] = {
        {"title=Чужие&csrf=" + token, "http://evil.example.org", 403},
        {"title=Чужие&csrf=" + token, "null", 403},
        {"title=Чужие", "http://localhost:8080", 403},
        {"title=Чужие&csrf=" + std::string(64, '0'), "", 403},
        {"title=Свои&csrf=" + token, "http://localhost:8080", 303},
        {"title=Ещё&csrf=" + token, "", 303},
    };
    for (const Case& c : cases) {
        HttpReply reply = Post("/groups", c.form, cookies, c.origin);
        EXPECT_EQ(reply.status, c.status) << c.form << " from " << c.origin;
        if (c.status == 403) {
            EXPECT_NE(reply.body.find("Запрос отклонён"), std::string::npos);
        }
    }
    std::vector<std::string> titles;
    for (const GroupSummary& group : store_->GroupsOf(store_->FindUser("anna@example.org")->id)) {
        titles.push_back(group.title);
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"Семья", "Свои", "Ещё"}));
}

TEST_P(WebPagesTest, EveryPageShowsItsOwnThingsInRussian) {
    std::string anna = LogIn("anna%40example.org", "%D0%BF%D0%B0%D1%80%D0%BE%D0%BB%D1%8C1");
    std::string boris = LogIn("boris%40example.org", "secret");
    std::string family = std::to_string(store_->FindGroups("Семья")[0].id);
    CellKey cells[3] = {{1, 7701, 1}, {1, 7701, 1}, {1, 7701, 1}};
    store_->RecordReport(store_->FindUser("boris@example.org")->id, kDefaultCountryCode, cells, 0, now_);
    std::string code = rules_->groups.Invite(std::nullopt, std::stoll(family));
    struct Case {
        std::string path;
        std::string cookies;
        int status;
        const char* shows;
    };
    const Case cases[] = {
        {"/", "", 200, "Зарегистрироваться"},
        {"/", anna, 303, ""},
        {"/signup", "", 200, "Пароль ещё раз"},
        {"/login", "", 200, "<h1>Вход</h1>"},
        {"/groups", "", 303, ""},
        {"/groups", anna, 200, "Москва, Манежная площадь, 1"},
        {"/groups/" + family, anna, 200, "Создать приглашение"},
        {"/groups/" + family, boris, 200, "Выйти из группы"},
        {"/groups/999", anna, 404, "Такой группы нет среди ваших"},
        {"/map", anna, 200, "\"name\":\"Борис\",\"address\":\"Москва, Манежная площадь, 1\",\"lat\":55.7558"},
        {"/account", anna, 200, "Не показывать мое местоположение с 18:00 до 8:00 и в выходные дни"},
        {"/marks", anna, 200, "Меток пока нет"},
        {"/invitations/" + code, "", 200, "Приглашение в группу «Семья»"},
        {"/invitations/" + std::string(32, '0'), "", 404, "Приглашение не найдено"},
        {"/nowhere", anna, 404, "Такой страницы нет"},
        {"/static/site.css", "", 200, "@media (max-width: 640px)"},
        {"/static/map.js", "", 200, "L.circleMarker"},
        {"/static/leaflet/leaflet.js", "", 200, "Leaflet"},
        {"/static/leaflet/../../../etc/passwd", "", 404, "Файл не найден"},
    };
    for (const Case& c : cases) {
        HttpReply reply = Get(c.path, c.cookies);
        EXPECT_EQ(reply.status, c.status) << c.path;
        EXPECT_NE(reply.body.find(c.shows), std::string::npos) << c.path << "\n" << reply.body.substr(0, 3000);
    }
    EXPECT_EQ(Get("/groups").headers["location"], "/login?next=/groups");
}

TEST_P(WebPagesTest, AnInvitationPageSignsUpAndJoinsInOneStep) {
    std::int64_t family = store_->FindGroups("Семья")[0].id;
    std::string code = rules_->groups.Invite(store_->FindUser("anna@example.org")->id, family);
    HttpReply page = Get("/invitations/" + code);
    EXPECT_NE(page.body.find("Анна приглашает вас"), std::string::npos);
    std::string form = CookieOf(page, "pelmora_csrf");
    std::string fields = "csrf=" + form + "&invitation=" + code +
                         "&email=vera%40example.org&name=%D0%92%D0%B5%D1%80%D0%B0&password=secret&password2=";
    HttpReply mismatch = Post("/signup", fields + "other", "pelmora_csrf=" + form);
    EXPECT_EQ(mismatch.status, 400);
    EXPECT_NE(mismatch.body.find("Пароли не совпадают"), std::string::npos);
    EXPECT_NE(mismatch.body.find("Приглашение в группу"), std::string::npos) << "the invitation page again";
    HttpReply joined = Post("/signup", fields + "secret", "pelmora_csrf=" + form);
    EXPECT_EQ(joined.status, 303);
    EXPECT_TRUE(store_->IsMember(family, store_->FindUser("vera@example.org")->id));
    HttpReply used = Get("/invitations/" + code);
    EXPECT_EQ(used.status, 410);
    EXPECT_NE(used.body.find("уже воспользовались"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Engines, WebPagesTest, testing::AllEngines(), testing::EngineName);

}  // namespace
}  // namespace pelmora
