// Reading the modem's registration reply: the fields, the low bits, and the replies that hold no cell.
#include <gtest/gtest.h>

#include <string>

#include "platform/creg_reply.h"

namespace {

constexpr std::uint32_t kUntouched = 0xDEADBEEF;

struct Parsed {
    bool found;
    std::uint32_t lac;
    std::uint32_t cid;
};

Parsed Parse(const std::string& bytes) {
    Parsed parsed = {false, kUntouched, kUntouched};
    parsed.found = ParseCregReply(bytes.data(), bytes.size(), &parsed.lac, &parsed.cid);
    return parsed;
}

TEST(CregReply, ReadsBothQuotedHexadecimalFields) {
    Parsed parsed = Parse("+CREG: 2,1,\"1A2B\",\"3C4D\"");
    ASSERT_TRUE(parsed.found);
    EXPECT_EQ(6699u, parsed.lac);
    EXPECT_EQ(15437u, parsed.cid);

    parsed = Parse("+CREG: 2,1,\"00C1\",\"FFFF\"");
    ASSERT_TRUE(parsed.found);
    EXPECT_EQ(193u, parsed.lac);
    EXPECT_EQ(65535u, parsed.cid);

    parsed = Parse("+CREG: 2,1,\"00c1\",\"1A2B3C4D\"");
    ASSERT_TRUE(parsed.found);
    EXPECT_EQ(0x1A2B3C4Du, parsed.cid) << "the whole number; the program keeps its low 16 bits";
    EXPECT_EQ(15437u, parsed.cid & 0xFFFF);
}

TEST(CregReply, FindsTheReplyAfterTheEchoedLowerCaseCommands) {
    const std::string reading = "AT+creg=2\r\r\nOK\r\nAT+creg?\r\r\n+CREG: 2,1,\"1A2B\",\"3C4D\"\r\n\r\nOK\r\n";
    const Parsed parsed = Parse(reading);
    ASSERT_TRUE(parsed.found);
    EXPECT_EQ(6699u, parsed.lac);
    EXPECT_EQ(15437u, parsed.cid);

    EXPECT_FALSE(Parse("AT+creg?\r\"1A2B\",\"3C4D\"").found) << "the echo alone never matches";
    EXPECT_FALSE(Parse("at+creg: 2,1,\"1A2B\",\"3C4D\"").found);
}

TEST(CregReply, FailsWithoutTheMarkerOrFourQuotesAndTouchesNothing) {
    for (const std::string& reply : {
             std::string("+CGREG: 2,1,\"1A2B\",\"3C4D\""),  // another query's reply
             std::string("\"1A2B\",\"3C4D\" +CREG: 2,1"),   // quotes before the marker do not count
             std::string("+CREG: 2,0"),                      // not registered: no cell
             std::string("+CREG: 2,1,\"1A2B\",\"3C4D"),      // three quotes
             std::string("+CREG: 2,1,\"\",\"3C4D\""),        // an empty field
             std::string("+CREG: 2,1,\"XYZ\",\"3C4D\""),     // no hexadecimal digit
             std::string("CRE"),
             std::string(),
         }) {
        const Parsed parsed = Parse(reply);
        EXPECT_FALSE(parsed.found) << reply;
        EXPECT_EQ(kUntouched, parsed.lac) << reply;
        EXPECT_EQ(kUntouched, parsed.cid) << reply;
    }
}

TEST(CregReply, ReadsOnlyTheGivenBytes) {
    const std::string reply = "+CREG: 2,1,\"1A2B\",\"3C4D\"";
    std::uint32_t lac = kUntouched;
    std::uint32_t cid = kUntouched;
    EXPECT_FALSE(ParseCregReply(reply.data(), reply.size() - 1, &lac, &cid)) << "the last quote lies beyond";
    EXPECT_FALSE(ParseCregReply(nullptr, 0, &lac, &cid));

    const std::string binary = std::string("\0\x01\xFF", 3) + "+CREG: 2,1,\"1\",\"2\"";
    ASSERT_TRUE(ParseCregReply(binary.data(), binary.size(), &lac, &cid)) << "noise before the reply is skipped";
    EXPECT_EQ(1u, lac);
    EXPECT_EQ(2u, cid);
}

TEST(CregReply, ReadsFieldsAsScanfHexDoes) {
    Parsed parsed = Parse("+CREG: 2,1,\" 0x1A2B\",\"3C4Dzz\"");
    ASSERT_TRUE(parsed.found);
    EXPECT_EQ(0x1A2Bu, parsed.lac) << "leading blank and 0x prefix";
    EXPECT_EQ(0x3C4Du, parsed.cid) << "stops at the first other character";
    parsed = Parse("+CREG: 2,1,\"123456789ABC\",\"0\"");
    ASSERT_TRUE(parsed.found);
    EXPECT_EQ(0x56789ABCu, parsed.lac) << "an overlong number keeps its low bits";
    EXPECT_EQ(0u, parsed.cid);
}

}  // namespace
