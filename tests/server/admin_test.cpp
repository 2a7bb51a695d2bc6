// Administration: the commands on a store, the cell CSV, and the program itself on its command line.
#include "server/admin.h"
#include "server/demo.h"
#include "server/passwords.h"
#include "server/text.h"

#include "server_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pelmora {
namespace {

class AdminTest : public testing::EngineTest {
protected:
    std::string Run(const std::vector<std::string>& words) { return Command(words); }
};

TEST_P(AdminTest, CellsCsvTakesQuotedAndBareAddressesAndSkipsCommentsAndHeader) {
    std::vector<Cell> cells = ParseCellsCsv(
        "\xEF\xBB\xBF# comment\r\nmnc,lac,cid,lat,lon,address\r\n\r\n"
        "1,7701,10101,55.7558,37.6136,\"Москва, Манежная площадь, 1\"\r\n"
        "01, 7702 ,20201,55.7547,37.6215,Москва, Красная площадь, 3\n"
        "1,7703,30303,-55.5,-37.25,\"Кафе \"\"Арбат\"\"\"\n");
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[0].address, "Москва, Манежная площадь, 1");
    EXPECT_EQ(cells[0].key.cid, 10101);
    EXPECT_DOUBLE_EQ(cells[0].lat, 55.7558);
    EXPECT_EQ(cells[1].key.mnc, 1);
    EXPECT_EQ(cells[1].key.lac, 7702);
    EXPECT_EQ(cells[1].address, "Москва, Красная площадь, 3");
    EXPECT_EQ(cells[2].address, "Кафе \"Арбат\"");
    EXPECT_DOUBLE_EQ(cells[2].lon, -37.25);
}

TEST_P(AdminTest, CellsCsvNamesTheFaultyLine) {
    const char* faulty[] = {
        "1,7701,10101,55.7,37.6,ok\n1,7701,10102,north,37.6,bad\n",
        "1,7701,10101,55.7,37.6,ok\n\n1,7701,-5,55.7,37.6,bad\n",
        "1,7701,10101,55.7,37.6,ok\n1,7701\n",
        "1,7701,10101,95.0,37.6,too far north\n",
        "1,7701,10101,55.7,37.6,\n",
    };
    const char* lines[] = {"line 2", "line 3", "line 2", "line 1", "line 1"};
    for (int i = 0; i < 5; ++i) {
        try {
            ParseCellsCsv(faulty[i]);
            ADD_FAILURE() << "accepted: " << faulty[i];
        } catch (const StoreError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(lines[i], 0), 0u) << error.what();
        }
    }
}

TEST_P(AdminTest, UsersGroupsAndMembersAreManagedByCommands) {
    EXPECT_EQ(Run({"user", "add", "Anna@Example.org", "пароль", "Анна Каренина"}), "user 1 anna@example.org added\n");
    EXPECT_TRUE(VerifyPassword(store_->FindUser("anna@example.org")->passwordHash, Md5Hex("\xEF\xE0\xF0\xEE\xEB\xFC")));
    Run({"user", "add", "boris@example.org", "secret", "Борис"});
    EXPECT_THROW(Run({"user", "add", "ANNA@example.org", "x", "Двойник"}), StoreError);
    EXPECT_THROW(Run({"user", "add", "no-at-sign", "x", "Никто"}), StoreError);
    EXPECT_THROW(Run({"user", "add", "carl@example.org", "密码", "Карл"}), StoreError);
    EXPECT_EQ(Run({"group", "add", "Семья"}), "group 1 Семья added\n");
    Run({"group", "member", "Семья", "ANNA@example.org"});
    EXPECT_THROW(Run({"group", "member", "Соседи", "anna@example.org"}), StoreError);
    EXPECT_THROW(Run({"group", "member", "Семья", "nobody@example.org"}), StoreError);
    EXPECT_EQ(Run({"user", "list"}),
              "1\tanna@example.org\tАнна Каренина\tСемья\n"
              "2\tboris@example.org\tБорис\t\n");
    Run({"user", "password", "boris@example.org", "new"});
    EXPECT_TRUE(VerifyPassword(store_->FindUser("boris@example.org")->passwordHash, Md5Hex("new")));
    EXPECT_THROW(Run({"user", "add", "x@example.org"}), StoreError);
    EXPECT_THROW(Run({"user", "remove", "x@example.org"}), StoreError);
}

TEST_P(AdminTest, AccountsGroupsAndSettingsOfTheWebAreRunFromTheCommandLine) {
    Run({"user", "add", "anna@example.org", "secret", "Анна"});
    Run({"user", "add", "boris@example.org", "secret", "Борис"});
    Run({"user", "add", "vera@example.org", "secret", "Вера"});
    struct Step {
        std::vector<std::string> words;
        const char* output;  // empty: the command is refused
    };
    const Step steps[] = {
        {{"group", "add", "Семья", "anna@example.org"}, "group 1 Семья added\n"},
        {{"group", "add", "Семья", "boris@example.org"}, "group 2 Семья added\n"},
        {{"group", "add", "Семья", "anna@example.org"}, ""},
        {{"group", "member", "Семья", "vera@example.org"}, ""},  // two groups of that title: name one by id
        {{"group", "member", "1", "vera@example.org"}, "vera@example.org is a member of Семья\n"},
        {{"group", "member", "1", "boris@example.org"}, "boris@example.org is a member of Семья\n"},
        {{"group", "rename", "2", "Семья Бориса"}, "group 2 renamed to Семья Бориса\n"},
        {{"group", "list"}, "1\tСемья\tanna@example.org\t3\n2\tСемья Бориса\tboris@example.org\t1\n"},
        {{"user", "list"},
         "1\tanna@example.org\tАнна\tСемья (owner)\n2\tboris@example.org\tБорис\tСемья, Семья Бориса (owner)\n"
         "3\tvera@example.org\tВера\tСемья\n"},
        {{"group", "member", "remove", "Семья", "vera@example.org"}, "vera@example.org is no longer a member of Семья\n"},
        {{"group", "member", "remove", "Семья", "vera@example.org"}, ""},
        {{"group", "remove", "Семья Бориса"}, "group 2 Семья Бориса removed\n"},
        {{"user", "disable", "boris@example.org"}, "boris@example.org disabled\n"},
        {{"user", "list"},
         "1\tanna@example.org\tАнна\tСемья (owner)\n2\tboris@example.org\tБорис\tСемья\tdisabled\n"
         "3\tvera@example.org\tВера\t\n"},
        {{"user", "delete", "anna@example.org"}, "anna@example.org deleted\n"},
        {{"group", "list"}, "1\tСемья\tboris@example.org\t1\n"},
        {{"user", "delete", "anna@example.org"}, ""},
        {{"setting", "set", "registration", "invite"}, "registration set to invite\n"},
        {{"setting", "set", "registration", "sometimes"}, ""},
        {{"setting", "set", "map_tiles", "https://tiles.example.org/{z}/{x}/{y}.png"},
         "map_tiles set to https://tiles.example.org/{z}/{x}/{y}.png\n"},
        {{"setting", "set", "map_tiles", "https://tiles.example.org/<script>{z}{x}{y}"}, ""},
        {{"setting", "set", "map_tiles", "ftp://tiles.example.org/{z}/{x}/{y}.png"}, ""},
    };
    for (const Step& step : steps) {
        std::string joined;
        for (const std::string& word : step.words) joined += word + " ";
        if (*step.output == '\0') {
            EXPECT_THROW(Run(step.words), StoreError) << joined;
        } else {
            EXPECT_EQ(Run(step.words), step.output) << joined;
        }
    }
    ServerSettings settings = store_->Settings();
    EXPECT_EQ(settings.registration, Registration::kInvite);
    EXPECT_EQ(settings.mapTiles, "https://tiles.example.org/{z}/{x}/{y}.png");
    // A disabled account logs in nowhere; enabled again, it does.
    StartServer();
    EXPECT_EQ(testing::TextAt(Request("hand", HandBody("boris@example.org", Md5Hex("secret"))).get(), "handshake/status"), "1");
    EXPECT_EQ(Web("POST", "/api/v1/sessions", R"({"email": "boris@example.org", "password": "secret"})").status, 403);
    Run({"user", "enable", "boris@example.org"});
    EXPECT_EQ(Web("POST", "/api/v1/sessions", R"({"email": "boris@example.org", "password": "secret"})").status, 201);
}

TEST_P(AdminTest, CellImportIsAllOrNothing) {
    auto good = WriteFile("good.csv", "1,7701,10101,55.7558,37.6136,\"Москва, Манежная площадь, 1\"\n"
                                      "1,7701,10102,55.7579,37.6112,\"Москва, ул. Тверская, 7\"\n");
    EXPECT_EQ(Run({"cell", "import", good}), "2 cells imported\n");
    EXPECT_EQ(store_->FindCell(kDefaultCountryCode, {1, 7701, 10102})->address, "Москва, ул. Тверская, 7");
    auto bad = WriteFile("bad.csv", "1,7701,10103,55.7,37.6,fine\n1,7701,10104,x,37.6,broken\n");
    EXPECT_THROW(Run({"cell", "import", bad}), StoreError);
    EXPECT_EQ(store_->CellCount(), 2);
    EXPECT_THROW(Run({"cell", "import", (directory_ / "absent.csv").string()}), StoreError);
}

TEST_P(AdminTest, SettingsAreListedAndChanged) {
    EXPECT_EQ(Run({"setting", "set", "methods", "2,1"}), "methods set to 2,1\n");
    EXPECT_THROW(Run({"setting", "set", "suspended", "maybe"}), StoreError);
    std::string list = Run({"setting", "list"});
    EXPECT_NE(list.find("methods\t2,1\n"), std::string::npos) << list;
    EXPECT_NE(list.find("report_interval\t300\n"), std::string::npos) << list;
    EXPECT_NE(list.find("suspended\t0\n"), std::string::npos) << list;
}

// The program as the operator and the demo script run it.
class ProgramTest : public testing::ServerTest {
protected:
    static std::pair<std::string, int> Run(const std::string& arguments) { return testing::RunServerProgram(arguments); }

    std::string Db() const { return "--db " + (directory_ / "program" / "admin.db").string(); }
};

TEST_F(ProgramTest, CommandLineAdministersTheDatabaseFile) {
    EXPECT_EQ(Run(Db() + " user add demo@example.org secret 'Демо Пользователь'"),
              std::make_pair(std::string("user 1 demo@example.org added\n"), 0));
    EXPECT_EQ(Run(Db() + " group add 'Семья'").second, 0);
    EXPECT_EQ(Run(Db() + " group member 'Семья' DEMO@example.org").second, 0);
    EXPECT_EQ(Run(Db() + " user list"),
              std::make_pair(std::string("1\tdemo@example.org\tДемо Пользователь\tСемья\n"), 0));
    auto duplicate = Run(Db() + " user add demo@example.org other Другой");
    EXPECT_EQ(duplicate.second, 1);
    EXPECT_NE(duplicate.first.find("exists already"), std::string::npos) << duplicate.first;
    auto unknown = Run(Db() + " --colour red");
    EXPECT_EQ(unknown.second, 2);
    auto help = Run("--help");
    EXPECT_EQ(help.second, 0);
    EXPECT_NE(help.first.find("--listen ADDR:PORT"), std::string::npos);
    EXPECT_NE(help.first.find("demo@pelmora.ru"), std::string::npos);
}

TEST_F(ProgramTest, ServerWithDemoListensOnAFreePortAndStopsOnSignal) {
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    std::string db = (directory_ / "demo.db").string();
    std::string ready = (directory_ / "port").string();
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        execl(PELMORA_SERVER_PROGRAM, PELMORA_SERVER_PROGRAM, "--listen", "127.0.0.1:0", "--db", db.c_str(), "--demo",
              "--walk-step", "0", "--ready-file", ready.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    FILE* lines = fdopen(output[0], "r");
    char line[256];
    std::string seeded = std::fgets(line, sizeof line, lines) ? line : "";
    std::string listening = std::fgets(line, sizeof line, lines) ? line : "";
    EXPECT_EQ(seeded, std::string("pelmora-server: demo data seeded; log in as ") + kDemoEmail + " with the password " +
                          kDemoPassword + "\n");
    ASSERT_EQ(listening.rfind("pelmora-server: listening on 127.0.0.1:", 0), 0u) << listening;
    port_ = static_cast<std::uint16_t>(std::stoi(listening.substr(listening.rfind(':') + 1)));
    std::ifstream readyFile(ready);
    int written = 0;
    readyFile >> written;
    EXPECT_EQ(written, port_);

    auto reply = Request("hand", HandBody(kDemoEmail, *PasswordHash(kDemoPassword)));
    EXPECT_EQ(testing::TextAt(reply.get(), "handshake/status"), "0");
    EXPECT_EQ(testing::TextAt(reply.get(), "handshake/userName"), "Алексей Смирнов");

    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string stopping = std::fgets(line, sizeof line, lines) ? line : "";
    EXPECT_EQ(stopping, "pelmora-server: stopping\n");
    fclose(lines);
}

// A server that a test starts and cannot signal ends once nobody has connected for a while; the demo
// people who do not walk stand at the start of their routes.
TEST_F(ProgramTest, AnIdleServerStopsByItselfWithTheStillDemoPeopleInTheirPlaces) {
    std::string db = (directory_ / "idle.db").string();
    std::string ready = (directory_ / "idle.port").string();
    std::string output = (directory_ / "idle.out").string();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::freopen(output.c_str(), "w", stdout);
        execl(PELMORA_SERVER_PROGRAM, PELMORA_SERVER_PROGRAM, "--listen", "127.0.0.1:0", "--db", db.c_str(), "--demo",
              "--walk-step", "0", "--idle-exit", "1", "--ready-file", ready.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int wait = 0; wait < 500 && !std::filesystem::exists(ready); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream(ready) >> port_;
    ASSERT_NE(port_, 0) << "no ready file";

    std::string token = Login(kDemoEmail, kDemoPassword);
    auto groups = Request("ineed", "token=" + token + "&group_list=1");
    std::map<std::string, std::string> addresses;
    for (const TiXmlElement* group = testing::ElementAt(groups.get(), "ineed/groups/group"); group != nullptr;
         group = group->NextSiblingElement("group")) {
        for (const TiXmlElement* user = testing::ElementAt(group, "users/user"); user != nullptr;
             user = user->NextSiblingElement("user")) {
            addresses[testing::TextAt(user, "name")] = testing::TextAt(user, "address");
        }
    }
    EXPECT_EQ(addresses["Ольга Кузнецова"], "Москва, ул. Арбат, 54");
    EXPECT_EQ(addresses["Дмитрий Волков"], "Москва, Комсомольская площадь, 3");
    EXPECT_EQ(addresses["Марина Смирнова"], "Дом, ул. Пятницкая, д.41");
    EXPECT_EQ(addresses["Сергей Новиков"], "<missing>");
    const auto lastRequest = std::chrono::steady_clock::now();

    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - lastRequest < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the server did not stop by itself";
    }
    EXPECT_GE(std::chrono::steady_clock::now() - lastRequest, std::chrono::milliseconds(900));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream lines(output);
    std::string text((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("pelmora-server: stopping\n"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Engines, AdminTest, testing::AllEngines(), testing::EngineName);

}  // namespace
}  // namespace pelmora
