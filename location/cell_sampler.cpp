#include "location/cell_sampler.h"

#include <functional>
#include <map>
#include <mutex>

#include "location/cell_source.h"
#include "platform/durations.h"

namespace {

constexpr int kFirstReadingCopies = 3;

std::int64_t SecondsSince1970() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    constexpr unsigned long long kTicksFrom1601To1970 = 116444736000000000ULL;
    constexpr unsigned long long kTicksPerSecond = 10000000ULL;
    return static_cast<std::int64_t>((ticks.QuadPart - kTicksFrom1601To1970) / kTicksPerSecond);
}

// One wait of the worker; false when it is asked to stop, which ends the wait at once.
bool PauseWorker(CellSampler* sampler, DWORD milliseconds) {
    return WaitForSingleObject(sampler->stopWorker, milliseconds) == WAIT_TIMEOUT;
}

// A reading by the method in use; false when it gave no new value of `current`. Without a method the
// current cell counts as read unchanged. `pause` is one wait for the radio; `stop`, when given, ends a
// modem reading.
bool TakeReading(CellSampler* sampler, const std::function<bool()>& pause, HANDLE stop) {
    switch (sampler->method) {
    case CellMethod::Radio: {
        const RadioTicket ticket = RequestRadioCell(sampler);
        return ticket && AwaitRadioAnswer(sampler, ticket, pause);
    }
    case CellMethod::Com2:
    case CellMethod::Com9:
        return ReadCellFromModem(sampler, stop);
    default:
        return true;
    }
}

// How often a stop releases the worker from the port again, should it have entered its next call
// just after a release.
constexpr DWORD kStopReleaseMs = 20;

}  // namespace

void TakeFirstReading(CellSampler* sampler) {
    TakeReading(
        sampler,
        [] {
            Sleep(GetDurations().radioWaitMs);
            return true;
        },
        nullptr);
    std::lock_guard<std::mutex> lock(sampler->cellLock);
    sampler->history.insert(sampler->history.end(), kFirstReadingCopies, sampler->current);
}

bool StartCellSampler(CellSampler* sampler) {
    if (IsCellSamplerRunning(sampler)) return false;
    if (sampler->worker != nullptr) {
        // A worker that ended by itself (location switched off) leaves its handle behind.
        CloseHandle(sampler->worker);
        sampler->worker = nullptr;
    }
    ResetEvent(sampler->stopWorker);
    sampler->worker = CreateThread(nullptr, 0, RunCellSampler, sampler, 0, nullptr);
    return sampler->worker != nullptr;
}

void StopCellSampler(CellSampler* sampler) {
    if (sampler->worker == nullptr) return;
    SetEvent(sampler->stopWorker);
    // The event ends the worker's sleeps and waits for the radio, and a modem reading at its next step;
    // a step blocked in the port hears nothing of it and is released from here.
    do {
        InterruptModemReading(sampler);
    } while (WaitForSingleObject(sampler->worker, kStopReleaseMs) == WAIT_TIMEOUT);
    CloseHandle(sampler->worker);
    sampler->worker = nullptr;
}

bool IsCellSamplerRunning(const CellSampler* sampler) {
    return sampler->worker != nullptr && WaitForSingleObject(sampler->worker, 0) == WAIT_TIMEOUT;
}

DWORD WINAPI RunCellSampler(LPVOID parameter) {
    CellSampler* sampler = static_cast<CellSampler*>(parameter);
    if (sampler->enabled == 0) return 1;
    CellSampleWindow window;
    while (PauseWorker(sampler, GetDurations().samplingPeriodMs)) SampleCell(sampler, &window);
    return 1;
}

bool SampleCell(CellSampler* sampler, CellSampleWindow* window) {
    const auto pause = [sampler] { return PauseWorker(sampler, GetDurations().radioWaitMs); };
    if (!TakeReading(sampler, pause, sampler->stopWorker)) return false;
    window->samples.push_back(ReadCurrentCell(sampler));
    if (window->samples.size() < kSamplesPerWindow) return true;
    const CellIdentity dominant = ChooseDominantCell(window->samples);
    window->samples.clear();
    EnterDominantCell(sampler, dominant, SecondsSince1970());
    return true;
}

CellIdentity ChooseDominantCell(const std::vector<CellIdentity>& samples) {
    // Ordered by the unsigned key lac * 65536 + cid, so that ties go to the smallest key.
    std::map<std::uint32_t, std::int32_t> counts;
    for (const CellIdentity& sample : samples) ++counts[(static_cast<std::uint32_t>(sample.lac) << 16) | sample.cid];
    CellIdentity dominant;
    if (counts.empty()) return dominant;
    auto chosen = counts.begin();
    for (auto entry = counts.begin(); entry != counts.end(); ++entry) {
        if (entry->second > chosen->second) chosen = entry;
    }
    dominant.lac = static_cast<std::uint16_t>(chosen->first >> 16);
    dominant.cid = static_cast<std::uint16_t>(chosen->first & 0xFFFF);
    return dominant;
}

void EnterDominantCell(CellSampler* sampler, const CellIdentity& dominant, std::int64_t now) {
    std::lock_guard<std::mutex> lock(sampler->cellLock);
    sampler->current.lac = dominant.lac;
    sampler->current.cid = dominant.cid;
    std::list<CellIdentity>& history = sampler->history;
    if (!history.empty() && history.front().cid == sampler->current.cid && history.front().lac == sampler->current.lac) {
        return;
    }
    sampler->current.changedAt = now;
    // An empty history (no first reading yet) keeps the new entry instead of dropping it again.
    const bool hadEntries = !history.empty();
    history.push_front(sampler->current);
    if (hadEntries) history.pop_back();
}

std::size_t CopyFrontCells(CellSampler* sampler, CellIdentity* cells, std::size_t count) {
    std::lock_guard<std::mutex> lock(sampler->cellLock);
    std::size_t copied = 0;
    for (auto entry = sampler->history.begin(); entry != sampler->history.end() && copied < count; ++entry) {
        cells[copied++] = *entry;
    }
    return copied;
}
