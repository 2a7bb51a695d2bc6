// The "ineed" request and the groups-and-people model it rebuilds.
#include <gtest/gtest.h>

#include "platform/scratch_heap.h"
#include "protocol/groups.h"
#include "protocol/transport_state.h"
#include "resources/texts.h"
#include "tests/protocol/exchange_fixture.h"

namespace {

using pelmora_test::XmlReply;

class GroupsTest : public ExchangeTest {};

TEST_F(GroupsTest, BuildsTheModelInReplyOrderWithTheDefaultsOfMissingParts) {
    server.Push(XmlReply(
        "<ineed><groups>"
        "<group><title>\xD0\xA1\xD0\xB5\xD0\xBC\xD1\x8C\xD1\x8F</title><group_id>12</group_id><count>3</count><users>"
        "<user><user_id>5</user_id><name>\xD0\x90\xD0\xBD\xD0\xBD\xD0\xB0</name>"
        "<address>\xD0\xA2\xD0\xB2\xD0\xB5\xD1\x80\xD1\x81\xD0\xBA\xD0\xB0\xD1\x8F, 1</address>"
        "<distance>2.5</distance></user>"
        "<user><user_id>5</user_id><name>Anna</name></user>"
        "<user><distance>0,3</distance></user>"
        "<visitor><name>Guest</name></visitor>"
        "</users></group>"
        "<group><count>5</count><users/></group>"
        "<stray/>"
        "</groups></ineed>"));
    context->groups.push_back(Group());  // whatever was there goes
    const std::size_t scratchBefore = CommittedScratchBytes();
    FetchGroups(*context);
    EXPECT_EQ(scratchBefore, CommittedScratchBytes()) << "the reply's tree has given its pages back";

    const std::string expected = Envelope("ineed", "token=T0K&group_list=1");
    EXPECT_EQ(expected, OnlyRequest());
    const GroupList& groups = context->groups;
    ASSERT_EQ(3u, groups.size());
    EXPECT_EQ(12, groups[0].id);
    EXPECT_EQ(L"Семья (3)", groups[0].title);
    ASSERT_EQ(4u, groups[0].people.size());
    EXPECT_EQ(5, groups[0].people[0].id);
    EXPECT_EQ(L"Анна: ", groups[0].people[0].name);
    EXPECT_EQ(L"Тверская, 1, 2.5 км", groups[0].people[0].address);
    EXPECT_FALSE(IsScratchMemory(groups[0].people[0].address.data())) << "the model outlives the tree";
    EXPECT_EQ(L"", groups[0].people[0].addressFirstPart);
    EXPECT_EQ(0, groups[0].people[0].nameWidth);
    EXPECT_EQ(5, groups[0].people[1].id) << "the same person twice is kept twice";
    EXPECT_EQ(L"Anna: ", groups[0].people[1].name);
    EXPECT_EQ(L"", groups[0].people[1].address);
    EXPECT_EQ(-1, groups[0].people[2].id);
    EXPECT_EQ(L"", groups[0].people[2].name) << "no name, no colon";
    EXPECT_EQ(L", 0,3 км", groups[0].people[2].address);
    EXPECT_EQ(L"Guest: ", groups[0].people[3].name) << "a sibling of another name is a person too";

    EXPECT_EQ(2147483647, groups[1].id);
    EXPECT_EQ(L" (5)", groups[1].title);
    EXPECT_TRUE(groups[1].people.empty());
    EXPECT_EQ(2147483647, groups[2].id) << "a sibling of another name is a group too";
    EXPECT_EQ(L"", groups[2].title);
}

// A person's texts come through whole whatever their length: bytes that are not UTF-8 become U+FFFD as
// in every other text, a character beyond the first plane a surrogate pair.
TEST(GroupsReply, PeopleTextsAreConvertedWhole) {
    struct Case {
        std::string user;
        std::wstring name;
        std::wstring address;
    };
    const std::string longName(60, 'n');
    const std::string longAddress(300, 'a');
    const Case cases[] = {
        {"<name>\xFF</name>", L"\xFFFD: ", L""},
        {"<name>\xF0\x9F\x98\x80</name><address>A</address><distance>1</distance>", L"\xD83D\xDE00: ",
         std::wstring(L"A, 1") + kTextDistanceUnit},
        {"<name>" + longName + "</name><address>" + longAddress + "</address>",
         std::wstring(longName.begin(), longName.end()) + L": ", std::wstring(longAddress.begin(), longAddress.end())},
        {"<address>\xD0\x90\xFF</address><distance>\xFF</distance>", L"",
         std::wstring(L"\x0410\xFFFD, \xFFFD") + kTextDistanceUnit},
    };
    for (const Case& testCase : cases) {
        const std::string reply =
            "<ineed><groups><group><users><user>" + testCase.user + "</user></users></group></groups></ineed>";
        TiXmlDocument document;
        document.Parse(reply.c_str());
        GroupList groups;
        ReadGroupsReply(document.RootElement(), &groups);
        ASSERT_EQ(1u, groups.size()) << testCase.user;
        ASSERT_EQ(1u, groups[0].people.size()) << testCase.user;
        EXPECT_EQ(testCase.name, groups[0].people[0].name) << testCase.user;
        EXPECT_EQ(testCase.address, groups[0].people[0].address) << testCase.user;
    }
}

TEST_F(GroupsTest, AnyFailureLeavesTheModelEmpty) {
    const char* replies[] = {
        "<ineed/>",
        "<ineed><groups/></ineed>",
        "<ineed><groups><team><title>T</title></team></groups></ineed>",
        "<error><code>9</code><description>No</description></error>",
    };
    for (const char* reply : replies) {
        server.Push(XmlReply("<ineed><groups><group><group_id>1</group_id></group></groups></ineed>"));
        FetchGroups(*context);
        ASSERT_EQ(1u, context->groups.size());
        context->statusText.clear();
        server.Push(XmlReply(reply));
        FetchGroups(*context);
        EXPECT_TRUE(context->groups.empty()) << reply;
    }
    EXPECT_EQ(L"9: No", context->statusText);

    context->groups.push_back(Group());
    context->transport->serverAddress.sin_port = htons(pelmora_test::FakeServer::UnusedPort());
    FetchGroups(*context);
    EXPECT_TRUE(context->groups.empty());
    EXPECT_EQ(kTextTransferError, context->statusText);

    context->groups.push_back(Group());
    ClearGroups(*context);
    EXPECT_TRUE(context->groups.empty());
}

// A reply nested far deeper than any real one would overflow the parser's stack: it is refused as a
// failed transfer, whatever its size under the reply limit, and the next reply is read as usual.
TEST_F(GroupsTest, ADeeplyNestedReplyFailsAsATransferErrorAndTheNextOneIsRead) {
    const struct {
        std::size_t levels;
        bool refused;
    } cases[] = {{10000, true}, {1000000, true}, {257, true}, {255, false}};
    const std::string normal = "<ineed><groups><group><group_id>4</group_id></group></groups></ineed>";
    for (const auto& testCase : cases) {
        std::string deep = "<ineed><groups><group><group_id>7</group_id></group></groups>";
        for (std::size_t level = 0; level < testCase.levels - 1; ++level) deep += "<a>";
        for (std::size_t level = 0; level < testCase.levels - 1; ++level) deep += "</a>";
        deep += "</ineed>";
        server.Push(XmlReply(deep));
        server.Push(XmlReply(normal));
        context->statusText.clear();
        FetchGroups(*context);
        if (testCase.refused) {
            EXPECT_TRUE(context->groups.empty()) << testCase.levels;
            EXPECT_EQ(kTextTransferError, context->statusText) << testCase.levels;
        } else {
            ASSERT_EQ(1u, context->groups.size()) << testCase.levels;
            EXPECT_EQ(7, context->groups[0].id);
            EXPECT_EQ(L"", context->statusText);
        }
        FetchGroups(*context);
        ASSERT_EQ(1u, context->groups.size()) << testCase.levels;
        EXPECT_EQ(4, context->groups[0].id);
    }
}

}  // namespace
