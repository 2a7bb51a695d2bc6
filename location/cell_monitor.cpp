#include "location/cell_monitor.h"

#include <new>

namespace {

CellMonitor*& MonitorSlot() {
    static CellMonitor* monitor = nullptr;
    return monitor;
}

}  // namespace

bool CreateCellMonitor() {
    if (MonitorSlot() != nullptr) return false;
    CellMonitor* monitor = new (std::nothrow) CellMonitor;
    if (monitor == nullptr) return false;
    monitor->stopWorker = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (monitor->stopWorker == nullptr) {
        delete monitor;
        return false;
    }
    MonitorSlot() = monitor;
    return true;
}

CellMonitor* GetCellMonitor() { return MonitorSlot(); }

void DestroyCellMonitor() {
    CellMonitor* monitor = MonitorSlot();
    if (monitor == nullptr) return;
    // The worker reads the monitor and the radio's callbacks write it: both end before it goes.
    StopCellSampler(monitor);
    CloseCellSources(monitor);
    CloseHandle(monitor->stopWorker);
    monitor->history.clear();
    MonitorSlot() = nullptr;
    delete monitor;
}
