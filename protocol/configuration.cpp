// Stand-in until the configuration exchange is built: nothing reaches the server.
#include "protocol/configuration.h"

#include "app/app_context.h"

bool GetConfiguration(AppContext&) { return false; }
void SaveConfiguration(AppContext&, int) {}
void SendVisibility(AppContext&, int) {}
bool ReportMethodInUse(AppContext&) { return false; }
