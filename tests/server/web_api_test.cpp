// The JSON API's contract: every route's ordinary answer and each refusal, with its exact status,
// and every error as {"error": "…"} in Russian.
#include "server/passwords.h"
#include "server/text.h"

#include "server_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace pelmora {
namespace {

using Json = nlohmann::json;
using testing::HttpReply;

struct Call {
    const char* who;  // whose token: "anna", "boris" (member), "vera" (outsider), "" none, "bad"
    const char* method;
    std::string path;
    std::string body;
    int status;
    const char* expected;  // a piece of the answer's body
};

class WebApiTest : public testing::EngineTest {
protected:
    void SetUp() override {
        StartServer();
        anna_ = SignUp("anna@example.org", "secret1", "Анна");
        boris_ = SignUp("boris@example.org", "secret2", "Борис");
        vera_ = SignUp("vera@example.org", "secret3", "Вера");
        tokens_["anna"] = ApiToken("anna@example.org", "secret1");
        tokens_["boris"] = ApiToken("boris@example.org", "secret2");
        tokens_["vera"] = ApiToken("vera@example.org", "secret3");
        tokens_["bad"] = std::string(32, 'f');
        HttpReply made = Web("POST", "/api/v1/groups", R"({"title": "Семья"})", tokens_["anna"]);
        family_ = Json::parse(made.body)["id"].get<std::int64_t>();
        rules_->groups.AddMember(family_, boris_);
    }

    HttpReply Do(const Call& call) { return Web(call.method, call.path, call.body, tokens_[call.who]); }

    // Runs the calls in order, each against the state the ones before left.
    void RunTable(const std::vector<Call>& calls) {
        for (const Call& call : calls) {
            HttpReply reply = Do(call);
            std::string what = std::string(call.who) + " " + call.method + " " + call.path + " " + call.body;
            EXPECT_EQ(reply.status, call.status) << what << "\n" << reply.body;
            EXPECT_NE(reply.body.find(call.expected), std::string::npos) << what << "\n" << reply.body;
            if (call.status >= 400) {
                EXPECT_EQ(reply.headers["content-type"], "application/json; charset=utf-8") << what;
                Json error = Json::parse(reply.body, nullptr, false);
                ASSERT_TRUE(error.is_object() && error.contains("error") && error.size() == 1) << what << reply.body;
                // Russian: the text has Cyrillic letters (two-byte UTF-8 from 0xD0/0xD1).
                std::string text = error["error"].get<std::string>();
                EXPECT_NE(text.find_first_of("\xD0\xD1"), std::string::npos) << text;
            }
        }
    }

    std::string Group(const char* suffix = "") { return "/api/v1/groups/" + std::to_string(family_) + suffix; }

    std::int64_t anna_ = 0;
    std::int64_t boris_ = 0;
    std::int64_t vera_ = 0;
    std::int64_t family_ = 0;
    std::map<std::string, std::string> tokens_;
};

TEST_P(WebApiTest, AccountsAreMadeOnlyWithSoundAddressesPasswordsAndNames) {
    std::string longName(101 * 2, '\0');
    for (std::size_t i = 0; i < longName.size(); i += 2) longName.replace(i, 2, "я");
    RunTable({
        {"", "POST", "/api/v1/accounts", R"({"email": "Gleb@Example.org", "password": "пароль1", "name": "Глеб"})",
         201, R"("email":"gleb@example.org","name":"Глеб")"},
        {"", "POST", "/api/v1/accounts", R"({"email": "gleb@example.org", "password": "другой1", "name": "Глеб"})",
         409, "уже зарегистрирован"},
        {"", "POST", "/api/v1/accounts", R"({"email": "gleb.example.org", "password": "secret", "name": "Г"})", 400,
         "адрес"},
        {"", "POST", "/api/v1/accounts", R"({"email": "g@localhost", "password": "secret", "name": "Г"})", 400, "адрес"},
        {"", "POST", "/api/v1/accounts", R"({"email": "g1@example.org", "password": "five5", "name": "Г"})", 400,
         "не короче 6"},
        {"", "POST", "/api/v1/accounts", R"({"email": "g2@example.org", "password": "密码密码密码", "name": "Г"})", 400,
         "телефоне"},
        {"", "POST", "/api/v1/accounts", R"({"email": "g3@example.org", "password": "secret", "name": "  "})", 400,
         "Укажите имя"},
        {"", "POST", "/api/v1/accounts", R"({"email": "g4@example.org", "password": "secret", "name": ")" + longName + "\"}",
         400, "не длиннее 100"},
        {"", "POST", "/api/v1/accounts", R"({"email": "g5@example.org", "password": "secret"})", 400, "Нет поля «name»"},
        {"", "POST", "/api/v1/accounts", R"({"email": 5, "password": "secret", "name": "Г"})", 400, "строкой"},
        {"", "POST", "/api/v1/accounts", R"({"email": "g6@example.org", "password": "secret", "name": "Г", "x": 1})",
         400, "Неизвестное поле"},
        {"", "POST", "/api/v1/accounts", R"({"email": "g7@example.org", )", 400, "JSON"},
        {"", "POST", "/api/v1/accounts", R"(["g8@example.org"])", 400, "объектом"},
        {"", "POST", "/api/v1/accounts", R"({"name": ")" + std::string(70 * 1024, 'x') + "\"}", 413, "64 КиБ"},
        {"", "GET", "/api/v1/accounts", "", 405, "POST"},
    });
    EXPECT_EQ(store_->ListUsers().size(), 4u);
    // The password the web took is the one the phone hashes: MD5 of its Windows-1251 bytes.
    EXPECT_TRUE(VerifyPassword(store_->FindUser("gleb@example.org")->passwordHash, Md5Hex(*Utf8ToCp1251("пароль1"))));
}

TEST_P(WebApiTest, RegistrationSettingDecidesWhoMaySignUp) {
    std::string code =
        Json::parse(Web("POST", Group("/invitations"), "", tokens_["anna"]).body)["code"].get<std::string>();
    auto body = [](const std::string& email, const std::string& invitation) {
        return R"({"email": ")" + email + R"(", "password": "secret", "name": "Новый")" +
               (invitation.empty() ? std::string() : R"(, "invitation": ")" + invitation + "\"") + "}";
    };
    store_->SetSetting("registration", "invite");
    RunTable({
        {"", "POST", "/api/v1/accounts", body("n1@example.org", ""), 403, "только по приглашению"},
        {"", "POST", "/api/v1/accounts", body("n1@example.org", std::string(32, '0')), 404, "не найдено"},
        {"", "POST", "/api/v1/accounts", body("n1@example.org", code), 201, "n1@example.org"},
        {"", "POST", "/api/v1/accounts", body("n2@example.org", code), 410, "уже воспользовались"},
    });
    EXPECT_TRUE(store_->IsMember(family_, store_->FindUser("n1@example.org")->id));
    store_->SetSetting("registration", "closed");
    RunTable({{"", "POST", "/api/v1/accounts", body("n3@example.org", ""), 403, "закрыта"}});
    store_->SetSetting("registration", "open");
    RunTable({{"", "POST", "/api/v1/accounts", body("n4@example.org", ""), 201, "n4@example.org"}});
}

TEST_P(WebApiTest, SessionsOpenWithTheRightPasswordAndEndOnRequest) {
    std::string annaToken = tokens_["anna"];
    RunTable({
        {"", "POST", "/api/v1/sessions", R"({"email": "ANNA@example.org", "password": "secret1"})", 201, "\"token\""},
        {"", "POST", "/api/v1/sessions", R"({"email": "anna@example.org", "password": "secret2"})", 401,
         "Неверный адрес электронной почты или пароль"},
        {"", "POST", "/api/v1/sessions", R"({"email": "nobody@example.org", "password": "secret1"})", 401,
         "Неверный адрес электронной почты или пароль"},
        {"", "POST", "/api/v1/sessions", R"({"email": "anna@example.org"})", 400, "password"},
        {"", "GET", "/api/v1/me", "", 401, "Требуется вход"},
        {"bad", "GET", "/api/v1/me", "", 401, "Требуется вход"},
        {"anna", "DELETE", "/api/v1/sessions/current", "", 204, ""},
        {"anna", "GET", "/api/v1/me", "", 401, "Требуется вход"},
        {"anna", "DELETE", "/api/v1/sessions/current", "", 401, "Требуется вход"},
        {"boris", "GET", "/api/v1/nothing", "", 404, "нет"},
        {"boris", "PUT", "/api/v1/me", "", 405, "GET, PATCH"},
    });
    store_->SetSetting("token_lifetime", "600");
    now_ += 601;
    RunTable({{"boris", "GET", "/api/v1/me", "", 401, "Требуется вход"}});
}

TEST_P(WebApiTest, MeShowsAndChangesTheAccount) {
    std::string other = ApiToken("anna@example.org", "secret1");
    RunTable({
        {"anna", "GET", "/api/v1/me", "", 200,
         (R"({"id":)" + std::to_string(anna_) + R"(,"email":"anna@example.org","name":"Анна","visibility":0,"private_time":0})").c_str()},
        {"anna", "PATCH", "/api/v1/me", R"({"name": "Анна К.", "visibility": 1, "private_time": 1})", 200,
         R"("name":"Анна К.","visibility":1,"private_time":1)"},
        {"anna", "PATCH", "/api/v1/me", R"({"visibility": 4})", 400, "от 0 до 3"},
        {"anna", "PATCH", "/api/v1/me", R"({"private_time": 2})", 400, "0 или 1"},
        {"anna", "PATCH", "/api/v1/me", R"({"visibility": "1"})", 400, "целым числом"},
        {"anna", "PATCH", "/api/v1/me", R"({"password": "newpass"})", 400, "текущий пароль"},
        {"anna", "PATCH", "/api/v1/me", R"({"password": "newpass", "current_password": "wrong1", "name": "X"})", 403,
         "неверно"},
        {"anna", "PATCH", "/api/v1/me", R"({"password": "short", "current_password": "secret1"})", 400, "не короче 6"},
        {"anna", "PATCH", "/api/v1/me", R"({"password": "новый-пароль", "current_password": "secret1"})", 200,
         R"("name":"Анна К.")"},
        {"anna", "GET", "/api/v1/me", "", 200, R"("visibility":1)"},
    });
    EXPECT_EQ(store_->GetUser(anna_)->name, "Анна К.") << "a refused change changes nothing";
    // The session that changed the password stays; the others end.
    EXPECT_EQ(Web("GET", "/api/v1/me", "", other).status, 401);
    EXPECT_EQ(Web("POST", "/api/v1/sessions", R"({"email": "anna@example.org", "password": "новый-пароль"})").status, 201);
}

TEST_P(WebApiTest, GroupsAreRunByTheirOwners) {
    std::string family = std::to_string(family_);
    RunTable({
        {"anna", "POST", "/api/v1/groups", R"({"title": "Семья"})", 409, "уже есть"},
        {"boris", "POST", "/api/v1/groups", R"({"title": "Семья"})", 201, R"("title":"Семья")"},
        {"anna", "POST", "/api/v1/groups", R"({"title": " "})", 400, "название"},
        {"anna", "GET", "/api/v1/groups", "", 200, (R"([{"id":)" + family + R"(,"title":"Семья","owner":)" + std::to_string(anna_)).c_str()},
        {"boris", "PATCH", Group(), R"({"title": "Наша семья"})", 403, "только владелец"},
        {"vera", "PATCH", Group(), R"({"title": "Чужая"})", 403, "только владелец"},
        {"anna", "PATCH", "/api/v1/groups/999", R"({"title": "Нет"})", 404, "не найдена"},
        {"anna", "PATCH", "/api/v1/groups/x", R"({"title": "Нет"})", 404, "Не найдено"},
        {"anna", "PATCH", Group(), R"({"title": "Наша семья"})", 200, R"("title":"Наша семья")"},
        {"vera", "GET", "/api/v1/groups", "", 200, "[]"},
        {"boris", "DELETE", Group(), "", 403, "только владелец"},
        {"vera", "DELETE", Group(), "", 403, "только владелец"},
        {"anna", "DELETE", Group(), "", 204, ""},
        {"anna", "DELETE", Group(), "", 404, "не найдена"},
        {"anna", "GET", "/api/v1/groups", "", 200, "[]"},
    });
    EXPECT_EQ(store_->GroupsOf(boris_).size(), 1u) << "Борис keeps his own Семья";
}

TEST_P(WebApiTest, InvitationsLetOnePersonJoinWithinSevenDays) {
    HttpReply made = Web("POST", Group("/invitations"), "", tokens_["anna"]);
    ASSERT_EQ(made.status, 201) << made.body;
    Json invitation = Json::parse(made.body);
    std::string code = invitation["code"];
    EXPECT_EQ(invitation["url"], "http://localhost:8080/invitations/" + code);
    std::string later = Json::parse(Web("POST", Group("/invitations"), "", tokens_["anna"]).body)["code"];
    std::string gleb = (SignUp("gleb@example.org", "secret4", "Глеб"), ApiToken("gleb@example.org", "secret4"));
    tokens_["gleb"] = gleb;
    RunTable({
        {"boris", "POST", Group("/invitations"), "", 403, "только владелец"},
        {"anna", "POST", "/api/v1/groups/999/invitations", "", 404, "не найдена"},
        {"vera", "POST", "/api/v1/invitations/" + code + "/accept", "", 200,
         (R"({"group_id":)" + std::to_string(family_) + "}").c_str()},
        {"gleb", "POST", "/api/v1/invitations/" + code + "/accept", "", 410, "уже воспользовались"},
        {"gleb", "POST", "/api/v1/invitations/" + std::string(32, 'a') + "/accept", "", 404, "не найдено"},
        {"", "POST", "/api/v1/invitations/" + later + "/accept", "", 401, "Требуется вход"},
    });
    EXPECT_TRUE(store_->IsMember(family_, vera_));
    EXPECT_FALSE(store_->IsMember(family_, store_->FindUser("gleb@example.org")->id));
    store_->SetSetting("token_lifetime", std::to_string(30 * 86400));
    now_ += kInvitationSeconds;
    RunTable({{"gleb", "POST", "/api/v1/invitations/" + later + "/accept", "", 410, "истёк"}});
    store_->SetSetting("site_address", "https://pelmora.example.org");
    std::string url = Json::parse(Web("POST", Group("/invitations"), "", tokens_["anna"]).body)["url"];
    EXPECT_EQ(url.rfind("https://pelmora.example.org/invitations/", 0), 0u) << url;
}

TEST_P(WebApiTest, MembersAreRemovedByTheOwnerOrLeaveWithTheirGroupMarks) {
    std::int64_t gleb = SignUp("gleb@example.org", "secret4", "Глеб");
    tokens_["gleb"] = ApiToken("gleb@example.org", "secret4");
    rules_->groups.AddMember(family_, gleb);
    rules_->groups.AddMember(family_, vera_);
    Mark mark;
    mark.userId = boris_;
    mark.cell = {1, 7701, 1};
    mark.scope = kScopeOneGroup;
    mark.groupId = family_;
    mark.title = "Для семьи";
    rules_->marks.Save(mark);
    mark.cell = {1, 7701, 2};
    mark.scope = kScopeEverybody;
    mark.groupId.reset();
    mark.title = "Для всех";
    rules_->marks.Save(mark);
    auto member = [&](std::int64_t id) { return Group("/members/") + std::to_string(id); };
    RunTable({
        {"vera", "DELETE", member(boris_), "", 403, "только владелец"},
        {"anna", "DELETE", member(boris_), "", 204, ""},
        {"anna", "DELETE", member(boris_), "", 404, "нет в группе"},
        {"gleb", "DELETE", member(gleb), "", 204, ""},
        {"vera", "DELETE", "/api/v1/groups/999/members/1", "", 404, "не найдена"},
    });
    EXPECT_FALSE(store_->IsMember(family_, boris_));
    EXPECT_FALSE(store_->IsMember(family_, gleb));
    std::vector<Mark> left = store_->MarksOf(boris_);
    ASSERT_EQ(left.size(), 1u) << "only the mark shown to the group goes";
    EXPECT_EQ(left[0].title, "Для всех");
    // The owner who leaves hands the group to the member who joined first after her.
    RunTable({{"anna", "DELETE", member(anna_), "", 204, ""}});
    EXPECT_EQ(store_->GetGroup(family_)->ownerId, vera_);
    RunTable({{"vera", "DELETE", member(vera_), "", 204, ""}});
    EXPECT_FALSE(store_->GetGroup(family_).has_value()) << "the last member's leaving ends the group";
}

TEST_P(WebApiTest, OwnMarksAreListedAndDeleted) {
    AddCell(7701, 1, 55.7558, 37.6136, "Москва, Манежная площадь, 1");
    Mark mark;
    mark.userId = anna_;
    mark.cell = {1, 7701, 1};
    mark.scope = kScopeMyGroups;
    mark.title = "Работа";
    mark.street = "Манежная площадь";
    mark.number = "1";
    std::int64_t work = rules_->marks.Save(mark);
    mark.userId = boris_;
    std::int64_t borisMark = rules_->marks.Save(mark);
    RunTable({
        {"anna", "GET", "/api/v1/marks", "", 200,
         (R"([{"id":)" + std::to_string(work) +
          R"(,"title":"Работа","street":"Манежная площадь","number":"1","build":"","tags":"","scope":2,"group_id":null,"address":"Москва, Манежная площадь, 1","lat":55.7558,"lon":37.6136,)").c_str()},
        {"anna", "DELETE", "/api/v1/marks/" + std::to_string(borisMark), "", 404, "не найдена"},
        {"anna", "DELETE", "/api/v1/marks/" + std::to_string(work), "", 204, ""},
        {"anna", "DELETE", "/api/v1/marks/" + std::to_string(work), "", 404, "не найдена"},
        {"anna", "GET", "/api/v1/marks", "", 200, "[]"},
        {"", "GET", "/api/v1/marks", "", 401, "Требуется вход"},
    });
    EXPECT_EQ(store_->MarkCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, WebApiTest, testing::AllEngines(), testing::EngineName);

}  // namespace
}  // namespace pelmora
