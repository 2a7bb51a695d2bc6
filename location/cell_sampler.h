// The sampling worker: a reading every six seconds, the dominant cell of every ten readings,
// and the history of the last dominant cells.
#pragma once

#include <windows.h>

#include <cstddef>

struct CellIdentity;
struct CellMonitor;

// The reading at log-in: puts three copies of the current cell at the back of the history.
void TakeFirstReading(CellMonitor* monitor);

// Starts the worker unless one runs; false when one runs already or the thread cannot start.
bool StartCellSampler(CellMonitor* monitor);
// Asks the worker to stop and waits for it.
void StopCellSampler(CellMonitor* monitor);
bool IsCellSamplerRunning(const CellMonitor* monitor);

// Copies the first (at most three) history entries, safely against the worker; returns how many.
std::size_t CopyFrontCells(CellMonitor* monitor, CellIdentity* cells, std::size_t count);
