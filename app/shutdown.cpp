#include "app/shutdown.h"

#include "app/app_context.h"
#include "location/cell_monitor.h"

void ShutDownApplication() {
    DestroyCellMonitor();
    if (AppContext* context = GetAppContext(); context != nullptr && context->networkStarted) {
        WSACleanup();
        context->networkStarted = false;
    }
    DestroyAppContext();
}
