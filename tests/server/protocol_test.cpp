// Every request kind as the phone sends it: the ordinary reply and the refusals.
#include "server/text.h"

#include "server_fixture.h"

#include <gtest/gtest.h>

namespace pelmora {
namespace {

class ProtocolTest : public testing::EngineTest {
protected:
    void SetUp() override {
        anna_ = AddUser("anna@example.org", "secret", "Анна");
        AddCell(6699, 15437, 55.7558, 37.6136, "Москва, Манежная площадь, 1");
        StartServer();
    }

    std::unique_ptr<TiXmlDocument> Hand(const std::string& email, const std::string& hash,
                                        const std::string& extra = std::string()) {
        return Request("hand", HandBody(email, hash) + extra);
    }

    std::int64_t anna_ = 0;
};

using testing::TextAt;

TEST_P(ProtocolTest, HandshakeIssuesAFreshTokenWithModeNameAndMethods) {
    std::string reply = testing::Exchange(port_, testing::ClientRequest("hand", HandBody("anna@example.org", Md5Hex("secret"))));
    auto document = testing::ParseReply(reply);
    EXPECT_EQ(TextAt(document.get(), "handshake/status"), "0");
    std::string token = TextAt(document.get(), "handshake/token");
    EXPECT_EQ(token.size(), 32u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(TextAt(document.get(), "handshake/mode"), "0");
    EXPECT_EQ(TextAt(document.get(), "handshake/userName"), "Анна");
    EXPECT_EQ(TextAt(document.get(), "handshake/updateurl"), "<missing>");
    EXPECT_EQ(TextAt(document.get(), "handshake/host"), "<missing>");
    std::vector<std::string> methods;
    for (const TiXmlElement* m = testing::ElementAt(document.get(), "handshake/method"); m; m = m->NextSiblingElement()) {
        methods.push_back(m->GetText());
    }
    EXPECT_EQ(methods, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_NE(token, Login("anna@example.org", "secret"));
}

TEST_P(ProtocolTest, HandshakeAcceptsTheEmailInAnyCaseAndCyrillicPasswordsHashedInWindows1251) {
    EXPECT_EQ(TextAt(Hand("ANNA@Example.ORG", Md5Hex("secret")).get(), "handshake/status"), "0");
    AddUser("boris@example.org", "пароль", "Борис");
    // The phone hashes the Windows-1251 bytes of "пароль".
    EXPECT_EQ(TextAt(Hand("boris@example.org", Md5Hex("\xEF\xE0\xF0\xEE\xEB\xFC")).get(), "handshake/status"), "0");
}

TEST_P(ProtocolTest, HandshakeRefusesWrongPasswordUnknownUserOldClientAndSuspendedService) {
    auto wrong = Hand("anna@example.org", Md5Hex("Secret"));
    EXPECT_EQ(TextAt(wrong.get(), "handshake/status"), "1");
    EXPECT_EQ(TextAt(wrong.get(), "handshake/token"), "<missing>");
    EXPECT_EQ(TextAt(Hand("nobody@example.org", Md5Hex("secret")).get(), "handshake/status"), "1");

    std::string old = "client_id=2&client_ver=0&user_id=anna@example.org&auth=" + Md5Hex("secret");
    EXPECT_EQ(TextAt(Request("hand", old).get(), "handshake/status"), "2");
    EXPECT_EQ(TextAt(Request("hand", old).get(), "handshake/updateurl"), "<missing>");
    store_->SetSetting("update_url", "http://example.org/get?a=1&b=2");
    store_->SetSetting("min_client_version", "2");
    auto outdated = Hand("anna@example.org", Md5Hex("secret"));
    EXPECT_EQ(TextAt(outdated.get(), "handshake/status"), "2");
    EXPECT_EQ(TextAt(outdated.get(), "handshake/updateurl"), "http://example.org/get?a=1&b=2");
    EXPECT_EQ(TextAt(outdated.get(), "handshake/token"), "<missing>");
    std::string otherClient = "client_id=3&client_ver=9&user_id=anna@example.org&auth=" + Md5Hex("secret");
    EXPECT_EQ(TextAt(Request("hand", otherClient).get(), "handshake/status"), "2");

    store_->SetSetting("min_client_version", "1");
    store_->SetSetting("suspended", "1");
    auto suspended = Hand("anna@example.org", Md5Hex("secret"));
    EXPECT_EQ(TextAt(suspended.get(), "handshake/status"), "3");
    EXPECT_EQ(TextAt(suspended.get(), "handshake/token"), "<missing>");
}

TEST_P(ProtocolTest, HandshakeCarriesConfiguredUpdateHostAndMethodsAndTheProbedMethodFirst) {
    store_->SetSetting("update_url", "http://example.org/new.cab");
    store_->SetSetting("host", "pelmora.example.org");
    store_->SetSetting("methods", "0");
    auto reply = Hand("anna@example.org", Md5Hex("secret"), "&user_name=%D0%90%D0%BD%D1%8F");
    EXPECT_EQ(TextAt(reply.get(), "handshake/status"), "0");
    EXPECT_EQ(TextAt(reply.get(), "handshake/updateurl"), "http://example.org/new.cab");
    EXPECT_EQ(TextAt(reply.get(), "handshake/host"), "pelmora.example.org");
    EXPECT_EQ(TextAt(reply.get(), "handshake/userName"), "Аня");
    EXPECT_EQ(TextAt(reply.get(), "handshake/method"), "0");

    std::string token = TextAt(reply.get(), "handshake/token");
    EXPECT_EQ(TextAt(Request("config", "token=" + token + "&method_use=2").get(), "config/status"), "0");
    auto again = Hand("anna@example.org", Md5Hex("secret"));
    const TiXmlElement* first = testing::ElementAt(again.get(), "handshake/method");
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->GetText(), "2");
    ASSERT_NE(first->NextSiblingElement(), nullptr);
    EXPECT_STREQ(first->NextSiblingElement()->GetText(), "0");
    std::optional<User> anna = store_->GetUser(anna_);
    EXPECT_EQ(anna->name, "Аня");
}

TEST_P(ProtocolTest, ConfigurationGetReturnsTheStoredSettingsAndTheOtherFormsStoreThem) {
    std::string token = Login("anna@example.org", "secret");
    auto defaults = Request("config", "token=" + token + "&config_get=0");
    EXPECT_EQ(TextAt(defaults.get(), "config/config_rate"), "0");
    EXPECT_EQ(TextAt(defaults.get(), "config/config_visibilily"), "0");
    EXPECT_EQ(TextAt(defaults.get(), "config/config_privatetime"), "0");
    EXPECT_EQ(TextAt(defaults.get(), "config/config_forcegps"), "0");
    EXPECT_EQ(TextAt(defaults.get(), "config/config_levelgps"), "0");

    auto saved = Request("config", "token=" + token + "&config_rate=1&config_privatetime=1&user_name=Анна К.");
    EXPECT_EQ(TextAt(saved.get(), "config/status"), "0");
    EXPECT_EQ(TextAt(Request("config", "token=" + token + "&config_visibilily=2").get(), "config/status"), "0");
    EXPECT_EQ(TextAt(Request("config", "token=" + token + "&method_use=3").get(), "config/status"), "0");

    auto after = Request("config", "token=" + token + "&config_get=0");
    EXPECT_EQ(TextAt(after.get(), "config/config_rate"), "1");
    EXPECT_EQ(TextAt(after.get(), "config/config_visibilily"), "2");
    EXPECT_EQ(TextAt(after.get(), "config/config_privatetime"), "1");
    std::optional<User> anna = store_->GetUser(anna_);
    EXPECT_EQ(anna->name, "Анна К.");
    EXPECT_EQ(anna->methodUse, 3);
}

TEST_P(ProtocolTest, ConfigurationRefusesValuesOutOfRangeAndNamesTheField) {
    std::string token = Login("anna@example.org", "secret");
    auto visibility = Request("config", "token=" + token + "&config_visibilily=7");
    EXPECT_EQ(TextAt(visibility.get(), "config/status"), "1");
    EXPECT_EQ(TextAt(visibility.get(), "config/bad"), "config_visibilily");
    auto settings = Request("config", "token=" + token + "&config_rate=1&config_privatetime=yes");
    EXPECT_EQ(TextAt(settings.get(), "config/status"), "1");
    EXPECT_EQ(TextAt(settings.get(), "config/bad"), "config_privatetime");
    EXPECT_EQ(store_->GetUser(anna_)->rate, 0) << "a refused form changes nothing";
    auto method = Request("config", "token=" + token + "&method_use=9");
    EXPECT_EQ(TextAt(method.get(), "config/status"), "1");
    auto unknown = Request("config", "token=" + token + "&config_colour=red");
    EXPECT_EQ(TextAt(unknown.get(), "error/code"), "400");
}

TEST_P(ProtocolTest, UnknownMissingOrExpiredTokensGet401OnEveryKind) {
    const char* bodies[][2] = {
        {"config", "token=0123456789abcdef0123456789abcdef&config_get=0"},
        {"isee", "token=0123456789abcdef0123456789abcdef&mnc=01&lac=1&cid=1&lac1=1&cid1=1&lac2=1&cid2=1&delta=0&db=0"},
        {"itake", "token=0123456789abcdef0123456789abcdef&mnc=01&lac=1&cid=1&sint_id=0&sint_scope=0&sint_title=x"},
        {"cancel", "token=0123456789abcdef0123456789abcdef&sint_id=1"},
        {"ineed", "token=0123456789abcdef0123456789abcdef&group_list=1"},
        {"ineed", "group_list=1"},
    };
    for (const auto& request : bodies) {
        auto reply = Request(request[0], request[1]);
        EXPECT_EQ(TextAt(reply.get(), "error/code"), "401") << request[0];
        EXPECT_EQ(TextAt(reply.get(), "error/description"), "Сессия недействительна, требуется повторный вход");
    }

    store_->SetSetting("token_lifetime", "600");
    std::string token = Login("anna@example.org", "secret");
    now_ += 500;
    EXPECT_EQ(TextAt(Request("ineed", "token=" + token + "&group_list=1").get(), "ineed/groups"), "");
    now_ += 500;  // 500 s after the last use: still alive
    EXPECT_EQ(TextAt(Request("ineed", "token=" + token + "&group_list=1").get(), "ineed/groups"), "");
    now_ += 601;
    EXPECT_EQ(TextAt(Request("ineed", "token=" + token + "&group_list=1").get(), "error/code"), "401");
}

TEST_P(ProtocolTest, LocationReportIsAcceptedWithTimerAndTheCellAddress) {
    std::string token = Login("anna@example.org", "secret");
    auto reply = Request("isee", "token=" + token +
                                     "&mnc=01&lac=6699&cid=15437&lac1=6699&cid1=2&lac2=7&cid2=65535&delta=-31&db=0");
    EXPECT_EQ(TextAt(reply.get(), "isee/status"), "1");
    EXPECT_EQ(TextAt(reply.get(), "isee/timer"), "300");
    EXPECT_EQ(TextAt(reply.get(), "isee/sint/address"), "Москва, Манежная площадь, 1");
    EXPECT_EQ(TextAt(reply.get(), "isee/sint/sint_id"), "<missing>");
    std::optional<Position> position = store_->PositionOf(anna_);
    ASSERT_TRUE(position.has_value());
    EXPECT_EQ(position->cells[0].cid, 15437);
    EXPECT_EQ(position->cells[1].cid, 2);
    EXPECT_EQ(position->cells[2].cid, 65535);
    EXPECT_EQ(position->delta, -31);

    store_->SetSetting("report_interval", "120");
    auto unknownCell = Report(token, 1, 1);
    EXPECT_EQ(TextAt(unknownCell.get(), "isee/status"), "1");
    EXPECT_EQ(TextAt(unknownCell.get(), "isee/timer"), "120");
    EXPECT_EQ(TextAt(unknownCell.get(), "isee/sint"), "<missing>");

    auto malformed = Request("isee", "token=" + token + "&mnc=01&lac=x&cid=1&lac1=1&cid1=1&lac2=1&cid2=1&delta=0&db=0");
    EXPECT_EQ(TextAt(malformed.get(), "error/code"), "400");
    auto missing = Request("isee", "token=" + token + "&mnc=01&lac=1&cid=1");
    EXPECT_EQ(TextAt(missing.get(), "error/code"), "400");
}

TEST_P(ProtocolTest, PlaceMarkIsSavedReturnedAndCancelledOnlyByItsOwner) {
    std::string anna = Login("anna@example.org", "secret");
    auto saved = Request("itake", "token=" + anna +
                                      "&mnc=01&lac=6699&cid=15437&sint_id=0&sint_scope=0&sint_title=Работа"
                                      "&sint_address_street=Манежная площадь&sint_address_number=1"
                                      "&sint_address_build=а&sint_tags=офис");
    std::string id = TextAt(saved.get(), "itake/id");
    ASSERT_NE(id, "0");
    ASSERT_NE(id, "<missing>");

    auto report = Report(anna, 6699, 15437);
    EXPECT_EQ(TextAt(report.get(), "isee/sint/sint_id"), id);
    EXPECT_EQ(TextAt(report.get(), "isee/sint/sint_scope"), "0");
    EXPECT_EQ(TextAt(report.get(), "isee/sint/sint_title"), "Работа");
    EXPECT_EQ(TextAt(report.get(), "isee/sint/address_street"), "Манежная площадь");
    EXPECT_EQ(TextAt(report.get(), "isee/sint/address_number"), "1");
    EXPECT_EQ(TextAt(report.get(), "isee/sint/address_build"), "а");
    EXPECT_EQ(TextAt(report.get(), "isee/sint/address"), "Москва, Манежная площадь, 1");

    AddUser("boris@example.org", "secret", "Борис");
    std::string boris = Login("boris@example.org", "secret");
    auto foreign = Request("cancel", "token=" + boris + "&sint_id=" + id);
    EXPECT_EQ(TextAt(foreign.get(), "cancel/status"), "1");
    EXPECT_EQ(store_->MarkCount(), 1);
    EXPECT_EQ(TextAt(Request("cancel", "token=" + anna + "&sint_id=99999").get(), "cancel/status"), "1");

    EXPECT_EQ(TextAt(Request("cancel", "token=" + anna + "&sint_id=" + id).get(), "cancel/status"), "0");
    EXPECT_EQ(store_->MarkCount(), 0);
    EXPECT_EQ(TextAt(Request("cancel", "token=" + anna + "&sint_id=" + id).get(), "cancel/status"), "1");
    EXPECT_EQ(TextAt(Report(anna, 6699, 15437).get(), "isee/sint/sint_id"), "<missing>");
}

TEST_P(ProtocolTest, PlaceMarkForAGroupNeedsMembershipAndAValidScope) {
    std::string anna = Login("anna@example.org", "secret");
    std::int64_t stranger = AddGroup("Чужие", {});
    auto notMember = SaveMark(anna, 6699, 15437, 3, "Тайное место", stranger);
    EXPECT_EQ(TextAt(notMember.get(), "error/code"), "400");
    auto badScope = SaveMark(anna, 6699, 15437, 4, "Место");
    EXPECT_EQ(TextAt(badScope.get(), "error/code"), "400");
    EXPECT_EQ(store_->MarkCount(), 0);
}

TEST_P(ProtocolTest, ValuesWithFormAndMarkupCharactersSurviveTheRoundTrip) {
    std::string anna = Login("anna@example.org", "secret");
    const std::string title = "Кафе \"Рога & Копыта\" <b>a=b+c</b> 100% 'ok'";
    const std::string street = "ул. 1+1=2 & Ко";
    auto saved = Request("itake", "token=" + anna + "&mnc=01&lac=6699&cid=15437&sint_id=0&sint_scope=1&sint_title=" +
                                      testing::EncodeValue(title) +
                                      "&sint_address_street=" + testing::EncodeValue(street) +
                                      "&sint_address_number=" + testing::EncodeValue("5/7") +
                                      "&sint_address_build=" + testing::EncodeValue("к2&с3"));
    ASSERT_NE(TextAt(saved.get(), "itake/id"), "0");
    auto report = Report(anna, 6699, 15437);
    EXPECT_EQ(TextAt(report.get(), "isee/sint/sint_title"), title);
    EXPECT_EQ(TextAt(report.get(), "isee/sint/address_street"), street);
    EXPECT_EQ(TextAt(report.get(), "isee/sint/address_number"), "5/7");
    EXPECT_EQ(TextAt(report.get(), "isee/sint/address_build"), "к2&с3");
}

TEST_P(ProtocolTest, AccessLogHasOneLineWithKindUserResultAndMilliseconds) {
    Login("anna@example.org", "secret");
    Request("hand", HandBody("anna@example.org", Md5Hex("wrong")));
    Request("ineed", "token=nope&group_list=1");
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" 127.0.0.1 hand anna@example.org ok "), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" hand anna@example.org status 1 "), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(" ineed - error 401 "), std::string::npos) << lines[2];
    for (const std::string& line : lines) EXPECT_EQ(line.substr(line.size() - 2), "ms") << line;
}

INSTANTIATE_TEST_SUITE_P(Engines, ProtocolTest, testing::AllEngines(), testing::EngineName);

}  // namespace
}  // namespace pelmora
