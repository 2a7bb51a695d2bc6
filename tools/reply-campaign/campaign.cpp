#include "tools/reply-campaign/campaign.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "tools/reply-campaign/campaign_input.h"
#include "tools/reply-campaign/mutations.h"
#include "tools/reply-campaign/reply_feeder.h"

namespace {

constexpr DWORD kWorkerFinished = 0;
constexpr DWORD kWorkerBroken = 3;       // the thread running the inputs ended in the middle of one
constexpr DWORD kWorkerCannotStart = 4;  // no seeds, or the feeder's windows and memory could not be had
constexpr DWORD kPollMs = 100;
// A worker that runs no input this long after it started is stuck outside the inputs.
constexpr ULONGLONG kWorkerStartMs = 120000;
constexpr int kMostFruitlessRestarts = 3;

// What the supervisor and its workers share; the counters run on across workers.
struct SharedProgress {
    volatile LONG64 started;    // inputs begun: the one running is number started - 1
    volatile LONG64 completed;  // inputs finished
    volatile LONG64 checkerTrips;
    volatile LONG64 byReader[kReaderCount];
    volatile LONG64 read;
    volatile LONG64 refused;
    volatile LONG64 slowestMs;
    volatile LONG64 slowestInput;
    volatile LONG64 mostGroups;
    volatile LONG64 mostPeople;
};

LONG64 Load(volatile LONG64* value) { return InterlockedCompareExchange64(value, 0, 0); }

std::string SavedName(const CampaignOptions& options, Reader reader, const char* what, std::uint64_t index) {
    return options.outputFolder + "\\" + ReaderName(reader) + "." + what + "-seed" + std::to_string(options.seed) +
           "-input" + std::to_string(index);
}

std::string SaveInput(const CampaignOptions& options, const CampaignInput& input, const char* what,
                      std::uint64_t index) {
    CreateDirectoryA(options.outputFolder.c_str(), nullptr);
    const std::string path = SavedName(options, input.reader, what, index);
    if (!WriteWholeFile(path, input.bytes)) std::fprintf(stderr, "reply campaign: cannot write %s\n", path.c_str());
    return path;
}

struct WorkerJob {
    const CampaignOptions* options;
    SharedProgress* progress;
    std::uint64_t first;
    DWORD result;
};

void Publish(SharedProgress* progress, const FeedTally& tally) {
    for (int reader = 0; reader < kReaderCount; ++reader) {
        if (tally.byReader[reader] != 0) InterlockedAdd64(&progress->byReader[reader], tally.byReader[reader]);
    }
    if (tally.read != 0) InterlockedAdd64(&progress->read, tally.read);
    if (tally.refused != 0) InterlockedAdd64(&progress->refused, tally.refused);
    if (tally.mostGroups > progress->mostGroups) progress->mostGroups = tally.mostGroups;
    if (tally.mostPeople > progress->mostPeople) progress->mostPeople = tally.mostPeople;
}

// What the program did before its replies were measured: TinyXML given 100,000 levels of nesting.
void OverflowTheParsersStack() {
    std::string text;
    for (int level = 0; level < 100000; ++level) text += "<a>";
    TiXmlDocument document;
    document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
}

DWORD WINAPI RunInputs(LPVOID parameter) {
    WorkerJob* job = static_cast<WorkerJob*>(parameter);
    const CampaignOptions& options = *job->options;
    const std::vector<Seed> seeds = LoadSeeds(options.seedFolder);
    ReplyFeeder feeder;
    if (seeds.empty() || !feeder.Start()) {
        job->result = kWorkerCannotStart;
        return 0;
    }
    for (std::uint64_t index = job->first; index < options.inputs; ++index) {
        InterlockedExchange64(&job->progress->started, static_cast<LONG64>(index + 1));
        const CampaignInput input = MakeInput(seeds, options.seed, index);
        if (index == options.plantedCrash) OverflowTheParsersStack();
        if (index == options.plantedHang) Sleep(INFINITE);
        FeedTally tally;
        const ULONGLONG begin = GetTickCount64();
        const std::vector<std::string> broken = feeder.Feed(input, &tally);
        const LONG64 took = static_cast<LONG64>(GetTickCount64() - begin);
        if (took > job->progress->slowestMs) {
            job->progress->slowestInput = static_cast<LONG64>(index);
            job->progress->slowestMs = took;
        }
        Publish(job->progress, tally);
        if (!broken.empty()) {
            InterlockedIncrement64(&job->progress->checkerTrips);
            const std::string path = SaveInput(options, input, "trip", index);
            std::fprintf(stderr, "reply campaign: input %llu (%s) broke a check, saved as %s\n",
                         static_cast<unsigned long long>(index), input.origin.c_str(), path.c_str());
            for (const std::string& what : broken) std::fprintf(stderr, "    %s\n", what.c_str());
        }
        InterlockedExchange64(&job->progress->completed, static_cast<LONG64>(index + 1));
    }
    feeder.Stop();
    job->result = kWorkerFinished;
    return 0;
}

// A crash ends the worker at once with the exception's code, without the system's crash dialog.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* exception) {
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool StartWorker(const std::string& program, const CampaignOptions& options, const std::string& progressName,
                 std::uint64_t first, PROCESS_INFORMATION* worker) {
    const std::string commandLine = "\"" + program + "\" --worker " + progressName + " --from " +
                                    std::to_string(first) + " --inputs " + std::to_string(options.inputs) +
                                    " --seed " + std::to_string(options.seed) + " --seeds \"" + options.seedFolder +
                                    "\" --out \"" + options.outputFolder + "\"" +
                                    (options.plantedCrash != kNothingPlanted
                                         ? " --plant-crash " + std::to_string(options.plantedCrash)
                                         : std::string()) +
                                    (options.plantedHang != kNothingPlanted
                                         ? " --plant-hang " + std::to_string(options.plantedHang)
                                         : std::string());
    std::wstring line = Widen(commandLine);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, worker) !=
           FALSE;
}

struct Figures {
    std::uint64_t crashes = 0;
    std::uint64_t hangs = 0;
};

void PrintFigures(const CampaignOptions& options, const SharedProgress& progress, const Figures& figures,
                  ULONGLONG milliseconds) {
    const double seconds = static_cast<double>(milliseconds) / 1000.0;
    const LONG64 completed = progress.completed;
    std::printf("Reply campaign: seed %llu, %lld inputs in %.1f s (%.0f inputs per second), time limit %u ms per input\n",
                static_cast<unsigned long long>(options.seed), completed, seconds,
                seconds > 0 ? static_cast<double>(completed) / seconds : 0.0, options.timeLimitMs);
    std::printf("  crashes: %llu\n  hangs: %llu\n  checker trips: %lld\n",
                static_cast<unsigned long long>(figures.crashes), static_cast<unsigned long long>(figures.hangs),
                progress.checkerTrips);
    std::printf("  read to their root element (modem replies: parsed): %lld; refused before parsing: %lld\n",
                progress.read, progress.refused);
    std::printf("  slowest input: %lld (%lld ms); largest groups model: %lld groups, %lld people\n",
                progress.slowestInput, progress.slowestMs, progress.mostGroups, progress.mostPeople);
    std::printf("  inputs per reader:");
    for (int reader = 0; reader < kReaderCount; ++reader) {
        std::printf(" %s %lld%s", ReaderName(static_cast<Reader>(reader)), progress.byReader[reader],
                    reader + 1 < kReaderCount ? "," : "\n");
    }
}

// Ends a worker that has been running one input too long; false when it ended by itself meanwhile.
bool EndHungWorker(const PROCESS_INFORMATION& worker) {
    TerminateProcess(worker.hProcess, WAIT_TIMEOUT);
    return WaitForSingleObject(worker.hProcess, INFINITE) == WAIT_OBJECT_0;
}

}  // namespace

int RunCampaign(const std::string& program, const CampaignOptions& options) {
    const std::vector<Seed> seeds = LoadSeeds(options.seedFolder);
    if (seeds.empty()) {
        std::fprintf(stderr, "reply campaign: no seeds in %s\n", options.seedFolder.c_str());
        return 2;
    }
    const std::string progressName =
        "Local\\PelmoraReplyCampaign-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64());
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedProgress),
                                        progressName.c_str());
    if (mapping == nullptr) return 2;
    auto* progress = static_cast<SharedProgress*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (progress == nullptr) return 2;

    Figures figures;
    const ULONGLONG begin = GetTickCount64();
    int fruitlessRestarts = 0;
    int status = 0;
    while (static_cast<std::uint64_t>(Load(&progress->completed)) < options.inputs && status == 0) {
        const LONG64 first = Load(&progress->completed);
        PROCESS_INFORMATION worker = {};
        if (!StartWorker(program, options, progressName, static_cast<std::uint64_t>(first), &worker)) {
            std::fprintf(stderr, "reply campaign: cannot start a worker\n");
            status = 2;
            break;
        }
        LONG64 seenStarted = Load(&progress->started);
        ULONGLONG seenSince = GetTickCount64();
        for (;;) {
            const bool ended = WaitForSingleObject(worker.hProcess, kPollMs) == WAIT_OBJECT_0;
            const LONG64 started = Load(&progress->started);
            const LONG64 completed = Load(&progress->completed);
            if (started != seenStarted) {
                seenStarted = started;
                seenSince = GetTickCount64();
            }
            const bool running = started > completed;  // an input is under way
            if (ended) {
                DWORD code = 0;
                GetExitCodeProcess(worker.hProcess, &code);
                if (running) {
                    const std::uint64_t index = static_cast<std::uint64_t>(started - 1);
                    const CampaignInput input = MakeInput(seeds, options.seed, index);
                    ++figures.crashes;
                    std::fprintf(stderr, "reply campaign: input %llu (%s) crashed the worker (0x%08lX), saved as %s\n",
                                 static_cast<unsigned long long>(index), input.origin.c_str(),
                                 static_cast<unsigned long>(code), SaveInput(options, input, "crash", index).c_str());
                    InterlockedExchange64(&progress->completed, started);
                    fruitlessRestarts = 0;
                } else if (code == kWorkerCannotStart) {
                    std::fprintf(stderr, "reply campaign: the worker cannot start\n");
                    status = 2;
                } else if (code != kWorkerFinished && ++fruitlessRestarts > kMostFruitlessRestarts) {
                    std::fprintf(stderr, "reply campaign: workers keep ending (0x%08lX) outside any input\n",
                                 static_cast<unsigned long>(code));
                    status = 2;
                }
                break;
            }
            const ULONGLONG quiet = GetTickCount64() - seenSince;
            if (running && quiet > options.timeLimitMs) {
                const std::uint64_t index = static_cast<std::uint64_t>(started - 1);
                if (!EndHungWorker(worker)) continue;
                if (Load(&progress->completed) >= started) continue;  // it finished just in time after all
                const CampaignInput input = MakeInput(seeds, options.seed, index);
                ++figures.hangs;
                std::fprintf(stderr, "reply campaign: input %llu (%s) ran over %u ms, saved as %s\n",
                             static_cast<unsigned long long>(index), input.origin.c_str(), options.timeLimitMs,
                             SaveInput(options, input, "hang", index).c_str());
                InterlockedExchange64(&progress->completed, started);
                break;
            }
            if (!running && quiet > kWorkerStartMs) {
                std::fprintf(stderr, "reply campaign: a worker ran no input for %llu ms\n",
                             static_cast<unsigned long long>(kWorkerStartMs));
                EndHungWorker(worker);
                status = 2;
                break;
            }
        }
        CloseHandle(worker.hThread);
        CloseHandle(worker.hProcess);
    }
    PrintFigures(options, *progress, figures, GetTickCount64() - begin);
    const bool clean = figures.crashes == 0 && figures.hangs == 0 && Load(&progress->checkerTrips) == 0;
    UnmapViewOfFile(progress);
    CloseHandle(mapping);
    if (status != 0) return status;
    return clean ? 0 : 1;
}

int RunWorker(const CampaignOptions& options, const std::string& progressName, std::uint64_t first) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnCrash);
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, progressName.c_str());
    if (mapping == nullptr) return static_cast<int>(kWorkerCannotStart);
    auto* progress = static_cast<SharedProgress*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (progress == nullptr) return static_cast<int>(kWorkerCannotStart);

    // The inputs run on a thread of their own: should a crash end that thread without ending the
    // process, the wait below still returns, and the worker ends as broken.
    WorkerJob job = {&options, progress, first, kWorkerBroken};
    HANDLE thread = CreateThread(nullptr, 0, RunInputs, &job, 0, nullptr);
    if (thread == nullptr) return static_cast<int>(kWorkerCannotStart);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    UnmapViewOfFile(progress);
    CloseHandle(mapping);
    return static_cast<int>(job.result);
}

int ReplayInput(const std::string& path) {
    CampaignInput input;
    input.origin = path;
    if (!ReaderOfFile(path, &input.reader) || !ReadWholeFile(path, &input.bytes)) {
        std::fprintf(stderr, "reply campaign: %s is no readable input named READER.NAME\n", path.c_str());
        return 2;
    }
    ReplyFeeder feeder;
    if (!feeder.Start()) return 2;
    FeedTally tally;
    const std::vector<std::string> broken = feeder.Feed(input, &tally);
    feeder.Stop();
    std::printf("%s: %zu bytes fed to the %s reader; %s; %s\n", path.c_str(), input.bytes.size(),
                ReaderName(input.reader), tally.read != 0 ? "read to its root element" : "not read",
                broken.empty() ? "every check held" : "checks broken:");
    for (const std::string& what : broken) std::printf("    %s\n", what.c_str());
    return broken.empty() ? 0 : 1;
}
