// The demo data and the walker that moves the demo people.
#include "server/admin.h"
#include "server/demo.h"
#include "server/passwords.h"
#include "server/text.h"

#include "server_fixture.h"

#include <gtest/gtest.h>

#include <set>

namespace pelmora {
namespace {

class DemoTest : public testing::EngineTest {};

TEST_P(DemoTest, SeedsAMoscowWithSixPeopleThreeGroupsAndMarksOfEveryScope) {
    ASSERT_TRUE(SeedDemo(*rules_));
    EXPECT_GE(store_->CellCount(), 60);
    std::vector<User> users = store_->ListUsers();
    ASSERT_EQ(users.size(), 6u);
    std::optional<User> demo = store_->FindUser(kDemoEmail);
    ASSERT_TRUE(demo.has_value());
    EXPECT_TRUE(VerifyPassword(demo->passwordHash, *PasswordHash(kDemoPassword)));
    std::vector<std::string> titles;
    for (const GroupSummary& group : store_->GroupsOf(demo->id)) titles.push_back(group.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"Семья", "Друзья", "Работа"}));
    std::set<int> visibilities;
    for (const User& user : users) visibilities.insert(user.visibility);
    EXPECT_EQ(visibilities, (std::set<int>{kVisibleToAll, kVisibleToGroups, kInvisible}));

    std::set<int> scopes;
    for (const Cell& cell : ParseCellsCsv(kDemoCellsCsv)) {
        EXPECT_EQ(cell.address.rfind("Москва, ", 0), 0u) << cell.address;
        for (const User& user : users) {
            std::optional<Mark> mark = MarkSeenBy(*store_, user.id, cell.key);
            if (mark && mark->userId == user.id) scopes.insert(mark->scope);
        }
    }
    EXPECT_EQ(scopes, (std::set<int>{kScopeOwner, kScopeEverybody, kScopeMyGroups, kScopeOneGroup}));
    EXPECT_FALSE(SeedDemo(*rules_)) << "a second seeding must leave the data alone";
    EXPECT_EQ(store_->ListUsers().size(), 6u);
}

TEST_P(DemoTest, WalkerMovesEveryoneButTheDemoAccountAlongKnownCells) {
    SeedDemo(*rules_);
    DemoWalker walker(*store_, [this] { return now_.load(); });
    walker.Step();
    std::map<std::int64_t, CellKey> first;
    for (const User& user : store_->ListUsers()) {
        std::optional<Position> position = store_->PositionOf(user.id);
        if (user.email == kDemoEmail) {
            EXPECT_FALSE(position.has_value()) << "the demo phone reports for itself";
            continue;
        }
        ASSERT_TRUE(position.has_value()) << user.email;
        EXPECT_TRUE(position->where.has_value()) << user.email << " walks on cells the demo does not know";
        first[user.id] = position->cells[0];
    }
    EXPECT_EQ(first.size(), 5u);
    walker.Step();
    for (const auto& [id, cell] : first) {
        std::optional<Position> position = store_->PositionOf(id);
        EXPECT_NE(position->cells[0].cid, cell.cid) << "user " << id << " did not move";
        EXPECT_EQ(position->cells[1].cid, cell.cid) << "the previous cell becomes the second of the history";
        EXPECT_TRUE(position->where.has_value());
    }
}

TEST_P(DemoTest, DemoAccountSeesItsGroupsMoving) {
    SeedDemo(*rules_);
    DemoWalker walker(*store_, [this] { return now_.load(); });
    walker.Step();
    StartServer();
    std::string token = Login(kDemoEmail, kDemoPassword);
    Report(token, 7704, 40403);
    auto before = Request("ineed", "token=" + token + "&group_list=1");
    std::string firstName = testing::TextAt(testing::ElementAt(before.get(), "ineed/groups/group/users"), "user/name");
    EXPECT_EQ(firstName, "Ваня Смирнов");
    for (int i = 0; i < 3; ++i) walker.Step();
    auto after = Request("ineed", "token=" + token + "&group_list=1");
    TiXmlPrinter a;
    TiXmlPrinter b;
    before->Accept(&a);
    after->Accept(&b);
    EXPECT_NE(a.Str(), b.Str()) << "places and distances change as the demo people walk";
}

INSTANTIATE_TEST_SUITE_P(Engines, DemoTest, testing::AllEngines(), testing::EngineName);

}  // namespace
}  // namespace pelmora
