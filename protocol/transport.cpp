// Stand-in until the transport is built: there is no network.
#include "protocol/transport.h"

#include "app/app_context.h"

bool StartNetwork(AppContext&) { return false; }
bool ResolveServerHost(AppContext&, const std::string&) { return false; }
void StopNetwork(AppContext&) {}
