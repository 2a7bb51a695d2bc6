// The requests that carry cells: the location report ("isee") and the place mark requests
// ("itake", "cancel").
#include <gtest/gtest.h>

#include <ctime>

#include "location/cell_monitor.h"
#include "location/location_report.h"
#include "location/place_mark.h"
#include "location/place_mark_requests.h"
#include "protocol/transport_state.h"
#include "resources/texts.h"
#include "tests/protocol/exchange_fixture.h"

namespace {

using pelmora_test::XmlReply;

constexpr char kHome[] = "\xD0\x94\xD0\xBE\xD0\xBC";  // "Дом"

class LocationRequests : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        context->networkCode = "01";
        SetHistory({{6699, 15437}, {6699, 2}, {7, 15437}}, std::time(nullptr) - 42);
    }
    void SetHistory(std::initializer_list<std::pair<int, int>> cells, std::int64_t frontChangedAt) {
        context->cellMonitor->history.clear();
        for (const auto& cell : cells) {
            CellIdentity identity;
            identity.lac = static_cast<std::uint16_t>(cell.first);
            identity.cid = static_cast<std::uint16_t>(cell.second);
            identity.changedAt = frontChangedAt - 600;
            context->cellMonitor->history.push_back(identity);
        }
        context->cellMonitor->history.front().changedAt = frontChangedAt;
    }
    static PlaceMark FilledMark() {
        PlaceMark mark;
        mark.id = 77;
        mark.scope = 2;
        mark.group = 4;
        mark.title = L"Работа";
        mark.address = L"Москва";
        mark.tags = L"офис";
        return mark;
    }
};

TEST_F(LocationRequests, ReportSendsTheThreeFrontCellsAndTheSecondsSinceTheFrontOneBecameDominant) {
    server.Push(XmlReply("<isee><status>1</status><timer>300</timer></isee>"));
    server.Push(XmlReply("<isee><status>1</status><timer>300</timer></isee>"));
    const std::int64_t before = std::time(nullptr);
    ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    SetHistory({{65535, 65535}, {65535, 65535}, {65535, 65535}}, std::time(nullptr));
    ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    const std::int64_t after = std::time(nullptr);

    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    const std::string head = "token=T0K&mnc=01&lac=6699&cid=15437&lac1=6699&cid1=2&lac2=7&cid2=15437&delta=";
    bool matched = false;
    for (std::int64_t delta = 42; delta <= 42 + (after - before); ++delta) {
        matched = matched || requests[0] == Envelope("isee", head + std::to_string(delta) + "&db=0");
    }
    EXPECT_TRUE(matched) << requests[0];
    const std::string wide = "token=T0K&mnc=01&lac=65535&cid=65535&lac1=65535&cid1=65535&lac2=65535&cid2=65535&delta=";
    EXPECT_TRUE(requests[1] == Envelope("isee", wide + "0&db=0") || requests[1] == Envelope("isee", wide + "1&db=0"))
        << requests[1];
}

TEST_F(LocationRequests, AShortHistoryRepeatsItsLastCellAndAnEmptyOneReportsNothing) {
    server.Push(XmlReply("<isee><status>1</status><timer>300</timer></isee>"));
    SetHistory({{10, 20}}, std::time(nullptr) + 3600);
    ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    const std::string body = OnlyRequest();
    EXPECT_NE(std::string::npos, body.find("&lac=10&cid=20&lac1=10&cid1=20&lac2=10&cid2=20&delta=-3"));

    context->cellMonitor->history.clear();
    EXPECT_FALSE(SendLocationReport(*context, context->placeMark));
    EXPECT_FALSE(SendPlaceMark(*context, PlaceMark()));
    EXPECT_EQ(1u, server.RequestCount());
}

TEST_F(LocationRequests, ADisabledLocationSendsNothingAndSucceeds) {
    context->cellMonitor->enabled = 0;
    context->placeMark = FilledMark();
    EXPECT_TRUE(SendLocationReport(*context, context->placeMark));
    EXPECT_EQ(0u, server.RequestCount());
    EXPECT_EQ(77, context->placeMark.id);
}

TEST_F(LocationRequests, AnAcceptedReportRefillsThePlaceMark) {
    server.Push(XmlReply("<isee><status>1</status><timer>300</timer></isee>"));
    server.Push(XmlReply(std::string("<isee><status>1</status><timer>120</timer><sint><sint_id>31</sint_id>"
                                     "<sint_scope>3</sint_scope><sint_group>17</sint_group><sint_title>") +
                         kHome + "</sint_title><address>\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0</address>"
                                 "<address_street>Lenina</address_street><address_number>5a</address_number>"
                                 "<address_build>2</address_build></sint></isee>"));
    server.Push(XmlReply("<isee><status>1</status><timer/><sint><sint_title/></sint></isee>"));

    context->placeMark = FilledMark();
    context->rateMode = RateMode::Optimal;
    ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    EXPECT_EQ(300, context->reportInterval);
    EXPECT_EQ(1, context->reportStatus);
    const PlaceMark& mark = context->placeMark;
    EXPECT_EQ(0, mark.id);
    EXPECT_EQ(0, mark.scope);
    EXPECT_EQ(0, mark.group);
    EXPECT_EQ(L"", mark.title);
    EXPECT_EQ(L"", mark.address);
    EXPECT_EQ(L"", mark.tags);
    EXPECT_EQ(RateMode::Optimal, context->rateMode);

    ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    EXPECT_EQ(120, context->reportInterval);
    EXPECT_EQ(31, mark.id);
    EXPECT_EQ(3, mark.scope);
    EXPECT_EQ(17, mark.group);
    EXPECT_EQ(L"Дом", mark.title);
    EXPECT_EQ(L"Москва", mark.address);
    EXPECT_EQ(L"Lenina", mark.street);
    EXPECT_EQ(L"5a", mark.house);
    EXPECT_EQ(L"2", mark.building);

    ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    EXPECT_EQ(120, context->reportInterval) << "a timer without text changes nothing";
    EXPECT_EQ(RateMode::Optimal, context->rateMode);
    EXPECT_EQ(0, mark.id);
}

TEST_F(LocationRequests, ReportWithoutTimerRaisesTheRateAndARefusalKeepsThePlace) {
    server.Push(XmlReply("<isee><status>1</status></isee>"));
    server.Push(XmlReply("<isee><status>0</status><timer>5</timer><sint><sint_id>9</sint_id></sint></isee>"));
    server.Push(XmlReply("<isee><status/></isee>"));
    server.Push(XmlReply("<other><status>1</status></other>"));

    context->rateMode = RateMode::Optimal;
    ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    EXPECT_EQ(RateMode::CellChange, context->rateMode);

    context->placeMark = FilledMark();
    context->reportInterval = 60;
    EXPECT_FALSE(SendLocationReport(*context, context->placeMark));
    EXPECT_EQ(0, context->reportStatus);
    EXPECT_EQ(60, context->reportInterval);
    EXPECT_EQ(77, context->placeMark.id);
    EXPECT_EQ(L"Работа", context->placeMark.title);

    context->reportStatus = 8;
    EXPECT_FALSE(SendLocationReport(*context, context->placeMark));
    EXPECT_FALSE(SendLocationReport(*context, context->placeMark));
    EXPECT_EQ(8, context->reportStatus);
    EXPECT_EQ(77, context->placeMark.id);

    context->transport->serverAddress.sin_port = htons(pelmora_test::FakeServer::UnusedPort());
    EXPECT_FALSE(SendLocationReport(*context, context->placeMark));
    EXPECT_EQ(kTextTransferError, context->statusText);
}

TEST_F(LocationRequests, PlaceMarkBodiesSendTheFrontCellAndOnlyTheFieldsThereAre) {
    PlaceMark titleOnly;
    titleOnly.id = 42;
    titleOnly.scope = 1;
    titleOnly.title = L"Дом";
    PlaceMark forGroup;
    forGroup.scope = 3;
    forGroup.group = 17;
    forGroup.street = L"Тверская";
    forGroup.house = L"7";
    forGroup.building = L"2";
    forGroup.tags = L"a&b";
    PlaceMark untitled;
    untitled.scope = 0;
    untitled.group = 17;

    for (int reply = 0; reply < 3; ++reply) server.Push(XmlReply("<itake><id>5</id></itake>"));
    EXPECT_TRUE(SendPlaceMark(*context, titleOnly));
    EXPECT_TRUE(SendPlaceMark(*context, forGroup));
    EXPECT_TRUE(SendPlaceMark(*context, untitled));
    EXPECT_EQ(42, titleOnly.id) << "the id returned is not stored";

    const std::string cell = "token=T0K&mnc=01&lac=6699&cid=15437&sint_id=0";
    const auto requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(Envelope("itake", cell + "&sint_scope=1&sint_title=" + kHome), requests[0]);
    EXPECT_EQ(Envelope("itake", cell + "&sint_scope=3&sint_scope_group=17&sint_title="
                                       "&sint_address_street=\xD0\xA2\xD0\xB2\xD0\xB5\xD1\x80\xD1\x81\xD0\xBA\xD0\xB0\xD1\x8F"
                                       "&sint_address_number=7&sint_address_build=2&sint_tags=a%26b"),
              requests[1]);
    EXPECT_EQ(Envelope("itake", cell + "&sint_scope=0&sint_title="), requests[2]);
}

TEST_F(LocationRequests, PlaceMarkRepliesDecideTheResult) {
    const struct {
        const char* reply;
        bool result;
    } itake[] = {
        {"<itake><id>5</id></itake>", true},   {"<itake><id>0</id></itake>", false},
        {"<itake><id/></itake>", false},       {"<itake/>", false},
        {"<cancel><id>5</id></cancel>", false},
    };
    for (const auto& testCase : itake) {
        server.Push(XmlReply(testCase.reply));
        EXPECT_EQ(testCase.result, SendPlaceMark(*context, PlaceMark())) << testCase.reply;
    }

    const struct {
        const char* reply;
        bool result;
    } cancel[] = {
        {"<cancel><status>0</status></cancel>", true}, {"<cancel><status>2</status></cancel>", true},
        {"<cancel><status>1</status></cancel>", false}, {"<cancel><status/></cancel>", false},
        {"<cancel/>", false},                           {"<itake><status>0</status></itake>", false},
    };
    server.Push(XmlReply(cancel[0].reply));
    PlaceMark unnamed;
    EXPECT_TRUE(DeletePlaceMark(*context, unnamed));
    EXPECT_EQ(Envelope("cancel", "token=T0K&sint_id=0"), server.Requests().back());
    PlaceMark named = FilledMark();
    for (const auto& testCase : cancel) {
        server.Push(XmlReply(testCase.reply));
        EXPECT_EQ(testCase.result, DeletePlaceMark(*context, named)) << testCase.reply;
    }
    EXPECT_EQ(Envelope("cancel", "token=T0K&sint_id=77"), server.Requests().back());

    context->transport->serverAddress.sin_port = htons(pelmora_test::FakeServer::UnusedPort());
    context->statusText.clear();
    EXPECT_FALSE(DeletePlaceMark(*context, named));
    EXPECT_EQ(kTextTransferError, context->statusText);
}

}  // namespace
