// The sampling worker: the dominant cell of a window, the history with its changedAt times, the
// first reading, the worker's start and stop, and the history lock under load.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "location/cell_sampler.h"
#include "location/cell_source.h"
#include "monitor_fixture.h"
#include "native_process.h"
#include "platform/ril.h"

namespace {

std::vector<CellIdentity> Samples(std::initializer_list<std::pair<CellIdentity, int>> counts) {
    std::vector<CellIdentity> samples;
    // Interleaved, so that the order of the samples cannot decide.
    for (bool added = true; added;) {
        added = false;
        for (const auto& entry : counts) {
            int seen = 0;
            for (const CellIdentity& sample : samples) seen += sample.lac == entry.first.lac && sample.cid == entry.first.cid;
            if (seen < entry.second) {
                samples.push_back(entry.first);
                added = true;
            }
        }
    }
    return samples;
}

class Sampler : public MonitorTest {
protected:
    void FillHistory(const CellIdentity& cell) {
        monitor->history.assign(3, cell);
        monitor->current = cell;
    }

    // Waits until the worker has ended by itself.
    bool WorkerEnds(DWORD milliseconds) {
        return monitor->worker != nullptr && WaitForSingleObject(monitor->worker, milliseconds) == WAIT_OBJECT_0;
    }

    const CellIdentity cellA = Cell(0x900, 0x900);
    const CellIdentity cellB = Cell(0x100, 0x100);
    const CellIdentity cellX = Cell(0x500, 0x500, 77);
};

TEST(DominantCell, TheMostFrequentCellWinsAndTiesGoToTheSmallerKey) {
    const CellIdentity high = Cell(9, 9);
    const CellIdentity low = Cell(1, 1);
    EXPECT_EQ(high, ChooseDominantCell(Samples({{high, 6}, {low, 4}}))) << "6 against 4";
    EXPECT_EQ(low, ChooseDominantCell(Samples({{high, 5}, {low, 5}}))) << "5 and 5: the smaller lac";
    EXPECT_EQ(Cell(1, 9), ChooseDominantCell(Samples({{Cell(2, 7), 5}, {Cell(1, 9), 5}})))
        << "the lac decides before the cid";
    EXPECT_EQ(Cell(3, 4), ChooseDominantCell(Samples({{Cell(3, 5), 5}, {Cell(3, 4), 5}})))
        << "equal lac: the smaller cid";
    EXPECT_EQ(high, ChooseDominantCell(Samples({{low, 3}, {high, 4}, {Cell(2, 2), 3}}))) << "4, 3 and 3";
    EXPECT_EQ(Cell(0xFFFF, 0xFFFF), ChooseDominantCell(Samples({{Cell(0xFFFF, 0xFFFF), 6}, {low, 4}})))
        << "keys compare as unsigned numbers";
    EXPECT_EQ(Cell(0, 0), ChooseDominantCell({}));
}

TEST_F(Sampler, OnlyAChangeOfTheDominantCellEntersTheHistory) {
    FillHistory(cellX);
    EnterDominantCell(monitor, cellA, 1000);
    EXPECT_EQ((std::vector<CellIdentity>{Cell(cellA.lac, cellA.cid, 1000), cellX, cellX}), History());
    EXPECT_EQ(1000, monitor->current.changedAt);

    EnterDominantCell(monitor, cellA, 2000);
    EXPECT_EQ((std::vector<CellIdentity>{Cell(cellA.lac, cellA.cid, 1000), cellX, cellX}), History())
        << "the same cell again leaves the history and its time alone";

    EnterDominantCell(monitor, cellB, 3000);
    EnterDominantCell(monitor, cellA, 4000);
    EXPECT_EQ((std::vector<CellIdentity>{Cell(cellA.lac, cellA.cid, 4000), Cell(cellB.lac, cellB.cid, 3000),
                                         Cell(cellA.lac, cellA.cid, 1000)}),
              History())
        << "moving back gives [A, B, A]";
}

TEST_F(Sampler, AnEmptyHistoryTakesTheFirstDominantCell) {
    EnterDominantCell(monitor, cellA, 5);
    EXPECT_EQ((std::vector<CellIdentity>{Cell(cellA.lac, cellA.cid, 5)}), History());
}

TEST_F(Sampler, TenSamplesOfTheFrontCellChangeNothing) {
    FillHistory(cellX);
    CellSampleWindow window;
    for (int cycle = 1; cycle <= 10; ++cycle) {
        EXPECT_TRUE(SampleCell(monitor, &window)) << "without a method the current cell is sampled as it is";
    }
    EXPECT_TRUE(window.samples.empty()) << "a full window is emptied";
    EXPECT_EQ((std::vector<CellIdentity>{cellX, cellX, cellX}), History());
    EXPECT_EQ(77, ReadCurrentCell(monitor).changedAt);
}

TEST_F(Sampler, AFailedModemReadingSkipsTheCycleWithoutResettingTheWindow) {
    GetDurations().modemQuietMs = 30;  // twenty readings
    PhoneSim modem;
    ASSERT_TRUE(modem.Start({"--unregistered-every", "2"}));
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Com2));
    ASSERT_TRUE(ReadCellFromModem(monitor)) << "the first query finds the network, the second does not";
    FillHistory(cellX);

    CellSampleWindow window;
    for (int cycle = 1; cycle <= 19; ++cycle) {
        EXPECT_EQ(cycle % 2 == 0, SampleCell(monitor, &window)) << "cycle " << cycle;
        EXPECT_EQ(static_cast<std::size_t>(cycle / 2), window.samples.size()) << "cycle " << cycle;
    }
    EXPECT_EQ(cellX, History().front()) << "nine samples are no window yet";
    EXPECT_TRUE(SampleCell(monitor, &window));
    EXPECT_TRUE(window.samples.empty());
    const std::vector<CellIdentity> history = History();
    ASSERT_EQ(3u, history.size());
    EXPECT_EQ(6699, history[0].lac) << "the window filled after 20 cycles";
    EXPECT_EQ(15437, history[0].cid);
    EXPECT_GT(history[0].changedAt, 1600000000) << "seconds since 1970 from the system clock";
    EXPECT_EQ(cellX, history[1]);
}

TEST_F(Sampler, TheFirstReadingPutsThreeCopiesBehindTheHistory) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start({"--cell", "00C1,FFFF"}));
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("modem", modem.Endpoint(), {{"COM2:", modem.Endpoint()}})));
    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Com2));
    monitor->current.changedAt = 42;
    TakeFirstReading(monitor);
    EXPECT_EQ((std::vector<CellIdentity>(3, Cell(193, 65535, 42))), History()) << "changedAt is copied unchanged";

    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Radio));
    monitor->current = cellX;
    TakeFirstReading(monitor);
    ASSERT_EQ(6u, monitor->history.size()) << "a second log-in appends three more";
    CellIdentity front[3];
    ASSERT_EQ(3u, CopyFrontCells(monitor, front, 3));
    EXPECT_EQ(Cell(193, 65535, 42), front[0]);
    EXPECT_EQ(Cell(193, 65535, 77), History().back()) << "the radio's answer came before the copies";
}

TEST_F(Sampler, TheFirstReadingDoesNotWaitForeverForASilentRadio) {
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("silent", "", {})));
    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Radio));
    monitor->current = cellX;
    const ULONGLONG start = GetTickCount64();
    TakeFirstReading(monitor);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 10u * GetDurations().radioWaitMs - 10u) << "ten waits";
    EXPECT_LT(elapsed, 2000u);
    EXPECT_EQ((std::vector<CellIdentity>(3, cellX)), History());
}

TEST_F(Sampler, WithLocationOffTheWorkerEndsAtOnce) {
    FillHistory(cellX);
    monitor->current = cellA;
    monitor->enabled = 0;
    ASSERT_TRUE(StartCellSampler(monitor));
    ASSERT_TRUE(WorkerEnds(1000));
    DWORD result = 0;
    GetExitCodeThread(monitor->worker, &result);
    EXPECT_EQ(1u, result);
    EXPECT_FALSE(IsCellSamplerRunning(monitor));
    EXPECT_EQ((std::vector<CellIdentity>{cellX, cellX, cellX}), History());
    monitor->enabled = 1;
    EXPECT_TRUE(StartCellSampler(monitor)) << "a worker that ended lets another start";
}

TEST_F(Sampler, TheWorkerSamplesAndTheDominantCellEntersTheHistory) {
    FillHistory(cellX);
    monitor->current = cellA;
    ASSERT_TRUE(StartCellSampler(monitor));
    CellIdentity front[3];
    const ULONGLONG deadline = GetTickCount64() + 5000;
    do {
        Sleep(10);
        ASSERT_EQ(3u, CopyFrontCells(monitor, front, 3));
    } while (front[0].lac != cellA.lac && GetTickCount64() < deadline);
    EXPECT_EQ(cellA.lac, front[0].lac);
    EXPECT_EQ(cellA.cid, front[0].cid);
    EXPECT_EQ(cellX, front[1]);
    StopCellSampler(monitor);
}

TEST_F(Sampler, OneWorkerAtATimeAndAStopEndsItsSleepAtOnce) {
    GetDurations().samplingPeriodMs = 60000;
    EXPECT_FALSE(IsCellSamplerRunning(monitor));
    ASSERT_TRUE(StartCellSampler(monitor));
    const HANDLE first = monitor->worker;
    EXPECT_TRUE(IsCellSamplerRunning(monitor));
    EXPECT_FALSE(StartCellSampler(monitor)) << "a second worker is refused";
    EXPECT_EQ(first, monitor->worker);

    Sleep(50);
    ULONGLONG start = GetTickCount64();
    StopCellSampler(monitor);
    EXPECT_LT(GetTickCount64() - start, 1000u) << "the worker's 60 s sleep ends at the stop";
    EXPECT_FALSE(IsCellSamplerRunning(monitor));
    EXPECT_EQ(nullptr, monitor->worker);
    StopCellSampler(monitor);

    ASSERT_TRUE(StartCellSampler(monitor));
    EXPECT_TRUE(IsCellSamplerRunning(monitor));
    EXPECT_FALSE(StartCellSampler(monitor));
    start = GetTickCount64();
    DestroyCellMonitor();
    EXPECT_LT(GetTickCount64() - start, 1000u) << "the monitor's end stops and joins the worker";
    EXPECT_EQ(nullptr, GetCellMonitor());
}

TEST_F(Sampler, AStopWhileTheWorkerWaitsForTheRadioIsPromptToo) {
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("silent", "", {})));
    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Radio));
    FillHistory(cellX);
    GetDurations().radioWaitMs = 60000;
    ASSERT_TRUE(StartCellSampler(monitor));
    Sleep(100);  // the worker now waits for the radio's answer
    EXPECT_EQ(1, monitor->pendingAnswers);
    const ULONGLONG start = GetTickCount64();
    StopCellSampler(monitor);
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ((std::vector<CellIdentity>{cellX, cellX, cellX}), History()) << "no answer, no sample";
}

TEST_F(Sampler, ASilentRadioSkipsCyclesButTheWorkerLivesOn) {
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("silent", "", {})));
    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Radio));
    FillHistory(cellX);
    CellSampleWindow window;
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(SampleCell(monitor, &window));
    EXPECT_GE(GetTickCount64() - start, 10u * GetDurations().radioWaitMs - 10u);
    EXPECT_TRUE(window.samples.empty());
    EXPECT_EQ(0, monitor->pendingAnswers);

    // The silent layer numbers its commands 1, 2, ... on this connection.
    const DWORD connection = monitor->radioConnection;
    RILCELLTOWERINFO record = {};
    record.dwLocationAreaCode = cellA.lac;
    record.dwCellID = cellA.cid;
    OnRadioResult(RIL_RESULT_OK, 1, &record, sizeof(record), connection);  // the late answer to the skipped cycle
    EXPECT_EQ(cellX, ReadCurrentCell(monitor)) << "a late answer writes nothing";
    std::thread radio([&] {
        Sleep(30);
        OnRadioResult(RIL_RESULT_OK, 2, &record, sizeof(record), connection);
    });
    EXPECT_TRUE(SampleCell(monitor, &window)) << "an answer within the ten waits is a sample";
    radio.join();
    ASSERT_EQ(1u, window.samples.size());
    EXPECT_EQ(cellA.lac, window.samples[0].lac);
}

TEST_F(Sampler, StoppingTheWorkerInsideAModemReadingTakesUnderHalfASecond) {
    // The program's own waits for the modem: three seconds for its first byte, 200 ms of quiet.
    GetDurations().modemWaitMs = Durations().modemWaitMs;
    GetDurations().modemQuietMs = Durations().modemQuietMs;
    const struct {
        const char* fault;
        const char* behaviour;
    } modems[] = {
        {"--silent", "takes the command and never answers"},
        {"--flood", "answers with noise without end and stops reading"},
        {"--drop", "hangs up after the first command"},
        {"--garbage", "answers every command with noise"},
    };
    for (const auto& modem : modems) {
        PhoneSim simulator;
        ASSERT_TRUE(simulator.Start({modem.fault}));
        ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", simulator.Endpoint()}})));
        ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Com2));
        FillHistory(cellX);
        ASSERT_TRUE(StartCellSampler(monitor));
        // The worker is inside its reading once the modem has the first command.
        const ULONGLONG deadline = GetTickCount64() + 5000;
        while (simulator.ReceivedBytes().empty() && GetTickCount64() < deadline) Sleep(10);
        ASSERT_FALSE(simulator.ReceivedBytes().empty()) << modem.fault;
        Sleep(50);

        const ULONGLONG start = GetTickCount64();
        StopCellSampler(monitor);
        const ULONGLONG stopMs = GetTickCount64() - start;
        std::printf("[ MEASURED ] stopping the worker with a modem that %s: %llu ms\n", modem.behaviour, stopMs);
        EXPECT_LT(stopMs, 500u) << "a modem that " << modem.behaviour;
        EXPECT_FALSE(IsCellSamplerRunning(monitor)) << modem.fault;
        EXPECT_EQ(cellX, History().front()) << modem.fault;
        CloseCellSources(monitor);
    }
}

TEST_F(Sampler, ALostRadioAnswerCostsOneCycleAndTheNextCyclesReadFreshCells) {
    GetDurations().radioWaitMs = 100;  // ten waits of 100 ms for each answer
    PhoneSim modem;
    // The radio's modem hangs up instead of answering the second query: that answer never comes.
    ASSERT_TRUE(modem.Start({"--hang-up-at-query", "2", "--cell", "00C1,FFFF"}));
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("modem", modem.Endpoint(), {})));
    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Radio));
    FillHistory(cellX);
    const CellIdentity reported = Cell(0xC1, 0xFFFF);
    CellSampleWindow window;
    int samples = 0;
    for (int cycle = 1; cycle <= 11; ++cycle) {
        {
            std::lock_guard<std::mutex> lock(monitor->cellLock);
            monitor->current = cellX;  // whatever is sampled now came from this cycle's answer
        }
        const bool sampled = SampleCell(monitor, &window);
        EXPECT_EQ(cycle != 2, sampled) << "cycle " << cycle;
        EXPECT_EQ(0, monitor->pendingAnswers) << "cycle " << cycle << " leaves no request counted";
        if (sampled && ++samples < 10) {
            ASSERT_FALSE(window.samples.empty());
            EXPECT_EQ(reported.lac, window.samples.back().lac) << "cycle " << cycle << " read a fresh cell";
            EXPECT_EQ(reported.cid, window.samples.back().cid) << "cycle " << cycle;
        }
    }
    EXPECT_EQ(10, samples);
    const std::vector<CellIdentity> history = History();
    ASSERT_EQ(3u, history.size());
    EXPECT_EQ(reported.lac, history[0].lac) << "the fresh cells make the dominant cell the reports send";
    EXPECT_EQ(reported.cid, history[0].cid);
    EXPECT_EQ(cellX, history[1]);
}

TEST_F(Sampler, ARadioReopenedWhileTheWorkerWaitsAbandonsItsRequest) {
    GetDurations().radioWaitMs = 200;
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("silent", "", {})));
    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Radio));
    FillHistory(cellX);
    CellSampleWindow window;
    std::thread renewal([this] {
        Sleep(300);
        OpenCellSource(monitor, CellMethod::Radio);  // a log-in renewal names the radio again
    });
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(SampleCell(monitor, &window)) << "the closed radio will never answer: no sample";
    const ULONGLONG elapsed = GetTickCount64() - start;
    renewal.join();
    EXPECT_TRUE(window.samples.empty());
    EXPECT_LT(elapsed, 10u * GetDurations().radioWaitMs) << "the wait ends with the radio, not after ten waits";
    EXPECT_EQ(0, monitor->pendingAnswers);
}

TEST_F(Sampler, CopiesOfTheHistoryNeverSeeATornEntry) {
    GetDurations().samplingPeriodMs = 0;
    // The radio reports a phone hopping between A and B.
    const std::string route = UniqueScratchPath("route") + ".txt";
    {
        std::ofstream file(WindowsPath(route), std::ios::binary);
        file << "0.03 900 900\n0.03 100 100\n";
    }
    PhoneSim modem;
    ASSERT_TRUE(modem.Start({"--route", route}));
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("modem", modem.Endpoint(), {})));
    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Radio));
    FillHistory(cellA);
    ASSERT_TRUE(StartCellSampler(monitor));

    int tornEntries = 0;
    int shortCopies = 0;
    int frontChanges = 0;
    std::uint16_t lastFront = cellA.lac;
    // Thousands of copies, and for as long as it takes the worker to change the history a few times.
    const ULONGLONG deadline = GetTickCount64() + 20000;
    for (int copy = 0; copy < 20000 || (frontChanges < 6 && GetTickCount64() < deadline); ++copy) {
        CellIdentity front[3];
        if (CopyFrontCells(monitor, front, 3) != 3) ++shortCopies;
        for (const CellIdentity& cell : front) {
            if (cell.lac != cell.cid || (cell.lac != cellA.lac && cell.lac != cellB.lac)) ++tornEntries;
        }
        const CellIdentity current = ReadCurrentCell(monitor);
        if (current.lac != current.cid) ++tornEntries;
        if (front[0].lac != lastFront) {
            ++frontChanges;
            lastFront = front[0].lac;
        }
    }
    StopCellSampler(monitor);
    DeleteFileA(WindowsPath(route).c_str());
    EXPECT_EQ(0, tornEntries);
    EXPECT_EQ(0, shortCopies);
    EXPECT_GE(frontChanges, 2) << "the worker changed the history while it was copied";
}

}  // namespace
