// The reply campaign's own parts: inputs that a number finds again, files named for their reader, the
// real replies read to their end with every check holding, and the text check itself.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "location/cell_monitor.h"
#include "protocol/transport.h"
#include "tools/reply-campaign/campaign_input.h"
#include "tools/reply-campaign/mutations.h"
#include "tools/reply-campaign/reply_feeder.h"

namespace {

TEST(CampaignFiles, NameTheirReaderBeforeTheFirstDot) {
    const struct {
        const char* name;
        const char* reader;  // the reader's name, or null for none
    } cases[] = {
        {"hand.accepted", "hand"},
        {"Z:\\seeds\\config-get.x", "config-get"},
        {"/seeds/config-change.visibility", "config-change"},
        {"config-method.crash-seed1-input5", "config-method"},
        {"isee", "isee"},
        {"itake.a.b", "itake"},
        {"cancel.done", "cancel"},
        {"ineed.large", "ineed"},
        {"creg.garbage", "creg"},
        {"dir.hand/isee.x", "isee"},
        {"README", nullptr},
        {"config.get", nullptr},
        {"hand-accepted", nullptr},
    };
    for (const auto& testCase : cases) {
        Reader reader = Reader::Handshake;
        EXPECT_EQ(testCase.reader != nullptr, ReaderOfFile(testCase.name, &reader)) << testCase.name;
        if (testCase.reader != nullptr) {
            EXPECT_STREQ(testCase.reader, ReaderName(reader)) << testCase.name;
        }
    }
}

class CampaignSeeds : public ::testing::Test {
protected:
    void SetUp() override {
        seeds = LoadSeeds(PELMORA_CAMPAIGN_SEEDS);
        ASSERT_FALSE(seeds.empty());
    }
    std::vector<Seed> seeds;
};

TEST_F(CampaignSeeds, EveryReaderHasARealReply) {
    std::set<Reader> readers;
    for (const Seed& seed : seeds) readers.insert(seed.reader);
    EXPECT_EQ(static_cast<std::size_t>(kReaderCount), readers.size());
}

TEST_F(CampaignSeeds, AnInputIsFoundAgainByItsNumberAndStaysWithinTheLimits) {
    std::size_t changed = 0;
    std::size_t differentForAnotherCampaign = 0;
    const std::size_t count = seeds.size() * 40;
    for (std::size_t index = 0; index < count; ++index) {
        const CampaignInput input = MakeInput(seeds, 5, index);
        const Seed& seed = seeds[index % seeds.size()];
        EXPECT_EQ(seed.reader, input.reader);
        EXPECT_EQ(input.bytes, MakeInput(seeds, 5, index).bytes) << index;
        if (index < seeds.size()) {
            EXPECT_EQ(seed.bytes, input.bytes) << "the first round is the seeds themselves";
        }
        EXPECT_LE(input.bytes.size(), input.reader == Reader::ModemReply ? kModemReplySize : kMaxReplyBytes);
        if (input.bytes != seed.bytes) ++changed;
        if (input.bytes != MakeInput(seeds, 6, index).bytes) ++differentForAnotherCampaign;
    }
    EXPECT_GT(changed, count * 3 / 4) << "nearly every later input is mutated";
    EXPECT_GT(differentForAnotherCampaign, count * 3 / 4) << "another seed, other inputs";
}

// Without this the campaign could test nothing: the real replies must reach their readers.
TEST_F(CampaignSeeds, TheRealRepliesAreReadWithEveryCheckHolding) {
    ReplyFeeder feeder;
    ASSERT_TRUE(feeder.Start());
    const std::set<std::string> unread = {"isee.error-400", "isee.error-401", "creg.unregistered", "creg.cgreg",
                                          "creg.garbage"};
    for (const Seed& seed : seeds) {
        CampaignInput input;
        input.reader = seed.reader;
        input.bytes = seed.bytes;
        FeedTally tally;
        EXPECT_EQ(std::vector<std::string>(), feeder.Feed(input, &tally)) << seed.name;
        EXPECT_EQ(unread.count(seed.name) == 0 ? 1 : 0, tally.read) << seed.name;
        EXPECT_EQ(seed.name == "isee.error-401" ? 1 : 0, tally.renewals) << seed.name;
        EXPECT_EQ(seed.name == "ineed.large" ? 407 : seed.name == "ineed.small" ? 7 : 0, tally.mostPeople) << seed.name;
    }
    feeder.Stop();
}

TEST(TextCheck, FindsZerosHalfPairsAndTextsTooLong) {
    const struct {
        std::wstring text;
        std::size_t longest;
        const char* fault;
    } cases[] = {
        {L"", 0, ""},
        {L"Привет \U0001F600", 10, ""},
        {L"abc", 2, "longer than 2"},
        {std::wstring(L"a\0b", 3), 10, "a zero character"},
        {L"a\xD83D", 10, "half a surrogate pair"},
        {L"\xDE00z", 10, "half a surrogate pair"},
        {L"\xD83D\xD83D\xDE00", 10, "half a surrogate pair"},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(testCase.fault, TextFault(testCase.text, testCase.longest)) << testCase.fault;
    }
}

}  // namespace
