// The inputs of a campaign: real replies (the seeds), each mutated the way a damaged network or an
// attacker on it would: bit and byte flips, truncation at every kind of boundary, duplicated and
// deleted elements, deep nesting, huge numbers, invalid and overlong UTF-8, very long texts, stray
// markup, spliced replies, other status lines and headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/reply-campaign/campaign_input.h"

// A small, fast generator whose sequence depends on its seed only (splitmix64).
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    // A number from 0 to bound - 1; bound must not be 0.
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }
    bool OneIn(unsigned chances) { return Below(chances) == 0; }

private:
    std::uint64_t state_;
};

// Input number `index` of the campaign `campaignSeed`: the seeds in turn, each with up to four
// mutations (the first round of seeds as they are). The same three arguments give the same input on
// every run, so a failing input is found again by its number.
CampaignInput MakeInput(const std::vector<Seed>& seeds, std::uint64_t campaignSeed, std::uint64_t index);
