// HTTP/1.0 over Winsock: one POST per request on a fresh connection, an XML document in reply.
#pragma once

#include <string>

struct AppContext;

// Starts the socket library and waits for a data connection.
bool StartNetwork(AppContext& context);
// Resolves `host` and keeps its first IPv4 address as the server's address.
bool ResolveServerHost(AppContext& context, const std::string& host);
// Releases the socket library.
void StopNetwork(AppContext& context);
