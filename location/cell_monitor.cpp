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
    MonitorSlot() = new (std::nothrow) CellMonitor;
    return MonitorSlot() != nullptr;
}

CellMonitor* GetCellMonitor() { return MonitorSlot(); }

void DestroyCellMonitor() {
    CellMonitor* monitor = MonitorSlot();
    if (monitor == nullptr) return;
    monitor->history.clear();
    delete monitor;
    MonitorSlot() = nullptr;
}
