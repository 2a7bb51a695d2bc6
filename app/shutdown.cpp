#include "app/shutdown.h"

#include "app/app_context.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "protocol/transport.h"

void ShutDownApplication() {
    // The worker reads the monitor until it stops, so it is stopped before the monitor goes.
    if (CellMonitor* monitor = GetCellMonitor()) StopCellSampler(monitor);
    DestroyCellMonitor();
    if (AppContext* context = GetAppContext()) StopNetwork(*context);
    DestroyAppContext();
}
