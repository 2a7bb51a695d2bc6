// The sampling worker: a reading every six seconds, the dominant cell of every ten readings,
// and the history of the last dominant cells.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

#include "location/cell_source.h"

inline constexpr std::size_t kSamplesPerWindow = 10;

// The sampling worker's share of the location state, on top of the sources'. The worker is started,
// stopped and looked at by the user-interface thread only.
struct CellSampler : CellSource {
    std::list<CellIdentity> history;  // most recent first; under `cellLock`
    HANDLE worker = nullptr;
    HANDLE stopWorker = nullptr;  // manual-reset event that asks the worker to end; made with the monitor
};

// The readings of one window, kept by the worker until the window is full.
struct CellSampleWindow {
    std::vector<CellIdentity> samples;
};

// The reading at log-in: puts three copies of the current cell at the back of the history.
void TakeFirstReading(CellSampler* sampler);

// Starts the worker unless one runs; false when one runs already or the thread cannot start.
bool StartCellSampler(CellSampler* sampler);
// Asks the worker to stop and waits for it.
void StopCellSampler(CellSampler* sampler);
bool IsCellSamplerRunning(const CellSampler* sampler);

// The worker's thread procedure: its parameter is the CellSampler it works for; returns 1.
DWORD WINAPI RunCellSampler(LPVOID parameter);

// One cycle of the worker after its sleep: a reading by the method in use into the window and, when
// that fills the window, the dominant cell into `current` and, if it changed, into the history.
// False when the cycle took no sample (a failed reading, or a radio answer that did not come).
bool SampleCell(CellSampler* sampler, CellSampleWindow* window);

// The cell seen most often among the samples; among equally frequent cells the smaller lac wins, then
// the smaller cid. `changedAt` is zero. No samples: the zero cell.
CellIdentity ChooseDominantCell(const std::vector<CellIdentity>& samples);

// Makes `dominant` the current cell; when it differs from the front of the history it enters the
// history at the front, stamped with `now` (seconds since 1970 UTC), and the oldest entry leaves.
void EnterDominantCell(CellSampler* sampler, const CellIdentity& dominant, std::int64_t now);

// Copies the first (at most `count`) history entries, safely against the worker; returns how many.
std::size_t CopyFrontCells(CellSampler* sampler, CellIdentity* cells, std::size_t count);
