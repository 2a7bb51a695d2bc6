// Stand-in until the sampling worker is built: the first reading only, no worker.
#include "location/cell_sampler.h"

#include "location/cell_monitor.h"

void TakeFirstReading(CellMonitor* monitor) {
    for (int copy = 0; copy < 3; ++copy) monitor->history.push_back(monitor->current);
}

bool StartCellSampler(CellMonitor*) { return false; }
void StopCellSampler(CellMonitor*) {}
bool IsCellSamplerRunning(const CellMonitor*) { return false; }

std::size_t CopyFrontCells(CellMonitor* monitor, CellIdentity* cells, std::size_t count) {
    std::size_t copied = 0;
    for (auto entry = monitor->history.begin(); entry != monitor->history.end() && copied < count; ++entry) {
        cells[copied++] = *entry;
    }
    return copied;
}
