#include <gtest/gtest.h>

#include <string>

#include "modem.h"

namespace phonesim {
namespace {

ModemSettings OneCell(std::uint32_t lac, std::uint32_t ci) {
    ModemSettings settings;
    settings.route = {{1, lac, ci}};
    return settings;
}

std::string Say(ModemSession& session, const std::string& bytes, double elapsed = 0) {
    return session.Receive(bytes.data(), bytes.size(), elapsed).bytes;
}

TEST(ModemSession, EchoesAndAnswersTheRegistrationDialogueInAnyCase) {
    const ModemSettings settings = OneCell(0x1A2B, 0x3C4D);
    ModemSession session(settings);
    EXPECT_EQ("AT+creg?\r\r\n+CREG: 0,1\r\n\r\nOK\r\n", Say(session, "AT+creg?\r"))
        << "before +CREG=2 the modem reports no location";
    EXPECT_EQ("AT+creg=2\r\r\nOK\r\n", Say(session, "AT+creg=2\r"));
    EXPECT_EQ("AT+creg?\r\r\n+CREG: 2,1,\"1A2B\",\"3C4D\"\r\n\r\nOK\r\n", Say(session, "AT+creg?\r"));
    EXPECT_EQ("at+CREG?\r\r\n+CREG: 2,1,\"1A2B\",\"3C4D\"\r\n\r\nOK\r\n", Say(session, "at+CREG?\r"));
}

TEST(ModemSession, AssemblesCommandsFromPiecesAndIgnoresLineFeeds) {
    const ModemSettings settings = OneCell(0xC1, 0xFFFF);
    ModemSession session(settings);
    EXPECT_EQ("AT+c", Say(session, "AT+c"));
    EXPECT_EQ("reg=2\r\r\nOK\r\n\n", Say(session, "reg=2\r\n")) << "the line feed is echoed after the answer";
    EXPECT_EQ("AT+CREG?\r\r\n+CREG: 2,1,\"00C1\",\"FFFF\"\r\n\r\nOK\r\n", Say(session, "AT+CREG?\r"));
    EXPECT_EQ("\r", Say(session, "\r")) << "an empty line is only echoed";
}

TEST(ModemSession, AnswersOtherCommandsAsAModemDoes) {
    const ModemSettings settings = OneCell(1, 2);
    ModemSession session(settings);
    EXPECT_EQ("AT\r\r\nOK\r\n", Say(session, "AT\r"));
    EXPECT_EQ("AT+CREG=?\r\r\n+CREG: (0-2)\r\n\r\nOK\r\n", Say(session, "AT+CREG=?\r"));
    EXPECT_EQ("AT+CREG=7\r\r\nERROR\r\n", Say(session, "AT+CREG=7\r"));
    EXPECT_EQ("ATD123\r\r\nERROR\r\n", Say(session, "ATD123\r"));
    EXPECT_EQ("hello\r", Say(session, "hello\r")) << "text without AT is not a command";
    EXPECT_EQ("ATE0\r\r\nOK\r\n", Say(session, "ATE0\r"));
    EXPECT_EQ("\r\nOK\r\n", Say(session, "AT\r")) << "echo is off";
    EXPECT_EQ("\r\nERROR\r\n", Say(session, "AT" + std::string(600, 'X') + "\r")) << "an overlong command";
}

TEST(ModemSession, ReportsTheCellOfTheRouteAtTheTimeOfTheQuery) {
    ModemSettings settings;
    settings.route = {{10, 0x1A2B, 0x3C4D}, {5, 0x00C1, 0x1A2B3C4D}};
    ModemSession session(settings);
    Say(session, "AT+CREG=2\r");
    EXPECT_NE(std::string::npos, Say(session, "AT+CREG?\r", 9.9).find("\"1A2B\",\"3C4D\""));
    EXPECT_NE(std::string::npos, Say(session, "AT+CREG?\r", 10.0).find("\"00C1\",\"1A2B3C4D\""));
    EXPECT_NE(std::string::npos, Say(session, "AT+CREG?\r", 16.0).find("\"1A2B\",\"3C4D\"")) << "starts over";
}

TEST(ModemSession, Faults) {
    ModemSettings settings = OneCell(0x1A2B, 0x3C4D);
    settings.fault = Fault::Silent;
    {
        ModemSession session(settings);
        EXPECT_EQ("", Say(session, "AT+creg=2\r"));
    }
    settings.fault = Fault::Garbage;
    {
        ModemSession session(settings);
        const std::string reply = Say(session, "AT+creg?\r");
        ASSERT_EQ(0u, reply.find("AT+creg?\r"));
        EXPECT_GT(reply.size(), 20u);
        EXPECT_EQ(std::string::npos, reply.find("CREG"));
        EXPECT_EQ(std::string::npos, reply.find('"'));
    }
    settings.fault = Fault::NoCreg;
    {
        ModemSession session(settings);
        Say(session, "AT+CREG=2\r");
        const std::string reply = Say(session, "AT+CREG?\r");
        EXPECT_EQ("AT+CREG?\r\r\n+CGREG: 2,1,\"1A2B\",\"3C4D\"\r\n\r\nOK\r\n", reply);
    }
    settings.fault = Fault::Drop;
    {
        ModemSession session(settings);
        const std::string first = "AT+creg=2\r";
        const ModemOutput output = session.Receive(first.data(), first.size(), 0);
        EXPECT_EQ(first, output.bytes) << "echo only";
        EXPECT_TRUE(output.hangUp);
    }
    settings.fault = Fault::Flood;
    {
        ModemSession session(settings);
        const std::string first = "AT+creg=2\r";
        EXPECT_TRUE(session.Receive(first.data(), first.size(), 0).flood);
    }
}

TEST(ModemSession, EveryNthQueryFindsNoNetwork) {
    ModemSettings settings = OneCell(0x1A2B, 0x3C4D);
    settings.unregisteredEvery = 2;
    ModemSession session(settings);
    Say(session, "AT+CREG=2\r");
    EXPECT_NE(std::string::npos, Say(session, "AT+CREG?\r").find("+CREG: 2,1,\"1A2B\""));
    EXPECT_EQ("AT+CREG?\r\r\n+CREG: 2,0\r\n\r\nOK\r\n", Say(session, "AT+CREG?\r"));
    EXPECT_NE(std::string::npos, Say(session, "AT+CREG?\r").find("+CREG: 2,1,\"1A2B\""));
}

TEST(ModemSession, HangsUpAtTheNthQueryOfTheWholeRun) {
    ModemSettings settings = OneCell(0x1A2B, 0x3C4D);
    settings.hangUpAtQuery = 3;
    ModemRun run;
    const std::string query = "AT+CREG?\r";
    const std::string answer = "AT+CREG?\r\r\n+CREG: 2,1,\"1A2B\",\"3C4D\"\r\n\r\nOK\r\n";
    ModemSession first(settings, &run);
    Say(first, "AT+CREG=2\r");
    EXPECT_EQ(answer, Say(first, query)) << "query 1";
    ModemSession second(settings, &run);
    Say(second, "AT+CREG=2\r");
    EXPECT_EQ(answer, Say(second, query)) << "query 2, on another connection";
    const ModemOutput hangUp = second.Receive(query.data(), query.size(), 0);
    EXPECT_EQ(query, hangUp.bytes) << "query 3: the echo, then nothing";
    EXPECT_TRUE(hangUp.hangUp);
    ModemSession third(settings, &run);
    Say(third, "AT+CREG=2\r");
    const ModemOutput later = third.Receive(query.data(), query.size(), 0);
    EXPECT_EQ(answer, later.bytes) << "query 4 is answered again";
    EXPECT_FALSE(later.hangUp);
    EXPECT_FALSE(third.Receive("AT\r", 3, 0).hangUp) << "other commands never hang up";
}

TEST(Noise, NeverHoldsCregNorQuotes) {
    std::uint32_t seed = 7;
    const std::string noise = Noise(100000, &seed);
    EXPECT_EQ(100000u, noise.size());
    EXPECT_EQ(std::string::npos, noise.find("CREG"));
    EXPECT_EQ(std::string::npos, noise.find('"'));
    EXPECT_EQ(std::string::npos, noise.find('\0'));
}

TEST(Route, ReadsStopsCommentsAndCommas) {
    std::vector<RouteStop> route;
    std::string error;
    ASSERT_TRUE(ParseRoute("# a walk\n60 1A2B 3C4D\n\n0.5, 00c1, FFFF  # corner\r\n", &route, &error)) << error;
    ASSERT_EQ(2u, route.size());
    EXPECT_EQ(60, route[0].seconds);
    EXPECT_EQ(0x1A2Bu, route[0].lac);
    EXPECT_EQ(0x3C4Du, route[0].ci);
    EXPECT_EQ(0.5, route[1].seconds);
    EXPECT_EQ(0xC1u, route[1].lac);
    EXPECT_EQ(0xFFFFu, route[1].ci);
}

TEST(Route, RejectsWhatIsNotAStop) {
    std::vector<RouteStop> route;
    std::string error;
    EXPECT_FALSE(ParseRoute("60 1A2B 3C4D\n60 1A2B\n", &route, &error));
    EXPECT_EQ("line 2: expected \"SECONDS LAC CI\" (LAC and CI in hexadecimal)", error);
    EXPECT_TRUE(route.empty());
    EXPECT_FALSE(ParseRoute("0 1A2B 3C4D\n", &route, &error)) << "a stop takes time";
    EXPECT_FALSE(ParseRoute("10 XYZ 3C4D\n", &route, &error));
    EXPECT_FALSE(ParseRoute("10 1A2B 123456789\n", &route, &error)) << "more than 32 bits";
    EXPECT_FALSE(ParseRoute("# nothing\n\n", &route, &error));
    EXPECT_EQ("the route has no cell", error);
}

}  // namespace
}  // namespace phonesim
