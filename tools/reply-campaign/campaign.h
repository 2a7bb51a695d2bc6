// A campaign: a supervisor that runs the inputs in a worker process, restarts it after an input that
// crashed it, ends it after an input that hangs, and counts what the checkers found; the worker; and
// the replay of one saved input.
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::uint64_t kNothingPlanted = UINT64_MAX;

struct CampaignOptions {
    std::uint64_t inputs = 100000;
    std::uint64_t seed = 1;
    std::string seedFolder;
    std::string outputFolder;    // where crashing, hanging and checker-tripping inputs are saved
    unsigned timeLimitMs = 20000;  // an input still running after this long hangs
    // Inputs at which the worker crashes (the parser's stack overflow that the nesting bound prevents)
    // or hangs on purpose: the campaign's own proof that it catches both.
    std::uint64_t plantedCrash = kNothingPlanted;
    std::uint64_t plantedHang = kNothingPlanted;
};

// Runs the campaign and prints its figures; 0 when no input crashed, hung or broke a check.
int RunCampaign(const std::string& program, const CampaignOptions& options);

// The worker: inputs from `first` on, its progress in the shared memory named `progressName`.
int RunWorker(const CampaignOptions& options, const std::string& progressName, std::uint64_t first);

// Feeds the input saved in `path` again (its reader from its name) and prints what the checks found;
// 0 when they all held.
int ReplayInput(const std::string& path);
