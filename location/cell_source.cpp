// Stand-in until the cell sources are built: no source works.
#include "location/cell_source.h"

#include "location/cell_monitor.h"

bool ProbeCellSource(CellMonitor* monitor) {
    monitor->probed = 1;
    monitor->method = -1;
    monitor->enabled = 0;
    return false;
}

bool OpenCellSource(CellMonitor*, int) { return false; }
bool ReadCellFromModem(CellMonitor*) { return false; }
void RequestRadioCell(CellMonitor*) {}

MethodChoice ChooseCellMethod(CellMonitor*, const std::vector<std::optional<std::string>>&,
                              const std::function<void()>&) {
    return MethodChoice::Exhausted;
}
