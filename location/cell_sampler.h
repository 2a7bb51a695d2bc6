// The sampling worker: a reading every six seconds, the dominant cell of every ten readings,
// and the history of the last dominant cells.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "location/cell_monitor.h"

inline constexpr std::size_t kSamplesPerWindow = 10;

// The readings of one window, kept by the worker until the window is full.
struct CellSampleWindow {
    std::vector<CellIdentity> samples;
};

// The reading at log-in: puts three copies of the current cell at the back of the history.
void TakeFirstReading(CellMonitor* monitor);

// Starts the worker unless one runs; false when one runs already or the thread cannot start.
bool StartCellSampler(CellMonitor* monitor);
// Asks the worker to stop and waits for it.
void StopCellSampler(CellMonitor* monitor);
bool IsCellSamplerRunning(const CellMonitor* monitor);

// The worker's thread procedure; it reaches the monitor through GetCellMonitor() and returns 1.
DWORD WINAPI RunCellSampler(LPVOID parameter);

// One cycle of the worker after its sleep: a reading by the method in use into the window and, when
// that fills the window, the dominant cell into `current` and, if it changed, into the history.
// False when the cycle took no sample (a failed reading, or a radio answer that did not come).
bool SampleCell(CellMonitor* monitor, CellSampleWindow* window);

// The cell seen most often among the samples; among equally frequent cells the smaller lac wins, then
// the smaller cid. `changedAt` is zero. No samples: the zero cell.
CellIdentity ChooseDominantCell(const std::vector<CellIdentity>& samples);

// Makes `dominant` the current cell; when it differs from the front of the history it enters the
// history at the front, stamped with `now` (seconds since 1970 UTC), and the oldest entry leaves.
void EnterDominantCell(CellMonitor* monitor, const CellIdentity& dominant, std::int64_t now);

// Copies the first (at most `count`) history entries, safely against the worker; returns how many.
std::size_t CopyFrontCells(CellMonitor* monitor, CellIdentity* cells, std::size_t count);
