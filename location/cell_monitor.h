// The location state of the process: one object, created at start and destroyed at shut-down. It is
// built in the order of the location layer: what the cell sources need (CellSource, cell_source.h),
// then what the sampling worker adds (CellSampler, cell_sampler.h); the functions of each take the
// part they work on.
#pragma once

#include "location/cell_sampler.h"

struct CellMonitor : CellSampler {};

// Creates the one monitor; false when one exists already or memory is exhausted.
bool CreateCellMonitor();
CellMonitor* GetCellMonitor();
// Stops the sampling worker if it runs, closes the sources, empties the history and frees the monitor;
// nothing when there is none.
void DestroyCellMonitor();
