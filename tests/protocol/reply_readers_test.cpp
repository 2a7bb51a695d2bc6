// The readers of every reply kind over hostile content: numbers beyond every range, the server's own
// texts of any length, addresses in the handshake, and method lists that repeat themselves.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "app/report_cycle.h"
#include "location/location_report.h"
#include "location/place_mark.h"
#include "location/place_mark_requests.h"
#include "protocol/configuration.h"
#include "protocol/groups.h"
#include "protocol/handshake.h"
#include "protocol/transport.h"
#include "protocol/wire_format.h"
#include "tests/protocol/exchange_fixture.h"

namespace {

using pelmora_test::HttpReply;
using pelmora_test::XmlDocument;

TEST(Numbers, AreReadAsAtoiReadsThemButStopAtTheEndsOfTheRange) {
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"42", 42},
        {"  \t\n-7x", -7},
        {"+5", 5},
        {"007", 7},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"4294967296", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"99999999999999999999999999999999999999", INT_MAX},
        {"-99999999999999999999999999999999999999", INT_MIN},
        {"", 0},
        {"abc", 0},
        {"--1", 0},
        {"+ 3", 0},
        {"0x10", 0},
        {"1e9", 1},
        {"\xD0\x9F""5", 0},
    };
    for (const auto& testCase : cases) EXPECT_EQ(testCase.value, ReadDecimal(testCase.text)) << testCase.text;
}

class ReplyReaders : public ExchangeTest {
protected:
    const TiXmlElement* Root(const std::string& elements, const char* name) {
        ParseReplyDocument(elements, &document_);
        return document_.FirstChildElement(name);
    }
    TiXmlDocument document_;
};

// A number the C library would overflow, read as wrapping round, turns into another number: a timer
// of a few seconds, a mark id of 0, a refused deletion. Each reads as the nearest end of the range.
TEST_F(ReplyReaders, NumbersBeyondTheRangeReadAsItsNearestEnd) {
    PlaceMark mark;
    ASSERT_TRUE(ReadLocationReply(Root("<isee><status>1</status><timer>4294967326</timer><sint>"
                                       "<sint_id>-99999999999</sint_id><sint_scope>2147483648</sint_scope>"
                                       "<sint_group> -7abc</sint_group></sint></isee>",
                                       "isee"),
                                  *context, mark));
    EXPECT_EQ(INT_MAX, context->reportInterval);
    EXPECT_EQ(2147483000u, ReportTimerIntervalMs(*context)) << "not 30 s, as 4294967326 wrapped would give";
    EXPECT_EQ(INT_MIN, mark.id);
    EXPECT_EQ(INT_MAX, mark.scope);
    EXPECT_EQ(-7, mark.group);

    EXPECT_TRUE(ReadPlaceMarkReply(Root("<itake><id>4294967296</id></itake>", "itake")));
    EXPECT_TRUE(ReadCancelReply(Root("<cancel><status>4294967297</status></cancel>", "cancel")));

    ReadConfigurationReply(Root("<config><config_rate>4294967297</config_rate>"
                                "<config_privatetime>-4294967295</config_privatetime></config>",
                                "config"),
                           *context);
    EXPECT_EQ(static_cast<RateMode>(INT_MAX), context->rateMode);
    EXPECT_EQ(INT_MIN, context->privateTime);

    GroupList groups;
    ReadGroupsReply(Root("<ineed><groups><group><group_id>99999999999</group_id><users><user>"
                         "<user_id>-99999999999</user_id></user></users></group></groups></ineed>",
                         "ineed"),
                    &groups);
    ASSERT_EQ(1u, groups.size());
    EXPECT_EQ(INT_MAX, groups[0].id);
    ASSERT_EQ(1u, groups[0].people.size());
    EXPECT_EQ(INT_MIN, groups[0].people[0].id);
}

TEST_F(ReplyReaders, StatusAndErrorCodesBeyondTheRangeMatchNoKnownCode) {
    // 4294967496 wraps round to 200, 4294967697 to 401.
    const std::string document = XmlDocument("<config/>");
    const std::string huge200 = "HTTP/1.0 4294967496 OK\r\nContent-Type: text/xml\r\n\r\n" + document;
    EXPECT_EQ(nullptr, ReadReply(*context, "config", huge200, &document_));
    EXPECT_EQ(L"4294967496 OK", context->statusText);

    const std::string huge401 =
        HttpReply("HTTP/1.0 200 OK", "text/xml",
                  XmlDocument("<error><code>4294967697</code><description>Bye</description></error>"))
            .bytes;
    EXPECT_EQ(nullptr, ReadReply(*context, "config", huge401, &document_));
    EXPECT_EQ(L"4294967697: Bye", context->statusText);
    EXPECT_EQ(0, renewalMessages);
}

TEST_F(ReplyReaders, TheServersErrorTextIsShownWithinTheStatusLinesBounds) {
    const struct {
        std::string description;
        std::wstring shown;
    } cases[] = {
        {"Short", L"503: Short"},
        {std::string(300, 'x'), L"503: " + std::wstring(250, L'x')},
        // U+1F600 is a surrogate pair in UTF-16; a cut between its halves would leave half a character.
        {std::string(249, 'x') + "\xF0\x9F\x98\x80" + "tail", L"503: " + std::wstring(249, L'x')},
        {std::string(248, 'x') + "\xF0\x9F\x98\x80" + "tail", L"503: " + std::wstring(248, L'x') + L"\U0001F600"},
    };
    for (const auto& testCase : cases) {
        const std::string reply =
            HttpReply("HTTP/1.0 200 OK", "text/xml",
                      XmlDocument("<error><code>503</code><description>" + testCase.description +
                                  "</description></error>"))
                .bytes;
        EXPECT_EQ(nullptr, ReadReply(*context, "config", reply, &document_));
        EXPECT_EQ(testCase.shown, context->statusText) << testCase.description;
    }
}

TEST(ServerAddress, NamesAnAddressByItsFirstNumberAndThreeDots) {
    const struct {
        const char* host;
        bool address;
        unsigned char bytes[4];
    } cases[] = {
        {"10.0.0.1", true, {10, 0, 0, 1}},
        {"300.1.2.259", true, {44, 1, 2, 3}},
        {"-1.2.3.4", true, {255, 2, 3, 4}},
        {"99999999999.1.2.3", true, {255, 1, 2, 3}},
        {"7.x.y.z", true, {7, 0, 0, 0}},
        {"256.1.2.3", false, {}},
        {"-99999999999.1.2.3", false, {}},
        {"1.2.3", false, {}},
        {"pelmora.example", false, {}},
        {"", false, {}},
    };
    for (const auto& testCase : cases) {
        in_addr address = {};
        address.s_addr = 0x5A5A5A5A;
        EXPECT_EQ(testCase.address, ReadServerAddress(testCase.host, &address)) << testCase.host;
        if (testCase.address) {
            EXPECT_EQ(0, std::memcmp(testCase.bytes, &address, 4)) << testCase.host;
        } else {
            EXPECT_EQ(0x5A5A5A5Au, address.s_addr) << testCase.host;
        }
    }
}

TEST(MethodList, RepeatedSourcesAreTriedOnceAndTheWalkEndsWhereItDid) {
    using Methods = std::vector<std::optional<CellMethod>>;
    constexpr CellMethod kOff = CellMethod::Off;
    constexpr CellMethod kProbe = CellMethod::Probe;
    constexpr CellMethod kRadio = CellMethod::Radio;
    constexpr CellMethod kCom2 = CellMethod::Com2;
    constexpr CellMethod kCom9 = CellMethod::Com9;
    constexpr CellMethod kBeyond = static_cast<CellMethod>(4);
    constexpr CellMethod kMinus5 = static_cast<CellMethod>(-5);
    constexpr CellMethod kMinus6 = static_cast<CellMethod>(-6);
    const struct {
        Methods given;
        Methods tried;
    } cases[] = {
        {{}, {}},
        {{std::nullopt}, {}},
        {{kRadio, kRadio, kRadio}, {kRadio}},
        {{kCom2, kRadio, kCom2}, {kCom2, kRadio, kCom2}},
        {{kCom2, kRadio, kCom2, kCom2, kRadio, kCom2}, {kCom2, kRadio, kCom2}},
        {{kCom2, kRadio, kRadio}, {kCom2, kRadio}},
        {{kRadio, std::nullopt, kCom2, kRadio, kProbe, kCom9}, {kRadio, kCom2, kProbe}},
        {{kCom9, kCom9, kOff, kCom2}, {kCom9, kOff}},
        {{kRadio, kBeyond}, {kRadio, kBeyond}},
        {{kMinus5, kMinus5, kMinus6}, {kMinus5, kMinus6}},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(testCase.tried, MethodsWorthTrying(testCase.given)) << testing::PrintToString(testCase.given);
    }
}

}  // namespace
