// Who sees whom, and which name a place goes by for whom: the rules of "ineed" and of place marks.
#include "server_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>

namespace pelmora {
namespace {

using testing::TextAt;

// Cells of Moscow used below.
constexpr std::int64_t kLac = 7701;
constexpr std::int64_t kManezh = 1;    // 55.7558, 37.6136
constexpr std::int64_t kPyatnitskaya = 2;  // 55.7376, 37.6281
constexpr std::int64_t kArbat = 3;     // 55.7497, 37.5930

class VisibilityTest : public testing::EngineTest {
protected:
    void SetUp() override {
        AddCell(kLac, kManezh, 55.7558, 37.6136, "Москва, Манежная площадь, 1");
        AddCell(kLac, kPyatnitskaya, 55.7376, 37.6281, "Москва, ул. Пятницкая, 41");
        AddCell(kLac, kArbat, 55.7497, 37.5930, "Москва, ул. Арбат, 20");
        for (const char* name : {"anna", "boris", "vera", "gleb", "dina", "egor", "zhanna", "zoya"}) {
            id_[name] = AddUser(std::string(name) + "@example.org", "secret", Russian(name));
        }
        store_->SetVisibility(id_["vera"], kVisibleToGroups);
        store_->SetVisibility(id_["gleb"], kInvisible);
        store_->SetVisibility(id_["dina"], kSwitchedOff);
        store_->SetPrivateTime(id_["egor"], 1);
        family_ = AddGroup("Семья", {id_["anna"], id_["boris"], id_["vera"], id_["gleb"]});
        friends_ = AddGroup("Друзья", {id_["anna"], id_["boris"], id_["dina"], id_["egor"], id_["zhanna"]});
        work_ = AddGroup("Работа", {id_["boris"], id_["zoya"]});
        for (const char* name : {"boris", "vera", "gleb", "dina", "egor"}) Place(name, kPyatnitskaya);
        StartServer();
    }

    static std::string Russian(const std::string& name) {
        static const std::map<std::string, std::string> names = {
            {"anna", "Анна"}, {"boris", "Борис"}, {"vera", "Вера"}, {"gleb", "Глеб"},
            {"dina", "Дина"}, {"egor", "Егор"},   {"zhanna", "Жанна"}, {"zoya", "Зоя"}};
        return names.at(name);
    }

    void Place(const std::string& name, std::int64_t cid) {
        CellKey cells[3] = {{1, kLac, cid}, {1, kLac, cid}, {1, kLac, cid}};
        store_->RecordReport(id_[name], kDefaultCountryCode, cells, 0, now_);
    }

    std::string Token(const std::string& name) { return Login(name + "@example.org", "secret"); }

    // For each group of the viewer's reply: title (count) and every member as name|address|distance.
    std::vector<std::string> Groups(const std::string& token) {
        auto reply = Request("ineed", "token=" + token + "&group_list=1");
        std::vector<std::string> lines;
        for (const TiXmlElement* group = testing::ElementAt(reply.get(), "ineed/groups/group"); group;
             group = group->NextSiblingElement()) {
            lines.push_back(TextAt(group, "title") + " (" + TextAt(group, "count") + ") #" + TextAt(group, "group_id"));
            for (const TiXmlElement* user = testing::ElementAt(group, "users/user"); user;
                 user = user->NextSiblingElement()) {
                lines.push_back("  " + TextAt(user, "name") + "|" + TextAt(user, "address") + "|" +
                                TextAt(user, "distance"));
            }
        }
        return lines;
    }

    std::map<std::string, std::int64_t> id_;
    std::int64_t family_ = 0;
    std::int64_t friends_ = 0;
    std::int64_t work_ = 0;
};

TEST_P(VisibilityTest, EachVisibilityStateShowsOrHidesThePlace) {
    std::string anna = Token("anna");
    Report(anna, kLac, kManezh);
    std::vector<std::string> expected = {
        "Семья (4) #" + std::to_string(family_),
        "  Борис|Москва, ул. Пятницкая, 41|2.2",
        "  Вера|Москва, ул. Пятницкая, 41|2.2",  // visible to groups: Анна is in hers
        "  Глеб|<missing>|<missing>",            // invisible
        "Друзья (5) #" + std::to_string(friends_),
        "  Борис|Москва, ул. Пятницкая, 41|2.2",  // seen through two groups alike
        "  Дина|<missing>|<missing>",             // switched off
        "  Егор|Москва, ул. Пятницкая, 41|2.2",   // private time on, but Wednesday noon
        "  Жанна|<missing>|<missing>",            // no report yet
    };
    EXPECT_EQ(Groups(anna), expected);
}

TEST_P(VisibilityTest, PrivateHoursHideOnlyMembersWhoAskedForThem) {
    Report(Token("anna"), kLac, kManezh);
    for (std::time_t when : {testing::LocalTime(2024, 5, 15, 20, 0), testing::LocalTime(2024, 5, 18, 12, 0),
                             testing::LocalTime(2024, 5, 16, 7, 59)}) {
        now_ = when;
        std::vector<std::string> groups = Groups(Token("anna"));
        ASSERT_EQ(groups.size(), 9u);
        EXPECT_EQ(groups[7], "  Егор|<missing>|<missing>");
        EXPECT_EQ(groups[5], "  Борис|Москва, ул. Пятницкая, 41|2.2");
    }
}

TEST_P(VisibilityTest, ViewerWithoutAPositionGetsAddressesWithoutDistances) {
    std::vector<std::string> groups = Groups(Token("anna"));
    ASSERT_GE(groups.size(), 2u);
    EXPECT_EQ(groups[1], "  Борис|Москва, ул. Пятницкая, 41|<missing>");
}

TEST_P(VisibilityTest, ViewerOutsideTheGroupsNeverSeesAMemberVisibleToGroups) {
    std::string zoya = Token("zoya");
    Report(zoya, kLac, kArbat);
    std::vector<std::string> expected = {
        "Работа (2) #" + std::to_string(work_),
        "  Борис|Москва, ул. Пятницкая, 41|2.6",
    };
    EXPECT_EQ(Groups(zoya), expected);
    auto reply = testing::Exchange(port_, testing::ClientRequest("ineed", "token=" + zoya + "&group_list=1"));
    EXPECT_EQ(reply.find("Вера"), std::string::npos);
}

TEST_P(VisibilityTest, UserWithoutGroupsGetsAnEmptyList) {
    std::int64_t loner = AddUser("loner@example.org", "secret", "Одиночка");
    (void)loner;
    auto reply = Request("ineed", "token=" + Login("loner@example.org", "secret") + "&group_list=1");
    ASSERT_NE(testing::ElementAt(reply.get(), "ineed/groups"), nullptr);
    EXPECT_EQ(testing::ElementAt(reply.get(), "ineed/groups/group"), nullptr);
}

TEST_P(VisibilityTest, OwnMarkBeatsAPublicOneAndOthersSeeTheirOwn) {
    std::string anna = Token("anna");
    std::string boris = Token("boris");
    std::string cafe = TextAt(SaveMark(boris, kLac, kManezh, 1, "Кафе").get(), "itake/id");
    EXPECT_EQ(TextAt(Report(anna, kLac, kManezh).get(), "isee/sint/sint_title"), "Кафе");
    EXPECT_EQ(TextAt(Report(anna, kLac, kManezh).get(), "isee/sint/sint_id"), cafe);

    std::string home = TextAt(SaveMark(anna, kLac, kManezh, 0, "Дом").get(), "itake/id");
    auto own = Report(anna, kLac, kManezh);
    EXPECT_EQ(TextAt(own.get(), "isee/sint/sint_title"), "Дом");
    EXPECT_EQ(TextAt(own.get(), "isee/sint/sint_id"), home);
    EXPECT_EQ(TextAt(Report(boris, kLac, kManezh).get(), "isee/sint/sint_title"), "Кафе");
    EXPECT_EQ(TextAt(Report(Token("zoya"), kLac, kManezh).get(), "isee/sint/sint_title"), "Кафе");

    // In the group list Анна sees Борис's place by her own name for it.
    std::vector<std::string> groups = Groups(anna);
    ASSERT_GE(groups.size(), 2u);
    EXPECT_EQ(groups[1], "  Борис|Дом|0.0");
}

TEST_P(VisibilityTest, GroupMarksShowOnlyToThatGroupAndMyGroupsMarksToGroupmates) {
    std::string boris = Token("boris");
    SaveMark(boris, kLac, kArbat, 3, "Семейное место", family_);
    SaveMark(boris, kLac, kPyatnitskaya, 2, "Двор");
    EXPECT_EQ(TextAt(Report(Token("vera"), kLac, kArbat).get(), "isee/sint/sint_title"), "Семейное место");
    auto dina = Report(Token("dina"), kLac, kArbat);
    EXPECT_EQ(TextAt(dina.get(), "isee/sint/sint_title"), "<missing>");
    EXPECT_EQ(TextAt(dina.get(), "isee/sint/address"), "Москва, ул. Арбат, 20");

    EXPECT_EQ(TextAt(Report(Token("dina"), kLac, kPyatnitskaya).get(), "isee/sint/sint_title"), "Двор");
    EXPECT_EQ(TextAt(Report(Token("zoya"), kLac, kPyatnitskaya).get(), "isee/sint/sint_title"), "Двор");
    AddUser("stranger@example.org", "secret", "Чужой");
    auto stranger = Report(Login("stranger@example.org", "secret"), kLac, kPyatnitskaya);
    EXPECT_EQ(TextAt(stranger.get(), "isee/sint/sint_title"), "<missing>");
}

TEST_P(VisibilityTest, SecondSaveAtTheSameCellReplacesTheMark) {
    std::string anna = Token("anna");
    std::string first = TextAt(SaveMark(anna, kLac, kManezh, 0, "Работа").get(), "itake/id");
    std::string second = TextAt(SaveMark(anna, kLac, kManezh, 1, "Старая работа").get(), "itake/id");
    EXPECT_EQ(first, second);
    EXPECT_EQ(store_->MarkCount(), 1);
    auto report = Report(anna, kLac, kManezh);
    EXPECT_EQ(TextAt(report.get(), "isee/sint/sint_title"), "Старая работа");
    EXPECT_EQ(TextAt(report.get(), "isee/sint/sint_scope"), "1");
    std::string elsewhere = TextAt(SaveMark(anna, kLac, kArbat, 0, "Арбат").get(), "itake/id");
    EXPECT_NE(elsewhere, first);
    EXPECT_EQ(store_->MarkCount(), 2);
}

// One rule for both: what "ineed" tells the phone and what GET /api/v1/groups tells the web, member
// by member, are the same people in the same places, whatever the viewer's and the members' states.
TEST_P(VisibilityTest, PhoneAndWebSeeTheSameMembersAndPlaces) {
    SaveMark(Token("boris"), kLac, kPyatnitskaya, 3, "Семейное место", family_);
    SaveMark(Token("egor"), kLac, kArbat, 0, "Тайник");
    Place("zhanna", kArbat);
    struct Case {
        const char* viewer;
        int viewerVisibility;
        std::time_t when;
        const char* note;
    };
    const std::time_t noon = testing::LocalTime(2024, 5, 15, 12, 0);
    const std::time_t evening = testing::LocalTime(2024, 5, 15, 20, 0);
    const Case cases[] = {
        {"anna", kVisibleToAll, noon, "a viewer visible to all"},
        {"anna", kVisibleToGroups, noon, "a viewer visible to groups"},
        {"anna", kInvisible, noon, "an invisible viewer"},
        {"anna", kSwitchedOff, noon, "a viewer switched off"},
        {"anna", kVisibleToAll, evening, "private hours"},
        {"zhanna", kVisibleToAll, noon, "outside the family: no scope-3 name"},
        {"zoya", kVisibleToAll, noon, "a viewer of one group"},
    };
    for (const Case& c : cases) {
        now_ = c.when;
        store_->SetVisibility(id_[c.viewer], c.viewerVisibility);
        std::string token = Token(c.viewer);
        Report(token, kLac, kManezh);
        // Phone: group id, member id, address, distance.
        std::vector<std::string> phone;
        auto reply = Request("ineed", "token=" + token + "&group_list=1");
        for (const TiXmlElement* group = testing::ElementAt(reply.get(), "ineed/groups/group"); group;
             group = group->NextSiblingElement()) {
            for (const TiXmlElement* user = testing::ElementAt(group, "users/user"); user;
                 user = user->NextSiblingElement()) {
                std::string address = TextAt(user, "address");
                std::string distance = TextAt(user, "distance");
                phone.push_back(TextAt(group, "group_id") + " " + TextAt(user, "user_id") + " " + TextAt(user, "name") +
                                "|" + (address == "<missing>" ? "null" : address) + "|" +
                                (distance == "<missing>" ? "null" : distance));
            }
        }
        // Web: the same from the API.
        std::vector<std::string> web;
        testing::HttpReply answer = Web("GET", "/api/v1/groups", "", ApiToken(std::string(c.viewer) + "@example.org", "secret"));
        ASSERT_EQ(answer.status, 200) << answer.body;
        for (const auto& group : nlohmann::json::parse(answer.body)) {
            for (const auto& member : group["members"]) {
                char distance[32] = "null";
                if (!member["distance_km"].is_null()) {
                    std::snprintf(distance, sizeof distance, "%.1f", member["distance_km"].get<double>());
                }
                web.push_back(std::to_string(group["id"].get<std::int64_t>()) + " " +
                              std::to_string(member["id"].get<std::int64_t>()) + " " + member["name"].get<std::string>() +
                              "|" + (member["address"].is_null() ? "null" : member["address"].get<std::string>()) + "|" +
                              distance);
                EXPECT_EQ(member["lat"].is_null(), member["address"].is_null()) << c.note;
            }
        }
        EXPECT_EQ(phone, web) << c.note;
        EXPECT_FALSE(phone.empty()) << c.note;
    }
    // The cases above do reach every branch of the rule.
    now_ = noon;
    std::string anna = Token("anna");
    std::vector<std::string> seen = Groups(anna);
    EXPECT_EQ(seen[1], "  Борис|Семейное место|2.2") << "the scope-3 mark's name for the family";
    EXPECT_EQ(seen[3], "  Глеб|<missing>|<missing>") << "invisible";
    now_ = evening;
    EXPECT_EQ(Groups(anna)[7], "  Егор|<missing>|<missing>") << "private hours";
    now_ = noon;
    std::vector<std::string> zhanna = Groups(Token("zhanna"));
    EXPECT_EQ(zhanna[1], "  Анна|Москва, Манежная площадь, 1|0.0");
    EXPECT_EQ(zhanna[2], "  Борис|Москва, ул. Пятницкая, 41|2.2") << "outside the family the cell's address";
}

INSTANTIATE_TEST_SUITE_P(Engines, VisibilityTest, testing::AllEngines(), testing::EngineName);

}  // namespace
}  // namespace pelmora
