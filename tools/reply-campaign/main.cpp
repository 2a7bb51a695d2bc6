// pelmora-reply-campaign: hostile replies fed to the program's own reply code (make fuzz).
//
//   pelmora-reply-campaign [--inputs N] [--seed S] [--time-limit MS] [--seeds FOLDER] [--out FOLDER]
//   pelmora-reply-campaign --replay FILE
//
// --plant-crash N and --plant-hang N make input N crash or hang the worker on purpose, to show that
// the campaign catches both.
//
// Prints the campaign's figures; exits with 0 when no input crashed, hung or broke a check, 1 when one
// did (each saved in the output folder, to be run again with --replay), 2 when the campaign could not run.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/reply-campaign/campaign.h"

namespace {

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text != L'\0'; ++text) narrow += static_cast<char>(*text);
    return narrow;
}

bool ReadNumber(const std::string& text, std::uint64_t* value) {
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') return false;
    *value = number;
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: pelmora-reply-campaign [--inputs N] [--seed S] [--time-limit MS] [--seeds FOLDER] "
                 "[--out FOLDER]\n       pelmora-reply-campaign --replay FILE\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CampaignOptions options;
    options.seedFolder = PELMORA_CAMPAIGN_SEEDS;
    options.outputFolder = PELMORA_CAMPAIGN_OUTPUT;
    std::string replay;
    std::string progressName;
    std::uint64_t first = 0;
    for (int index = 1; index < argc; ++index) {
        const std::string option = Narrow(argv[index]);
        if (index + 1 >= argc) return Usage();
        const std::string value = Narrow(argv[++index]);
        std::uint64_t number = 0;
        if (option == "--replay") {
            replay = value;
        } else if (option == "--seeds") {
            options.seedFolder = value;
        } else if (option == "--out") {
            options.outputFolder = value;
        } else if (option == "--worker") {
            progressName = value;
        } else if (ReadNumber(value, &number) && option == "--inputs") {
            options.inputs = number;
        } else if (ReadNumber(value, &number) && option == "--seed") {
            options.seed = number;
        } else if (ReadNumber(value, &number) && option == "--time-limit" && number > 0 && number < 3600000) {
            options.timeLimitMs = static_cast<unsigned>(number);
        } else if (ReadNumber(value, &number) && option == "--from") {
            first = number;
        } else if (ReadNumber(value, &number) && option == "--plant-crash") {
            options.plantedCrash = number;
        } else if (ReadNumber(value, &number) && option == "--plant-hang") {
            options.plantedHang = number;
        } else {
            return Usage();
        }
    }
    if (!replay.empty()) return ReplayInput(replay);
    if (!progressName.empty()) return RunWorker(options, progressName, first);

    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return RunCampaign(Narrow(program), options);
}
